// Values of every kind: creation from descriptions, order, deep copies,
// the per-kind operations, and SEQUENCE presence, CHOICE selection and
// SEQUENCE OF editing.
#include "asn1/values/all.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

using namespace ASN1;
using Ptr = std::unique_ptr<AbstractData>;

// An ENUMERATED with explicit, unordered and repeated numbers.
const char* const kGainNames[] = {"not-use=-1", "active", "standby", "gw-get-id=4097",
                                  "min=0", "max=10", "mux", nullptr};
const EnumeratedInfo kGainInfo = {{&ENUMERATED::create, 10}, false, 4097, kGainNames};
const ConstrainedInfo kSlotInfo = {{&INTEGER::create, 2}, {FixedConstraint, 0, 1023}};

// Pair ::= SEQUENCE { a INTEGER, b BOOLEAN OPTIONAL }
const void* const kPairFields[] = {&INTEGER::theInfo, &BOOLEAN::theInfo};
const int kPairIds[] = {-1, 0};
const char* const kPairNames[] = {"a", "b"};
const SequenceInfo kPair = {{&SEQUENCE::create, 16}, false, kPairFields, kPairIds, 2, 0, 1,
                            nullptr, nullptr, kPairNames};

// Rec ::= SEQUENCE { x INTEGER, y Pair OPTIONAL, z IA5String OPTIONAL, ...,
//                    e1 INTEGER OPTIONAL, e2 OCTET STRING OPTIONAL }
const void* const kRecFields[] = {&INTEGER::theInfo, &kPair, &IA5String::theInfo,
                                  &INTEGER::theInfo, &OCTET_STRING::theInfo};
const int kRecIds[] = {-1, 0, 1, 0, 0};
const char* const kRecNames[] = {"x", "y", "z", "e1", "e2"};
const SequenceInfo kRec = {{&SEQUENCE::create, 16}, true, kRecFields, kRecIds, 3, 2, 2,
                           nullptr, nullptr, kRecNames};

// Alt ::= CHOICE { i INTEGER, s IA5String, ..., n NULL }
const void* const kAltInfos[] = {&INTEGER::theInfo, &IA5String::theInfo, &Null::theInfo};
const char* const kAltNames[] = {"i", "s", "n"};
const ChoiceInfo kAlt = {{&CHOICE::create, 0}, true, kAltInfos, 2, 3, nullptr, kAltNames};

using IntList = SEQUENCE_OF<INTEGER, EmptyConstraint>;

std::unique_ptr<SEQUENCE> rec(int x = 0)
{
    std::unique_ptr<SEQUENCE> r(static_cast<SEQUENCE*>(AbstractData::create(&kRec)));
    static_cast<INTEGER&>(*r->getField(0)) = x;
    return r;
}

INTEGER& intField(SEQUENCE& s, unsigned i) { return static_cast<INTEGER&>(*s.getField(i)); }

IntList ints(std::vector<int> const& numbers)
{
    IntList l;
    for (int n : numbers)
        l.push_back(INTEGER(n, &INTEGER::theInfo));
    return l;
}

std::vector<int> contents(IntList const& l)
{
    std::vector<int> out;
    for (IntList::const_iterator it = l.begin(); it != l.end(); ++it)
        out.push_back((*it).getValue());
    return out;
}

OBJECT_IDENTIFIER oidOf(std::vector<unsigned> const& arcs)
{
    OBJECT_IDENTIFIER oid(&OBJECT_IDENTIFIER::theInfo);
    for (unsigned arc : arcs)
        oid.append(arc);
    return oid;
}

template <class T>
Ptr own(T const& v)
{
    return Ptr(v.clone());
}

