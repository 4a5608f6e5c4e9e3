// Keep-alive messages on the wire and in dumps.
#include <gtest/gtest.h>

#include <string>

#include "tests/radiolink/line_cmd_helpers.h"

namespace {

using line_cmd::PayloadOf;

TEST(KeepAlive, DigitalVersion1Radio) {
  s_data_cmd r = Record(DLI_KEEP_ALIVE, 0, 1);
  r.dstAddr = PROTO_ADDR_LGW;
  r.payload.rd_keep_alive.id = 5;
  r.payload.rd_keep_alive.channels_count = 1;
  r.payload.rd_keep_alive.channels[0].flag_rc = 1;
  r.payload.rd_keep_alive.channels[0].flag_sql = 1;
  Bytes p = PayloadOf(PROTO_MODE_DIGITAL, r);
  ASSERT_EQ(p.size(), 4u);
  EXPECT_EQ(Bytes(p.begin(), p.begin() + 3), (Bytes{0x05, 0x01, 0x04}));

  // Two channels' worth of bytes: only the first is kept.
  s_data_cmd in = line_cmd::Receive(PROTO_MODE_GATEWAY, DLI_KEEP_ALIVE, 0x0100, {5, 0x22, 0x08, 0x3F, 0x0F, 0}, 0x01);
  EXPECT_EQ(in.cmdStatus, 0);
  EXPECT_EQ(in.payload.rd_keep_alive.id, 5);
  EXPECT_EQ(in.payload.rd_keep_alive.channels_count, 1);
  const s_proto_digital_ka_channel& c = in.payload.rd_keep_alive.channels[0];
  EXPECT_EQ(c.flag_ptt, 1);
  EXPECT_EQ(c.flag_ptt_selcall, 1);
  EXPECT_EQ(c.flag_rc_line_state, 1);
  EXPECT_EQ(c.flag_rc + c.flag_self_hear + c.flag_receiver + c.flag_bss + c.flag_sql, 0);
  std::string d = Dump(in);
  EXPECT_NE(d.find("rd_keep_alive.channels_count : 1,\nrd_keep_alive.channels[0].flag_rc            : 0,\n"),
            std::string::npos);
  EXPECT_NE(d.find("rd_keep_alive.channels[0].flag_rc_line_state : 1,\n"
                   "rd_keep_alive.channels[0].flag_sql           : 0,\n"),
            std::string::npos);

  EXPECT_EQ(line_cmd::Receive(PROTO_MODE_GATEWAY, DLI_KEEP_ALIVE, 0x0100, {5, 0}, 0x01).cmdStatus,
            CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
}

TEST(KeepAlive, AnalogVersion1Radio) {
  s_data_cmd r = Record(ALI_KEEP_ALIVE, 0, 1);
  r.payload.ra_keep_alive.id = 5;
  r.payload.ra_keep_alive.channels_count = 1;
  r.payload.ra_keep_alive.channels[0].flag_ptt = 1;
  r.payload.ra_keep_alive.channels[0].flag_rs_error = 1;
  Bytes p = PayloadOf(PROTO_MODE_ANALOG, r);
  ASSERT_EQ(p.size(), 4u);
  EXPECT_EQ(Bytes(p.begin(), p.begin() + 3), (Bytes{0x05, 0x02, 0x10}));

  s_data_cmd in = line_cmd::Receive(PROTO_MODE_GATEWAY, ALI_KEEP_ALIVE, 0x0100, {9, 0x1F, 0x1F, 0}, 0x01);
  EXPECT_EQ(in.cmdStatus, 0);
  EXPECT_EQ(in.payload.ra_keep_alive.channels[0].flag_radio_reserv, 1);
  EXPECT_EQ(in.payload.ra_keep_alive.channels[0].flag_rs_error, 1);
  EXPECT_NE(Dump(in).find(".ra_keep_alive.channels[0].flag_radio_reserv: 1,\n"), std::string::npos);
}

TEST(KeepAlive, ModesAndVersions) {
  // Version 2, GGS mode: sent like version 1, refused by a gateway.
  s_data_cmd g = Record(DLI_KEEP_ALIVE, 1, 2);
  g.payload.gd_keep_alive.id = 4;
  int status = 1;
  EXPECT_EQ(PayloadOf(PROTO_MODE_DIGITAL, g, &status), (Bytes{4, 0}));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(line_cmd::Receive(PROTO_MODE_GATEWAY, DLI_KEEP_ALIVE, 0x1200, {4, 0}, 0x00).cmdStatus, CONVERT_BAD_MODE);
  // Version 2 radio mode carries the id alone.
  s_data_cmd v2 = line_cmd::Receive(PROTO_MODE_GATEWAY, DLI_KEEP_ALIVE, 0x1100, {6, 0}, 0x00);
  EXPECT_EQ(v2.cmdStatus, 0);
  EXPECT_NE(Dump(v2).find("rd_v2_keep_alive.id             : 6,\n"), std::string::npos);

  // An analog keep-alive in DCON mode is unknown in both directions.
  s_data_cmd d = Record(ALI_KEEP_ALIVE, 0, 3);
  PayloadOf(PROTO_MODE_ANALOG, d, &status);
  EXPECT_EQ(status, CONVERT_BAD_MODE);
  EXPECT_EQ(line_cmd::Receive(PROTO_MODE_GATEWAY, ALI_KEEP_ALIVE, 0x0300, {4, 0}, 0x01).cmdStatus, CONVERT_BAD_MODE);

  // DCON and GGS digital keep-alives carry the id.
  s_data_cmd dcon = line_cmd::Receive(PROTO_MODE_GATEWAY, DLI_KEEP_ALIVE, 0x0300, {8, 0}, 0x01);
  EXPECT_EQ(dcon.cmdStatus, 0);
  EXPECT_NE(Dump(dcon).find("dcon_dig_keep_alive.id             : 8,\n"), std::string::npos);
}

TEST(KeepAlive, GatewayKeepAlive) {
  s_data_cmd r = Record(GW_KEEP_ALIVE, 1);
  r.payload.v2_keep_alive.gateway_id = 3;
  r.payload.v2_keep_alive.bus_windows_size = 0x0102;
  Bytes p = PayloadOf(PROTO_MODE_GATEWAY, r);
  ASSERT_EQ(p.size(), 4u);
  EXPECT_EQ(Bytes(p.begin(), p.begin() + 3), (Bytes{0x03, 0x02, 0x01}));
  s_data_cmd in = line_cmd::Receive(PROTO_MODE_DIGITAL, GW_KEEP_ALIVE, 0x1000, p, 0x02);
  EXPECT_EQ(in.cmdStatus, 0);
  EXPECT_EQ(in.payload.v2_keep_alive.bus_windows_size, 0x0102);
  EXPECT_NE(Dump(in).find("v2_keep_alive.bus_windows_size : 258,\n"), std::string::npos);

  s_data_cmd v1 = Record(GW_KEEP_ALIVE, 0);
  EXPECT_TRUE(PayloadOf(PROTO_MODE_GATEWAY, v1).empty());
  std::string d = Dump(v1);
  EXPECT_EQ(d.find("v2_keep_alive"), std::string::npos);
  EXPECT_EQ(d.substr(d.size() - 21), "dstChannel   : 0x00,\n");
}

TEST(KeepAlive, RemoteAndTest) {
  s_data_cmd r = Record(GW_REMOTE_KEEP_ALIVE);
  r.dstAddr = PROTO_ADDR_RGW;
  r.payload.remote_keep_alive.state = 1;
  r.payload.remote_keep_alive.mode = 2;
  r.payload.remote_keep_alive.id = 3;
  EXPECT_EQ(PayloadOf(PROTO_MODE_GATEWAY, r), (Bytes{1, 2, 3, 0}));
  s_data_cmd shortr = line_cmd::Receive(PROTO_MODE_GATEWAY, GW_REMOTE_KEEP_ALIVE, 0, {1, 2}, 0x02);
  EXPECT_EQ(shortr.cmdStatus, CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  char buf[64];
  EXPECT_EQ(sprintf_data_cmd(buf, sizeof buf, &shortr, 0), 0);

  s_data_cmd t = Record(ALI_TEST_KEEP_ALIVE);
  t.payload.tst_keep_alive.id = 7;
  t.payload.tst_keep_alive.test_mode = 9;
  EXPECT_EQ(PayloadOf(PROTO_MODE_ANALOG, t), (Bytes{7, 9}));
  EXPECT_NE(Dump(t).find("tst_keep_alive.id        : 7,\ntst_keep_alive.test_mode : 9,\n"), std::string::npos);
}

}  // namespace
