// Aligned PER encoder: bit-level forms, per-type rules, the deliberate
// departures from X.691 and the encoding failures.
#include "asn1/notation/printer.h"
#include "asn1/test_per_types.h"

#include <gtest/gtest.h>

using namespace PerTypes;

namespace {

const ConstrainedInfo Seven = intRange(FixedConstraint, 0, 127);

TEST(PerEncoderPrimitives, LengthForms)
{
    auto len = [](unsigned n) {
        std::vector<char> out;
        PEREncoder e(out, true);
        return e.encodeLength(n, 0, NoUpperBound) ? hex(out) : std::string("fail");
    };
    for (auto [n, octets] : {std::pair<unsigned, char const*>{0, "00"}, {127, "7f"}, {128, "8080"},
                             {16383, "bfff"}, {16384, "fail"}})
        EXPECT_EQ(octets, len(n)) << n;
    std::vector<char> out;
    PEREncoder e(out, true);
    EXPECT_FALSE(e.encodeLength(0, 1, 10));
    EXPECT_FALSE(e.encodeLength(11, 1, 10));
    EXPECT_TRUE(e.encodeLength(5, 5, 5));  // fixed: nothing written
    EXPECT_TRUE(out.empty());
}

Value ext(int a, char const* c, int d)
{
    Value e = make(&Ext);
    setInt(field(*e, 0), a);
    if (c)
        setText(field(*e, 2), c);
    if (d)
        setInt(field(*e, 3), d);
    return e;
}

// One value per row and its octets ("fail": refused). The departures from
// X.691 are pinned here by byte; Erlang checks the rest.
TEST(PerEncoder, ValuesToOctets)
{
    Value bytes = listV(&Bytes, 2);
    setInt(*as<SEQUENCE_OF_Base>(bytes.get()).begin(), 1);
    setInt(*(as<SEQUENCE_OF_Base>(bytes.get()).begin() + 1), 255);
    Value badList = listV(&Bytes, 1);
    setInt(*as<SEQUENCE_OF_Base>(badList.get()).begin(), 256);  // a failing element fails the list
    Value emptyQuery = make(&Query);
    setText(field(*emptyQuery, 0), "");
    // An addition included and removed again: extension bit 0, nothing more.
    Value removed = ext(3, "x", 0);
    as<SEQUENCE>(removed.get()).removeOptionalField(1);
    // A map longer than the known additions (a value from a newer peer):
    // only known additions are written.
    Value unknown = make(&ExtV1);
    setInt(field(*unknown, 0), 1);
    as<SEQUENCE>(unknown.get()).getExtensionMap().resize(2);
    as<SEQUENCE>(unknown.get()).getExtensionMap().set(1);
    OpenData openEmpty(nullptr, &OpenData::theInfo), openOctets(nullptr, &OpenData::theInfo);
    openOctets.grab(new std::vector<char>{'\x01', '\x02'});  // hands on the octets it holds
    OpenData openValue(new INTEGER(-1, &INTEGER::theInfo), &OpenData::theInfo);
    struct Row {
        Value value;
        char const* octets;
    };
    Row rows[] = {
        {intV(&Big, 0), "0000"},  // 2-bit count 0, aligned octet 00
        {intV(&Big, 4294967295u), "c0ffffffff"},
        {intV(&Big, 256), "400100"},
        {intV(&Slot, 1023), "03ff"},
        {intV(&Slot, 0), "0000"},
        {intV(&Byte, 255), "ff"},
        {intV(&Word, 65535), "ffff"},
        {intV(&Small, 7), "e0"},  // 3-bit field
        {intV(&Seven, 127), "fe"},
        {intV(&Five, 5), ""},  // fixed value: nothing
        {intV(&Wide, 65534), "40fffe"},
        {intV(&Slot, 1024), "fail"},
        {intV(&Small, 8), "fail"},
        {intV(&Five, 6), "fail"},
        {intV(&Byte, -1), "fail"},
        {octV(&OCTET_STRING::theInfo, ""), "00"},
        {octV(&OCTET_STRING::theInfo, "ab"), "026162"},
        {octV(&Fixed, "abcd"), "61626364"},  // fixed size: no length
        {octV(&Fixed, "abc"), "fail"},
        {octV(&OCTET_STRING::theInfo, std::string(16384, 'x')), "fail"},
        // Departure: one or two octets of a SIZE-constrained OCTET STRING
        // follow the length unaligned; three or more are aligned.
        {octV(&Ranged, "ab"), "261620"},
        {octV(&Ranged, "abc"), "30616263"},
        {textV(&Name, "ab"), "046162"},
        {textV(&IA5String::theInfo, ""), "00"},
        {textV(&IA5String::theInfo, "hi"), "026869"},
        // Departure: a variable-size string of at most 16 bits is not aligned.
        {textV(&Tiny, "ab"), "b0b100"},
        {textV(&Tiny, "\x7f"), "3f80"},
        {textV(&Tiny, "\x80"), "fail"},  // each character must be one of the set
        {textV(&Tiny, "a\x80"), "fail"},
        {textV(&Grow, "abc"), "40616263"},
        {textV(&Grow, "abcde"), "80056162636465"},
        {textV(&Digits, "1 9"), "3020a0"},  // set indexes in 4 bits, aligned
        {textV(&Digits, "1a"), "fail"},
        {enumV(&Colour, 2), "80"},
        {enumV(&Colour, 3), "fail"},
        // Departure: numbers 0, 11 and 255 take 8 aligned bits, the number itself.
        {enumV(&Numbered, 11), "0b"},
        {enumV(&Numbered, 255), "ff"},
        // Departure: an extension value is number + 1 as a normally small
        // number, then the number in 0..number.
        {enumV(&Mode, 1), "20"},
        {enumV(&Mode, 5), "86a0"},
        {enumV(&Mode, 62), "bff8"},    // 63: the largest normally small number in 6 bits
        {enumV(&Mode, 63), "c00140fc"},  // 64: one aligned octet after its length
        {ext(3, nullptr, 0), "18"},  // 0, 0, 011
        {std::move(removed), "18"},
        // Departure: the bitmap has as many bits as the value's extension
        // map (here 1), not one per known addition.
        {ext(3, "ab", 0), "980803046162"},
        {ext(3, "ab", -1), "981c030461620201ff"},
        {std::move(unknown), "08"},
        {listV(&Bytes, 0), "00"},
        {std::move(bytes), "0201ff"},
        {listV(&Bounded, 8), "800000000000000000"},
        {listV(&Bounded, 9), "fail"},
        {std::move(badList), "fail"},
        // Departure: a complete encoding of no bits is no octets (X.691: 00).
        {make(&Null::theInfo), ""},
        {std::move(emptyQuery), "0000"},
    };
    for (Row const& row : rows)
        EXPECT_EQ(row.octets, perHex(*row.value)) << *row.value;
    EXPECT_EQ(16385u, perHex(*octV(&OCTET_STRING::theInfo, std::string(16383, 'x'))).size() / 2);
    EXPECT_EQ("0100", perHex(openEmpty));
    EXPECT_EQ("020102", perHex(openOctets));
    EXPECT_EQ("0201ff", perHex(openValue));
    // Unaligned, a character takes its own 7-bit code: one outside the set fails.
    for (auto [text, ok] : {std::pair<char const*, bool>{"a\x7f", true}, {"a\x80", false}}) {
        std::vector<char> out;
        PEREncoder unaligned(out, false);
        EXPECT_EQ(ok, textV(&Name, text)->accept(unaligned)) << text;
    }
}

} // namespace