// Each row: two values, of one type the first ordered before the second,
// of two kinds unequal, and where given the comparison's exact result. Both
// compare as ordered, and a clone is equal, of the same class and
// description, and independent of its original.
TEST(Values, OrderAndClonesOfEveryKind)
{
    auto withY = rec();
    withY->includeOptionalField(1, 2);  // absent before present
    // Differ in the first extension addition, agree after it.
    auto e5 = rec(1), e6 = rec(1);
    for (auto* r : {e5.get(), e6.get()}) {
        r->includeOptionalField(2, 3);
        r->includeOptionalField(3, 4);
    }
    intField(*e5, 3) = 5;
    intField(*e6, 3) = 6;
    BIT_STRING bits(&BIT_STRING::theInfo), longer(&BIT_STRING::theInfo);
    bits.resize(4);
    longer.resize(10);
    struct Row {
        Ptr lesser, greater;
        int by = 0;  // lesser.compare(greater), when pinned
    } const rows[] = {
        {Ptr(new INTEGER(5, &INTEGER::theInfo)), Ptr(new INTEGER(7, &kSlotInfo))},
        {Ptr(new IA5String("abc")), Ptr(new IA5String("abd"))},
        {Ptr(new IA5String("ab")), Ptr(new IA5String("abc"))},
        {Ptr(new IA5String("abc")), Ptr(new IA5String("\xff"))},  // bytes compare unsigned
        // What the standard string comparisons answer.
        {Ptr(new IA5String("ab")), Ptr(new IA5String("abcd")), -2},
        {Ptr(new IA5String("abc")), Ptr(new IA5String("abe")), -2},
        {Ptr(new BMPString(L"ab", &BMPString::theInfo)), Ptr(new BMPString(L"abcd", &BMPString::theInfo)), -2},
        {Ptr(new Null()), Ptr(new BOOLEAN(true, &BOOLEAN::theInfo))},  // different kinds are unequal
        {Ptr(new BOOLEAN(true, &BOOLEAN::theInfo)), Ptr(new INTEGER(-3, &kSlotInfo))},
        {Ptr(new BOOLEAN(false, &BOOLEAN::theInfo)), Ptr(new BOOLEAN(true, &BOOLEAN::theInfo))},
        {own(oidOf({1, 3})), own(oidOf({1, 3, 5}))},
        {own(oidOf({1, 3})), own(oidOf({1, 3, 5, 7})), -2},  // arc counts 2 and 4
        {own(oidOf({1, 3, 9})), own(oidOf({1, 10})), -7},
        {own(bits), own(longer), -6},  // bit counts 4 and 10
        {Ptr(new GeneralizedTime(1999, 2, 3, 4, 5, 6, 7, 8, true)),
         Ptr(new GeneralizedTime(1999, 2, 3, 4, 5, 9, 7, 8, false)), -3},
        // Differences beyond the int range keep their sign.
        {own(oidOf({0})), own(oidOf({3000000000u}))},
        {Ptr(new GeneralizedTime(INT_MIN, 2, 3, 4, 5, 6, 7, 8, true)),
         Ptr(new GeneralizedTime(INT_MAX, 2, 3, 4, 5, 6, 7, 8, true))},
        {own(bits), Ptr(new OCTET_STRING(3, 'x', &OCTET_STRING::theInfo))},
        {Ptr(new GeneralizedTime(1, 2, 3, 4, 5, 6, 7, 8, true)), Ptr(new OpenData(new Null(), &OpenData::theInfo))},
        {own(*rec()), std::move(withY)},
        {std::move(e5), std::move(e6)},
        {own(CHOICE(&kAlt)), Ptr(new CHOICE(&kAlt, 0, new INTEGER(1, &INTEGER::theInfo)))},
        {own(ints({})), own(ints({1}))},
        {own(ints({1})), own(ints({1, 1}))},
        {own(ints({1})), own(ints({1, 1, 1})), -2},  // sizes 1 and 3
        {own(ints({1, 1})), own(ints({5}))},  // the first differing element decides
    };
    for (Row const& row : rows) {
        AbstractData const &a = *row.lesser, &b = *row.greater;
        if (typeid(a) == typeid(b)) {
            EXPECT_LT(a.compare(b), 0) << a.asValueNotation();
            EXPECT_GT(b.compare(a), 0) << a.asValueNotation();
            if (row.by) {
                EXPECT_EQ(row.by, a.compare(b)) << a.asValueNotation();
                EXPECT_EQ(-row.by, b.compare(a)) << a.asValueNotation();
            }
        }
        EXPECT_TRUE(a != b);
        EXPECT_FALSE(a == b);
        for (AbstractData const* v : {&a, &b}) {
            Ptr c(v->clone());
            AbstractData const& copy = *c;
            EXPECT_EQ(typeid(*v), typeid(copy));
            EXPECT_EQ(v->info(), c->info());
            EXPECT_TRUE(*v == copy);
            EXPECT_FALSE(*v != copy);
        }
    }
    EXPECT_EQ(CHOICE(&kAlt, -2), CHOICE(&kAlt, -2));
    // Extreme values must not look equal through overflow.
    INTEGER lo(INT_MIN, &INTEGER::theInfo), hi(INT_MAX, &INTEGER::theInfo);
    EXPECT_NE(0, lo.compare(hi));
    EXPECT_FALSE(lo == hi);
    EXPECT_TRUE(lo != hi);
    EXPECT_EQ(CHOICE(&kAlt), CHOICE(&kAlt));
}

