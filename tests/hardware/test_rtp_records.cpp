// Device names, codec names, the RTP driver records (byte layouts and
// printers) and the RTP error texts.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "hardware/board/requests.h"
#include "hardware/devices.h"

namespace {

using Bytes = std::vector<uint8_t>;

template <class T>
Bytes encode(const T& r) {
  Bytes b(T::kSize, 0xEE);
  r.encode(b.data());
  return b;
}

template <class T>
std::string print(const T& r) {
  std::ostringstream o;
  o << r;
  return o.str();
}

TEST(RtpRecords, ConnectionParamsLayout) {
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
  const Bytes want{0xC0, 0xA8, 0x0A, 0x01, 0x1F, 0x40, 0, 0,     0x0A, 0x00, 0x00, 0x02,
                   0x1F, 0x42, 0x00, 0x08, 0x01, 0x02, 0, 2,     1,    1,    0,    0,
                   0xDE, 0xAD, 0xBE, 0xEF, 0,    0,    0, 0,     0,    0,    0,    0};
  EXPECT_EQ(encode(p), want);
  rtp_connection_params back;
  back.decode(want.data());
  EXPECT_EQ(encode(back), want);
  EXPECT_EQ(back.ssrc, 0xDEADBEEFu);
  EXPECT_EQ(back.tx_pt, 0x0102);
}

TEST(RtpRecords, WordRecordsLayout) {
  rtp_channel_info ci;
  EXPECT_EQ(encode(ci), Bytes(12, 0xFF));  // all three words -1 by default
  ci.tdm = 0x1234;
  ci.dev_no = 2;
  ci.chn = -2;
  EXPECT_EQ(encode(ci), (Bytes{0, 0, 0x12, 0x34, 0, 0, 0, 2, 0xFF, 0xFF, 0xFF, 0xFE}));
  rtp_channel_info back;
  back.decode(encode(ci).data());
  EXPECT_EQ(back.chn, -2);

  rtp_attach_session_params a;
  a.fd_rtp = 7;
  a.pid_rtp = 0x010203;
  EXPECT_EQ(encode(a), (Bytes{0, 0, 0, 7, 0, 1, 2, 3}));
  rtp_ext_attach_session_params e;
  e.fd_rtp = 9;
  e.pid_rtp = 65536;
  EXPECT_EQ(encode(e), (Bytes{0, 0, 0, 9, 0, 1, 0, 0}));
  rtp_ext_init_params i;
  i.etype = 0xA1B2;
  EXPECT_EQ(encode(i), (Bytes{0xA1, 0xB2}));
  rtp_ext_init_params ib;
  ib.decode(encode(i).data());
  EXPECT_EQ(ib.etype, 0xA1B2);
}

TEST(RtpRecords, Printers) {
  rtp_connection_params p;
  p.packet_factor = 2;
  p.rx_pt = 8;
  p.tx_pt = 0;
  p.ssrc = 1;
  EXPECT_EQ(print(p),
            "  rtp_connection_params\n  {\n   packet_factor = 2\n   rx_pt = 8\n   tx_pt = 0\n   ssrc = 1\n  }\n");
  // Large identifiers print unsigned.
  p.ssrc = 0xFFFFFFFF;
  EXPECT_NE(print(p).find("   ssrc = 4294967295\n"), std::string::npos);

  rtp_channel_info ci;
  ci.tdm = 5;
  EXPECT_EQ(print(ci), "rtp_channel_info { tdm=5 dev_no=-1 chn=-1 }");

  rtp_attach_session_params a;
  a.fd_rtp = 3;
  a.pid_rtp = 100;
  EXPECT_EQ(print(a), "  rtp_attach_session_params\n  {\n   fd_rtp = 3\n   pid_rtp = 100\n  }\n");
  rtp_ext_attach_session_params e;
  e.fd_rtp = -1;
  EXPECT_EQ(print(e), "  rtp_ext_attach_session_params\n  {\n   fd_rtp = -1\n   pid_rtp = 0\n  }\n");
  rtp_ext_init_params i;
  i.etype = 65535;
  EXPECT_EQ(print(i), "  rtp_ext_init_params\n  {\n   etype = 65535\n  }\n");
}

}  // namespace
