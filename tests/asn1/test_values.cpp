// Primitive values: creation from descriptions, copies, comparisons and the
// per-kind operations.
#include "asn1/values/all.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

using namespace ASN1;

// An ENUMERATED with explicit, unordered and repeated numbers.
const char* const kGainNames[] = {"not-use=-1", "active", "standby", "gw-get-id=4097",
                                  "min=0", "max=10", "mux", nullptr};
const EnumeratedInfo kGainInfo = {{&ENUMERATED::create, 10}, false, 4097, kGainNames};

const ConstrainedInfo kSlotInfo = {{&INTEGER::create, 2}, {FixedConstraint, 0, 1023}};

TEST(VValues, IntegerCompareAndCopy)
{
    INTEGER a(5, &INTEGER::theInfo), b(7, &INTEGER::theInfo);
    EXPECT_LT(a.compare(b), 0);
    EXPECT_GT(b.compare(a), 0);
    EXPECT_TRUE(a != b);
    // Extreme values must not look equal through overflow.
    INTEGER lo(INT32_MIN, &INTEGER::theInfo), hi(INT32_MAX, &INTEGER::theInfo);
    EXPECT_NE(0, lo.compare(hi));
    EXPECT_FALSE(lo == hi);

    INTEGER target(0, &kSlotInfo);
    target = a;  // assignment keeps the target's description
    EXPECT_EQ(5, target.getValue());
    EXPECT_EQ(&kSlotInfo, target.info());
}

TEST(VValues, EnumeratedExplicitNumbersAreLookedUpByNumber)
{
    ENUMERATED e(&kGainInfo);
    struct Case { int number; const char* name; } const cases[] = {
        {-1, "not-use"}, {0, "active"}, {1, "standby"}, {4097, "gw-get-id"},
        {10, "max"}, {11, "mux"}};
    for (auto const& c : cases) {
        e.setFromInt(c.number);
        ASSERT_NE(nullptr, e.getName()) << c.number;
        EXPECT_STREQ(c.name, e.getName()) << c.number;
    }
    // 0 is repeated ("active", "min=0"): the first entry names it.
    e.setFromInt(2);
    EXPECT_EQ(nullptr, e.getName());  // position 2 is "standby", number 1
    e.setFromInt(6);
    EXPECT_EQ(nullptr, e.getName());  // beyond the table: no read past its end
    EXPECT_TRUE(e.setFromName("gw-get-id"));
    EXPECT_EQ(4097, e.asInt());
    EXPECT_TRUE(e.setFromName("min"));
    EXPECT_EQ(0, e.asInt());
    EXPECT_TRUE(e.setFromName("mux"));
    EXPECT_EQ(11, e.asInt());
    EXPECT_FALSE(e.setFromName("gw-get-id=4097"));
    EXPECT_EQ(4098, e.asInt());

    const EnumeratedInfo noTable = {{&ENUMERATED::create, 10}, false, 3, nullptr};
    ENUMERATED bare(&noTable);
    EXPECT_EQ(nullptr, bare.getName());
    EXPECT_FALSE(bare.setFromName("x"));
}

