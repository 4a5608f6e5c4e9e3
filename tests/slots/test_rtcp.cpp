// RTCP source-description and goodbye packets: exact bytes, clipping to the
// caller's buffer, and dissection by an independent RTCP implementation
// (tshark reading a UDP capture made by text2pcap).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "slots/rtcp.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Type = RTPC::SDES::Item::Type;

// Encodes into a heap buffer of exactly `size` bytes (so the sanitizer sees
// any write past it) and returns the bytes the packet claims.
Bytes encode(const RTPC::Msg& m, unsigned int size = 1024) {
  std::vector<char> buf(size, '\x5A');
  unsigned int n = m.encode(buf.data(), size);
  EXPECT_LE(n, size);
  return Bytes(buf.begin(), buf.begin() + std::min<std::size_t>(n, size));
}

Bytes bytes(std::initializer_list<int> l) { return Bytes(l.begin(), l.end()); }
Bytes operator+(Bytes a, const std::string& s) { return a.insert(a.end(), s.begin(), s.end()), a; }
Bytes operator+(Bytes a, const Bytes& b) { return a.insert(a.end(), b.begin(), b.end()), a; }

TEST(Rtcp, ByteExamples) {
  EXPECT_EQ(encode(RTPC::BYE(0x11223344, "session end")),
            bytes({0x81, 0xCB, 0x00, 0x04, 0x11, 0x22, 0x33, 0x44, 0x0B}) + std::string("session end"));
  EXPECT_EQ(encode(RTPC::BYE(0xA1B2C3D4, "")), bytes({0x81, 0xCB, 0x00, 0x01, 0xA1, 0xB2, 0xC3, 0xD4}));

  RTPC::SDES sdes(0x11223344);
  sdes.add(Type::CNAME, "Ostrova Velmorant");
  EXPECT_EQ(encode(sdes), bytes({0x81, 0xCA, 0x00, 0x06, 0x11, 0x22, 0x33, 0x44, 0x01, 0x11}) +
                              std::string("Ostrova Velmorant") + bytes({0}));

  // Items keep their order; the list ends with a null item padded to a word.
  RTPC::SDES three(7);
  three.add(Type::CNAME, "ab");
  three.add(Type::EMAIL, "c");
  three.add(Type::PHONE, "");
  EXPECT_EQ(encode(three), bytes({0x81, 0xCA, 0x00, 0x04, 0, 0, 0, 7, 1, 2, 'a', 'b', 3, 1, 'c', 4, 0, 0, 0, 0}));
}

TEST(Rtcp, BuffersOfSevenBytesOrLessGetNothing) {
  RTPC::SDES sdes(1);
  sdes.add(Type::CNAME, "x");
  RTPC::BYE bye(1, "r");
  for (unsigned int size = 0; size <= 7; ++size) {
    std::vector<char> buf(8, '\x5A');
    EXPECT_EQ(sdes.encode(buf.data(), size), 0u) << size;
    EXPECT_EQ(bye.encode(buf.data(), size), 0u) << size;
    EXPECT_EQ(buf, std::vector<char>(8, '\x5A')) << "written with size " << size;
  }
}

TEST(Rtcp, LongTextsAreCutTo255) {
  const std::string big(300, 'q');
  RTPC::SDES sdes(2);
  sdes.add(Type::CNAME, big);
  Bytes s = encode(sdes);
  ASSERT_EQ(s.size(), 4u + 4 + 2 + 255 + 3);  // end of list and padding
  EXPECT_EQ(s[9], 255);
  EXPECT_EQ(s[10 + 254], 'q');
  EXPECT_EQ(s[10 + 255], 0);

  Bytes b = encode(RTPC::BYE(2, big));
  ASSERT_EQ(b.size(), 4u + 4 + 1 + 255);
  EXPECT_EQ(b[8], 255);
  EXPECT_EQ(b.back(), 'q');
}

