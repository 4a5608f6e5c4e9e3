// Aligned PER decoder: forms, limits, refusals, what a failed decode leaves
// behind, and (for PER and BER alike) what an earlier decode leaves in a
// value decoded into again.
#include "asn1/test_per_types.h"

#include <gtest/gtest.h>

using namespace PerTypes;

namespace {

const ConstrainedInfo BigOctets = {{&OCTET_STRING::create, 4}, {FixedConstraint, 0, 20000}};
const StringInfo BigText = ia5(FixedConstraint, 0, 20000);
const ConstrainedInfo Bits = {{&BIT_STRING::create, 3}, {Unconstrained, 0, 0xFFFFFFFFu}};
void const* const StampInfos[] = {&GeneralizedTime::theInfo, &Slot};
char const* const StampNames[] = {"time", "slot"};
const ChoiceInfo Stamp = {{&CHOICE::create, 0}, false, StampInfos, 2, 2, nullptr, StampNames};
void const* const LogInfos[] = {&GeneralizedTime::theInfo, &OBJECT_IDENTIFIER::theInfo, &Bits, &Stamp, &Bytes};
int const LogIds[] = {-1, 0, 1, -1, -1};
char const* const LogNames[] = {"when", "oid", "bits", "stamp", "numbers"};
const SequenceInfo Log = {{&SEQUENCE::create, 16}, false, LogInfos, LogIds, 5, 0, 2, nullptr, nullptr, LogNames};
// Extensible types with a single root value.
char const* const OnlyNames[] = {"only", nullptr};
const EnumeratedInfo Only = {{&ENUMERATED::create, 10}, true, 0, OnlyNames};
const ConstrainedInfo FiveOrMore = intRange(ExtendableConstraint, 5, 5);
const StringInfo NoneOrMore = ia5(ExtendableConstraint, 0, 0);

TEST(PerDecoderPrimitives, LengthForms)
{
    auto len = [](std::string const& text) {
        std::vector<char> in = unhex(text);
        PERDecoder d(in.data(), in.data() + in.size());
        unsigned n = 0;
        return d.decodeLength(0, NoUpperBound, n) == 0 ? static_cast<long>(n) : -1L;
    };
    for (auto [text, n] : {std::pair<char const*, long>{"7f", 127}, {"80 80", 128}, {"bf ff", 16383},
                           {"c0 00", -1} /* fragmented form */, {"80", -1}, {"", -1}})
        EXPECT_EQ(n, len(text)) << text;
}

// How many octets, characters, bits, elements or additions a value holds.
std::size_t sizeOf(AbstractData& v)
{
    if (auto* o = dynamic_cast<OCTET_STRING*>(&v))
        return o->size();
    if (auto* s = dynamic_cast<AbstractString*>(&v))
        return s->size();
    if (auto* b = dynamic_cast<BIT_STRING*>(&v))
        return b->size();
    if (auto* l = dynamic_cast<SEQUENCE_OF_Base*>(&v))
        return l->size();
    return as<SEQUENCE>(&v).getExtensionMap().size();
}

// The end of the input, a number outside its range, a size beyond a limit,
// an extension form that cannot be read, or an open type's value running
// past its octets, is refused rather than read as some other value. A row
// may pad its octets with fill octets and give the size of the result.
TEST(PerDecoder, AcceptsAndRefuses)
{
    struct Row {
        void const* info;
        char const* octets;
        bool decodes;
        std::size_t pad = 0;
        char fill = 0;
        long size = -1;
    } const rows[] = {
        {&BOOLEAN::theInfo, "", false},
        {&Channel, "", false},
        {&Ext, "", false},
        {&Null::theInfo, "", true},
        {&Only, "", true},                         // extension bit 0 at the end, then no bits
        {&FiveOrMore, "", true},
        {&NoneOrMore, "", true, 0, 0, 0},
        {&Mode, "80", false},                      // extension number + 1 is 0
        {&Mode, "c0", false},                      // long form, count missing
        {&Mode, "86", false},                      // number missing
        {&Signed, "a0", true},                     // offset 10: 5
        {&Signed, "b0", true},                     // offset 11 of -5..5: 6, for the checker
        {&Slot, "05 dc", true},                    // 1500 in the 16-bit field of 0..1023
        {&Colour, "c0", true},                     // number 3 of 0..2: read, for the checker
        {&INTEGER::theInfo, "00", true},           // no contents octet: 0
        {&INTEGER::theInfo, "01 ff", true},
        {&INTEGER::theInfo, "05 01 02 03 04 05", false},  // five contents octets
        {&Ext, "98 08 04 04 61 62 00", true},
        {&Ext, "98 08 02 04 61 62 00", false},     // addition runs past its 2 octets
        {&Command, "80 03 01 78 40 ee", true},
        {&Command, "80 02 01 78 40 ee", false},    // alternative runs past its 2 octets
        {&Command, "80 09 01 78 40 ee", false},    // more octets announced than there are
        {&Command, "60", false},                   // root index 3 of 3 root alternatives
        {&CommandV1, "81 01 00", false},           // an alternative the type does not know
        {&BigOctets, "40 00", false},              // 16384 announced, none there
        {&BigOctets, "40 00", true, 16384, 'x', 16384},
        {&BigOctets, "40 01", false, 16385, 'x'},
        {&BigText, "40 01", false, 16385, 'y'},
        {&Bits, "80 21 ff", false},                // 33 bits announced, 8 there
        {&Bits, "03 a0", true, 0, 0, 3},
        {&Booleans, "80 80", true, 16, '\xff', 128},
        {&Booleans, "80 81", false, 17, '\xff', 0},  // refused before any element
        {&Booleans, "c0 01 00", false},            // fragmented count
        {&IA5String::theInfo, "05 61 62", false, 0, 0, 0},  // a short block empties the string
        {&Digits, "10 f0", false},                 // index 15 is outside the set
        {&ExtV1, "84 01 7f", true, 16, 0, 128},    // 128 unknown additions, all absent
        {&ExtV1, "84 01 80", false, 17, 0},
        {&ExtV1, "98 08 03 04 61 62", true},       // unknown addition ends at the end of input
        {&ExtV1, "98 08 03 04 61 62 77", true},    // trailing octet ignored
        {&ExtV1, "98 08 04 04 61 62", false},      // runs past the end
        {&ExtV1, "98 08", false},                  // length missing
    };
    for (Row const& row : rows) {
        Value v = make(row.info);
        std::vector<char> in = unhex(row.octets);
        in.resize(in.size() + row.pad, row.fill);
        EXPECT_EQ(row.decodes, decBytes(Rule::per, in, *v)) << row.octets;
        EXPECT_TRUE(row.size < 0 || static_cast<std::size_t>(row.size) == sizeOf(*v)) << row.octets;
    }
}

TEST(PerDecoder, DecodedContents)
{
    Value zero = intV(&INTEGER::theInfo, 5), colour = make(&Colour), five = make(&FiveOrMore);
    ASSERT_TRUE(perDecode("00", *zero) && perDecode("c0", *colour) && perDecode("", *five));
    EXPECT_EQ(0, intOf(zero.get()));
    EXPECT_EQ(5, intOf(five.get()));
    EXPECT_EQ(3, as<ENUMERATED>(colour.get()).asInt());  // above the last: the checker says invalid
    EXPECT_FALSE(colour->isValid());
    Value bits = make(&Bits);
    ASSERT_TRUE(perDecode("03 a0", *bits));
    EXPECT_TRUE(as<BIT_STRING>(bits.get())[0]);
    EXPECT_FALSE(as<BIT_STRING>(bits.get())[1]);
    Value d = make(&Digits);
    ASSERT_TRUE(perDecode("30 20 a0", *d));
    EXPECT_EQ("1 9", static_cast<std::string const&>(as<AbstractString>(d.get())));
    Value r = make(&Ranged);
    ASSERT_TRUE(perDecode("26 16 20", *r));
    EXPECT_EQ(std::vector<char>({'a', 'b'}), static_cast<std::vector<char> const&>(as<OCTET_STRING>(r.get())));

    // A failing element cuts the list after the elements read.
    Value b = make(&Bytes);
    EXPECT_FALSE(perDecode("03 01 02", *b));
    SEQUENCE_OF_Base& list = as<SEQUENCE_OF_Base>(b.get());
    ASSERT_EQ(2u, list.size());
    EXPECT_EQ(2, intOf(*(list.begin() + 1)));
    ASSERT_TRUE(perDecode("01 07", *b));
    EXPECT_EQ(1u, list.size());

    Value e = make(&ExtV1);
    ASSERT_TRUE(perDecode("98 08 03 04 61 62", *e));  // unknown addition skipped
    EXPECT_EQ(3, intOf(as<SEQUENCE>(e.get()).getField(0)));
    // Known additions are decoded, whatever padding their open type has.
    Value k = make(&Ext);
    ASSERT_TRUE(perDecode("98 08 04 04 61 62 00", *k));
    SEQUENCE& s = as<SEQUENCE>(k.get());
    EXPECT_TRUE(s.hasOptionalField(1));
    EXPECT_EQ("ab", static_cast<std::string const&>(as<AbstractString>(s.getField(2))));
}

TEST(PerDecoder, ChoiceSelection)
{
    Value c = make(&Command);
    CHOICE& ch = as<CHOICE>(c.get());
    ASSERT_TRUE(perDecode("40 00 05", *c));
    EXPECT_EQ(2, ch.currentSelection());
    AbstractData* before = ch.getSelection();
    ASSERT_TRUE(perDecode("40 00 09", *c));   // same alternative: object reused
    EXPECT_EQ(before, ch.getSelection());
    EXPECT_EQ(9, intOf(ch.getSelection()));
    // Input ending inside the index: the decode fails, the alternative stays.
    char const last = 0;
    PERDecoder cut(&last, &last + 1);
    unsigned skipped = 0;
    ASSERT_TRUE(cut.decodeMultiBit(6, skipped));  // the extension bit and one index bit left
    EXPECT_FALSE(c->accept(cut));
    ASSERT_EQ(2, ch.currentSelection());
    EXPECT_EQ(9, intOf(ch.getSelection()));
    ASSERT_TRUE(perDecode("80 03 01 78 40 ee", *c));   // extension alternative as open type
    EXPECT_EQ(3, ch.currentSelection());
    ASSERT_TRUE(perDecode("40 00 07", *c));   // back to destroy
    EXPECT_EQ(7, intOf(ch.getSelection()));

    // Another alternative in between: the time comes back new, not with the
    // "Z" of the first one.
    Value stamp = make(&Stamp);
    ASSERT_TRUE(perDecode("00 0f 32303233313233313233353935395a", *stamp));
    EXPECT_TRUE(as<GeneralizedTime>(as<CHOICE>(stamp.get()).getSelection()).getUTC());
    ASSERT_TRUE(perDecode("80 00 05", *stamp));
    EXPECT_EQ(5, intOf(as<CHOICE>(stamp.get()).getSelection()));
    ASSERT_TRUE(perDecode("00 0e 3230323430313031303030303030", *stamp));
    GeneralizedTime const& time = as<GeneralizedTime>(as<CHOICE>(stamp.get()).getSelection());
    EXPECT_EQ("20240101000000", time.get());
    EXPECT_FALSE(time.getUTC());
    EXPECT_FALSE(perDecode("60", *c));
    EXPECT_EQ(CHOICE::UnknownSelection, ch.currentSelection());
    Value old = make(&CommandV1);
    EXPECT_FALSE(perDecode("81 01 00", *old));
    EXPECT_EQ(CHOICE::UnknownSelection, as<CHOICE>(old.get()).currentSelection());
    EXPECT_EQ(nullptr, as<CHOICE>(old.get()).getSelection());
}

// The preamble alone answers the walk's code; the walk then drives every
// root field through visitExtensionRoot, also those of a SEQUENCE inside.
TEST(PerDecoder, SequenceWalkVisitsEveryRootField)
{
    struct Watcher : PERDecoder {
        using PERDecoder::PERDecoder;
        std::string calls;
        int visitExtensionRoot(SEQUENCE& v, int i, int bit) override
        {
            calls += v.getFieldName(i) + std::to_string(bit) + " ";
            return PERDecoder::visitExtensionRoot(v, i, bit);
        }
    };
    std::vector<char> const in = unhex("ec 11 03 00 00 01");  // { a 5, b TRUE, e { id 1 } }
    Value v = make(&Ext), whole = make(&Ext);
    PERDecoder d(in.data(), in.data() + in.size());
    EXPECT_EQ(Visitor::ContinueAll, d.preVisitExtensionRoots(as<SEQUENCE>(v.get())));
    EXPECT_EQ(46u, d.getBitsLeft());  // the extension bit and b's presence bit read
    EXPECT_TRUE(as<SEQUENCE>(v.get()).hasOptionalField(0));
    Watcher w(in.data(), in.data() + in.size());
    ASSERT_TRUE(v->accept(w) && decBytes(Rule::per, in, *whole));
    EXPECT_EQ("a-1 b0 id-1 name0 flag1 data2 ", w.calls);
    EXPECT_EQ(5, intOf(as<SEQUENCE>(whole.get()).getField(0)));
    EXPECT_TRUE(*whole == *v);
}

// A value decoded into again holds exactly what a new value decoded from
// the same octets holds: no earlier alternative, time field, OPTIONAL
// field, addition, element or octet comes back.
TEST(DecodeIntoUsedValue, GivesWhatANewValueGets)
{
    struct Row {
        void const* info;
        std::vector<char const*> texts;  // value notation, encoded and decoded in order
    } const rows[] = {
        {&Stamp, {"time : \"20231231235959Z\"", "slot : 5", "time : \"20240101000000\""}},
        {&Stamp, {"time : \"20231231235959.250-0130\"", "time : \"2024\""}},
        {&Log, {"{ when \"20230101000000.5Z\", oid { 1 2 840 113549 }, bits '101100111'B, stamp slot : 3, "
                "numbers { 1, 2, 3 } }",
                "{ when \"20240101000000\", bits '1'B, stamp time : \"20240101000000\", numbers { 4 } }"}},
        {&Inner, {"{ id 1, name \"abc\", flag TRUE, data '0102'H }", "{ id 2, name \"x\" }"}},
        {&Ext, {"{ a 1, b TRUE, c \"xy\", d 7, e { id 5, name \"n\" } }", "{ a 2 }"}},
        {&Exts, {"{ { a 1 }, { a 2, d 7 } }", "{ { a 3, c \"q\" } }"}},
        {&Command, {"query : { what \"long text\", level 3 }", "reset : NULL", "query : { what \"x\", level 1 }"}},
    };
    for (Rule rule : {Rule::per, Rule::ber}) {
        for (Row const& row : rows) {
            std::string const where = std::string(rule == Rule::per ? "PER " : "BER ") + row.texts.back();
            Value used = make(row.info);
            std::vector<char> octets;
            for (char const* text : row.texts) {
                Value v = make(row.info);
                ASSERT_TRUE(v->setFromValueNotation(text)) << text;
                octets = unhex(encHex(rule, *v));
                ASSERT_TRUE(decBytes(rule, octets, *used)) << where;
            }
            Value fresh = make(row.info);
            ASSERT_TRUE(decBytes(rule, octets, *fresh)) << where;
            EXPECT_EQ(fresh->asValueNotation(), used->asValueNotation()) << where;
            EXPECT_TRUE(*fresh == *used) << where;
            if (auto const* s = dynamic_cast<SEQUENCE const*>(used.get())) {
                EXPECT_TRUE(as<SEQUENCE>(fresh.get()).getOptionalMap() == s->getOptionalMap()) << where;
                EXPECT_TRUE(as<SEQUENCE>(fresh.get()).getExtensionMap() == s->getExtensionMap()) << where;
            }
        }
    }
}

TEST(PerDecoder, EveryPrefixOfAMessageFailsCleanly)
{
    Value r = make(&Message);
    AbstractData* sel = select(*field(*r, 2), 1);
    setInt(field(*sel, 0), 77);
    setText(field(*sel, 1), "abc");
    setOctets(field(*sel, 3), "payload");
    setInt(field(*r, 0), 123456);
    std::vector<char> const full = unhex(perHex(*r));
    ASSERT_FALSE(full.empty());
    for (std::size_t n = 0; n < full.size(); ++n) {
        Value v = make(&Message);
        EXPECT_FALSE(decBytes(Rule::per, std::vector<char>(full.begin(), full.begin() + static_cast<long>(n)), *v))
            << n;
    }
    Value v = make(&Message);
    ASSERT_TRUE(decBytes(Rule::per, full, *v));
    EXPECT_TRUE(*v == *r);
}

} // namespace
