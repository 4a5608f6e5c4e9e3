// Value-notation printer: the text of every kind, the layout of nested
// values, markers for unprintable parts, and the caller's stream state.
#include "asn1/notation/printer.h"
#include "asn1/test_per_types.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace PerTypes;

namespace {

// MixerOutParams-like types for the layout example.
inline void const* const MixChannelInfos[] = {&Tdm, &Slot};
inline char const* const MixChannelNames[] = {"tdm", "rtp"};
const ChoiceInfo MixChannel = {{&CHOICE::create, 0}, false, MixChannelInfos, 2, 2, nullptr, MixChannelNames};
void const* const InputInfos[] = {&MixChannel, &INTEGER::theInfo};
int const InputIds[] = {-1, -1};
char const* const InputNames[] = {"channel", "gain"};
const SequenceInfo Input = {{&SEQUENCE::create, 16}, false, InputInfos, InputIds, 2, 0, 0, nullptr, nullptr,
                            InputNames};
const SequenceOfInfo Inputs = {{{&SEQUENCE_OF_Base::create, 16}, {Unconstrained, 0, 0xFFFFFFFFu}}, &Input};
void const* const OutInfos[] = {&INTEGER::theInfo, &MixChannel, &Inputs};
int const OutIds[] = {-1, -1, -1};
char const* const OutNames[] = {"unit", "channel", "inputs"};
const SequenceInfo Out = {{&SEQUENCE::create, 16}, false, OutInfos, OutIds, 3, 0, 0, nullptr, nullptr, OutNames};

void const* const PairInfos[] = {&INTEGER::theInfo, &BOOLEAN::theInfo};
int const PairIds[] = {-1, -1};
int const OptPairIds[] = {0, 1};
char const* const PairNames[] = {"a", "dst-slot"};
const SequenceInfo Pair = {{&SEQUENCE::create, 16}, false, PairInfos, PairIds, 2, 0, 0, nullptr, nullptr, PairNames};
const SequenceInfo OptPair = {{&SEQUENCE::create, 16}, false, PairInfos, OptPairIds, 2, 0, 2, nullptr, nullptr,
                              PairNames};
const SequenceOfInfo Ints = {{{&SEQUENCE_OF_Base::create, 16}, {Unconstrained, 0, 0xFFFFFFFFu}}, &INTEGER::theInfo};

std::string print(AbstractData const& v)
{
    std::ostringstream os;
    os << v;
    return os.str();
}

TEST(Printer, PrimitiveKinds)
{
    EXPECT_EQ("NULL", print(*make(&Null::theInfo)));
    Value b = make(&BOOLEAN::theInfo);
    EXPECT_EQ("FALSE", print(*b));
    as<BOOLEAN>(b.get()) = true;
    EXPECT_EQ("TRUE", print(*b));
    Value big = make(&Big);
    setInt(big.get(), -1);
    EXPECT_EQ("4294967295", print(*big));
    Value plain = make(&INTEGER::theInfo);
    setInt(plain.get(), -1);
    EXPECT_EQ("-1", print(*plain));
    Value s = make(&Signed);
    setInt(s.get(), -3);
    EXPECT_EQ("-3", print(*s));

    OBJECT_IDENTIFIER oid(&OBJECT_IDENTIFIER::theInfo);
    EXPECT_EQ("{ }", print(oid));
    oid.append(1);
    oid.append(2);
    oid.append(840);
    EXPECT_EQ("{ 1 2 840 }", print(oid));

    BIT_STRING bits(&BIT_STRING::theInfo);
    EXPECT_EQ("''B", print(bits));
    bits.resize(3);
    bits.set(0, true);
    bits.set(2, true);
    EXPECT_EQ("'101'B", print(bits));

    OCTET_STRING o(&OCTET_STRING::theInfo);
    EXPECT_EQ("''H", print(o));
    o = std::vector<char>{'\x0a', '\xff'};
    EXPECT_EQ("'0a ff'H", print(o));

    IA5String quote("say \"hi\"");
    EXPECT_EQ("\"say \"hi\"\"", print(static_cast<AbstractData const&>(quote)));
    // The static type of a string selects the raw string inserter.
    std::ostringstream raw;
    raw << quote;
    EXPECT_EQ("say \"hi\"", raw.str());

    GeneralizedTime t("20240302130509Z");
    EXPECT_EQ("\"20240302130509Z\"", print(t));
}

TEST(Printer, EnumerationsByNumber)
{
    Value c = make(&Colour);
    as<ENUMERATED>(c.get()).setFromInt(2);
    EXPECT_EQ("blue", print(*c));
    as<ENUMERATED>(c.get()).setFromInt(3);
    EXPECT_EQ("3", print(*c));
    as<ENUMERATED>(c.get()).setFromInt(-1);
    EXPECT_EQ("-1", print(*c));
    // Names with explicit numbers are found by number, never by position.
    Value n = make(&Numbered);
    as<ENUMERATED>(n.get()).setFromInt(11);
    EXPECT_EQ("eleven", print(*n));
    as<ENUMERATED>(n.get()).setFromInt(255);
    EXPECT_EQ("top", print(*n));
    as<ENUMERATED>(n.get()).setFromInt(2);
    EXPECT_EQ("2", print(*n));
    as<ENUMERATED>(n.get()).setFromInt(12);
    EXPECT_EQ("12", print(*n));
}

TEST(Printer, SequenceLayout)
{
    Value p = make(&Pair);
    setInt(field(*p, 0), 1);
    as<BOOLEAN>(field(*p, 1)) = true;
    EXPECT_EQ("{\n  a 1,\n  dst-slot TRUE\n}", print(*p));
    Value o = make(&OptPair);
    EXPECT_EQ("{\n}", print(*o));
    Value list = make(&Ints);
    EXPECT_EQ("{\n}", print(*list));
    as<SEQUENCE_OF_Base>(list.get()).push_back(new INTEGER(5, &INTEGER::theInfo));
    EXPECT_EQ("{\n  5\n}", print(*list));
}

TEST(Printer, NestedLayout)
{
    Value out = make(&Out);
    setInt(field(*out, 0), 1);
    setInt(select(*field(*out, 1), 0), 3);
    SEQUENCE_OF_Base& inputs = as<SEQUENCE_OF_Base>(field(*out, 2));
    inputs.resize(2);
    setInt(select(*field(**inputs.begin(), 0), 1), 2);
    setInt(field(**inputs.begin(), 1), 0);
    setInt(select(*field(**(inputs.begin() + 1), 0), 0), 7);
    setInt(field(**(inputs.begin() + 1), 1), 5);
    EXPECT_EQ("{\n"
              "  unit 1,\n"
              "  channel tdm : 3,\n"
              "  inputs {\n"
              "    {\n"
              "      channel rtp : 2,\n"
              "      gain 0\n"
              "    },\n"
              "    {\n"
              "      channel tdm : 7,\n"
              "      gain 5\n"
              "    }\n"
              "  }\n"
              "}",
              print(*out));
}

// A part that cannot be printed is marked; the caller's stream stays good,
// so the rest of the log line and later lines are not lost.
TEST(Printer, UnprintablePartsAreMarkedAndTheStreamStaysUsable)
{
    Value m = make(&Message);
    std::ostringstream os;
    os << "send fail: encode error!" << *m << " end";
    EXPECT_TRUE(os.good());
    EXPECT_EQ("send fail: encode error!{\n  pdu <nothing selected>\n} end", os.str());
    os << "\nnext line";
    EXPECT_NE(std::string::npos, os.str().find("next line"));

    Value c = make(&Command);
    as<CHOICE>(c.get()).select(9);
    EXPECT_EQ("<unknown alternative>", print(*c));
    OpenData empty(nullptr, &OpenData::theInfo);
    EXPECT_EQ("<empty open type>", print(empty));
    EXPECT_EQ(std::ios_base::goodbit, c->print_on(os));
}

TEST(Printer, CallerStreamFormattingIsKept)
{
    std::ostringstream os;
    os << std::hex;
    OCTET_STRING o(std::vector<char>{'\x0a', '\xff'}, &OCTET_STRING::theInfo);
    Value n = make(&INTEGER::theInfo);
    setInt(n.get(), 255);
    os << o << ' ' << *n << ' ' << 255;
    EXPECT_EQ("'0a ff'H 255 ff", os.str());     // values always decimal; the base stays hex
    EXPECT_TRUE(os.flags() & std::ios_base::hex);
    EXPECT_EQ(' ', os.fill());

    std::ostringstream plain;
    plain << o << ' ' << *n << ' ' << 10;
    EXPECT_EQ("'0a ff'H 255 10", plain.str());
}

// The insertion frame's exception policy.
} // namespace