TEST(Values, AssignmentKeepsTheTargetsDescription)
{
    INTEGER target(0, &kSlotInfo);
    target = INTEGER(5, &INTEGER::theInfo);
    EXPECT_EQ(5, target.getValue());
    EXPECT_EQ(&kSlotInfo, target.info());

    AbstractString text(&VisibleString::theInfo, "zz");
    text = IA5String("abc");
    EXPECT_EQ(&VisibleString::theInfo, text.info());
    EXPECT_EQ("abc", static_cast<std::string const&>(text));
    EXPECT_EQ(&text, &text.assign(std::string("q")));
    IA5String const abc("abc");
    IA5String copy(abc);
    copy += "x";
    copy = "text";
    EXPECT_EQ("text", static_cast<std::string const&>(copy));
    copy = std::string("abcx");
    EXPECT_EQ("abcx", static_cast<std::string const&>(copy));
    EXPECT_EQ(1u, IA5String("a\0b").size());  // copied up to the terminator
    EXPECT_TRUE(AbstractString(&IA5String::theInfo, static_cast<char const*>(nullptr)).empty());

    // SEQUENCE: deep, and a removed field's object is carried over, absent.
    auto r = rec(9);
    auto& pair = static_cast<SEQUENCE&>(*r->includeOptionalField(0, 1));
    static_cast<BOOLEAN&>(*pair.includeOptionalField(0, 1)) = true;
    r->includeOptionalField(1, 2);
    r->removeOptionalField(1);
    SEQUENCE s(*r);
    EXPECT_EQ(*r, s);
    ASSERT_NE(nullptr, s.getField(2));
    EXPECT_FALSE(s.hasOptionalField(1));
    EXPECT_NE(r->getField(1), s.getField(1));
    static_cast<BOOLEAN&>(*static_cast<SEQUENCE&>(*s.getField(1)).getField(1)) = false;
    EXPECT_NE(*r, s);
    EXPECT_TRUE(static_cast<BOOLEAN&>(*pair.getField(1)));
    SequenceInfo twin = kRec;
    SEQUENCE st(&twin);
    st = *r;
    EXPECT_EQ(&twin, st.info());
    EXPECT_EQ(*r, st);
    intField(st, 0) = 10;
    EXPECT_EQ(9, intField(*r, 0).getValue());
    SEQUENCE& alias = st;
    st = alias;  // self-assignment keeps the value
    EXPECT_EQ(10, intField(st, 0).getValue());
    SEQUENCE other(&kRec);
    other.swap(st);
    EXPECT_EQ(10, intField(other, 0).getValue());
    EXPECT_EQ(0, intField(st, 0).getValue());
    EXPECT_EQ(&twin, st.info());

    CHOICE sel(&kAlt, 0, new INTEGER(1, &INTEGER::theInfo));
    CHOICE c(sel);
    static_cast<INTEGER&>(*c.getSelection()) = 2;
    EXPECT_EQ(1, static_cast<INTEGER&>(*sel.getSelection()).getValue());
    ChoiceInfo choiceTwin = kAlt;
    CHOICE ct(&choiceTwin);
    ct.select(1);
    ct = sel;
    EXPECT_EQ(&choiceTwin, ct.info());
    EXPECT_EQ(sel, ct);
    ct = CHOICE(&kAlt);
    EXPECT_EQ(-1, ct.currentSelection());
    EXPECT_EQ(nullptr, ct.getSelection());
    c.swap(ct);
    EXPECT_EQ(-1, c.currentSelection());
    EXPECT_EQ(0, ct.currentSelection());

    IntList two = ints({1, 1});
    IntList l(two);
    l[0] = 3;
    EXPECT_EQ(1, two[0].getValue());
    SequenceOfInfo listTwin = IntList::theInfo;
    IntList lt(&listTwin);
    lt.push_back(INTEGER(42, &INTEGER::theInfo));
    lt = two;
    EXPECT_EQ(&listTwin, lt.info());
    EXPECT_EQ((std::vector<int>{1, 1}), contents(lt));
    std::unique_ptr<SEQUENCE_OF_Base> clone(two.clone());
    EXPECT_NE(nullptr, dynamic_cast<IntList*>(clone.get()));
    clone->clear();
    EXPECT_TRUE(clone->empty());
    EXPECT_EQ(2u, two.size());
}

