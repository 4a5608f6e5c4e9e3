// The coder front end: rule selection, all-or-nothing output after what the
// buffer already holds, decoding through the environment.
#include "asn1/coder.h"
#include "asn1/test_per_types.h"

#include <gtest/gtest.h>

#include <iterator>

using namespace PerTypes;

namespace {

Value message(long long seq, int slot)
{
    Value m = make(&Message);
    if (seq >= 0)
        setInt(field(*m, 0), seq);
    if (slot >= 0)
        setInt(field(*m, 1), slot);
    setInt(select(*field(*m, 2), 2), 42);
    return m;
}

TEST(CoderEnv, EveryRuleAppendsWholeEncodingsOrNothing)
{
    struct Row {
        CoderEnv::EncodingRules rule;
        Value value;
        char const* octets;  // after the prefix 11, "" for a refused value
    } const rows[] = {
        {CoderEnv::per, message(-1, 1023), "4003ff40002a"},
        {CoderEnv::per, message(-1, 1024), ""},  // slot out of range
        {CoderEnv::per, make(&Message), ""},     // nothing selected
        {CoderEnv::ber, message(3000000000LL, -1), "300c800500b2d05e00a20382012a"},
        {CoderEnv::ber, make(&Message), ""},
        {CoderEnv::ber, make(&Null::theInfo), "0500"},
        // Text with a marker for an unprintable part is not value notation.
        {CoderEnv::avn, message(-1, 5), "7b0a2020736c6f7420352c0a20207064752064657374726f79203a2034320a7d"},
        {CoderEnv::avn, make(&Message), ""},
        {static_cast<CoderEnv::EncodingRules>(7), message(-1, 1), ""},
    };
    for (Row const& row : rows) {
        CoderEnv env;
        env.set_encodingRule(row.rule);
        EXPECT_EQ(row.rule, env.get_encodingRule());
        std::vector<char> out{'\x11'};
        EXPECT_EQ(*row.octets != 0, ASN1::encode(*row.value, &env, std::back_inserter(out))) << row.octets;
        EXPECT_EQ("11" + std::string(row.octets), hex(out));
        if (!*row.octets)
            continue;
        // Decoded back, also with trailing octets, which are ignored.
        out.push_back('\x7f');
        Value back = make(row.value->info());
        ASSERT_TRUE(ASN1::decode(out.data() + 1, out.data() + out.size(), &env, *back, row.rule != CoderEnv::per)) << row.octets;
        EXPECT_TRUE(*back == *row.value) << row.octets;
        // The environment is reusable after a failure.
        EXPECT_FALSE(ASN1::encode(*make(&Message), &env, std::back_inserter(out)));
        EXPECT_TRUE(ASN1::encode(*row.value, &env, std::back_inserter(out)));
        EXPECT_EQ("11" + std::string(row.octets) + "7f" + row.octets, hex(out));
    }
    CoderEnv unset;
    Value m = message(-1, 1);
    std::vector<char> out;
    EXPECT_FALSE(ASN1::encode(*m, &unset, std::back_inserter(out)));
    std::vector<char> const in = unhex("400001");
    EXPECT_FALSE(ASN1::decode(in.data(), in.data() + in.size(), &unset, *m, true));
    EXPECT_FALSE(ASN1::encode(*m, static_cast<CoderEnv*>(nullptr), std::back_inserter(out)));
    EXPECT_TRUE(out.empty());
}

} // namespace
