// RTCP source-description and goodbye packets: exact bytes, clipping to the
// caller's buffer, and dissection by an independent RTCP implementation
// (tshark reading a UDP capture made by text2pcap).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "slots/rtcp.h"
#include "slots_test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Type = RTPC::SDES::Item::Type;

// Encodes into a heap buffer of exactly `size` bytes, so that the sanitizer
// sees any write past it.
Bytes encode(const RTPC::Msg& m, unsigned int size = 1024) {
  std::vector<char> buf(size, '\x5A');
  unsigned int n = m.encode(buf.data(), size);
  EXPECT_LE(n, size);
  return Bytes(buf.begin(), buf.begin() + std::min<std::size_t>(n, size));
}

// Hex bytes, then text, then more hex bytes.
Bytes B(const std::string& hex, const std::string& text = "", const std::string& tail = "") {
  Bytes b = slottest::FromHex(hex), t = slottest::FromHex(tail);
  b.insert(b.end(), text.begin(), text.end());
  b.insert(b.end(), t.begin(), t.end());
  return b;
}

RTPC::SDES sdes(unsigned int ssrc, std::initializer_list<std::pair<Type, std::string>> items) {
  RTPC::SDES m(ssrc);
  for (auto& i : items) m.add(i.first, i.second);
  return m;
}

TEST(Rtcp, ByteExamples) {
  EXPECT_EQ(encode(RTPC::BYE(0x11223344, "session end")), B("81CB0004 11223344 0B", "session end"));
  EXPECT_EQ(encode(RTPC::BYE(0xA1B2C3D4, "")), B("81CB0001 A1B2C3D4"));
  EXPECT_EQ(encode(sdes(0x11223344, {{Type::CNAME, "Ostrova Velmorant"}})),
            B("81CA0006 11223344 0111", "Ostrova Velmorant", "00"));
  // Items keep their order; the list ends with a null item padded to a word.
  EXPECT_EQ(encode(sdes(7, {{Type::CNAME, "ab"}, {Type::EMAIL, "c"}, {Type::PHONE, ""}})),
            B("81CA0004 00000007 0102", "ab", "0301 63 04 00000000"));
  // A chunk without items still ends its list; type 0 would end it early.
  EXPECT_EQ(encode(RTPC::SDES(0x55)), B("81CA0002 00000055 00000000"));
  EXPECT_EQ(encode(sdes(1, {{static_cast<Type>(0), "ab"}, {Type::CNAME, "c"}})), B("81CA0002 00000001 0101 63 00"));
}

TEST(Rtcp, TextsAreCutTo255) {
  const std::string big(300, 'q');
  Bytes s = encode(sdes(2, {{Type::CNAME, big}}));
  ASSERT_EQ(s.size(), 4u + 4 + 2 + 255 + 3);  // end of list and padding
  EXPECT_EQ(Bytes({s[9], s[10 + 254], s[10 + 255]}), Bytes({255, 'q', 0}));
  Bytes b = encode(RTPC::BYE(2, big));
  ASSERT_EQ(b.size(), 4u + 4 + 1 + 255);
  EXPECT_EQ(Bytes({b[8], b.back()}), Bytes({255, 'q'}));
}

