// Value-notation parser: the input forms it accepts and refuses, and
// reading back what the printer writes.
#include "asn1/coder.h"
#include "asn1/notation/parser.h"
#include "asn1/notation/printer.h"
#include "asn1/test_per_types.h"

#include <gtest/gtest.h>

#include <climits>
#include <iterator>
#include <sstream>
#include <string>

using namespace PerTypes;

namespace {

bool parse(AbstractData& v, std::string const& text)
{
    return v.setFromValueNotation(text);
}

TEST(ParserSequence, FieldOrderAndEarlyEnd)
{
    Value q = make(&Query);
    ASSERT_TRUE(parse(*q, "{ }"));
    EXPECT_EQ("", as<AbstractString>(as<SEQUENCE>(q.get()).getField(0)));

    setInt(as<SEQUENCE>(q.get()).getField(1), 6);
    ASSERT_TRUE(parse(*q, "{ what \"a\" }"));
    EXPECT_EQ("a", as<AbstractString>(as<SEQUENCE>(q.get()).getField(0)));
    EXPECT_EQ(6, intOf(as<SEQUENCE>(q.get()).getField(1)));  // left as it was

    EXPECT_FALSE(parse(*make(&Query), "{ level 2, what \"a\" }"));
    EXPECT_FALSE(parse(*make(&Query), "{ what \"a\", colour red }"));
    EXPECT_FALSE(parse(*make(&Query), "{ what \"a\" level 2 }"));
    EXPECT_FALSE(parse(*make(&Query), "what \"a\""));

    // A trailing comma before the closing brace.
    Value t = make(&Query);
    ASSERT_TRUE(parse(*t, "{ what \"a\", level 2, }"));
    EXPECT_EQ(2, intOf(as<SEQUENCE>(t.get()).getField(1)));

    // Absent OPTIONAL fields are skipped by name.
    Value inner = make(&Inner);
    ASSERT_TRUE(parse(*inner, "{ id 5, flag TRUE }"));
    SEQUENCE& s = as<SEQUENCE>(inner.get());
    EXPECT_FALSE(s.hasOptionalField(0));
    EXPECT_TRUE(s.hasOptionalField(1));
    EXPECT_FALSE(s.hasOptionalField(2));
    EXPECT_FALSE(parse(*make(&Inner), "{ flag TRUE }"));  // mandatory id missing
}

TEST(ParserPrimitives, KeywordsNumbersAndStrings)
{
    Value null = make(&Null::theInfo);
    EXPECT_TRUE(parse(*null, "N U L L"));
    EXPECT_FALSE(parse(*null, "NUL"));

    // A keyword at the very end of the input is accepted; the attempt to
    // read past the end leaves failbit on the stream.
    Value flag = make(&BOOLEAN::theInfo);
    std::istringstream in("TRUE");
    EXPECT_EQ(std::ios_base::goodbit, flag->get_from(in));
    EXPECT_TRUE(static_cast<bool>(as<BOOLEAN>(flag.get())));
    EXPECT_TRUE(in.fail());
    EXPECT_FALSE(parse(*flag, "true"));

    Value big = make(&Big);
    ASSERT_TRUE(parse(*big, "4294967295"));
    EXPECT_EQ(4294967295u, static_cast<unsigned>(intOf(big.get())));
    Value plain = make(&INTEGER::theInfo);
    ASSERT_TRUE(parse(*plain, "-2147483648"));
    EXPECT_EQ(INT_MIN, intOf(plain.get()));
    EXPECT_FALSE(parse(*plain, "4294967295"));
    EXPECT_FALSE(parse(*plain, "x"));

    Value text = make(&IA5String::theInfo);
    ASSERT_TRUE(parse(*text, "  \"a b,}\"  "));
    EXPECT_EQ("a b,}", as<AbstractString>(text.get()));
    ASSERT_TRUE(parse(*text, "\"unterminated"));
    EXPECT_EQ("unterminated", as<AbstractString>(text.get()));
    EXPECT_FALSE(parse(*text, "\""));
    EXPECT_FALSE(parse(*text, "abc"));

    GeneralizedTime time;
    ASSERT_TRUE(parse(time, "\"20261206215500Z\""));
    EXPECT_EQ(2026, time.getYear());
    EXPECT_EQ(55, time.getMinute());

    BMPString bmp(&BMPString::theInfo);
    ASSERT_TRUE(parse(bmp, "\"Hi\""));
    EXPECT_EQ(L"Hi", static_cast<std::wstring const&>(bmp));
}

// An enumeration is read by name only; a number, signed or not, or text
// that is no word at all fails and leaves the number above the maximum. A
// name ends where an identifier does.
TEST(ParserPrimitives, EnumerationsByNameOnly)
{
    struct Row {
        void const* info;
        char const* text;
        bool reads;
        int number;
    } const rows[] = {
        {&Colour, "green", true, 1},    {&Colour, "blue}", true, 2},  {&Colour, "1", false, 3},
        {&Colour, "-1", false, 3},      {&Colour, "+1", false, 3},    {&Colour, "purple", false, 3},
        {&Numbered, "eleven", true, 11}, {&Numbered, "11", false, 256}, {&Numbered, "top", true, 255},
        {&Colour, "(", false, 3},       {&Colour, "", false, 3},
        // A name is a word: text glued to it other than "," or "}" is part of it.
        {&Colour, "blue)", false, 3},   {&Colour, "blue;", false, 3}, {&Colour, "blue.x", false, 3},
        {&Colour, "blue:", false, 3},   {&Colour, "blue,", true, 2},
    };
    for (Row const& row : rows) {
        Value v = make(row.info);
        EXPECT_EQ(row.reads, parse(*v, row.text)) << row.text;
        EXPECT_EQ(row.number, as<ENUMERATED>(v.get()).asInt()) << row.text;
    }
}

// Hex and binary groups go through strtol, each whole, octets kept as read; a named number is a word.
TEST(ParserPrimitives, StringGroupsAndNamedNumbers)
{
    static const NamedNumberEntry levels[] = {{5, "high"}};
    static const NamedIntegerInfo level = {{{&IntegerWithNamedNumber::create, 2}, {Unconstrained, 0, 0xFFFFFFFFu}},
                                           levels, 1};
    void const* const octets = &OCTET_STRING::theInfo;
    struct Row { void const* info; char const* text; bool reads; char const* printed; } const rows[] = {
        {octets, "'+1'H", true, "'01'H"},      {octets, "'-1'H", true, "'ff'H"}, {octets, "'0A+1'H", true, "'0a 01'H"},
        {octets, "'-0000001'B", true, "'ff'H"}, {octets, "'0A 1'H", true, "'0a 10'H"},
        {octets, "'0A1G'H", false, "'0a'H"},   {octets, "'0A\t1'H", false, "'0a'H"}, {octets, "'G1'H", false, "''H"},
        {&BIT_STRING::theInfo, "'+1'H", true, "'00000001'B"}, {&level, "high)", false, "0"},
        {&level, "high", true, "high"},
    };
    for (Row const& row : rows) {
        Value v = make(row.info);
        EXPECT_EQ(row.reads, parse(*v, row.text)) << row.text;
        std::ostringstream printed;
        printed << *v;
        EXPECT_EQ(row.printed, printed.str()) << row.text;
    }
}

TEST(ParserPrimitives, ObjectIdentifiers)
{
    OBJECT_IDENTIFIER oid(&OBJECT_IDENTIFIER::theInfo);
    ASSERT_TRUE(parse(oid, "{ 1 2 840 }"));
    ASSERT_EQ(3u, oid.levels());
    EXPECT_EQ(840u, oid[2]);
    ASSERT_TRUE(parse(oid, "{ iso(1) member-body(2) 840 113549 }"));
    ASSERT_EQ(4u, oid.levels());  // replaced, not appended
    EXPECT_EQ(113549u, oid[3]);
    ASSERT_TRUE(parse(oid, "{ }"));
    EXPECT_EQ(0u, oid.levels());
    EXPECT_FALSE(parse(oid, "{ iso 2 }"));  // a bare name has no number
    EXPECT_FALSE(parse(oid, "{ 99999999999 }"));
    EXPECT_FALSE(parse(oid, "{"));
    EXPECT_FALSE(parse(oid, "1 2"));
}

TEST(ParserConstructed, ChoicesListsAndOpenValues)
{
    Value channel = make(&Channel);
    EXPECT_FALSE(parse(*channel, "tdm: 3"));
    ASSERT_TRUE(parse(*channel, "tdm : 3"));
    EXPECT_EQ(0, as<CHOICE>(channel.get()).currentSelection());
    EXPECT_EQ(3, intOf(as<CHOICE>(channel.get()).getSelection()));
    EXPECT_FALSE(parse(*channel, "sip : 3"));
    EXPECT_FALSE(parse(*channel, "rtp 3"));

    // Extension alternatives are known by name too.
    Value cmd = make(&Command);
    ASSERT_TRUE(parse(*cmd, "reset : NULL"));
    EXPECT_EQ(4, as<CHOICE>(cmd.get()).currentSelection());

    Value list = make(&Bytes);
    as<SEQUENCE_OF_Base>(list.get()).resize(3);
    ASSERT_TRUE(parse(*list, "{ }"));
    EXPECT_TRUE(as<SEQUENCE_OF_Base>(list.get()).empty());
    ASSERT_TRUE(parse(*list, "{ 1, 2,3 }"));
    EXPECT_EQ(3u, as<SEQUENCE_OF_Base>(list.get()).size());
    // Elements read before a failure stay.
    EXPECT_FALSE(parse(*list, "{ 7, 8 9 }"));
    EXPECT_EQ(2u, as<SEQUENCE_OF_Base>(list.get()).size());
    EXPECT_FALSE(parse(*list, "{ 7,"));

    OpenData open(nullptr, &OpenData::theInfo);
    EXPECT_FALSE(parse(open, "'01'H"));
    static const TypeConstrainedOpenInfo slotOpen = {{&TypeConstrainedOpenData::create, 0}, &Slot};
    Value typed = make(&slotOpen);
    ASSERT_TRUE(parse(*typed, "1000"));
    EXPECT_EQ(1000, intOf(&as<OpenData>(typed.get()).get_data()));
}

TEST(ParserConstructed, FailedParseKeepsWhatWasRead)
{
    Value q = make(&Query);
    EXPECT_FALSE(parse(*q, "{ what \"kept\", level x }"));
    EXPECT_EQ("kept", as<AbstractString>(as<SEQUENCE>(q.get()).getField(0)));
}

TEST(ParserStreams, ExtractionOperatorAndFrontEnd)
{
    Value msg = make(&Message);
    std::istringstream good("{ seq 7, pdu destroy : 5 } tail");
    good >> *msg;
    EXPECT_FALSE(good.fail());
    std::string rest;
    good >> rest;
    EXPECT_EQ("tail", rest);
    EXPECT_EQ(7, intOf(as<SEQUENCE>(msg.get()).getField(0)));

    std::istringstream bad("{ pdu nothing : 5 }");
    bad >> *msg;
    EXPECT_TRUE(bad.fail());

    // A stream that is not good is left alone.
    std::istringstream done("");
    done.setstate(std::ios_base::failbit);
    done >> *msg;
    EXPECT_TRUE(done.fail());

    CoderEnv env;
    env.set_encodingRule(CoderEnv::avn);
    std::string const text = "{ pdu create : { id 3, name \"x\" } }";
    Value fromEnv = make(&Message);
    ASSERT_TRUE(ASN1::decode(text.data(), text.data() + text.size(), &env, *fromEnv, true));
    std::vector<char> out;
    ASSERT_TRUE(ASN1::encode(*fromEnv, &env, std::back_inserter(out)));
    Value again = make(&Message);
    ASSERT_TRUE(ASN1::decode(out.data(), out.data() + out.size(), &env, *again, true));
    EXPECT_TRUE(*again == *fromEnv);
}

} // namespace