TEST(VValues, ObjectIdentifierContents)
{
    OBJECT_IDENTIFIER oid(&OBJECT_IDENTIFIER::theInfo);
    oid.append(1);
    oid.append(2);
    oid.append(840);
    std::vector<char> out = {'x'};
    oid.encodeCommon(out);
    EXPECT_EQ((std::vector<char>{0x2A, char(0x86), 0x48, 'x'}), out);  // inserted at the front

    OBJECT_IDENTIFIER back(&OBJECT_IDENTIFIER::theInfo);
    ASSERT_TRUE(back.decodeCommon(out.data(), 3));
    ASSERT_EQ(3u, back.levels());
    EXPECT_EQ(1u, back[0]);
    EXPECT_EQ(2u, back[1]);
    EXPECT_EQ(840u, back[2]);
    EXPECT_EQ(oid, back);
    OBJECT_IDENTIFIER copy(oid);
    copy.append(5);
    EXPECT_EQ(3u, oid.levels());
    EXPECT_NE(oid, copy);

    const char cont[] = {char(0x81)};
    EXPECT_FALSE(back.decodeCommon(cont, 1));

    const char x78[] = {0x78};
    ASSERT_TRUE(back.decodeCommon(x78, 1));
    ASSERT_EQ(2u, back.levels());
    EXPECT_EQ(2u, back[0]);
    EXPECT_EQ(40u, back[1]);

    EXPECT_TRUE(back.decodeCommon(nullptr, 0));
    EXPECT_EQ(0u, back.levels());

    OBJECT_IDENTIFIER one(&OBJECT_IDENTIFIER::theInfo);
    one.append(1);
    out.assign(2, 'y');
    one.encodeCommon(out);
    EXPECT_TRUE(out.empty());

    // Largest arcs survive the round trip (the first subidentifier exceeds 32 bits).
    OBJECT_IDENTIFIER big(&OBJECT_IDENTIFIER::theInfo);
    big.append(2);
    big.append(0xFFFFFFFFu);
    big.append(0xFFFFFFFFu);
    out.clear();
    big.encodeCommon(out);
    ASSERT_TRUE(back.decodeCommon(out.data(), unsigned(out.size())));
    EXPECT_EQ(big, back);

    // An arc wider than 32 bits is refused rather than cut.
    const char wide[] = {0x2A, char(0x90), char(0x80), char(0x80), char(0x80), 0x00};
    EXPECT_FALSE(back.decodeCommon(wide, sizeof wide));
}

TEST(VValues, GeneralizedTimeText)
{
    GeneralizedTime t;
    t.set("20240302130509Z");
    EXPECT_EQ(13, t.getHour());
    EXPECT_TRUE(t.getUTC());
    EXPECT_EQ("20240302130509Z", t.get());

    GeneralizedTime f;
    f.set("20240302130509.5-0130");
    EXPECT_EQ(500, f.getMillisec());
    EXPECT_EQ(-90, f.getMinutesFromUTC());
    EXPECT_FALSE(f.getUTC());
    EXPECT_EQ("20240302130509.500-0130", f.get());

    GeneralizedTime g(2024, 3, 2, 13, 5, 9, 250, 90, false);
    EXPECT_EQ("20240302130509.250+0130", g.get());
    GeneralizedTime back(g.get().c_str());
    EXPECT_EQ(250, back.getMillisec());
    EXPECT_EQ(90, back.getMinutesFromUTC());

    GeneralizedTime exact;
    exact.set("19991231235959.123");  // no float rounding to 122
    EXPECT_EQ(123, exact.getMillisec());
    EXPECT_EQ(-45, GeneralizedTime("20000101000000-0045").getMinutesFromUTC());
    EXPECT_EQ("20000101000000-0045", GeneralizedTime("20000101000000-0045").get());

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

TEST(VValues, CloneIsDeepAndKeepsDescriptionForEveryKind)
{
    OBJECT_IDENTIFIER oid(&OBJECT_IDENTIFIER::theInfo);
    oid.append(1);
    oid.append(3);
    BIT_STRING bits(&BIT_STRING::theInfo);
    bits.resize(4);
    std::unique_ptr<AbstractData> values[] = {
        std::unique_ptr<AbstractData>(new Null()),
        std::unique_ptr<AbstractData>(new BOOLEAN(true, &BOOLEAN::theInfo)),
        std::unique_ptr<AbstractData>(new INTEGER(-3, &kSlotInfo)),
        std::unique_ptr<AbstractData>(oid.clone()),
        std::unique_ptr<AbstractData>(bits.clone()),
        std::unique_ptr<AbstractData>(new OCTET_STRING(3, 'x', &OCTET_STRING::theInfo)),
        std::unique_ptr<AbstractData>(new GeneralizedTime(1, 2, 3, 4, 5, 6, 7, 8, true)),
        std::unique_ptr<AbstractData>(new OpenData(new Null(), &OpenData::theInfo)),
    };
    for (auto const& v : values) {
        std::unique_ptr<AbstractData> c(v->clone());
        EXPECT_EQ(v->info(), c->info());
        EXPECT_TRUE(*v == *c);
        EXPECT_FALSE(*v != *c);
        AbstractData const& original = *v;
        AbstractData const& copy = *c;
        EXPECT_EQ(typeid(original), typeid(copy));
    }
    // Values of different kinds are unequal rather than undefined.
    EXPECT_NE(*values[1], *values[2]);
}

} // namespace
