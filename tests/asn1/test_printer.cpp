// Value-notation printer: the text of every kind, the layout of nested
// values, markers for unprintable parts, and the caller's stream state.
#include "asn1/notation/printer.h"
#include "asn1/test_per_types.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <new>
#include <sstream>
#include <stdexcept>
#include <tuple>

using namespace PerTypes;

namespace {

// Mixer output parameters, for the layout example.
void const* const InputInfos[] = {&Channel, &INTEGER::theInfo};
int const InputIds[] = {-1, -1};
char const* const InputNames[] = {"channel", "gain"};
const SequenceInfo Input = {{&SEQUENCE::create, 16}, false, InputInfos, InputIds, 2, 0, 0, nullptr, nullptr,
                            InputNames};
const SequenceOfInfo Inputs = {{{&SEQUENCE_OF_Base::create, 16}, {Unconstrained, 0, 0xFFFFFFFFu}}, &Input};
void const* const OutInfos[] = {&INTEGER::theInfo, &Channel, &Inputs};
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

TEST(Printer, EveryKind)
{
    Value yes = make(&BOOLEAN::theInfo);
    as<BOOLEAN>(yes.get()) = true;
    Value oid = make(&OBJECT_IDENTIFIER::theInfo);
    for (unsigned arc : {1u, 2u, 840u})
        as<OBJECT_IDENTIFIER>(oid.get()).append(arc);
    Value bits = make(&BIT_STRING::theInfo);
    as<BIT_STRING>(bits.get()).resize(3);
    as<BIT_STRING>(bits.get()).set(0, true);
    as<BIT_STRING>(bits.get()).set(2, true);
    Value pair = make(&Pair);
    setInt(field(*pair, 0), 1);
    as<BOOLEAN>(field(*pair, 1)) = true;
    Value one = make(&Ints);
    as<SEQUENCE_OF_Base>(one.get()).push_back(new INTEGER(5, &INTEGER::theInfo));
    struct Row {
        Value value;
        char const* text;
    } const rows[] = {
        {make(&Null::theInfo), "NULL"},
        {make(&BOOLEAN::theInfo), "FALSE"},
        {std::move(yes), "TRUE"},
        {intV(&Big, -1), "4294967295"},
        {intV(&INTEGER::theInfo, -1), "-1"},
        {intV(&Signed, -3), "-3"},
        {make(&OBJECT_IDENTIFIER::theInfo), "{ }"},
        {std::move(oid), "{ 1 2 840 }"},
        {make(&BIT_STRING::theInfo), "''B"},
        {std::move(bits), "'101'B"},
        {make(&OCTET_STRING::theInfo), "''H"},
        {octV(&OCTET_STRING::theInfo, "\x0a\xff"), "'0a ff'H"},
        {textV(&IA5String::theInfo, "say \"hi\""), "\"say \"hi\"\""},
        {Value(new GeneralizedTime("20240302130509Z")), "\"20240302130509Z\""},
        {enumV(&Colour, 2), "blue"},
        {enumV(&Colour, 3), "3"},
        {enumV(&Colour, -1), "-1"},
        // Names with explicit numbers are found by number, never by position.
        {enumV(&Numbered, 11), "eleven"},
        {enumV(&Numbered, 255), "top"},
        {enumV(&Numbered, 2), "2"},
        {enumV(&Numbered, 12), "12"},
        {std::move(pair), "{\n  a 1,\n  dst-slot TRUE\n}"},
        {make(&OptPair), "{\n}"},
        {make(&Ints), "{\n}"},
        {std::move(one), "{\n  5\n}"},
    };
    for (Row const& row : rows)
        EXPECT_EQ(row.text, print(*row.value));
    // The static type of a string selects the raw string inserter.
    std::ostringstream raw;
    raw << IA5String("say \"hi\"");
    EXPECT_EQ("say \"hi\"", raw.str());
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
    os << std::hex << std::setfill('*');
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

// A throwing sink: the caught exception is re-thrown only when the mask
// holds the bit the frame sets (failbit, badbit for an allocation failure).
TEST(Printer, SinkExceptionsFollowTheMask)
{
    struct Sink : std::streambuf {
        bool alloc;
        explicit Sink(bool a) : alloc(a) {}
        int overflow(int) override { if (alloc) throw std::bad_alloc(); throw std::runtime_error("sink"); }
    };
    using io = std::ios_base;
    for (auto [alloc, mask, what] : {std::tuple<bool, io::iostate, std::string>{false, io::badbit, ""},
                                     {false, io::badbit | io::failbit, "sink"}, {true, io::badbit, "std::bad_alloc"}}) {
        Sink sink(alloc);
        std::ostream os(&sink);
        os.exceptions(mask);
        std::string thrown;
        try { os << Null(); } catch (std::exception const& e) { thrown = e.what(); }
        EXPECT_EQ(what, thrown);
        EXPECT_EQ(alloc ? io::badbit : io::badbit | io::failbit, os.rdstate()) << what;
    }
}

} // namespace
