// Cross-check of the aligned PER coders against an independent
// implementation: Erlang/OTP's asn1 compiler (erlang-base, erlang-asn1).
//
// The module tests/asn1/erlang/PerCheck.asn is compiled with erlc for PER
// at test time. Both directions are checked:
//  - a few thousand random values that Erlang generates (fixed seed) and
//    encodes must decode in our runtime and re-encode to the same octets,
//    and Erlang must decode those octets to exactly the value we decoded;
//  - hand-built edge values that we encode must decode in Erlang to the
//    same value, and Erlang's own encoding of that value must match ours
//    octet for octet (except where the runtime deliberately departs from
//    X.691; those cases are marked and pinned by byte in the encoder tests).
#include "asn1/per/per_decoder.h"
#include "asn1/per/per_encoder.h"
#include "asn1/percheck_peer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace PerTypes;

namespace {

using ErlangPeer = PerCheckPeer<kPer>;

std::string encodeHex(AbstractData const& v, bool& ok)
{
    std::vector<char> out;
    PEREncoder e(out, true);
    ok = v.accept(e);
    return hex(out);
}

TEST_F(ErlangPeer, RandomErlangValuesRoundTripThroughOurRuntime)
{
    int st = 0;
    std::vector<std::string> generated = Erlang::lines(module_->random(kPerCorpusCount, kPerCorpusSeed, &st));
    ASSERT_EQ(0, st);
    ASSERT_GE(generated.size(), 3000u);

    std::vector<Case> const cases = roundTrip(
        generated,
        [](std::vector<char> const& bytes, AbstractData& v) {
            PERDecoder d(bytes.data(), bytes.data() + bytes.size(), nullptr, true);
            return v.accept(d);
        },
        encodeHex);

    // Erlang decodes the same octets to exactly the value we decoded.
    module_->expectAgrees(cases);
}

// Hand-built values at the edges of every form.
std::vector<std::pair<Case, Value>> handBuilt()
{
    std::vector<std::pair<Case, Value>> out;
    auto add = [&](std::string type, Value v, bool sameBytes, std::string what) {
        Case c{type, "", "", what, sameBytes};
        out.emplace_back(c, std::move(v));
    };
    auto integer = [&](std::string type, void const* info, long long n) {
        Value v = make(info);
        setInt(v.get(), n);
        add(type, std::move(v), true, type + " " + std::to_string(n));
    };
    for (long long n : {0LL, 1LL, 255LL, 256LL, 65535LL, 65536LL, 16777215LL, 16777216LL, 4294967295LL})
        integer("Big", &Big, n);
    for (long long n : {0LL, 255LL, 256LL, 65535LL, 65536LL, 16777215LL})
        integer("Wide", &Wide, n);
    for (long long n : {0LL, 1LL, 511LL, 1023LL})
        integer("Slot", &Slot, n);
    for (long long n : {0LL, 65535LL})
        integer("Word", &Word, n);
    for (long long n : {0LL, 127LL, 128LL, -1LL, -128LL, -129LL, 32767LL, 32768LL, -32769LL, 8388608LL,
                        -8388609LL, 2147483647LL, -2147483648LL})
        integer("Plain", &INTEGER::theInfo, n);

    auto text = [&](std::string type, void const* info, std::string s) {
        Value v = make(info);
        setText(v.get(), s);
        add(type, std::move(v), true, type + " '" + s + "'");
    };
    text("Name", &Name, "ab");
    text("Name", &Name, std::string(64, 'z'));
    text("Text", &IA5String::theInfo, "");
    text("Text", &IA5String::theInfo, std::string(127, 'q'));
    text("Text", &IA5String::theInfo, std::string(128, 'r'));
    text("Text", &IA5String::theInfo, std::string(300, '\x7f'));
    text("Grow", &Grow, "abcd");
    text("Grow", &Grow, "abcdefgh");

    auto octets = [&](std::string type, void const* info, std::string s) {
        Value v = make(info);
        setOctets(v.get(), s);
        add(type, std::move(v), true, type + " of " + std::to_string(s.size()));
    };
    octets("Octets", &OCTET_STRING::theInfo, "");
    octets("Octets", &OCTET_STRING::theInfo, "\x01");
    octets("Octets", &OCTET_STRING::theInfo, "\x01\xff");
    octets("Octets", &OCTET_STRING::theInfo, std::string(16383, '\x55'));
    octets("Fixed", &Fixed, std::string("\x00\x01\x02\x03", 4));

    {
        Value v = make(&Bounded);
        as<SEQUENCE_OF_Base>(v.get()).resize(8);
        add("Bounded", std::move(v), true, "Bounded of 8");
        Value b = make(&Bytes);
        as<SEQUENCE_OF_Base>(b.get()).resize(128);
        add("Bytes", std::move(b), true, "Bytes of 128");
        Value e = make(&Bytes);
        add("Bytes", std::move(e), true, "Bytes empty");
    }
    for (int i = 0; i < 3; ++i) {
        Value c = make(&Colour);
        as<ENUMERATED>(c.get()).setFromInt(i);
        add("Colour", std::move(c), true, "Colour");
        Value m = make(&Mode);
        as<ENUMERATED>(m.get()).setFromInt(i);
        add("Mode", std::move(m), true, "Mode");
    }
    for (int alt = 0; alt < 5; ++alt)
        add("Message", messageAlternative(alt), true, "Message alternative " + std::to_string(alt));
    {
        // Every addition present: the bitmap has one bit per known addition.
        Value e = make(&Ext);
        setInt(field(*e, 0), 7);
        as<BOOLEAN>(field(*e, 1)) = false;
        setText(field(*e, 2), "ext");
        setInt(field(*e, 3), -70000);
        AbstractData* in = field(*e, 4);
        setInt(field(*in, 0), 512);
        as<BOOLEAN>(field(*in, 2)) = true;
        Value list = make(&Exts);
        as<SEQUENCE_OF_Base>(list.get()).push_back(e->clone());
        add("Ext", std::move(e), true, "Ext with every addition");
        Value partial = make(&Ext);
        setInt(field(*partial, 0), 1);
        setInt(field(*partial, 3), 5);
        field(*partial, 2);
        as<SEQUENCE>(partial.get()).removeOptionalField(1);
        // Map of two bits: Erlang writes three.
        add("Ext", std::move(partial), false, "Ext with the second addition only");
        // A shorter bitmap (only the first addition): Erlang reads it, but
        // writes a bitmap of all three known additions itself.
        Value shortMap = make(&Ext);
        setText(field(*shortMap, 2), "only c");
        add("Ext", std::move(shortMap), false, "Ext with a one-bit extension bitmap");
        add("Exts", std::move(list), true, "Exts of one");
    }
    return out;
}

TEST_F(ErlangPeer, OurEncodingsDecodeInErlangToTheSameValue)
{
    std::vector<std::pair<Case, Value>> built = handBuilt();
    std::vector<Case> cases;
    for (auto& b : built) {
        bool ok = false;
        b.first.hex = encodeHex(*b.second, ok);
        ASSERT_TRUE(ok) << b.first.origin;
        b.first.term = termOf(*b.second);
        cases.push_back(b.first);
    }
    std::vector<std::string> answers = module_->check(cases);
    for (std::size_t i = 0; i < answers.size() && i < cases.size(); ++i) {
        Case const& c = cases[i];
        std::string ours = c.hex.empty() ? "-" : c.hex;
        ASSERT_EQ(0u, answers[i].rfind("ok ", 0)) << c.origin << "\n  ours: " << ours << "\n  term: " << c.term
                                                  << "\n  erlang: " << answers[i];
        if (c.sameBytes)
            EXPECT_EQ("ok " + ours, answers[i]) << c.origin;
        else
            EXPECT_NE("ok " + ours, answers[i]) << c.origin << ": expected to differ from X.691";
    }
}

} // namespace