TEST(Rtcp, SmallBuffers) {
  RTPC::SDES one = sdes(0x01020304, {{Type::CNAME, "x"}});
  RTPC::BYE bye(0x11223344, "session end");
  for (unsigned int size = 0; size <= 7; ++size) {
    std::vector<char> buf(8, '\x5A');
    EXPECT_EQ(one.encode(buf.data(), size) + bye.encode(buf.data(), size), 0u) << size;
    EXPECT_EQ(buf, std::vector<char>(8, '\x5A')) << "written with size " << size;
  }
  // No room for the end of the item list: nothing rather than a bad chunk.
  for (unsigned int size = 8; size < 12; ++size) EXPECT_TRUE(encode(one, size).empty()) << size;
  // Items are only tried with more than 7 bytes left after the SSRC.
  EXPECT_EQ(encode(one, 15), B("81CA0002 01020304 00000000"));
  EXPECT_EQ(encode(one, 16), B("81CA0002 01020304 0101 78 00"));

  // The leading items that fit, each with room for the list's end after it.
  RTPC::SDES three = sdes(0x01020304, {{Type::CNAME, "Ostrova"}, {Type::EMAIL, "a@b"}, {Type::PHONE, "1"}});
  EXPECT_EQ(encode(three, 20), B("81CA0004 01020304 0107", "Ostrova", "000000"));
  EXPECT_EQ(encode(three, 23).size(), 20u);
  EXPECT_EQ(encode(three, 27).size(), 24u);  // EMAIL too, PHONE not
  EXPECT_EQ(encode(three, 28).size(), 28u);
  // Each item is checked for its own length plus 3, rounded to a word, even
  // where the offset it starts at would let it squeeze in.
  EXPECT_EQ(encode(sdes(1, {{Type::CNAME, "a"}, {Type::EMAIL, "bc"}}), 16), B("81CA0002 00000001 0101 61 00"));
  // Sizes off a word: three short items each fit by their own size while
  // the list's end and padding would overrun the buffer.
  EXPECT_EQ(encode(sdes(9, {{Type::CNAME, ""}, {Type::EMAIL, "x"}, {Type::PHONE, "y"}}), 17),
            B("81CA0003 00000009 0100 0301 78 000000"));

  // A BYE reason is cut to the room; with less than a word left it is left
  // out rather than a length byte whose padding does not fit.
  EXPECT_EQ(encode(bye, 12), B("81CB0002 11223344 03", "ses"));
  for (unsigned int size = 8; size < 12; ++size) EXPECT_EQ(encode(bye, size), B("81CB0001 11223344")) << size;
  EXPECT_EQ(encode(bye, 19).size(), 16u);
}

// One '|'-separated line per packet sent as UDP to port 5005 and decoded as
// RTCP.
std::vector<std::string> dissect(const std::vector<Bytes>& packets, const std::string& fields) {
  char d[] = "/tmp/tsd-rtcp-XXXXXX";
  if (!::mkdtemp(d)) return {};
  const std::string dir = d;
  {
    std::ofstream txt(dir + "/p.txt");
    char b[4];
    for (auto& p : packets) {
      txt << "0000";
      for (unsigned char x : p) txt << (std::snprintf(b, sizeof b, " %02x", x), b);
      txt << "\n\n";
    }
  }
  const std::string cmd = "text2pcap -q -u 5004,5005 " + dir + "/p.txt " + dir + "/p.pcap >/dev/null 2>&1 && " +
                          "tshark -r " + dir + "/p.pcap -d udp.port==5005,rtcp -T fields -E separator='|' " + fields +
                          " -e _ws.malformed 2>/dev/null; rm -rf '" + dir + "'";
  std::string out;
  if (FILE* f = ::popen(cmd.c_str(), "r")) {
    for (char buf[512]; std::fgets(buf, sizeof buf, f);) out += buf;
    ::pclose(f);
  }
  std::istringstream in(out);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(RtcpTshark, PacketsDissectAsBuilt) {
  if (std::system("command -v tshark >/dev/null && command -v text2pcap >/dev/null") != 0)
    FAIL() << "tshark or text2pcap not installed (scripts/deps.sh installs them)";
  std::vector<Bytes> wire = {
      encode(sdes(0x5EED1234, {{Type::CNAME, "Ostrova Velmorant"}, {Type::EMAIL, "ops@x.net"}, {Type::PHONE, "+1 5"}})),
      encode(RTPC::BYE(0x5EED1234, "session end")),
      encode(RTPC::BYE(0x44, "")),
      encode(RTPC::SDES(0x11)),
      encode(sdes(0x22, {{Type::CNAME, "Ostrova"}, {Type::EMAIL, "a@b"}}), 20),
      encode(RTPC::BYE(0x55, "session end"), 12),
  };
  auto rows = dissect(wire,
                      "-e rtcp.version -e rtcp.padding -e rtcp.sc -e rtcp.pt -e rtcp.length -e rtcp.ssrc.identifier "
                      "-e rtcp.sdes.type -e rtcp.sdes.length -e rtcp.sdes.text -e rtcp.length_check");
  std::vector<std::string> expect = {
      "2|0|1|202|11|0x5eed1234|1,3,4,0|17,9,4|Ostrova Velmorant,ops@x.net,+1 5|1|",
      "2|0|1|203|4|0x5eed1234||11|session end|1|",
      "2|0|1|203|1|0x00000044||||1|",
      "2|0|1|202|2|0x00000011|0|||1|",
      "2|0|1|202|4|0x00000022|1,0|7|Ostrova|1|",
      "2|0|1|203|2|0x00000055||3|ses|1|",
  };
  EXPECT_EQ(rows, expect);
}

}  // namespace
