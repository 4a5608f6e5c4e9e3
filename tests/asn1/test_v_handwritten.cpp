// A hand-written module in the exact shape the message generator emits.
//
//   Demo DEFINITIONS AUTOMATIC TAGS ::= BEGIN
//     Colour ::= ENUMERATED { red(1), green(5), blue(6), black(-1) }
//     Item   ::= CHOICE { number INTEGER, name IA5String, ..., flag BOOLEAN }
//     Record ::= SEQUENCE {
//       id     INTEGER (0..1023) OPTIONAL,
//       item   Item,
//       colour Colour,
//       codes  SEQUENCE OF INTEGER
//     }
//   END
#include "asn1/values/all.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

// ---- generated header -------------------------------------------------------
namespace Demo {

class Colour : public ASN1::ENUMERATED {
public:
    enum NamedNumber { red = 1, green = 5, blue = 6, black = -1 };
    static const ASN1::EnumeratedInfo theInfo;

    Colour() : ASN1::ENUMERATED(&theInfo) {}
    Colour(NamedNumber n) : ASN1::ENUMERATED(&theInfo) { setFromInt(n); }
    Colour(Colour const&) = default;
    Colour& operator=(Colour const&) = default;
    ~Colour() override;

    Colour& operator=(NamedNumber n) { setFromInt(n); return *this; }
    operator NamedNumber() const { return static_cast<NamedNumber>(asInt()); }
    Colour* clone() const { return static_cast<Colour*>(ASN1::ENUMERATED::clone()); }
};

class Item : public ASN1::CHOICE {
public:
    // Tag types of the alternatives; the value is the alternative index.
    struct number { using Id = std::integral_constant<int, 0>; };
    struct name { using Id = std::integral_constant<int, 1>; };
    struct flag { using Id = std::integral_constant<int, 2>; };

    static const void* const selectionInfos[3];
    static const char* const selectionNames[3];
    static const ASN1::ChoiceInfo theInfo;

    Item() : ASN1::CHOICE(&theInfo) {}
    Item(number::Id, int v)
        : ASN1::CHOICE(&theInfo, number::Id::value, new ASN1::INTEGER(v, &ASN1::INTEGER::theInfo)) {}
    Item(name::Id, std::string const& v)
        : ASN1::CHOICE(&theInfo, name::Id::value, new ASN1::IA5String(v, &ASN1::IA5String::theInfo)) {}
    Item(flag::Id, bool v)
        : ASN1::CHOICE(&theInfo, flag::Id::value, new ASN1::BOOLEAN(v, &ASN1::BOOLEAN::theInfo)) {}
    Item(Item const&) = default;
    Item& operator=(Item const&) = default;
    ~Item() override;

    ASN1::INTEGER& select_number()
    {
        return static_cast<ASN1::INTEGER&>(
            *setSelection(0, ASN1::AbstractData::create(&ASN1::INTEGER::theInfo)));
    }
    void select_number(int v) { select_number() = v; }
    ASN1::INTEGER const& get_number() const { return static_cast<ASN1::INTEGER const&>(*getSelection()); }
    bool number_isSelected() const { return currentSelection() == 0; }

    ASN1::IA5String& select_name()
    {
        return static_cast<ASN1::IA5String&>(
            *setSelection(1, ASN1::AbstractData::create(&ASN1::IA5String::theInfo)));
    }
    void select_name(std::string const& v) { select_name() = v; }
    ASN1::IA5String const& get_name() const { return static_cast<ASN1::IA5String const&>(*getSelection()); }
    bool name_isSelected() const { return currentSelection() == 1; }

