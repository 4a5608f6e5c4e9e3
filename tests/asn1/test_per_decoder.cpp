// Aligned PER decoder: forms, limits, refusals, and what a failed decode
// leaves behind.
#include "asn1/per/per_decoder.h"
#include "asn1/per/per_encoder.h"
#include "asn1/test_per_types.h"

#include <gtest/gtest.h>

using namespace PerTypes;

namespace {

const ConstrainedInfo BigOctets = {{&OCTET_STRING::create, 4}, {FixedConstraint, 0, 20000}};
const StringInfo BigText = ia5(FixedConstraint, 0, 20000);
const ConstrainedInfo Bits = {{&BIT_STRING::create, 3}, {Unconstrained, 0, 0xFFFFFFFFu}};

bool decodeInto(AbstractData& v, std::vector<char> const& bytes)
{
    PERDecoder d(bytes.data(), bytes.data() + bytes.size(), nullptr, true);
    return v.accept(d);
}

bool decodeHex(AbstractData& v, std::string const& text)
{
    return decodeInto(v, unhex(text));
}

int intOf(AbstractData const* v)
{
    return dynamic_cast<INTEGER const&>(*v).getValue();
}

TEST(PerDecoderPrimitives, LengthForms)
{
    auto len = [](std::string const& text) {
        std::vector<char> in = unhex(text);
        PERDecoder d(in.data(), in.data() + in.size());
        unsigned n = 0;
        return d.decodeLength(0, NoUpperBound, n) == 0 ? static_cast<long>(n) : -1L;
    };
    EXPECT_EQ(127, len("7f"));
    EXPECT_EQ(128, len("80 80"));
    EXPECT_EQ(16383, len("bf ff"));
    EXPECT_EQ(-1, len("c0 00"));   // fragmented form
    EXPECT_EQ(-1, len("80"));      // second octet missing
    EXPECT_EQ(-1, len(""));
}

TEST(PerDecoderIntegers, EndOfInputFails)
{
    Value b = make(&BOOLEAN::theInfo);
    EXPECT_FALSE(decodeInto(*b, {}));
    Value c = make(&Channel);
    EXPECT_FALSE(decodeInto(*c, {}));
    Value e = make(&Ext);
    EXPECT_FALSE(decodeInto(*e, {}));
    Value n = make(&Null::theInfo);
    EXPECT_TRUE(decodeInto(*n, {}));
}

// An extension form that cannot be read is a failure, not a root number
// read from wherever the decoder stands.
TEST(PerDecoderEnumerations, UnreadableExtensionFormFails)
{
    Value m = make(&Mode);
    EXPECT_FALSE(decodeHex(*m, "80"));        // number + 1 is 0
    EXPECT_FALSE(decodeHex(*m, "c0"));        // long form, count missing
    EXPECT_FALSE(decodeHex(*m, "86"));        // number missing
}

TEST(PerDecoderStrings, SizeLimits)
{
    Value o = make(&BigOctets);
    std::vector<char> in = unhex("40 00");    // 16384 announced, none there
    EXPECT_FALSE(decodeInto(*o, in));
    in.resize(2 + 16384, 'x');
    ASSERT_TRUE(decodeInto(*o, in));
    EXPECT_EQ(16384u, dynamic_cast<OCTET_STRING&>(*o).size());
    std::vector<char> over = unhex("40 01");
    over.resize(2 + 16385, 'x');
    EXPECT_FALSE(decodeInto(*o, over));

    Value t = make(&BigText);
    std::vector<char> text = unhex("40 01");
    text.resize(2 + 16385, 'y');
    EXPECT_FALSE(decodeInto(*t, text));

    Value bits = make(&Bits);
    EXPECT_FALSE(decodeHex(*bits, "80 21 ff"));   // 33 bits announced, 8 there
    ASSERT_TRUE(decodeHex(*bits, "03 a0"));
    EXPECT_EQ(3u, dynamic_cast<BIT_STRING&>(*bits).size());
    EXPECT_TRUE(dynamic_cast<BIT_STRING&>(*bits)[0]);
    EXPECT_FALSE(dynamic_cast<BIT_STRING&>(*bits)[1]);
}

TEST(PerDecoderStrings, ShortOrInvalidContent)
{
    Value t = make(&IA5String::theInfo);
    EXPECT_FALSE(decodeHex(*t, "05 61 62"));
    EXPECT_TRUE(dynamic_cast<AbstractString&>(*t).empty());   // a short block empties the string
    Value d = make(&Digits);
    EXPECT_FALSE(decodeHex(*d, "10 f0"));                      // index 15 is outside the set
    ASSERT_TRUE(decodeHex(*d, "30 20 a0"));
    EXPECT_EQ("1 9", static_cast<std::string const&>(dynamic_cast<AbstractString&>(*d)));
    Value r = make(&Ranged);
    ASSERT_TRUE(decodeHex(*r, "26 16 20"));
    EXPECT_EQ(std::vector<char>({'a', 'b'}), static_cast<std::vector<char> const&>(dynamic_cast<OCTET_STRING&>(*r)));
}

TEST(PerDecoderLists, ElementLimit)
{
    Value b = make(&Booleans);
    std::vector<char> in = unhex("80 80");     // 128 elements
    in.resize(2 + 16, '\xff');
    ASSERT_TRUE(decodeInto(*b, in));
    EXPECT_EQ(128u, dynamic_cast<SEQUENCE_OF_Base&>(*b).size());
    std::vector<char> over = unhex("80 81");
    over.resize(2 + 17, '\xff');
    Value c = make(&Booleans);
    EXPECT_FALSE(decodeInto(*c, over));
    EXPECT_EQ(0u, dynamic_cast<SEQUENCE_OF_Base&>(*c).size());   // failed before any element
    EXPECT_FALSE(decodeHex(*c, "c0 01 00"));                     // fragmented count
}

TEST(PerDecoderLists, FailingElementCutsTheList)
{
    Value b = make(&Bytes);
    EXPECT_FALSE(decodeHex(*b, "03 01 02"));
    SEQUENCE_OF_Base& list = dynamic_cast<SEQUENCE_OF_Base&>(*b);
    ASSERT_EQ(2u, list.size());
    EXPECT_EQ(2, intOf(*(list.begin() + 1)));
    ASSERT_TRUE(decodeHex(*b, "01 07"));
    EXPECT_EQ(1u, list.size());
}

TEST(PerDecoderChoices, SelectionAndRefusals)
{
    Value c = make(&Command);
    ASSERT_TRUE(decodeHex(*c, "40 00 05"));
    CHOICE& ch = dynamic_cast<CHOICE&>(*c);
    EXPECT_EQ(2, ch.currentSelection());
    AbstractData* before = ch.getSelection();
    ASSERT_TRUE(decodeHex(*c, "40 00 09"));   // same alternative: object reused
    EXPECT_EQ(before, ch.getSelection());
    EXPECT_EQ(9, intOf(ch.getSelection()));
    ASSERT_TRUE(decodeHex(*c, "80 03 01 78 40 ee"));   // extension alternative as open type
    EXPECT_EQ(3, ch.currentSelection());
    ASSERT_TRUE(decodeHex(*c, "40 00 07"));   // back to destroy: its earlier object taken up again
    EXPECT_EQ(before, ch.getSelection());
    EXPECT_EQ(7, intOf(ch.getSelection()));
    EXPECT_FALSE(decodeHex(*c, "60"));         // root index 3 of 3 root alternatives
    EXPECT_EQ(CHOICE::UnknownSelection, ch.currentSelection());

    Value old = make(&CommandV1);
    EXPECT_FALSE(decodeHex(*old, "81 01 00"));  // an alternative the type does not know
    EXPECT_EQ(CHOICE::UnknownSelection, dynamic_cast<CHOICE&>(*old).currentSelection());
    EXPECT_EQ(nullptr, dynamic_cast<CHOICE&>(*old).getSelection());
}

TEST(PerDecoderSequences, UnknownAdditionsAreSkipped)
{
    Value e = make(&ExtV1);
    ASSERT_TRUE(decodeHex(*e, "98 08 03 04 61 62"));   // addition ends at the end of input
    EXPECT_EQ(3, intOf(dynamic_cast<SEQUENCE&>(*e).getField(0)));
    ASSERT_TRUE(decodeHex(*e, "98 08 03 04 61 62 77"));  // trailing octet ignored
    EXPECT_FALSE(decodeHex(*e, "98 08 04 04 61 62"));    // runs past the end
    EXPECT_FALSE(decodeHex(*e, "98 08"));                // length missing
    // Known additions are decoded, whatever padding their open type has.
    Value k = make(&Ext);
    ASSERT_TRUE(decodeHex(*k, "98 08 04 04 61 62 00"));
    SEQUENCE& s = dynamic_cast<SEQUENCE&>(*k);
    EXPECT_TRUE(s.hasOptionalField(1));
    EXPECT_EQ("ab", static_cast<std::string const&>(dynamic_cast<AbstractString&>(*s.getField(2))));
}

// A number outside its range, or an open type's value running past its
// octets, is refused rather than read as some other value.
TEST(PerDecoderBounds, OutOfRangeAndOverrunsFail)
{
    struct Row {
        void const* info;
        char const* octets;
        bool decodes;
    } const rows[] = {
        {&Signed, "a0", true},                     // offset 10: 5
        {&Signed, "b0", true},                     // offset 11 of -5..5: 6, for the checker
        {&Slot, "05 dc", true},                    // 1500 in the 16-bit field of 0..1023
        {&Colour, "c0", false},                    // index 3 of 0..2
        {&INTEGER::theInfo, "00", false},          // no contents octet
        {&INTEGER::theInfo, "01 ff", true},
        {&Ext, "98 08 04 04 61 62 00", true},
        {&Ext, "98 08 02 04 61 62 00", false},     // addition runs past its 2 octets
        {&Command, "80 03 01 78 40 ee", true},
        {&Command, "80 02 01 78 40 ee", false},    // alternative runs past its 2 octets
        {&Command, "80 09 01 78 40 ee", false},    // more octets announced than there are
    };
    for (Row const& row : rows) {
        Value v = make(row.info);
        EXPECT_EQ(row.decodes, decodeHex(*v, row.octets)) << row.octets;
    }
}

TEST(PerDecoderSequences, ExtensionCountLimit)
{
    Value e = make(&ExtV1);
    std::vector<char> in = unhex("84 01 7f");   // 128 additions announced, none present
    in.resize(3 + 16, 0);
    ASSERT_TRUE(decodeInto(*e, in));
    EXPECT_EQ(128u, dynamic_cast<SEQUENCE&>(*e).getExtensionMap().size());
    std::vector<char> over = unhex("84 01 80");
    over.resize(3 + 17, 0);
    EXPECT_FALSE(decodeInto(*e, over));
}

TEST(PerDecoderSequences, FailedDecodeLeavesPartialValueWithoutHarm)
{
    // Every prefix of a full message fails or succeeds cleanly.
    Value r = make(&Message);
    AbstractData* sel = select(*field(*r, 2), 1);
    setInt(field(*sel, 0), 77);
    setText(field(*sel, 1), "abc");
    setOctets(field(*sel, 3), "payload");
    setInt(field(*r, 0), 123456);
    std::vector<char> full;
    PEREncoder enc(full, true);
    ASSERT_TRUE(r->accept(enc));
    for (std::size_t n = 0; n < full.size(); ++n) {
        Value v = make(&Message);
        std::vector<char> part(full.begin(), full.begin() + static_cast<long>(n));
        EXPECT_FALSE(decodeInto(*v, part)) << n;
    }
    Value v = make(&Message);
    ASSERT_TRUE(decodeInto(*v, full));
    EXPECT_TRUE(*v == *r);
}

} // namespace
