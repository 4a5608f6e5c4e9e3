// Byte-exact checks of the SNMPv2c trap builder.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "monitoring/trap.h"

namespace {

typedef std::vector<unsigned char> Bytes;

Bytes Packet(const trap_context& c) { return Bytes(c.packet, c.packet + c.packet_len); }

// A fresh context seeded with 0 (request id 991873), empty community, header
// written: the bindings start at offset 28.
struct Trap {
  trap_context c;
  Trap() {
    std::memset(&c, 0xAB, sizeof c);
    snmp_session_seed(&c, 0);
    trap_init(&c, "");
    EXPECT_EQ(0, trap_pack_begin(&c));
  }
};

const uint32_t kName[] = {1, 3};  // 06 01 2B

// The encoded value of a single binding named 1.3, or empty on failure.
Bytes Value(unsigned char type, const void* value, int len) {
  Trap t;
  if (trap_pack_add(&t.c, kName, 2, type, value, len) != 0) return Bytes();
  EXPECT_EQ(0, trap_pack_end(&t.c));
  Bytes p = Packet(t.c);
  // 30 82 LL LL 06 01 2B <value>
  EXPECT_EQ((Bytes{0x30, 0x82}), Bytes(p.begin() + 28, p.begin() + 30));
  EXPECT_EQ(p.size() - 32, static_cast<size_t>(p[30] << 8 | p[31]));
  return Bytes(p.begin() + 35, p.end());
}

Bytes OidValue(std::vector<uint32_t> oid) {
  return Value(SNMP_TYPE_OBJID, oid.data(), static_cast<int>(oid.size() * 4));
}

TEST(TrapBuilder, EmptyTrapLayoutAndRequestIdSequence) {
  trap_context c;
  snmp_session_seed(&c, 0);
  trap_init(&c, "");
  ASSERT_EQ(0, trap_pack_begin(&c));
  ASSERT_EQ(0, trap_pack_end(&c));
  EXPECT_EQ((Bytes{0x30, 0x82, 0x00, 0x18, 0x02, 0x01, 0x01, 0x04, 0x00, 0xA7, 0x82, 0x00, 0x0F, 0x02,
                   0x03, 0x0F, 0x22, 0x81, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x82, 0x00, 0x00}),
            Packet(c));
  trap_init(&c, "");
  EXPECT_EQ(1288378715u, c.request_id);
  EXPECT_EQ(0u, c.packet_len);
  snmp_session_seed(&c, 0xFFFFFFFFu);  // odd and positive whatever the seed
  trap_init(&c, nullptr);
  EXPECT_EQ(0x22A29u, c.request_id);
}

TEST(TrapBuilder, CommunityDefaultsAndTruncation) {
  trap_context c;
  snmp_session_seed(&c, 0);
  trap_init(&c, nullptr);
  ASSERT_EQ(0, trap_pack_begin(&c));
  ASSERT_EQ(0, trap_pack_end(&c));
  Bytes p = Packet(c);
  EXPECT_EQ((Bytes{0x04, 0x06, 'k', 'e', 's', 't', 'r', 'a', 0xA7}), Bytes(p.begin() + 7, p.begin() + 16));
  EXPECT_EQ(p.size() - 4, static_cast<size_t>(p[2] << 8 | p[3]));
  EXPECT_EQ(p.size() - 19, static_cast<size_t>(p[17] << 8 | p[18]));

  std::string forty(40, 'x');
  trap_init(&c, forty.c_str());
  ASSERT_EQ(0, trap_pack_begin(&c));
  ASSERT_EQ(0, trap_pack_end(&c));
  EXPECT_EQ(31, c.packet[8]);
  EXPECT_EQ(0xA7, c.packet[9 + 31]);
}

TEST(TrapBuilder, LongLengthsAndAFullPacket) {
  std::string s200(200, 'a'), s300(300, 'b');
  Bytes v = Value(SNMP_TYPE_OCTETSTRING, s200.data(), 200);
  ASSERT_EQ(203u, v.size());
  EXPECT_EQ((Bytes{0x04, 0x81, 0xC8}), Bytes(v.begin(), v.begin() + 3));
  v = Value(SNMP_TYPE_OPAQUE, s300.data(), 300);
  ASSERT_EQ(304u, v.size());
  EXPECT_EQ((Bytes{0x44, 0x82, 0x01, 0x2C}), Bytes(v.begin(), v.begin() + 4));

  // Fill the packet: the last binding that fits leaves it at most 2048
  // bytes, the next one fails without writing past the end.
  Trap t;
  int added = 0;
  while (trap_pack_add(&t.c, kName, 2, SNMP_TYPE_OCTETSTRING, s300.data(), 300) == 0) ++added;
  EXPECT_EQ(6, added);  // 28 + 6 * 311 = 1894; a seventh needs 311 more
  EXPECT_EQ(nullptr, t.c.cursor);
  snmp_session_seed(&t.c, 0);  // keep the 3-byte request id
  trap_init(&t.c, "");
  ASSERT_EQ(0, trap_pack_begin(&t.c));
  for (int i = 0; i < 6; ++i) ASSERT_EQ(0, trap_pack_add(&t.c, kName, 2, SNMP_TYPE_OCTETSTRING, s300.data(), 300));
  // Exactly the rest: 2048 - 1894 - 4 (header) - 3 (name) - 3 (04 81 xx) = 144 bytes.
  ASSERT_EQ(0, trap_pack_add(&t.c, kName, 2, SNMP_TYPE_OCTETSTRING, s300.data(), 144));
  EXPECT_EQ(0u, t.c.packet_free);
  ASSERT_EQ(0, trap_pack_end(&t.c));
  Bytes p = Packet(t.c);
  ASSERT_EQ(2048u, p.size());
  EXPECT_EQ(2044u, static_cast<size_t>(p[2] << 8 | p[3]));
  EXPECT_EQ(2048u - 28u, static_cast<size_t>(p[26] << 8 | p[27]));
}

TEST(TrapBuilder, ParseOid) {
  uint32_t o[8];
  EXPECT_EQ(4, parse_oid(o, 8, "1.3.6.1"));
  EXPECT_EQ((std::vector<uint32_t>{1, 3, 6, 1}), std::vector<uint32_t>(o, o + 4));
  EXPECT_EQ(2, parse_oid(o, 8, "..1..2."));
  EXPECT_EQ((std::vector<uint32_t>{1, 2}), std::vector<uint32_t>(o, o + 2));
  EXPECT_EQ(3, parse_oid(o, 8, "1.x.3"));
  EXPECT_EQ((std::vector<uint32_t>{1, 0, 3}), std::vector<uint32_t>(o, o + 3));
  o[2] = 77;
  EXPECT_EQ(2, parse_oid(o, 2, "1.3.6"));
  EXPECT_EQ((std::vector<uint32_t>{1, 3, 77}), std::vector<uint32_t>(o, o + 3));
  EXPECT_EQ(0, parse_oid(nullptr, 8, "1.3"));
  EXPECT_EQ(0, parse_oid(o, 8, nullptr));
  EXPECT_EQ(0, parse_oid(o, 0, "1.3"));
  EXPECT_EQ(0, parse_oid(o, 8, ""));
  // Only the first 127 characters are read: "9." 63 times is 126
  // characters, so the 64th field is cut to nothing after its first digit.
  std::string text;
  for (int i = 0; i < 70; ++i) text += "9.";
  std::vector<uint32_t> many(100);
  EXPECT_EQ(64, parse_oid(many.data(), 100, text.c_str()));
}

TEST(TrapBuilder, MalformedValuesAreRefused) {
  // Wrong sizes, empty or missing bit strings, unknown types and missing
  // scalar values give no encoding.
  const uint64_t wide = 1;
  const unsigned char bits[] = {0x04, 0xF0};
  EXPECT_TRUE(Value(SNMP_TYPE_INTEGER, &wide, 2).empty());
  EXPECT_TRUE(Value(SNMP_TYPE_COUNTER32, &wide, 8).empty());
  EXPECT_TRUE(Value(0x46, &wide, 8).empty());
  EXPECT_TRUE(Value(SNMP_TYPE_BITSTRING, bits, 0).empty());
  EXPECT_TRUE(Value(SNMP_TYPE_BITSTRING, nullptr, 2).empty());
  EXPECT_TRUE(Value(SNMP_TYPE_INTEGER, nullptr, 4).empty());
  EXPECT_TRUE(Value(SNMP_TYPE_TIMETICKS, nullptr, 4).empty());
  EXPECT_TRUE(Value(SNMP_TYPE_OCTETSTRING, "x", -1).empty());
}

TEST(TrapBuilder, ObjectIdentifierEncodings) {
  EXPECT_EQ((Bytes{0x06, 0x01, 0x00}), OidValue({}));
  EXPECT_EQ((Bytes{0x06, 0x01, 0x28}), OidValue({1}));
  EXPECT_EQ((Bytes{0x06, 0x02, 0x88, 0x37}), OidValue({2, 999}));
  EXPECT_EQ((Bytes{0x06, 0x04, 0x2B, 0x81, 0x80, 0x00}), OidValue({1, 3, 16384}));
  EXPECT_EQ((Bytes{0x06, 0x06, 0x2B, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F}), OidValue({1, 3, 0xFFFFFFFFu}));
  // The joined first value must not wrap at 32 bits.
  EXPECT_EQ((Bytes{0x06, 0x05, 0x90, 0x80, 0x80, 0x80, 0x4F}), OidValue({2, 0xFFFFFFFFu}));
  EXPECT_TRUE(OidValue({0, 40}).empty());
  EXPECT_TRUE(OidValue({3, 1}).empty());
  // The value length is cut to whole sub-identifiers.
  const uint32_t two[] = {1, 3};
  EXPECT_EQ((Bytes{0x06, 0x01, 0x28}), Value(SNMP_TYPE_OBJID, two, 7));
  EXPECT_TRUE(Value(SNMP_TYPE_OBJID, nullptr, 8).empty());

  std::vector<uint32_t> longest(128, 1);
  Bytes ok = OidValue(longest);
  ASSERT_EQ(2u + 127u, ok.size());
  EXPECT_EQ((Bytes{0x06, 0x7F, 0x29}), Bytes(ok.begin(), ok.begin() + 3));
  longest.push_back(1);
  EXPECT_TRUE(OidValue(longest).empty());

  // The binding name follows the same rules.
  Trap t;
  const uint32_t bad[] = {3, 1};
  EXPECT_EQ(-1, trap_pack_add(&t.c, bad, 2, SNMP_TYPE_NULL, nullptr, 0));
  Trap u;
  ASSERT_EQ(0, trap_pack_add(&u.c, objid_sysuptime, objid_sysuptime_len, SNMP_TYPE_NULL, nullptr, 0));
  const Bytes name{0x06, 0x08, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x03, 0x00};
  EXPECT_EQ(name, Bytes(u.c.packet + 32, u.c.packet + 32 + name.size()));
}

}  // namespace
