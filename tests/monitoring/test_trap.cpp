// Byte-exact checks of the SNMPv2c trap builder.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mon_test_support.h"
#include "monitoring/trap.h"

using montest::Hex;
using montest::Rep;

namespace {

const uint32_t kName[] = {1, 3};  // 06 01 2B

// A context seeded with 0 (request id 991873, 02 03 0F 22 81), header
// written: the bindings start at offset 28 with the empty community.
struct Trap {
  trap_context c;
  explicit Trap(const char* community = "") {
    std::memset(&c, 0xAB, sizeof c);
    snmp_session_seed(&c, 0);
    trap_init(&c, community);
    EXPECT_EQ(0, trap_pack_begin(&c));
  }
  int Add(unsigned char type, const void* v, int len) { return trap_pack_add(&c, kName, 2, type, v, len); }
  std::string End() { return trap_pack_end(&c) == 0 ? Hex(c.packet, c.packet_len) : "end failed"; }
};

// The encoded value of a single binding named 1.3 ("-" when refused),
// after checking the binding's header: 30 82 LL LL 06 01 2B <value>.
std::string Value(unsigned char type, const void* value, int len) {
  Trap t;
  if (t.Add(type, value, len) != 0) return "-";
  std::string p = t.End();
  std::size_t n = p.size() / 3 + 1 - 32;
  EXPECT_EQ("30 82 " + Hex(std::vector<unsigned char>{uint8_t(n >> 8), uint8_t(n)}.data(), 2) + " 06 01 2B",
            p.substr(28 * 3, 7 * 3 - 1));
  return p.substr(35 * 3);
}

TEST(TrapBuilder, HeaderCommunityAndRequestIds) {
  const std::string pdu = "A7 82 00 0F 02 03 0F 22 81 02 01 00 02 01 00 30 82 00 00";
  const std::string forty(40, 'x');
  const std::pair<const char*, std::string> rows[] = {
      {"", "30 82 00 18 02 01 01 04 00 " + pdu},
      {nullptr, "30 82 00 1E 02 01 01 04 06 6B 65 73 74 72 61 " + pdu},  // "kestra"
      {forty.c_str(), "30 82 00 37 02 01 01 04 1F " + Rep("78", 31) + " " + pdu}};  // cut to 31
  for (const auto& r : rows) EXPECT_EQ(r.second, Trap(r.first).End());
  trap_context c;
  snmp_session_seed(&c, 0);
  trap_init(&c, "");
  trap_init(&c, "");
  EXPECT_EQ(1288378715u, c.request_id);
  EXPECT_EQ(0u, c.packet_len);
  snmp_session_seed(&c, 0xFFFFFFFFu);  // odd and positive whatever the seed
  trap_init(&c, nullptr);
  EXPECT_EQ(0x22A29u, c.request_id);
}

TEST(TrapBuilder, ValueEncodingsAndRefusals) {
  const std::string s300(300, 'b');
  const uint64_t wide = 1;
  const unsigned char bits[] = {0x04, 0xF0};
  const uint32_t two[] = {1, 3};
  struct Row { unsigned char type; const void* v; int len; std::string hex; } rows[] = {
      {SNMP_TYPE_OCTETSTRING, s300.data(), 200, "04 81 C8 " + Rep("62", 200)},
      {SNMP_TYPE_OPAQUE, s300.data(), 300, "44 82 01 2C " + Rep("62", 300)},
      {SNMP_TYPE_OBJID, two, 7, "06 01 28"},  // cut to whole sub-identifiers
      // Wrong sizes, empty or missing bit strings, unknown types, missing values.
      {SNMP_TYPE_INTEGER, &wide, 2, "-"}, {SNMP_TYPE_COUNTER32, &wide, 8, "-"}, {0x46, &wide, 8, "-"},
      {SNMP_TYPE_BITSTRING, bits, 0, "-"}, {SNMP_TYPE_BITSTRING, nullptr, 2, "-"},
      {SNMP_TYPE_INTEGER, nullptr, 4, "-"}, {SNMP_TYPE_TIMETICKS, nullptr, 4, "-"},
      {SNMP_TYPE_OCTETSTRING, "x", -1, "-"}, {SNMP_TYPE_OBJID, nullptr, 8, "-"}};
  for (const Row& r : rows) EXPECT_EQ(r.hex, Value(r.type, r.v, r.len)) << &r - rows;
  const std::pair<std::vector<uint32_t>, std::string> oids[] = {
      {{}, "06 01 00"}, {{1}, "06 01 28"}, {{2, 999}, "06 02 88 37"}, {{1, 3, 16384}, "06 04 2B 81 80 00"},
      {{1, 3, 0xFFFFFFFFu}, "06 06 2B 8F FF FF FF 7F"},
      {{2, 0xFFFFFFFFu}, "06 05 90 80 80 80 4F"},  // the joined first value does not wrap at 32 bits
      {{0, 40}, "-"}, {{3, 1}, "-"},
      {std::vector<uint32_t>(128, 1), "06 7F 29 " + Rep("01", 126)}, {std::vector<uint32_t>(129, 1), "-"}};
  for (const auto& o : oids) EXPECT_EQ(o.second, Value(SNMP_TYPE_OBJID, o.first.data(), int(o.first.size() * 4)));
  // The binding name follows the same rules.
  const uint32_t bad[] = {3, 1};
  Trap t;
  EXPECT_EQ(-1, trap_pack_add(&t.c, bad, 2, SNMP_TYPE_NULL, nullptr, 0));
  Trap u;
  ASSERT_EQ(0, trap_pack_add(&u.c, objid_sysuptime, objid_sysuptime_len, SNMP_TYPE_NULL, nullptr, 0));
  EXPECT_EQ("30 82 00 0C 06 08 2B 06 01 02 01 01 03 00 05 00", u.End().substr(28 * 3));
}

TEST(TrapBuilder, AFullPacket) {
  // The last binding that fits leaves the packet at most 2048 bytes, the
  // next one fails without writing past the end.
  const std::string s300(300, 'b');
  Trap t;
  int added = 0;
  while (t.Add(SNMP_TYPE_OCTETSTRING, s300.data(), 300) == 0) ++added;
  EXPECT_EQ(6, added);  // 28 + 6 * 311 = 1894; a seventh needs 311 more
  EXPECT_EQ(nullptr, t.c.cursor);
  Trap u;
  for (int i = 0; i < 6; ++i) ASSERT_EQ(0, u.Add(SNMP_TYPE_OCTETSTRING, s300.data(), 300));
  // Exactly the rest: 2048 - 1894 - 4 (header) - 3 (name) - 3 (04 81 xx) = 144 bytes.
  ASSERT_EQ(0, u.Add(SNMP_TYPE_OCTETSTRING, s300.data(), 144));
  EXPECT_EQ(0u, u.c.packet_free);
  std::string p = u.End();
  ASSERT_EQ(2048u * 3 - 1, p.size());
  EXPECT_EQ("30 82 07 FC", p.substr(0, 11));
  EXPECT_EQ("30 82 07 E4", p.substr(24 * 3, 11));  // 2048 - 28
}

TEST(TrapBuilder, ParseOid) {
  struct Row { int room; const char* text; int n; std::vector<uint32_t> out; } rows[] = {
      {8, "1.3.6.1", 4, {1, 3, 6, 1}}, {8, "..1..2.", 2, {1, 2}}, {8, "1.x.3", 3, {1, 0, 3}},
      {2, "1.3.6", 2, {1, 3, 77}},  // nothing written past the room
      {8, nullptr, 0, {}}, {0, "1.3", 0, {}}, {8, "", 0, {}}};
  for (const Row& r : rows) {
    std::vector<uint32_t> o(8, 77);
    EXPECT_EQ(r.n, parse_oid(o.data(), r.room, r.text)) << &r - rows;
    EXPECT_EQ(r.out, std::vector<uint32_t>(o.begin(), o.begin() + r.out.size())) << &r - rows;
  }
  EXPECT_EQ(0, parse_oid(nullptr, 8, "1.3"));
  // Only the first 127 characters are read: "9." 63 times is 126
  // characters, so the 64th field is cut to nothing after its first digit.
  std::string text;
  for (int i = 0; i < 70; ++i) text += "9.";
  std::vector<uint32_t> many(100);
  EXPECT_EQ(64, parse_oid(many.data(), 100, text.c_str()));
}

}  // namespace
