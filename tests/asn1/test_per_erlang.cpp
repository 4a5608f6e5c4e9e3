// Cross-check of the aligned PER coders against an independent
// implementation: Erlang/OTP's asn1 compiler (erlang-base, erlang-asn1),
// on tests/asn1/erlang/PerCheck.asn compiled for PER at test time.
//  - A few thousand random values that Erlang generates (fixed seed) and
//    encodes must decode in our runtime and re-encode to the same octets,
//    Erlang must decode those octets to exactly the value we decoded, and
//    each must read back from its own value notation.
//  - Hand-built edge values that we encode must decode in Erlang to the
//    same value, and Erlang's own encoding must match ours octet for octet
//    (except where the runtime deliberately departs from X.691; those
//    cases are marked and pinned by byte in the encoder tests).
#include "asn1/notation/parser.h"
#include "asn1/notation/printer.h"
#include "asn1/percheck_peer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace PerTypes;

namespace {

using ErlangPeer = PerCheckPeer<kPer>;

// A Record's numbered field holds any of 0..255 (the Erlang module knows it
// as an INTEGER); a number without a name prints as the number, which an
// enumeration does not read back.
bool namelessNumber(Encoded const& e, AbstractData& v)
{
    if (e.info != &Record)
        return false;
    AbstractData* numbered = as<SEQUENCE>(&v).getField(fieldIndex(v, "numbered"));
    return as<ENUMERATED>(numbered).getName() == nullptr;
}

// The same values also print in value notation and read back from that
// text to an equal value that prints the same text (or, holding an
// enumeration number without a name, fail to read back).
TEST_F(ErlangPeer, RandomErlangValuesRoundTripThroughOurRuntimeAndItsNotation)
{
    int failures = 0;
    int nameless = 0;
    for (std::string const& line : randomValuesAgree(130, 20261206, 3000)) {
        Encoded const e = parseEncoded(line);
        Value v = e.info ? make(e.info) : nullptr;
        if (!v || !decBytes(Rule::per, e.bytes, *v))
            continue;  // reported by the round trip
        std::string const text = v->asValueNotation();
        Value back = make(e.info);
        bool const read = back->setFromValueNotation(text);
        if (namelessNumber(e, *v)) {
            ++nameless;
            if (read && ++failures <= 5)
                ADD_FAILURE() << line << ": reads back a number as an enumeration\n" << text;
            continue;
        }
        if ((!read || !(*back == *v) || back->asValueNotation() != text) && ++failures <= 5)
            ADD_FAILURE() << line << (read ? ": reads back differently" : ": does not read back") << "\n"
                          << text << "\nread back as\n" << back->asValueNotation();
    }
    EXPECT_EQ(0, failures);
    EXPECT_GT(nameless, 0);
}

TEST_F(ErlangPeer, OurEncodingsDecodeInErlangToTheSameValue)
{
    std::vector<Case> cases;
    struct Ints {
        char const* type;
        void const* info;
        std::vector<long long> numbers;
    } const ints[] = {
        {"Big", &Big, {0, 1, 255, 256, 65535, 65536, 16777215, 16777216, 4294967295}},
        {"Wide", &Wide, {0, 255, 256, 65535, 65536, 16777215}},
        {"Slot", &Slot, {0, 1, 511, 1023}},
        {"Word", &Word, {0, 65535}},
        {"Plain", &INTEGER::theInfo,
         {0, 127, 128, -1, -128, -129, 32767, 32768, -32769, 8388608, -8388609, 2147483647, -2147483648LL}},
    };
    for (Ints const& row : ints)
        for (long long n : row.numbers)
            cases.push_back(caseOf(row.type, *intV(row.info, n), row.type + (" " + std::to_string(n))));
    for (auto [type, info, s] : {std::tuple<char const*, void const*, std::string>{"Name", &Name, "ab"},
                                 {"Name", &Name, std::string(64, 'z')},
                                 {"Text", &IA5String::theInfo, ""},
                                 {"Text", &IA5String::theInfo, std::string(127, 'q')},
                                 {"Text", &IA5String::theInfo, std::string(128, 'r')},
                                 {"Text", &IA5String::theInfo, std::string(300, '\x7f')},
                                 {"Grow", &Grow, "abcd"},
                                 {"Grow", &Grow, "abcdefgh"}})
        cases.push_back(caseOf(type, *textV(info, s), type + (" '" + s + "'")));
    for (auto [type, info, s] : {std::tuple<char const*, void const*, std::string>{"Octets", &OCTET_STRING::theInfo, ""},
                                 {"Octets", &OCTET_STRING::theInfo, "\x01"},
                                 {"Octets", &OCTET_STRING::theInfo, "\x01\xff"},
                                 {"Octets", &OCTET_STRING::theInfo, std::string(16383, '\x55')},
                                 {"Fixed", &Fixed, std::string("\x00\x01\x02\x03", 4)}})
        cases.push_back(caseOf(type, *octV(info, s), type + (" of " + std::to_string(s.size()))));
    cases.push_back(caseOf("Bounded", *listV(&Bounded, 8), "Bounded of 8"));
    cases.push_back(caseOf("Bytes", *listV(&Bytes, 128), "Bytes of 128"));
    cases.push_back(caseOf("Bytes", *listV(&Bytes, 0), "Bytes empty"));
    for (int i = 0; i < 3; ++i) {
        cases.push_back(caseOf("Colour", *enumV(&Colour, i), "Colour " + std::to_string(i)));
        cases.push_back(caseOf("Mode", *enumV(&Mode, i), "Mode " + std::to_string(i)));
    }
    for (int alt = 0; alt < 5; ++alt)
        cases.push_back(caseOf("Message", *messageAlternative(alt), "Message alternative " + std::to_string(alt)));

    // Every addition present: the bitmap has one bit per known addition.
    Value e = make(&Ext);
    setInt(field(*e, 0), 7);
    as<BOOLEAN>(field(*e, 1)) = false;
    setText(field(*e, 2), "ext");
    setInt(field(*e, 3), -70000);
    AbstractData* in = field(*e, 4);
    setInt(field(*in, 0), 512);
    as<BOOLEAN>(field(*in, 2)) = true;
    cases.push_back(caseOf("Ext", *e, "Ext with every addition"));
    Value list = make(&Exts);
    as<SEQUENCE_OF_Base>(list.get()).push_back(e->clone());
    cases.push_back(caseOf("Exts", *list, "Exts of one"));
    // A map of two bits: Erlang writes three.
    Value partial = make(&Ext);
    setInt(field(*partial, 0), 1);
    setInt(field(*partial, 3), 5);
    field(*partial, 2);
    as<SEQUENCE>(partial.get()).removeOptionalField(1);
    cases.push_back(caseOf("Ext", *partial, "Ext with the second addition only", false));
    // A shorter bitmap (only the first addition): Erlang reads it, but
    // writes a bitmap of all three known additions itself.
    Value shortMap = make(&Ext);
    setText(field(*shortMap, 2), "only c");
    cases.push_back(caseOf("Ext", *shortMap, "Ext with a one-bit extension bitmap", false));
    module_->expectAgrees(cases);
}

} // namespace