TEST(Values, CharacterSets)
{
    struct Row {
        void const* info;
        std::string text;
        int firstInvalid;
    } const rows[] = {
        {&NumericString::theInfo, "12 34", -1},
        {&NumericString::theInfo, "12a", 2},
        {&NumericString::theInfo, "", -1},
        {&NumericString::theInfo, std::string(1, '\0'), 0},
        {&PrintableString::theInfo, "It's ok? (a+b), -./:=", -1},
        {&IA5String::theInfo, std::string("a\0b", 3), -1},  // the IA5 set starts with character 0
        {&IA5String::theInfo, std::string("a\0b\x80", 4), 3},
        {&VisibleString::theInfo, "\t", 0},
        {&GeneralString::theInfo, std::string("\0\xff", 2), -1},
    };
    for (Row const& row : rows)
        EXPECT_EQ(row.firstInvalid, AbstractString(row.info, row.text).find_first_invalid()) << row.text;
    for (char bad : {'*', '@', '_', '!', '"', '<', '~'})
        EXPECT_EQ(1, AbstractString(&PrintableString::theInfo, std::string("A") + bad).find_first_invalid()) << bad;
    Ptr v(AbstractData::create(&IA5String::theInfo));
    EXPECT_NE(nullptr, dynamic_cast<IA5String*>(v.get()));
}

TEST(Values, EnumeratedExplicitNumbersAreLookedUpByNumber)
{
    ENUMERATED e(&kGainInfo);
    // 0 is repeated ("active", "min=0"): the first entry names it. 2 is at
    // position 2 but numbered 1; 6 is beyond the table: no name.
    for (auto [number, name] : {std::pair<int, char const*>{-1, "not-use"}, {0, "active"}, {1, "standby"},
                                {4097, "gw-get-id"}, {10, "max"}, {11, "mux"}, {2, nullptr}, {6, nullptr}}) {
        e.setFromInt(number);
        EXPECT_STREQ(name, e.getName()) << number;
    }
    for (auto [name, number] : {std::pair<char const*, int>{"gw-get-id", 4097}, {"min", 0}, {"mux", 11}}) {
        EXPECT_TRUE(e.setFromName(name));
        EXPECT_EQ(number, e.asInt());
    }
    EXPECT_FALSE(e.setFromName("gw-get-id=4097"));
    EXPECT_EQ(4098, e.asInt());
    const EnumeratedInfo noTable = {{&ENUMERATED::create, 10}, false, 3, nullptr};
    ENUMERATED bare(&noTable);
    EXPECT_EQ(nullptr, bare.getName());
    EXPECT_FALSE(bare.setFromName("x"));
}