// Items that do not fit are left out from the first one that does not,
// each checked with room for the end of the list after it.
TEST(Rtcp, SdesKeepsTheLeadingItemsThatFit) {
  RTPC::SDES sdes(0x01020304);
  sdes.add(Type::CNAME, "Ostrova");  // 9 bytes, 12 with end and padding
  sdes.add(Type::EMAIL, "a@b");
  sdes.add(Type::PHONE, "1");        // would fit, but comes after one that does not
  EXPECT_EQ(encode(sdes, 20), bytes({0x81, 0xCA, 0x00, 0x04, 1, 2, 3, 4, 1, 7}) + std::string("Ostrova") +
                                  bytes({0, 0, 0}));
  EXPECT_EQ(encode(sdes, 23).size(), 20u);
  // With no room for any item the chunk is the SSRC and an empty list;
  // items are only tried with more than 7 bytes left after the SSRC.
  EXPECT_EQ(encode(sdes, 12), bytes({0x81, 0xCA, 0x00, 0x02, 1, 2, 3, 4, 0, 0, 0, 0}));
  RTPC::SDES tiny(0x01020304);
  tiny.add(Type::CNAME, "x");
  EXPECT_EQ(encode(tiny, 15), bytes({0x81, 0xCA, 0x00, 0x02, 1, 2, 3, 4, 0, 0, 0, 0}));
  EXPECT_EQ(encode(tiny, 16), bytes({0x81, 0xCA, 0x00, 0x02, 1, 2, 3, 4, 1, 1, 'x', 0}));

  // Buffers not a multiple of 4: three short items would each pass a check
  // of their own size while the list's end and padding overrun the buffer.
  RTPC::SDES tight(9);
  tight.add(Type::CNAME, "");
  tight.add(Type::EMAIL, "x");
  tight.add(Type::PHONE, "y");
  EXPECT_EQ(encode(tight, 17), bytes({0x81, 0xCA, 0x00, 0x03, 0, 0, 0, 9, 1, 0, 3, 1, 'x', 0, 0, 0}));
}

// A chunk must end with a null item: an SDES without items still carries
// it, and a buffer without room for it gets nothing.
TEST(Rtcp, SdesChunkAlwaysEndsItsList) {
  RTPC::SDES empty(0x55);
  EXPECT_EQ(encode(empty), bytes({0x81, 0xCA, 0x00, 0x02, 0, 0, 0, 0x55, 0, 0, 0, 0}));
  for (unsigned int size = 8; size < 12; ++size) EXPECT_TRUE(encode(empty, size).empty()) << size;

  // A type 0 item would end the list early; it is left out.
  RTPC::SDES zero(1);
  zero.add(static_cast<Type>(0), "ab");
  zero.add(Type::CNAME, "c");
  EXPECT_EQ(encode(zero), bytes({0x81, 0xCA, 0x00, 0x02, 0, 0, 0, 1, 1, 1, 'c', 0}));
}

TEST(Rtcp, ByeReasonIsCutToTheRoom) {
  RTPC::BYE bye(0x11223344, "session end");
  EXPECT_EQ(encode(bye, 12), bytes({0x81, 0xCB, 0x00, 0x02, 0x11, 0x22, 0x33, 0x44, 3, 's', 'e', 's'}));
  // Less than a word after the SSRC: no reason at all rather than a
  // length byte whose padding would not fit.
  for (unsigned int size = 8; size < 12; ++size)
    EXPECT_EQ(encode(bye, size), bytes({0x81, 0xCB, 0x00, 0x01, 0x11, 0x22, 0x33, 0x44})) << size;
  EXPECT_EQ(encode(bye, 19).size(), 16u);
}

// Every buffer size yields a well-formed packet (or nothing) that stays
// inside the buffer: header, length in words and a terminated item list.
TEST(Rtcp, EverySizeGivesAWellFormedPacket) {
  RTPC::SDES sdes(0xCAFEBABE);
  sdes.add(Type::CNAME, "Ostrova Velmorant");
  sdes.add(Type::EMAIL, "ops@example.net");
  sdes.add(Type::PHONE, "+1 555 0100");
  RTPC::BYE bye(0xCAFEBABE, "session end");
  std::size_t lastItems = 0;
  for (unsigned int size = 8; size <= 72; ++size) {
    SCOPED_TRACE(size);
    Bytes s = encode(sdes, size);
    ASSERT_GE(s.size(), size < 12 ? 0u : 12u);
    if (!s.empty()) {
      ASSERT_EQ(s.size() % 4, 0u);
      EXPECT_EQ(s[0], 0x81);
      EXPECT_EQ((s[2] << 8 | s[3]) + 1u, s.size() / 4);
      std::size_t off = 8, items = 0;
      while (off < s.size() && s[off] != 0) {
        EXPECT_EQ(s[off], sdes.items()[items].type());
        off += 2 + s[off + 1];
        ++items;
      }
      ASSERT_LT(off, s.size()) << "item list without its end";
      for (; off < s.size(); ++off) EXPECT_EQ(s[off], 0);
      EXPECT_GE(items, lastItems) << "a larger buffer lost an item";
      lastItems = items;
    }
    Bytes b = encode(bye, size);
    ASSERT_EQ(b.size() % 4, 0u);
    EXPECT_EQ((b[2] << 8 | b[3]) + 1u, b.size() / 4);
    if (b.size() > 8) {
      EXPECT_LE(b[8] + 9u, b.size());
    }
  }
  EXPECT_EQ(lastItems, 3u);
}

