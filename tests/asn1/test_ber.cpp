// BER encoder and decoder: octet-exact encodings, length counting, tag
// handling under automatic tagging, and the decoder's refusals.
#include "asn1/ber/ber_decoder.h"
#include "asn1/ber/ber_encoder.h"
#include "asn1/coder.h"
#include "asn1/test_per_types.h"

#include <gtest/gtest.h>

#include <climits>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

using namespace PerTypes;

namespace {

std::string berHex(AbstractData const& v, bool* ok = nullptr)
{
    std::vector<char> out;
    BEREncoder e(out);
    bool const done = v.accept(e);
    if (ok)
        *ok = done;
    return done ? hex(out) : std::string("<fail>");
}

bool berDecode(std::string const& hexText, AbstractData& v)
{
    std::vector<char> const bytes = unhex(hexText);
    BERDecoder d(bytes.data(), bytes.data() + bytes.size());
    return v.accept(d);
}

Value integer(void const* info, long long n)
{
    Value v = make(info);
    setInt(v.get(), n);
    return v;
}

// Encodes, checks the octets, decodes them into a fresh value of the same
// type and checks that it equals the original.
void roundTrip(AbstractData const& v, std::string const& expected)
{
    EXPECT_EQ(expected, berHex(v));
    Value back = make(v.info());
    ASSERT_TRUE(berDecode(expected, *back)) << expected;
    EXPECT_TRUE(*back == v) << expected;
}

TEST(BerInteger, MinimalTwosComplementOctets)
{
    struct Row {
        long long n;
        char const* octets;
    } const rows[] = {{0, "020100"}, {127, "02017f"}, {128, "02020080"}, {-1, "0201ff"}, {-128, "020180"},
                      {-129, "0202ff7f"}, {8388608, "020400800000"}, {INT_MAX, "02047fffffff"},
                      {INT_MIN, "020480000000"}};
    for (Row const& row : rows)
        roundTrip(*integer(&INTEGER::theInfo, row.n), row.octets);
    for (auto [n, octets] : {std::pair<int, unsigned>{0, 1}, {-128, 1}, {-129, 2}, {32767, 2}, {32768, 3},
                             {-8388608, 3}, {-8388609, 4}})
        EXPECT_EQ(octets, getIntegerDataLength(n)) << n;
}

TEST(BerInteger, DecoderRefusesMalformedContents)
{
    Value v = make(&INTEGER::theInfo);
    EXPECT_FALSE(berDecode("0200", *v));            // no contents octet
    EXPECT_FALSE(berDecode("02050102030405", *v));  // five octets
    EXPECT_FALSE(berDecode("020201", *v));          // runs out
    EXPECT_FALSE(berDecode("0401ff", *v));          // OCTET STRING tag
    EXPECT_FALSE(berDecode("", *v));
    Value big = make(&Big);
    EXPECT_FALSE(berDecode("02050100000000", *big));  // five octets, not a leading zero
    // Non-minimal contents still carry the number.
    EXPECT_TRUE(berDecode("0203000005", *v));
    EXPECT_EQ(5, as<INTEGER>(v.get()).getValue());
}

TEST(BerPrimitives, ObjectIdentifier)
{
    OBJECT_IDENTIFIER oid(&OBJECT_IDENTIFIER::theInfo);
    oid.append(1);
    oid.append(2);
    oid.append(840);
    roundTrip(oid, "06032a8648");
    OBJECT_IDENTIFIER back(&OBJECT_IDENTIFIER::theInfo);
    EXPECT_FALSE(berDecode("06032a86", back));  // contents run past the input
}

TEST(BerLength, LongFormWrittenCountedAndRead)
{
    Value octets = make(&OCTET_STRING::theInfo);
    setOctets(octets.get(), std::string(256, 'x'));
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
    Value back = make(&Inner);
    ASSERT_TRUE(berDecode(seq, *back));
    EXPECT_TRUE(*back == *inner);

    setOctets(octets.get(), std::string(127, 'x'));
    EXPECT_EQ("047f", berHex(*octets).substr(0, 4));
    setOctets(octets.get(), std::string(128, 'x'));
    EXPECT_EQ("048180", berHex(*octets).substr(0, 6));
}

TEST(BerLength, IndefiniteAndHugeLengthsFail)
{
    Value octets = make(&OCTET_STRING::theInfo);
    EXPECT_FALSE(berDecode("0480", *octets));  // indefinite form
    EXPECT_FALSE(berDecode("24800000", *octets));
    EXPECT_FALSE(berDecode("0484ffffffff00", *octets));  // far more than the input
    EXPECT_FALSE(berDecode("048501000000000000", *octets));  // five length octets
    EXPECT_FALSE(berDecode("0482", *octets));
}

TEST(BerConstructed, DecoderRefusals)
{
    Value inner = make(&Inner);
    EXPECT_FALSE(berDecode("3000", *inner));              // mandatory id missing
    EXPECT_FALSE(berDecode("3003810161", *inner));        // first field is not id
    EXPECT_FALSE(berDecode("3006800107", *inner));        // contents run past the input
    EXPECT_FALSE(berDecode("30048001078201ff", *inner));  // field runs past the SEQUENCE
    EXPECT_FALSE(berDecode("3103800107", *inner));        // SET tag

    // Unknown alternatives: skipped by an extensible CHOICE, refused otherwise.
    Value v1 = make(&CommandV1);
    ASSERT_TRUE(berDecode("a305800161810103", *v1));
    EXPECT_EQ(CHOICE::UnknownSelection, as<CHOICE>(v1.get()).currentSelection());
    Value channel = make(&Channel);
    EXPECT_FALSE(berDecode("820105", *channel));
    EXPECT_FALSE(berDecode("020105", *channel));  // universal tag, not an alternative

    Value list = make(&Bytes);
    EXPECT_FALSE(berDecode("3004020105", *list));    // contents run past the input
    EXPECT_FALSE(berDecode("30030201", *list));      // element runs out
    EXPECT_FALSE(berDecode("3003020201ff", *list));  // element runs past the list
}

TEST(BerConstructed, TrailingOctetsAreIgnored)
{
    Value v = make(&Small);
    ASSERT_TRUE(berDecode("020105ffff", *v));
    EXPECT_EQ(5, as<INTEGER>(v.get()).getValue());
}

TEST(BerFrontEnd, CoderEnvironmentServesTheBerRule)
{
    CoderEnv env;
    env.set_encodingRule(CoderEnv::ber);
    Value msg = make(&Message);
    setInt(field(*msg, 0), 3000000000LL);
    setInt(select(*field(*msg, 2), 2), 5);
    std::vector<char> out;
    ASSERT_TRUE(ASN1::encode(*msg, &env, std::back_inserter(out)));
    EXPECT_EQ("300c800500b2d05e00a203820105", hex(out));

    Value back = make(&Message);
    ASSERT_TRUE(ASN1::decode(out.data(), out.data() + out.size(), &env, *back, true));
    EXPECT_TRUE(*back == *msg);

    // All or nothing: a failing encode leaves the output as it was.
    Value none = make(&Message);
    EXPECT_FALSE(ASN1::encode(*none, &env, std::back_inserter(out)));
    EXPECT_EQ("300c800500b2d05e00a203820105", hex(out));

    // A lone NULL appends its two octets.
    std::vector<char> null;
    ASSERT_TRUE(ASN1::encode(*make(&Null::theInfo), &env, std::back_inserter(null)));
    EXPECT_EQ("0500", hex(null));
}

} // namespace