TEST(Values, ObjectIdentifierContents)
{
    OBJECT_IDENTIFIER const oid = oidOf({1, 2, 840});
    std::vector<char> out = {'x'};
    oid.encodeCommon(out);
    EXPECT_EQ((std::vector<char>{0x2A, char(0x86), 0x48, 'x'}), out);  // inserted at the front
    OBJECT_IDENTIFIER back(&OBJECT_IDENTIFIER::theInfo);
    ASSERT_TRUE(back.decodeCommon(out.data(), 3));
    EXPECT_EQ(oid, back);
    EXPECT_EQ(840u, back[2]);
    OBJECT_IDENTIFIER copy(oid);
    copy.append(5);
    EXPECT_EQ(3u, oid.levels());
    EXPECT_NE(oid, copy);
    struct Row {
        std::vector<char> contents;
        bool decodes;
        std::vector<unsigned> arcs;
    } const rows[] = {
        // Contents ending inside a subidentifier fail and leave the complete
        // subidentifiers read so far, unsplit, after a leading 0 arc.
        {{char(0x81)}, false, {0}},
        {{0x2A, char(0x86)}, false, {0, 42}},
        {{0x2A, 0x05, char(0x86)}, false, {0, 42, 5}},
        {{0x78}, true, {2, 40}},
        {{0x27, 0x05}, true, {0, 39, 5}},
        {{}, true, {}},
        // An arc wider than 32 bits is refused rather than cut.
        {{0x2A, char(0x90), char(0x80), char(0x80), char(0x80), 0x00}, false, {0, 42}},
    };
    for (Row const& row : rows) {
        EXPECT_EQ(row.decodes, back.decodeCommon(row.contents.data(), unsigned(row.contents.size())));
        std::vector<unsigned> arcs;
        for (unsigned i = 0; i < back.levels(); ++i)
            arcs.push_back(back[i]);
        EXPECT_EQ(row.arcs, arcs) << row.contents.size() << " octets";
    }
    out.assign(2, 'y');
    oidOf({1}).encodeCommon(out);
    EXPECT_TRUE(out.empty());
    // Largest arcs survive the round trip (the first subidentifier exceeds 32 bits).
    OBJECT_IDENTIFIER const big = oidOf({2, 0xFFFFFFFFu, 0xFFFFFFFFu});
    big.encodeCommon(out);
    ASSERT_TRUE(back.decodeCommon(out.data(), unsigned(out.size())));
    EXPECT_EQ(big, back);
}

TEST(Values, GeneralizedTimeText)
{
    struct Row {
        char const* text;
        char const* again;
        int millisec, minutesFromUtc;
    } const rows[] = {
        {"20240302130509Z", "20240302130509Z", 0, 0},
        {"20240302130509.5-0130", "20240302130509.500-0130", 500, -90},
        {"20240302130509.250+0130", "20240302130509.250+0130", 250, 90},
        {"19991231235959.123", "19991231235959.123", 123, 0},  // no float rounding to 122
        {"20000101000000-0045", "20000101000000-0045", 0, -45},
    };
    for (Row const& row : rows) {
        GeneralizedTime t(row.text);
        EXPECT_EQ(row.again, t.get());
        EXPECT_EQ(row.millisec, t.getMillisec()) << row.text;
        EXPECT_EQ(row.minutesFromUtc, t.getMinutesFromUTC()) << row.text;
    }
    GeneralizedTime utc("20240302130509Z");
    EXPECT_EQ(13, utc.getHour());
    EXPECT_TRUE(utc.getUTC());
    EXPECT_FALSE(GeneralizedTime("20240302130509.5-0130").getUTC());
    EXPECT_EQ("20240302130509.250+0130", GeneralizedTime(2024, 3, 2, 13, 5, 9, 250, 90, false).get());
    // Fields the text does not give keep their values.
    GeneralizedTime partial(2001, 2, 3, 4, 5, 6, 7, 8, false);
    partial.set("1999");
    EXPECT_EQ(1999, partial.getYear());
    EXPECT_EQ(2, partial.getMonth());
    EXPECT_EQ(7, partial.getMillisec());
    EXPECT_EQ(8, partial.getMinutesFromUTC());
    partial.set(nullptr);
    EXPECT_EQ(1999, partial.getYear());
}

