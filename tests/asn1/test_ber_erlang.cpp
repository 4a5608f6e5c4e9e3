// Cross-check of the BER coders against Erlang/OTP's asn1 compiler, on the
// module of the PER cross-check compiled for BER at test time: Erlang's
// random values round-trip through our runtime and Erlang reads back our
// value; hand-built edge values decode in Erlang to the same value, and
// Erlang's encoding of it matches ours octet for octet.
#include "asn1/percheck_peer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace PerTypes;

namespace {

using ErlangBerPeer = PerCheckPeer<kBer>;

TEST_F(ErlangBerPeer, RandomErlangValuesRoundTripThroughOurRuntime)
{
    randomValuesAgree(100, 20261207, 2400);
}

TEST_F(ErlangBerPeer, HandBuiltValuesMatchErlangOctetForOctet)
{
    std::vector<Case> cases;
    for (long long n : {0LL, 127LL, 128LL, 32767LL, 32768LL, 8388607LL, 8388608LL, 2147483647LL, 2147483648LL,
                        3000000000LL, 4294967295LL})
        cases.push_back(caseOf("Big", *intV(&Big, n), "Big " + std::to_string(n)));
    for (long long n : {0LL, 127LL, 128LL, -1LL, -128LL, -129LL, 32767LL, 32768LL, -32769LL, 8388608LL,
                        -8388609LL, 2147483647LL, -2147483648LL})
        cases.push_back(caseOf("Plain", *intV(&INTEGER::theInfo, n), "Plain " + std::to_string(n)));
    for (std::size_t n : {127u, 128u, 300u})
        cases.push_back(caseOf("Text", *textV(&IA5String::theInfo, std::string(n, 'q')), "Text of " + std::to_string(n)));
    cases.push_back(caseOf("Octets", *octV(&OCTET_STRING::theInfo, std::string(70000, '\x55')), "Octets of 70000"));
    for (int alt = 0; alt < 5; ++alt)
        cases.push_back(caseOf("Message", *messageAlternative(alt), "Message alternative " + std::to_string(alt)));
    module_->expectAgrees(cases);
}

} // namespace
