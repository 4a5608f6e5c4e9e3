// BER encoder and decoder: octet-exact encodings, length counting, tag
// handling under automatic tagging, and the decoder's refusals.
#include "asn1/test_per_types.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

using namespace PerTypes;

namespace {

// Encodes, checks the octets, decodes them into a fresh value of the same
// type and checks that it equals the original.
void roundTrip(AbstractData const& v, std::string const& expected)
{
    EXPECT_EQ(expected, berHex(v));
    Value back = make(v.info());
    ASSERT_TRUE(berDecode(expected, *back)) << expected;
    EXPECT_TRUE(*back == v) << expected;
}

TEST(Ber, IntegersAndObjectIdentifiers)
{
    for (auto [n, octets] : {std::pair<long long, char const*>{0, "020100"}, {127, "02017f"}, {128, "02020080"},
                             {-1, "0201ff"}, {-128, "020180"}, {-129, "0202ff7f"}, {8388608, "020400800000"},
                             {INT_MAX, "02047fffffff"}, {INT_MIN, "020480000000"}})
        roundTrip(*intV(&INTEGER::theInfo, n), octets);
    for (auto [n, octets] : {std::pair<int, unsigned>{0, 1}, {-128, 1}, {-129, 2}, {32767, 2}, {32768, 3},
                             {-8388608, 3}, {-8388609, 4}})
        EXPECT_EQ(octets, getIntegerDataLength(n)) << n;
    // Signed contents, but for a range reaching above 2147483647.
    static const ConstrainedInfo tenUp = intRange(PartiallyConstrained, 10, 0), to10 = intRange(FixedConstraint, 5, 10);
    for (auto [info, n, octets] : {std::tuple<void const*, long long, char const*>{&Small, -1, "0201ff"},
                                   {&tenUp, -1, "0201ff"}, {&to10, -200, "0202ff38"},
                                   {&Big, 3000000000LL, "020500b2d05e00"}})
        EXPECT_EQ(octets, berHex(*intV(info, n))) << n;
    // Non-minimal contents still carry the number.
    Value v = make(&INTEGER::theInfo);
    ASSERT_TRUE(berDecode("0203000005", *v));
    EXPECT_EQ(5, intOf(v.get()));
    OBJECT_IDENTIFIER oid(&OBJECT_IDENTIFIER::theInfo);
    for (unsigned arc : {1u, 2u, 840u})
        oid.append(arc);
    roundTrip(oid, "06032a8648");
}

TEST(Ber, LongLengthFormWrittenCountedAndRead)
{
    Value octets = octV(&OCTET_STRING::theInfo, std::string(256, 'x'));
    std::string const encoded = berHex(*octets);
    EXPECT_EQ("04820100", encoded.substr(0, 8));
    EXPECT_EQ(4u + 256u, encoded.size() / 2);
    EXPECT_EQ(256u, getDataLength(*octets));
    EXPECT_EQ(260u, getObjectLength(*octets, 4));
    EXPECT_EQ(256u, getObjectLength(*octets, 0));

    // The enclosing header counts three length octets for it.
    Value inner = make(&Inner);
    setInt(field(*inner, 0), 1);
    setOctets(field(*inner, 3), std::string(256, 'y'));
    std::string const seq = berHex(*inner);
    EXPECT_EQ("3082010780010183820100", seq.substr(0, 22));
    roundTrip(*inner, seq);

    EXPECT_EQ("047f", berHex(*octV(&OCTET_STRING::theInfo, std::string(127, 'x'))).substr(0, 4));
    EXPECT_EQ("048180", berHex(*octV(&OCTET_STRING::theInfo, std::string(128, 'x'))).substr(0, 6));
}

// Octets the decoder must refuse, next to some it reads.
TEST(Ber, DecoderRefusals)
{
    struct Row {
        void const* info;
        char const* octets;
        bool decodes;
    } const rows[] = {
        {&INTEGER::theInfo, "0200", false},            // no contents octet
        {&INTEGER::theInfo, "02050102030405", false},  // five octets
        {&INTEGER::theInfo, "020201", false},          // runs out
        {&INTEGER::theInfo, "0401ff", false},          // OCTET STRING tag
        {&INTEGER::theInfo, "", false},
        {&Big, "02050100000000", false},               // five octets, not a leading zero
        {&Small, "02050080000000", false},             // five octets for a range within 32 bits signed
        {&OBJECT_IDENTIFIER::theInfo, "06032a86", false},  // contents run past the input
        {&OCTET_STRING::theInfo, "0480", false},       // indefinite form
        {&OCTET_STRING::theInfo, "24800000", false},
        {&OCTET_STRING::theInfo, "0484ffffffff00", false},  // far more than the input
        {&OCTET_STRING::theInfo, "048501000000000000", false},  // five length octets
        {&OCTET_STRING::theInfo, "0482", false},
        {&Inner, "3000", false},                       // mandatory id missing
        {&Inner, "3003810161", false},                 // first field is not id
        {&Inner, "3006800107", false},                 // contents run past the input
        {&Inner, "30048001078201ff", false},           // field runs past the SEQUENCE
        {&Inner, "3103800107", false},                 // SET tag
        {&Channel, "820105", false},                   // unknown alternative of a closed CHOICE
        {&Channel, "020105", false},                   // universal tag, not an alternative
        {&Bytes, "3004020105", false},                 // contents run past the input
        {&Bytes, "30030201", false},                   // element runs out
        {&Bytes, "3003020201ff", false},               // element runs past the list
        {&Small, "020105ffff", true},                  // trailing octets are ignored
    };
    for (Row const& row : rows) {
        Value v = make(row.info);
        EXPECT_EQ(row.decodes, berDecode(row.octets, *v)) << row.octets;
    }
    // Unknown alternatives of an extensible CHOICE are skipped.
    Value v1 = make(&CommandV1);
    ASSERT_TRUE(berDecode("a305800161810103", *v1));
    EXPECT_EQ(CHOICE::UnknownSelection, as<CHOICE>(v1.get()).currentSelection());
}

} // namespace