TEST(Values, SequencePresence)
{
    auto r = rec();
    EXPECT_EQ(0, intField(*r, 0).getValue());
    for (unsigned i = 1; i < 5; ++i)
        EXPECT_EQ(nullptr, r->getField(i)) << i;
    for (unsigned bit = 0; bit < 4; ++bit)
        EXPECT_FALSE(r->hasOptionalField(bit));
    EXPECT_EQ(2u, r->getOptionalMap().size());
    EXPECT_EQ(0u, r->getExtensionMap().size());

    // Included once, removed, included again: one object, value kept.
    AbstractData* first = r->includeOptionalField(0, 1);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first, r->includeOptionalField(0, 1));
    static_cast<INTEGER&>(*static_cast<SEQUENCE&>(*first).getField(0)) = 42;
    r->removeOptionalField(0);
    EXPECT_FALSE(r->hasOptionalField(0));
    EXPECT_EQ(first, r->getField(1));
    EXPECT_EQ(first, r->includeOptionalField(0, 1));
    EXPECT_TRUE(r->hasOptionalField(0));
    EXPECT_EQ(42, static_cast<INTEGER&>(*static_cast<SEQUENCE&>(*first).getField(0)).getValue());
    EXPECT_EQ(nullptr, r->includeOptionalField(0, 99));  // no such field
    EXPECT_EQ(nullptr, r->getField(99));

    // A removed field's old object takes no part in comparisons.
    auto c = rec(), d = rec();
    for (auto* x : {c.get(), d.get()}) {
        x->includeOptionalField(2, 3);
        x->removeOptionalField(2);
    }
    intField(*c, 3) = 5;
    intField(*d, 3) = 7;
    EXPECT_EQ(*c, *d);

    // Presence maps of any length: bits beyond a shrink come back clear,
    // and copies are independent.
    SEQUENCE::BitMap map;
    for (unsigned size : {5u, 200u, 9u, 300u}) {
        map.resize(size);
        EXPECT_EQ(size, map.size());
        EXPECT_FALSE(map.any()) << size;
        map.set(size - 1);
        map.set(4);
        SEQUENCE::BitMap copy(map);
        EXPECT_TRUE(copy == map);
        copy.clear(size - 1);
        EXPECT_TRUE(copy != map);
        EXPECT_TRUE(map[size - 1] && map[4] && !map[size] && !copy[size - 1]);
        map = copy;
        SEQUENCE::BitMap const& alias = map;
        map = alias;
        map.clear(4);
    }
    EXPECT_EQ(0x00, map.bytes()[0]);
}

