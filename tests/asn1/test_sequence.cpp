// SEQUENCE, CHOICE, SEQUENCE OF and constrained INTEGER values.
#include "asn1/values/all.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace ASN1;

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

std::unique_ptr<SEQUENCE> newRec()
{
    return std::unique_ptr<SEQUENCE>(static_cast<SEQUENCE*>(AbstractData::create(&kRec)));
}

INTEGER& intField(SEQUENCE& s, unsigned i) { return static_cast<INTEGER&>(*s.getField(i)); }

TEST(VSequence, FreshValueHasMandatoryFieldsOnly)
{
    auto rec = newRec();
    ASSERT_NE(nullptr, rec->getField(0));
    EXPECT_EQ(0, intField(*rec, 0).getValue());
    for (unsigned i = 1; i < 5; ++i)
        EXPECT_EQ(nullptr, rec->getField(i)) << i;
    for (unsigned bit = 0; bit < 4; ++bit)
        EXPECT_FALSE(rec->hasOptionalField(bit));
    EXPECT_EQ(2u, rec->getOptionalMap().size());
    EXPECT_EQ(0u, rec->getExtensionMap().size());
}

TEST(VSequence, IncludeRemoveReinclude)
{
    auto rec = newRec();
    AbstractData* first = rec->includeOptionalField(0, 1);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first, rec->includeOptionalField(0, 1));  // one object only
    EXPECT_TRUE(rec->hasOptionalField(0));
    auto& pair = static_cast<SEQUENCE&>(*first);
    static_cast<INTEGER&>(*pair.getField(0)) = 42;

    rec->removeOptionalField(0);
    EXPECT_FALSE(rec->hasOptionalField(0));
    EXPECT_EQ(first, rec->getField(1));  // the object stays
    AbstractData* again = rec->includeOptionalField(0, 1);
    EXPECT_EQ(first, again);
    EXPECT_EQ(42, static_cast<INTEGER&>(*static_cast<SEQUENCE&>(*again).getField(0)).getValue());

    EXPECT_EQ(nullptr, rec->includeOptionalField(0, 99));  // no such field
    EXPECT_EQ(nullptr, rec->getField(99));
}

TEST(VSequence, CompareOrdersAbsentBeforePresent)
{
    auto a = newRec(), b = newRec();
    EXPECT_EQ(0, a->compare(*b));
    b->includeOptionalField(1, 2);
    EXPECT_LT(a->compare(*b), 0);
    EXPECT_GT(b->compare(*a), 0);
    a->includeOptionalField(1, 2);
    EXPECT_EQ(*a, *b);
    static_cast<IA5String&>(*a->getField(2)) = std::string("q");
    EXPECT_NE(*a, *b);

    // Differ in the first extension addition, agree after it.
    auto c = newRec(), d = newRec();
    intField(*c, 0) = 1;
    intField(*d, 0) = 1;
    c->includeOptionalField(2, 3);
    d->includeOptionalField(2, 3);
    intField(*c, 3) = 5;
    intField(*d, 3) = 6;
    c->includeOptionalField(3, 4);
    d->includeOptionalField(3, 4);
    EXPECT_LT(c->compare(*d), 0);
    EXPECT_NE(*c, *d);

    // A removed field's old object does not take part.
    intField(*d, 3) = 5;
    EXPECT_EQ(*c, *d);
    c->removeOptionalField(2);
    d->removeOptionalField(2);
    intField(*d, 3) = 7;
    EXPECT_EQ(*c, *d);
}

TEST(VSequence, CopiesAreDeepAndExact)
{
    auto rec = newRec();
    intField(*rec, 0) = 9;
    auto& pair = static_cast<SEQUENCE&>(*rec->includeOptionalField(0, 1));
    static_cast<BOOLEAN&>(*pair.includeOptionalField(0, 1)) = true;
    rec->includeOptionalField(1, 2);
    rec->removeOptionalField(1);  // z: object kept, absent

    SEQUENCE copy(*rec);
    EXPECT_EQ(*rec, copy);
    ASSERT_NE(nullptr, copy.getField(2));  // the removed field's object is carried over
    EXPECT_FALSE(copy.hasOptionalField(1));
    EXPECT_TRUE(copy.hasOptionalField(0));
    EXPECT_NE(rec->getField(1), copy.getField(1));

    static_cast<BOOLEAN&>(*static_cast<SEQUENCE&>(*copy.getField(1)).getField(1)) = false;
    EXPECT_NE(*rec, copy);
    EXPECT_TRUE(static_cast<BOOLEAN&>(*pair.getField(1)));

    std::unique_ptr<SEQUENCE> clone(rec->clone());
    EXPECT_EQ(&kRec, clone->info());
    EXPECT_EQ(*rec, *clone);

    // Assignment: deep, and the target keeps its description.
    SequenceInfo twin = kRec;
    SEQUENCE target(&twin);
    target = *rec;
    EXPECT_EQ(&twin, target.info());
    EXPECT_EQ(*rec, target);
    intField(target, 0) = 10;
    EXPECT_EQ(9, intField(*rec, 0).getValue());
    SEQUENCE& alias = target;
    target = alias;  // self-assignment keeps the value
    EXPECT_EQ(10, intField(target, 0).getValue());

    SEQUENCE other(&kRec);
    other.swap(target);
    EXPECT_EQ(10, intField(other, 0).getValue());
    EXPECT_EQ(0, intField(target, 0).getValue());
    EXPECT_EQ(&twin, target.info());
}