// ---- dissection by tshark ----

bool haveTool(const char* name) {
  std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

std::string run(const std::string& cmd) {
  std::string out;
  FILE* f = ::popen(cmd.c_str(), "r");
  if (!f) return out;
  char buf[512];
  while (std::fgets(buf, sizeof buf, f)) out += buf;
  ::pclose(f);
  return out;
}

// One line per packet, sent as UDP to port 5005 decoded as RTCP.
std::vector<std::string> dissect(const std::vector<Bytes>& packets, const std::string& fields) {
  char tmpl[] = "/tmp/tsd-rtcp-XXXXXX";
  const char* dir = ::mkdtemp(tmpl);
  if (!dir) return {};
  std::string d = dir;
  {
    std::ofstream txt(d + "/p.txt");
    for (auto& p : packets) {
      txt << "0000";
      char b[4];
      for (unsigned char x : p) {
        std::snprintf(b, sizeof b, " %02x", x);
        txt << b;
      }
      txt << "\n\n";
    }
  }
  std::string cmd = "text2pcap -q -u 5004,5005 " + d + "/p.txt " + d + "/p.pcap >/dev/null 2>&1 && "
                    "tshark -r " + d + "/p.pcap -d udp.port==5005,rtcp -T fields -E separator='|' " + fields +
                    " -e _ws.malformed 2>/dev/null";
  std::istringstream out(run(cmd));
  run("rm -rf '" + d + "'");
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(out, line)) lines.push_back(line);
  return lines;
}

TEST(RtcpTshark, PacketsDissectAsBuilt) {
  if (!haveTool("tshark") || !haveTool("text2pcap")) GTEST_SKIP() << "tshark not installed";
  RTPC::SDES session(0x5EED1234);
  session.add(Type::CNAME, "Ostrova Velmorant");
  session.add(Type::EMAIL, "ops@example.net");
  session.add(Type::PHONE, "+1 555 0100");
  RTPC::SDES empty(0x11);
  RTPC::SDES cut(0x22);
  cut.add(Type::CNAME, "Ostrova");
  cut.add(Type::EMAIL, "a@b");
  RTPC::SDES longText(0x33);
  longText.add(Type::PHONE, std::string(256, '7'));
  std::vector<Bytes> wire = {encode(session),
                             encode(RTPC::BYE(0x5EED1234, "session end")),
                             encode(RTPC::BYE(0x44, "")),
                             encode(empty),
                             encode(cut, 20),
                             encode(RTPC::BYE(0x55, "session end"), 12),
                             encode(longText)};
  auto rows = dissect(wire,
                      "-e rtcp.version -e rtcp.padding -e rtcp.sc -e rtcp.pt -e rtcp.length "
                      "-e rtcp.ssrc.identifier -e rtcp.sdes.type -e rtcp.sdes.length -e rtcp.sdes.text "
                      "-e rtcp.length_check");
  const std::string t255(255, '7');
  std::vector<std::string> expect = {
      "2|0|1|202|14|0x5eed1234|1,3,4,0|17,15,11|Ostrova Velmorant,ops@example.net,+1 555 0100|1|",
      "2|0|1|203|4|0x5eed1234||11|session end|1|",
      "2|0|1|203|1|0x00000044||||1|",
      "2|0|1|202|2|0x00000011|0|||1|",
      "2|0|1|202|4|0x00000022|1,0|7|Ostrova|1|",
      "2|0|1|203|2|0x00000055||3|ses|1|",
      "2|0|1|202|66|0x00000033|4,0|255|" + t255 + "|1|",
  };
  ASSERT_EQ(rows.size(), wire.size());
  for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i], expect[i]) << "packet " << i;
}

}  // namespace