TEST(Values, ChoiceSelection)
{
    CHOICE c(&kAlt);
    EXPECT_EQ(-1, c.currentSelection());
    EXPECT_EQ(nullptr, c.getSelection());
    EXPECT_FALSE(c.isUnknownSelection());
    EXPECT_EQ(nullptr, c.getSelectionName());
    ASSERT_TRUE(c.select(1));
    auto* s = dynamic_cast<IA5String*>(c.getSelection());
    ASSERT_NE(nullptr, s);
    *s = std::string("kept");
    EXPECT_TRUE(c.select(1));  // same index: value unchanged
    EXPECT_EQ(s, c.getSelection());
    EXPECT_STREQ("s", c.getSelectionName());
    EXPECT_EQ(0x800001u, c.getSelectionTag());
    ASSERT_TRUE(c.select(2));  // an extension addition; the string is freed
    EXPECT_NE(nullptr, dynamic_cast<Null*>(c.getSelection()));
    for (int beyond : {3, -5}) {
        EXPECT_FALSE(c.select(beyond));
        EXPECT_EQ(-2, c.currentSelection());
        EXPECT_TRUE(c.isUnknownSelection());
        EXPECT_EQ(nullptr, c.getSelection());
    }
    EXPECT_EQ(2u, c.getNumChoices());  // root alternatives only
}

TEST(Values, SequenceOfEditing)
{
    IntList list;
    INTEGER v(1, &INTEGER::theInfo);
    list.push_back(v);  // a clone
    v = 2;
    list.push_back(v);
    v = 99;
    EXPECT_EQ((std::vector<int>{1, 2}), contents(list));
    EXPECT_EQ(2, static_cast<IntList const&>(list)[1].getValue());
    list.push_back(static_cast<AbstractData*>(nullptr));  // ignored
    list.resize(3);
    list[0] = 7;
    EXPECT_EQ((std::vector<int>{7, 2, 0}), contents(list));
    list.resize(1);
    EXPECT_EQ((std::vector<int>{7}), contents(list));
    list.resize(0);
    EXPECT_TRUE(list.empty());

    list = ints({0, 1, 2, 3});
    IntList::iterator it = list.erase(IntList::iterator(list.SEQUENCE_OF_Base::begin() + 1));
    EXPECT_EQ(2, (*it).getValue());
    EXPECT_EQ((std::vector<int>{0, 2, 3}), contents(list));
    IntList::iterator const after = list.erase(IntList::iterator(list.SEQUENCE_OF_Base::begin() + 2));
    EXPECT_TRUE(after == list.end());
    auto pos = list.erase(list.SEQUENCE_OF_Base::begin(), list.SEQUENCE_OF_Base::end());
    EXPECT_TRUE(pos == list.SEQUENCE_OF_Base::end());
    EXPECT_EQ(0u, list.size());

    // A container whose element description is missing does not loop.
    const SequenceOfInfo noElement = {{{&SEQUENCE_OF_Base::create, 16}, {Unconstrained, 0, 0xFFFFFFFFu}}, nullptr};
    SEQUENCE_OF_Base bare(&noElement);
    bare.resize(5);
    EXPECT_EQ(0u, bare.size());
}

// The two SEQUENCE walks: reading skips absent OPTIONAL fields, filling
// visits every field with its optional bit.
using Calls = std::vector<std::string>;

// S ::= SEQUENCE { m INTEGER, o1 BOOLEAN OPTIONAL, o2 INTEGER OPTIONAL, ...,
//                  x1 INTEGER OPTIONAL, x2 NULL OPTIONAL }
const void* const kWalkFields[] = {&INTEGER::theInfo, &BOOLEAN::theInfo, &INTEGER::theInfo,
                               &INTEGER::theInfo, &Null::theInfo};
const int kWalkIds[] = {-1, 0, 1, 0, 0};
const char* const kWalkNames[] = {"m", "o1", "o2", "x1", "x2"};
const SequenceInfo kWalkSeq = {{&SEQUENCE::create, 16}, true, kWalkFields, kWalkIds, 3, 2, 2,
                           nullptr, nullptr, kWalkNames};

class ReadRecorder : public ConstVisitor {
public:
    using ConstVisitor::do_visit;
    Calls calls;