TEST(VChoice, SelectionStates)
{
    CHOICE c(&kAlt);
    EXPECT_EQ(-1, c.currentSelection());
    EXPECT_EQ(nullptr, c.getSelection());
    EXPECT_FALSE(c.isUnknownSelection());

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

    EXPECT_EQ(nullptr, CHOICE(&kAlt).getSelectionName());
    EXPECT_FALSE(c.select(3));  // beyond the known alternatives
    EXPECT_EQ(-2, c.currentSelection());
    EXPECT_TRUE(c.isUnknownSelection());
    EXPECT_EQ(nullptr, c.getSelection());
    EXPECT_FALSE(c.select(-5));
    EXPECT_EQ(-2, c.currentSelection());

    EXPECT_EQ(2u, c.getNumChoices());  // root alternatives only
}

TEST(VChoice, CompareCopyAssign)
{
    CHOICE empty1(&kAlt), empty2(&kAlt);
    EXPECT_EQ(empty1, empty2);
    CHOICE sel(&kAlt, 0, new INTEGER(1, &INTEGER::theInfo));
    EXPECT_LT(empty1.compare(sel), 0);
    EXPECT_GT(sel.compare(empty1), 0);
    CHOICE unknown1(&kAlt, -2), unknown2(&kAlt, -2);
    EXPECT_EQ(unknown1, unknown2);

    CHOICE copy(sel);
    EXPECT_EQ(sel, copy);
    static_cast<INTEGER&>(*copy.getSelection()) = 2;
    EXPECT_NE(sel, copy);
    EXPECT_EQ(1, static_cast<INTEGER&>(*sel.getSelection()).getValue());

    ChoiceInfo twin = kAlt;
    CHOICE target(&twin);
    target.select(1);
    target = sel;
    EXPECT_EQ(&twin, target.info());
    EXPECT_EQ(0, target.currentSelection());
    EXPECT_EQ(sel, target);
    target = empty1;
    EXPECT_EQ(-1, target.currentSelection());
    EXPECT_EQ(nullptr, target.getSelection());

    std::unique_ptr<CHOICE> clone(sel.clone());
    EXPECT_EQ(sel, *clone);
    clone->swap(target);
    EXPECT_EQ(-1, clone->currentSelection());
    EXPECT_EQ(0, target.currentSelection());
}

using IntList = SEQUENCE_OF<INTEGER, EmptyConstraint>;

std::vector<int> contents(IntList const& l)
{
    std::vector<int> out;
    for (IntList::const_iterator it = l.begin(); it != l.end(); ++it)
        out.push_back((*it).getValue());
    return out;
}

TEST(VSequenceOf, TypedPushBackAppendsAClone)
{
    IntList list;
    INTEGER v(1, &INTEGER::theInfo);
    list.push_back(v);
    v = 2;
    list.push_back(v);
    v = 99;
    EXPECT_EQ((std::vector<int>{1, 2}), contents(list));
    EXPECT_EQ(2, static_cast<IntList const&>(list)[1].getValue());
    list[1] = 5;
    EXPECT_EQ(5, list[1].getValue());
    list.push_back(static_cast<AbstractData*>(nullptr));  // ignored
    EXPECT_EQ(2u, list.size());
}

TEST(VSequenceOf, ResizeAndErase)
{
    IntList list;
    list.resize(3);
    EXPECT_EQ((std::vector<int>{0, 0, 0}), contents(list));
    list[0] = 7;
    list.resize(3);
    EXPECT_EQ(7, list[0].getValue());
    list.resize(1);
    EXPECT_EQ((std::vector<int>{7}), contents(list));
    list.resize(0);
    EXPECT_TRUE(list.empty());

    for (int i = 0; i < 4; ++i)
        list.push_back(INTEGER(i, &INTEGER::theInfo));
    IntList::iterator it = list.erase(IntList::iterator(list.SEQUENCE_OF_Base::begin() + 1));
    EXPECT_EQ(2, (*it).getValue());
    EXPECT_EQ((std::vector<int>{0, 2, 3}), contents(list));
    IntList::iterator last(list.SEQUENCE_OF_Base::begin() + 2);
    IntList::iterator after = list.erase(last);
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

TEST(VSequenceOf, CompareCopyAssign)
{
    IntList empty, one, two;
    one.push_back(INTEGER(1, &INTEGER::theInfo));
    two.push_back(INTEGER(1, &INTEGER::theInfo));
    two.push_back(INTEGER(1, &INTEGER::theInfo));
    EXPECT_LT(empty.compare(one), 0);
    EXPECT_LT(one.compare(two), 0);
    EXPECT_GT(two.compare(one), 0);
    IntList bigger;
    bigger.push_back(INTEGER(5, &INTEGER::theInfo));
    EXPECT_GT(bigger.compare(two), 0);  // first differing element decides

    IntList copy(two);
    EXPECT_EQ(two, copy);
    copy[0] = 3;
    EXPECT_NE(two, copy);
    EXPECT_EQ(1, two[0].getValue());

    SequenceOfInfo twin = IntList::theInfo;
    IntList target(&twin);
    target.push_back(INTEGER(42, &INTEGER::theInfo));
    target = two;
    EXPECT_EQ(&twin, target.info());
    EXPECT_EQ((std::vector<int>{1, 1}), contents(target));
    target[1] = 6;
    EXPECT_EQ(1, two[1].getValue());

    std::unique_ptr<SEQUENCE_OF_Base> clone(two.clone());
    EXPECT_NE(nullptr, dynamic_cast<IntList*>(clone.get()));
    EXPECT_EQ(two, *clone);
    clone->clear();
    EXPECT_TRUE(clone->empty());
    EXPECT_EQ(2u, two.size());
}

} // namespace
