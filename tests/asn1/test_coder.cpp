// The coder front end: rule selection, all-or-nothing output, decoding
// through the environment.
#include "asn1/coder.h"
#include "asn1/test_per_types.h"

#include <gtest/gtest.h>

#include <iterator>

using namespace PerTypes;

namespace {

CoderEnv perEnv()
{
    CoderEnv env;
    env.set_encodingRule(CoderEnv::per);
    return env;
}

Value message(int slot)
{
    Value m = make(&Message);
    setInt(field(*m, 1), slot);
    setInt(select(*field(*m, 2), 2), 42);
    return m;
}

TEST(CoderEnv, EncodesAndDecodesPer)
{
    CoderEnv env = perEnv();
    EXPECT_EQ(CoderEnv::per, env.get_encodingRule());
    Value m = message(1023);
    std::vector<char> out{'\x11'};
    ASSERT_TRUE(ASN1::encode(*m, &env, std::back_inserter(out)));
    EXPECT_EQ("114003ff40002a", hex(out));   // appended after what was there

    Value back = make(&Message);
    char const* first = out.data() + 1;
    char const* last = out.data() + out.size();
    ASSERT_TRUE(ASN1::decode(first, last, &env, *back, true));
    EXPECT_TRUE(*back == *m);
    out.push_back('\x7f');                    // trailing octets are ignored
    first = out.data() + 1;
    last = out.data() + out.size();
    Value again = make(&Message);
    ASSERT_TRUE(ASN1::decode(first, last, &env, *again, false));
    EXPECT_TRUE(*again == *m);
}

TEST(CoderEnv, FailedEncodeWritesNothing)
{
    CoderEnv env = perEnv();
    Value m = message(1024);                   // slot out of range
    std::vector<char> out{'a', 'b'};
    EXPECT_FALSE(ASN1::encode(*m, &env, std::back_inserter(out)));
    EXPECT_EQ("6162", hex(out));
    Value unselected = make(&Message);
    EXPECT_FALSE(ASN1::encode(*unselected, &env, std::back_inserter(out)));
    EXPECT_EQ(2u, out.size());
    // The environment is reusable after a failure.
    Value ok = message(1);
    EXPECT_TRUE(ASN1::encode(*ok, &env, std::back_inserter(out)));
    EXPECT_EQ("61624000014000 2a", hex(out).substr(0, 14) + " " + hex(out).substr(14));
}

TEST(CoderEnv, UnsetOrUnknownRuleFails)
{
    CoderEnv env;
    Value m = message(1);
    std::vector<char> out;
    EXPECT_FALSE(ASN1::encode(*m, &env, std::back_inserter(out)));
    env.set_encodingRule(static_cast<CoderEnv::EncodingRules>(7));
    EXPECT_FALSE(ASN1::encode(*m, &env, std::back_inserter(out)));
    EXPECT_TRUE(out.empty());
    char const in[] = {'\x40', '\x00', '\x01'};
    char const* first = in;
    char const* last = in + 3;
    EXPECT_FALSE(ASN1::decode(first, last, &env, *m, true));
    EXPECT_FALSE(ASN1::encode(*m, static_cast<CoderEnv*>(nullptr), std::back_inserter(out)));
}

TEST(CoderEnv, ValueNotationRule)
{
    CoderEnv env;
    env.set_encodingRule(CoderEnv::avn);
    Value m = message(5);
    std::vector<char> out;
    ASSERT_TRUE(ASN1::encode(*m, &env, std::back_inserter(out)));
    EXPECT_EQ("{\n  slot 5,\n  pdu destroy : 42\n}", std::string(out.begin(), out.end()));
    // Text with a marker for an unprintable part is not value notation.
    Value unselected = make(&Message);
    std::vector<char> none;
    EXPECT_FALSE(ASN1::encode(*unselected, &env, std::back_inserter(none)));
    EXPECT_TRUE(none.empty());
}

} // namespace
