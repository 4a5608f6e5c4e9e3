// Cross-check of the BER coders against an independent implementation:
// Erlang/OTP's asn1 compiler (erlang-base, erlang-asn1), on the same test
// module as the PER cross-check, compiled for BER at test time.
//  - Random values that Erlang generates (fixed seed) and encodes must
//    decode in our runtime and re-encode to the same octets, and Erlang
//    must decode those octets to exactly the value we decoded.
//  - Hand-built edge values that we encode must decode in Erlang to the
//    same value, and Erlang's own encoding of it must match ours octet for
//    octet.
#include "asn1/ber/ber_decoder.h"
#include "asn1/ber/ber_encoder.h"
#include "asn1/percheck_peer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace PerTypes;

namespace {

using ErlangBerPeer = PerCheckPeer<kBer>;

std::string berHex(AbstractData const& v, bool& ok)
{
    std::vector<char> out;
    BEREncoder e(out);
    ok = v.accept(e);
    return hex(out);
}

TEST_F(ErlangBerPeer, RandomErlangValuesRoundTripThroughOurRuntime)
{
    int st = 0;
    std::vector<std::string> const generated = Erlang::lines(module_->random(100, 20261207, &st));
    ASSERT_EQ(0, st);
    ASSERT_GE(generated.size(), 2400u);

    std::vector<Case> const cases = roundTrip(
        generated,
        [](std::vector<char> const& bytes, AbstractData& v) {
            BERDecoder d(bytes.data(), bytes.data() + bytes.size());
            return v.accept(d);
        },
        berHex);
    module_->expectAgrees(cases);
}

TEST_F(ErlangBerPeer, HandBuiltValuesMatchErlangOctetForOctet)
{
    std::vector<Case> cases;
    auto add = [&](std::string type, AbstractData const& v, std::string what) {
        bool ok = false;
        std::string const h = berHex(v, ok);
        ASSERT_TRUE(ok) << what;
        cases.push_back({type, h, termOf(v), what});
    };
    auto integer = [&](std::string type, void const* info, long long n) {
        Value v = make(info);
        setInt(v.get(), n);
        add(type, *v, type + " " + std::to_string(n));
    };
    for (long long n : {0LL, 127LL, 128LL, 32767LL, 32768LL, 8388607LL, 8388608LL, 2147483647LL,
                        2147483648LL, 3000000000LL, 4294967295LL})
        integer("Big", &Big, n);
    for (long long n : {0LL, 127LL, 128LL, -1LL, -128LL, -129LL, 32767LL, 32768LL, -32769LL, 8388608LL,
                        -8388609LL, 2147483647LL, -2147483648LL})
        integer("Plain", &INTEGER::theInfo, n);

    auto text = [&](std::string type, void const* info, std::string s) {
        Value v = make(info);
        setText(v.get(), s);
        add(type, *v, type + " of " + std::to_string(s.size()));
    };
    text("Text", &IA5String::theInfo, std::string(127, 'q'));
    text("Text", &IA5String::theInfo, std::string(128, 'r'));
    text("Text", &IA5String::theInfo, std::string(300, 's'));
    Value octets = make(&OCTET_STRING::theInfo);
    setOctets(octets.get(), std::string(70000, '\x55'));
    add("Octets", *octets, "Octets of 70000");
    for (int alt = 0; alt < 5; ++alt)
        add("Message", *messageAlternative(alt), "Message alternative " + std::to_string(alt));
    module_->expectAgrees(cases);
}

} // namespace