    ASN1::BOOLEAN& select_flag()
    {
        return static_cast<ASN1::BOOLEAN&>(
            *setSelection(2, ASN1::AbstractData::create(&ASN1::BOOLEAN::theInfo)));
    }
    void select_flag(bool v) { select_flag() = v; }
    ASN1::BOOLEAN const& get_flag() const { return static_cast<ASN1::BOOLEAN const&>(*getSelection()); }
    bool flag_isSelected() const { return currentSelection() == 2; }
};

class Record : public ASN1::SEQUENCE {
public:
    static const void* const fieldInfos[4];
    static const int fieldIds[4];
    static const char* const fieldNames[4];
    static const ASN1::SequenceInfo theInfo;

    Record() : ASN1::SEQUENCE(&theInfo) {}
    Record(Record const&) = default;
    Record& operator=(Record const&) = default;
    ~Record() override;
    Record* clone() const { return static_cast<Record*>(ASN1::SEQUENCE::clone()); }

    using id_type = ASN1::Constrained_INTEGER<(ASN1::ConstraintType)2, 0, 1023>;
    using codes_type = ASN1::SEQUENCE_OF<ASN1::INTEGER, ASN1::EmptyConstraint>;

    // id: field 0, OPTIONAL bit 0.
    id_type const& get_id() const { return static_cast<id_type const&>(*getField(0)); }
    id_type& set_id() { return static_cast<id_type&>(*includeOptionalField(0, 0)); }
    void set_id(unsigned v) { set_id() = v; }
    void omit_id() { removeOptionalField(0); }
    bool id_isPresent() const { return hasOptionalField(0); }

    // item: field 1, mandatory.
    Item const& get_item() const { return static_cast<Item const&>(*getField(1)); }
    Item& set_item() { return static_cast<Item&>(*getField(1)); }
    void set_item(Item const& v) { set_item() = v; }

    // colour: field 2, mandatory.
    Colour const& get_colour() const { return static_cast<Colour const&>(*getField(2)); }
    Colour& set_colour() { return static_cast<Colour&>(*getField(2)); }
    void set_colour(Colour::NamedNumber v) { set_colour() = v; }

    // codes: field 3, mandatory.
    codes_type const& get_codes() const { return static_cast<codes_type const&>(*getField(3)); }
    codes_type& set_codes() { return static_cast<codes_type&>(*getField(3)); }
    void set_codes(codes_type const& v) { set_codes() = v; }
};

} // namespace Demo

// ---- generated tables (.cpp) ------------------------------------------------
namespace Demo {
namespace {
// Names table: "name=n" where n is not the previous number + 1; ends with null.
const char* const Colour_enum_names__[] = {"red=1", "green=5", "blue", "black=-1", nullptr};
} // namespace

const ASN1::EnumeratedInfo Colour::theInfo = {
    {&ASN1::createAs<Colour>, 10}, false, 6, Colour_enum_names__};
Colour::~Colour() = default;

const void* const Item::selectionInfos[3] = {
    &ASN1::INTEGER::theInfo, &ASN1::IA5String::theInfo, &ASN1::BOOLEAN::theInfo};
const char* const Item::selectionNames[3] = {"number", "name", "flag"};
const ASN1::ChoiceInfo Item::theInfo = {
    {&ASN1::createAs<Item>, 0}, true, selectionInfos, 2, 3, nullptr, selectionNames};
Item::~Item() = default;

const void* const Record::fieldInfos[4] = {
    &Record::id_type::theInfo, &Item::theInfo, &Colour::theInfo, &Record::codes_type::theInfo};
const int Record::fieldIds[4] = {0, -1, -1, -1};
const char* const Record::fieldNames[4] = {"id", "item", "colour", "codes"};
const ASN1::SequenceInfo Record::theInfo = {
    {&ASN1::createAs<Record>, 16}, false, fieldInfos, fieldIds, 4, 0, 1, nullptr, nullptr, fieldNames};
Record::~Record() = default;

} // namespace Demo