    bool do_visit(AbstractData const&) override { return add("data"); }
    bool preVisitExtensionRoots(SEQUENCE const&) override { return add("pre"); }
    bool visitExtensionRoot(SEQUENCE const&, int i) override { return add("root" + std::to_string(i)); }
    bool preVisitExtensions(SEQUENCE const&) override { return add("preExt"); }
    bool visitKnownExtension(SEQUENCE const&, int i) override { return add("ext" + std::to_string(i)); }
    bool afterVisitSequence(SEQUENCE const&) override { return add("after"); }

private:
    bool add(std::string const& what) { calls.push_back(what); return true; }
};

class FillRecorder : public Visitor {
public:
    Calls calls;
    int preCode = ContinueAll;

    bool do_visit(Null&) override { return add("Null"); }
    bool do_visit(BOOLEAN&) override { return add("BOOLEAN"); }
    bool do_visit(INTEGER&) override { return add("INTEGER"); }
    bool do_visit(ENUMERATED&) override { return add("ENUMERATED"); }
    bool do_visit(OBJECT_IDENTIFIER&) override { return add("OBJECT_IDENTIFIER"); }
    bool do_visit(OCTET_STRING&) override { return add("OCTET_STRING"); }
    bool do_visit(BIT_STRING&) override { return add("BIT_STRING"); }
    bool do_visit(AbstractString&) override { return add("AbstractString"); }
    bool do_visit(BMPString&) override { return add("BMPString"); }
    bool do_visit(CHOICE&) override { return add("CHOICE"); }
    bool do_visit(SEQUENCE_OF_Base&) override { return add("SEQUENCE_OF"); }
    bool do_visit(OpenData&) override { return add("OpenData"); }
    bool do_revisit(OpenData&) override { return add("revisit"); }
    bool do_visit(TypeConstrainedOpenData&) override { return add("TypeConstrainedOpenData"); }
    bool do_visit(GeneralizedTime&) override { return add("GeneralizedTime"); }

    int preVisitExtensionRoots(SEQUENCE&) override { add("pre"); return preCode; }
    int visitExtensionRoot(SEQUENCE&, int i, int bit) override
    {
        add("root" + std::to_string(i) + "/" + std::to_string(bit));
        return Continue;
    }
    int preVisitExtensions(SEQUENCE&) override { add("preExt"); return ContinueAll; }
    int visitKnownExtension(SEQUENCE&, int i, int bit) override
    {
        add("ext" + std::to_string(i) + "/" + std::to_string(bit));
        return ContinueAll;
    }
    bool visitUnknownExtensions(SEQUENCE&) override { return add("unknown"); }

private:
    bool add(std::string const& what) { calls.push_back(what); return true; }
};

TEST(VReadingWalk, SkipsAbsentOptionalFieldsAndVisitsPresentExtensions)
{
    SEQUENCE s(&kWalkSeq);
    s.includeOptionalField(1, 2);  // o2 present, o1 absent
    ReadRecorder r;
    EXPECT_TRUE(s.accept(r));
    EXPECT_EQ((Calls{"pre", "root0", "root2", "after"}), r.calls);

    s.includeOptionalField(3, 4);  // x2 present (extension bit 1)
    r.calls.clear();
    EXPECT_TRUE(s.accept(r));
    EXPECT_EQ((Calls{"pre", "root0", "root2", "preExt", "ext4", "after"}), r.calls);
}

TEST(VFillingWalk, VisitsEveryFieldWithItsOptionalBit)
{
    SEQUENCE s(&kWalkSeq);
    FillRecorder f;
    f.preCode = Visitor::Continue;  // roots only
    EXPECT_TRUE(s.accept(f));
    EXPECT_EQ((Calls{"pre", "root0/-1", "root1/0", "root2/1"}), f.calls);

    f.calls.clear();
    f.preCode = Visitor::ContinueAll;
    EXPECT_TRUE(s.accept(f));
    EXPECT_EQ((Calls{"pre", "root0/-1", "root1/0", "root2/1", "preExt", "ext3/2", "ext4/3", "unknown"}), f.calls);
}

} // namespace
