// The RTP driver records: byte layouts, decoding and printers.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "hardware/board/requests.h"
#include "hardware/devices.h"

namespace {

// The record's bytes in hex, unused bytes showing as EE.
template <class T>
std::string hex(const T& r) {
  std::vector<uint8_t> b(T::kSize, 0xEE);
  r.encode(b.data());
  std::string s;
  char two[3];
  for (uint8_t x : b) s += (std::snprintf(two, sizeof two, "%02X", x), two);
  return s;
}
template <class T>
std::string print(const T& r) {
  std::ostringstream o;
  o << r;
  return o.str();
}
template <class T>
T decoded(const T& r) {
  std::vector<uint8_t> b(T::kSize);
  r.encode(b.data());
  T back;
  back.decode(b.data());
  return back;
}

TEST(RtpRecords, LayoutsDecodingAndPrinters) {
  rtp_connection_params p;
  p.dhost_addr = 0xC0A80A01;  // 192.168.10.1
  p.dhost_port = 0x1F40;
  p.shost_addr = 0x0A000002;
  p.shost_port = 0x1F42;
  p.rx_pt = 8;
  p.tx_pt = 0x0102;
  p.packet_factor = 2;
  p.vad = 1;
  p.crate = 1;
  p.ssrc = 0xDEADBEEF;
  EXPECT_EQ(hex(p), "C0A80A011F4000000A0000021F42000801020002010100" "00DEADBEEF0000000000000000");
  EXPECT_EQ(hex(decoded(p)), hex(p));
  EXPECT_EQ(print(p), "  rtp_connection_params\n  {\n   packet_factor = 2\n   rx_pt = 8\n   tx_pt = 258\n"
                      "   ssrc = 3735928559\n  }\n");  // identifiers print unsigned
  p.ssrc = 4294967295;
  std::ostringstream hexed;
  hexed << std::hex << p << 255;  // decimal values; the stream stays in hex
  EXPECT_EQ(hexed.str(), "  rtp_connection_params\n  {\n   packet_factor = 2\n   rx_pt = 8\n   tx_pt = 258\n"
                         "   ssrc = 4294967295\n  }\nff");

  rtp_channel_info ci;
  EXPECT_EQ(hex(ci), "FFFFFFFFFFFFFFFFFFFFFFFF");  // all three words -1 by default
  ci.tdm = 0x1234;
  ci.dev_no = 2;
  ci.chn = -2;
  EXPECT_EQ(hex(ci), "0000123400000002FFFFFFFE");
  EXPECT_EQ(decoded(ci).chn, -2);
  EXPECT_EQ(print(ci), "rtp_channel_info { tdm=4660 dev_no=2 chn=-2 }");

  rtp_attach_session_params a;
  a.fd_rtp = 7;
  a.pid_rtp = 0x010203;
  EXPECT_EQ(hex(a), "0000000700010203");
  EXPECT_EQ(print(a), "  rtp_attach_session_params\n  {\n   fd_rtp = 7\n   pid_rtp = 66051\n  }\n");
  rtp_ext_attach_session_params e;
  e.fd_rtp = -1;
  EXPECT_EQ(print(e), "  rtp_ext_attach_session_params\n  {\n   fd_rtp = -1\n   pid_rtp = 0\n  }\n");
  e.fd_rtp = 9;
  e.pid_rtp = 65536;
  EXPECT_EQ(hex(e), "0000000900010000");
  rtp_ext_init_params i;
  i.etype = 0xFFFE;
  EXPECT_EQ(hex(i), "FFFE");
  EXPECT_EQ(decoded(i).etype, 0xFFFE);
  EXPECT_EQ(print(i), "  rtp_ext_init_params\n  {\n   etype = 65534\n  }\n");
}

}  // namespace