// ---- what the example must keep true ----------------------------------------
namespace {

TEST(VHandwritten, FreshRecordHasMandatoryFieldsOnly)
{
    Demo::Record r;
    EXPECT_FALSE(r.id_isPresent());
    EXPECT_EQ(nullptr, r.getField(0));
    ASSERT_NE(nullptr, r.getField(1));
    EXPECT_EQ(-1, r.get_item().currentSelection());
    EXPECT_EQ(0, r.get_colour().asInt());
    EXPECT_TRUE(r.get_codes().empty());
    // Fields are objects of their generated classes.
    EXPECT_NE(nullptr, dynamic_cast<Demo::Item const*>(r.getField(1)));
    EXPECT_NE(nullptr, dynamic_cast<Demo::Colour const*>(r.getField(2)));
    EXPECT_NE(nullptr, dynamic_cast<Demo::Record::codes_type const*>(r.getField(3)));
}

TEST(VHandwritten, OptionalFieldSetOmitReuse)
{
    Demo::Record r;
    r.set_id(1000);
    EXPECT_TRUE(r.id_isPresent());
    EXPECT_EQ(1000u, r.get_id().getValue());
    r.omit_id();
    EXPECT_FALSE(r.id_isPresent());
    EXPECT_EQ(1000u, r.set_id().getValue());  // old object, old contents
    EXPECT_TRUE(r.get_id().constrained());
    EXPECT_EQ(1023u, r.get_id().getUpperLimit());
}

TEST(VHandwritten, ChoiceAccessorsAndTagConstructors)
{
    Demo::Item a;
    a.select_name("abc");
    EXPECT_TRUE(a.name_isSelected());
    EXPECT_EQ("abc", static_cast<std::string const&>(a.get_name()));
    a.select_number(7);
    EXPECT_TRUE(a.number_isSelected());
    EXPECT_FALSE(a.name_isSelected());
    EXPECT_EQ(7, a.get_number().getValue());

    Demo::Item b(Demo::Item::number::Id(), 7);
    EXPECT_EQ(a, b);
    Demo::Item c(Demo::Item::flag::Id(), true);
    EXPECT_EQ(2, c.currentSelection());
    EXPECT_TRUE(c.get_flag());
    EXPECT_TRUE(c.extendable());
    EXPECT_EQ(2u, c.getNumChoices());
}

TEST(VHandwritten, EnumerationNamesByNumber)
{
    Demo::Colour c(Demo::Colour::blue);
    EXPECT_STREQ("blue", c.getName());
    c = Demo::Colour::black;
    EXPECT_STREQ("black", c.getName());
    c = Demo::Colour::green;
    EXPECT_STREQ("green", c.getName());
    c.setFromInt(2);  // no enumerator has 2
    EXPECT_EQ(nullptr, c.getName());
    EXPECT_TRUE(c.setFromName("red"));
    EXPECT_EQ(Demo::Colour::red, static_cast<Demo::Colour::NamedNumber>(c));
    EXPECT_FALSE(c.setFromName("purple"));
    EXPECT_EQ(7, c.asInt());
}

TEST(VHandwritten, DeepCopyCloneAndCompare)
{
    Demo::Record r;
    r.set_id(5);
    r.set_item().select_name("x");
    r.set_colour(Demo::Colour::green);
    r.set_codes().push_back(ASN1::INTEGER(3, &ASN1::INTEGER::theInfo));

    std::unique_ptr<Demo::Record> c(r.clone());
    EXPECT_EQ(r, *c);
    EXPECT_NE(nullptr, dynamic_cast<Demo::Record*>(c.get()));
    c->set_item().select_number(1);
    c->set_codes()[0] = 4;
    EXPECT_NE(r, *c);
    EXPECT_TRUE(r.get_item().name_isSelected());
    EXPECT_EQ(3, r.get_codes()[0].getValue());

    Demo::Record d;
    void const* before = d.info();
    d = r;
    EXPECT_EQ(before, d.info());
    EXPECT_EQ(r, d);
    d.omit_id();
    EXPECT_NE(r, d);
    EXPECT_TRUE(r.id_isPresent());
}

} // namespace
