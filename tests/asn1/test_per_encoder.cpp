// Aligned PER encoder: bit-level forms, per-type rules, the deliberate
// departures from X.691 and the encoding failures.
#include "asn1/per/per_encoder.h"
#include "asn1/test_per_types.h"

#include <gtest/gtest.h>

using namespace PerTypes;

namespace {

std::string encodeHex(AbstractData const& v, bool* ok = nullptr)
{
    std::vector<char> out;
    PEREncoder e(out, true);
    bool r = v.accept(e);
    if (ok)
        *ok = r;
    return r ? hex(out) : "fail";
}

std::string intHex(ConstrainedInfo const& info, long long n)
{
    Value v = make(&info);
    setInt(v.get(), n);
    return encodeHex(*v);
}

TEST(PerEncoderPrimitives, LengthForms)
{
    auto len = [](unsigned n) {
        std::vector<char> out;
        PEREncoder e(out, true);
        return e.encodeLength(n, 0, NoUpperBound) ? hex(out) : std::string("fail");
    };
    EXPECT_EQ("00", len(0));
    EXPECT_EQ("7f", len(127));
    EXPECT_EQ("8080", len(128));
    EXPECT_EQ("bfff", len(16383));
    EXPECT_EQ("fail", len(16384));

    std::vector<char> out;
    PEREncoder e(out, true);
    EXPECT_FALSE(e.encodeLength(0, 1, 10));
    EXPECT_FALSE(e.encodeLength(11, 1, 10));
    EXPECT_TRUE(e.encodeLength(5, 5, 5));  // fixed: nothing written
    EXPECT_TRUE(out.empty());
}

TEST(PerEncoderIntegers, ConstrainedForms)
{
    EXPECT_EQ("0000", intHex(Big, 0));           // 2-bit count 0, aligned octet 00
    EXPECT_EQ("c0ffffffff", intHex(Big, 4294967295u));
    EXPECT_EQ("400100", intHex(Big, 256));
    EXPECT_EQ("03ff", intHex(Slot, 1023));       // two aligned octets
    EXPECT_EQ("0000", intHex(Slot, 0));
    EXPECT_EQ("ff", intHex(Byte, 255));
    EXPECT_EQ("ffff", intHex(Word, 65535));
    EXPECT_EQ("e0", intHex(Small, 7));           // 3-bit field
    EXPECT_EQ("fe", intHex(intRange(FixedConstraint, 0, 127), 127));  // 7 bits
    EXPECT_EQ("", intHex(Five, 5));              // fixed value: nothing
    EXPECT_EQ("40fffe", intHex(Wide, 65534));
    EXPECT_EQ("fail", intHex(Slot, 1024));
    EXPECT_EQ("fail", intHex(Small, 8));
    EXPECT_EQ("fail", intHex(Five, 6));
    EXPECT_EQ("fail", intHex(Byte, -1));
}

TEST(PerEncoderStrings, OctetStrings)
{
    Value v = make(&OCTET_STRING::theInfo);
    EXPECT_EQ("00", encodeHex(*v));
    setOctets(v.get(), "ab");
    EXPECT_EQ("026162", encodeHex(*v));
    Value f = make(&Fixed);
    setOctets(f.get(), "abcd");
    EXPECT_EQ("61626364", encodeHex(*f));    // fixed size: no length
    setOctets(f.get(), "abc");
    EXPECT_EQ("fail", encodeHex(*f));
    Value big = make(&OCTET_STRING::theInfo);
    setOctets(big.get(), std::string(16383, 'x'));
    EXPECT_EQ(16385u, encodeHex(*big).size() / 2);
    setOctets(big.get(), std::string(16384, 'x'));
    EXPECT_EQ("fail", encodeHex(*big));
}

// Departure: one or two octets of a SIZE-constrained OCTET STRING follow
// the length without alignment; three or more are aligned.
TEST(PerEncoderStrings, ShortOctetStringsAreNotAligned)
{
    Value r = make(&Ranged);
    setOctets(r.get(), "ab");
    EXPECT_EQ("261620", encodeHex(*r));
    setOctets(r.get(), "abc");
    EXPECT_EQ("30616263", encodeHex(*r));
}

TEST(PerEncoderStrings, RestrictedStrings)
{
    Value n = make(&Name);
    setText(n.get(), "ab");
    EXPECT_EQ("046162", encodeHex(*n));
    Value t = make(&IA5String::theInfo);
    setText(t.get(), "");
    EXPECT_EQ("00", encodeHex(*t));
    setText(t.get(), "hi");
    EXPECT_EQ("026869", encodeHex(*t));
    Value tiny = make(&Tiny);
    setText(tiny.get(), "ab");
    // Departure: a variable-size string whose upper bound times 8 bits is
    // at most 16 is not aligned (X.691 aligns it).
    EXPECT_EQ("b0b100", encodeHex(*tiny));
    Value g = make(&Grow);
    setText(g.get(), "abc");
    EXPECT_EQ("40616263", encodeHex(*g));
    setText(g.get(), "abcde");
    EXPECT_EQ("80056162636465", encodeHex(*g));
    Value d = make(&Digits);
    setText(d.get(), "1 9");
    EXPECT_EQ("3020a0", encodeHex(*d));      // set indexes in 4 bits, aligned
    setText(d.get(), "1a");
    EXPECT_EQ("fail", encodeHex(*d));
}

TEST(PerEncoderEnumerations, CodedByNumber)
{
    Value c = make(&Colour);
    as<ENUMERATED>(c.get()).setFromInt(2);
    EXPECT_EQ("80", encodeHex(*c));
    as<ENUMERATED>(c.get()).setFromInt(3);
    EXPECT_EQ("fail", encodeHex(*c));
    // Departure: numbers 0, 11 and 255 take 8 aligned bits, the number itself.
    Value n = make(&Numbered);
    as<ENUMERATED>(n.get()).setFromInt(11);
    EXPECT_EQ("0b", encodeHex(*n));
    as<ENUMERATED>(n.get()).setFromInt(255);
    EXPECT_EQ("ff", encodeHex(*n));
    // Departure: an extension value is number + 1 as a normally small
    // number, then the number in 0..number.
    Value m = make(&Mode);
    as<ENUMERATED>(m.get()).setFromInt(1);
    EXPECT_EQ("20", encodeHex(*m));
    as<ENUMERATED>(m.get()).setFromInt(5);
    EXPECT_EQ("86a0", encodeHex(*m));
}

TEST(PerEncoderConstructed, ExtensionAdditions)
{
    Value e = make(&Ext);
    setInt(field(*e, 0), 3);
    EXPECT_EQ("18", encodeHex(*e));          // 0, 0, 011
    // An addition included and removed again: extension bit 0, nothing more.
    field(*e, 2);
    as<SEQUENCE>(e.get()).removeOptionalField(1);
    EXPECT_EQ("18", encodeHex(*e));
    // Departure: the bitmap has as many bits as the value's extension map
    // (here 1), not one per known addition.
    setText(field(*e, 2), "ab");
    EXPECT_EQ("980803046162", encodeHex(*e));
    setInt(field(*e, 3), -1);
    EXPECT_EQ("981c030461620201ff", encodeHex(*e));
}

TEST(PerEncoderConstructed, UnknownAdditionsAreNotAnnounced)
{
    // A value whose extension map is longer than the known additions (as a
    // decoded value from a newer peer): only known additions are written.
    Value e = make(&ExtV1);
    setInt(field(*e, 0), 1);
    as<SEQUENCE>(e.get()).getExtensionMap().resize(2);
    as<SEQUENCE>(e.get()).getExtensionMap().set(1);
    EXPECT_EQ("08", encodeHex(*e));
}

// An open type that holds only the octets it received hands them on.
TEST(PerEncoderConstructed, OpenTypeWithOctetsOnly)
{
    OpenData o(nullptr, &OpenData::theInfo);
    EXPECT_EQ("0100", encodeHex(o));
    o.grab(new std::vector<char>{'\x01', '\x02'});
    EXPECT_EQ("020102", encodeHex(o));
    OpenData v(new INTEGER(-1, &INTEGER::theInfo), &OpenData::theInfo);
    EXPECT_EQ("0201ff", encodeHex(v));
}

TEST(PerEncoderConstructed, SequenceOf)
{
    Value b = make(&Bytes);
    EXPECT_EQ("00", encodeHex(*b));
    SEQUENCE_OF_Base& list = as<SEQUENCE_OF_Base>(b.get());
    list.resize(2);
    setInt(*list.begin(), 1);
    setInt(*(list.begin() + 1), 255);
    EXPECT_EQ("0201ff", encodeHex(*b));
    Value bounded = make(&Bounded);
    as<SEQUENCE_OF_Base>(bounded.get()).resize(9);
    EXPECT_EQ("fail", encodeHex(*bounded));
    as<SEQUENCE_OF_Base>(bounded.get()).resize(8);
    EXPECT_EQ("800000000000000000", encodeHex(*bounded));
    setInt(*list.begin(), 256);               // a failing element fails the list
    EXPECT_EQ("fail", encodeHex(*b));
}

TEST(PerEncoderConstructed, NothingToWriteGivesNoOctets)
{
    // Departure: a complete encoding of no bits is no octets (X.691: one 00).
    Value n = make(&Null::theInfo);
    EXPECT_EQ("", encodeHex(*n));
    Value empty = make(&Query);
    setText(field(*empty, 0), "");
    EXPECT_EQ("0000", encodeHex(*empty));
}

} // namespace
