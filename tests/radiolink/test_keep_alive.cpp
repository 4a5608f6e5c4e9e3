// Keep-alive messages on the wire and in dumps.
#include "tests/radiolink/radiolink_frames.h"

namespace {

TEST(KeepAlive, Version1RadioFlags) {
  // Id, then two flag bytes for the one channel: rc and sql; ptt and rs_error.
  s_proto_rd_keep_alive d =
      RoundTrip(PROTO_MODE_DIGITAL, PROTO_MODE_GATEWAY, DLI_KEEP_ALIVE, 0x0100, "05 01 04 ??").payload.rd_keep_alive;
  EXPECT_EQ(V(d.id, d.channels_count, d.channels[0].flag_rc, d.channels[0].flag_sql, d.channels[0].flag_ptt),
            V(5, 1, 1, 1, 0));
  s_proto_ra_keep_alive a =
      RoundTrip(PROTO_MODE_ANALOG, PROTO_MODE_GATEWAY, ALI_KEEP_ALIVE, 0x0100, "05 02 10 ??").payload.ra_keep_alive;
  EXPECT_EQ(V(a.id, a.channels[0].flag_ptt, a.channels[0].flag_rs_error, a.channels[0].flag_radio_reserv),
            V(5, 1, 1, 0));

  // Two channels' worth of bytes: only the first is kept.
  s_data_cmd in = Receive(PROTO_MODE_GATEWAY, DLI_KEEP_ALIVE, 0x0100, H("05 22 08 3F 0F 00"), 0x01);
  EXPECT_EQ(V(in.cmdStatus, in.payload.rd_keep_alive.id, in.payload.rd_keep_alive.channels_count), V(0, 5, 1));
  const s_proto_digital_ka_channel& c = in.payload.rd_keep_alive.channels[0];
  EXPECT_EQ(c.flag_ptt + c.flag_ptt_selcall + c.flag_rc_line_state, 3);
  EXPECT_EQ(c.flag_rc + c.flag_self_hear + c.flag_receiver + c.flag_bss + c.flag_sql, 0);
  EXPECT_TRUE(Has(Dump(in), "rd_keep_alive.channels_count : 1,\nrd_keep_alive.channels[0].flag_rc            : 0,\n"));
  EXPECT_TRUE(Has(Dump(in), "rd_keep_alive.channels[0].flag_rc_line_state : 1,\n"
                            "rd_keep_alive.channels[0].flag_sql           : 0,\n"));
  EXPECT_EQ(Receive(PROTO_MODE_GATEWAY, DLI_KEEP_ALIVE, 0x0100, H("05 00"), 0x01).cmdStatus,
            CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);

  in = Receive(PROTO_MODE_GATEWAY, ALI_KEEP_ALIVE, 0x0100, H("09 1F 1F 00"), 0x01);
  EXPECT_EQ(V(in.cmdStatus, in.payload.ra_keep_alive.channels[0].flag_radio_reserv), V(0, 1));
  EXPECT_EQ(in.payload.ra_keep_alive.channels[0].flag_rs_error, 1);
  EXPECT_TRUE(Has(Dump(in), ".ra_keep_alive.channels[0].flag_radio_reserv: 1,\n"));
}

// Received by a gateway: the status and the dump line of each mode and
// version.
TEST(KeepAlive, ModesAndVersions) {
  struct Row {
    uint16_t id, flags;
    uint8_t dst;
    int status;
    const char* line;
  };
  const Row rows[] = {
      {DLI_KEEP_ALIVE, 0x1200, 0x00, CONVERT_BAD_MODE, nullptr},  // version 2 GGS
      {DLI_KEEP_ALIVE, 0x1100, 0x00, 0, "rd_v2_keep_alive.id             : 6,\n"},
      {ALI_KEEP_ALIVE, 0x0300, 0x01, CONVERT_BAD_MODE, nullptr},  // analog has no DCON
      {DLI_KEEP_ALIVE, 0x0300, 0x01, 0, "dcon_dig_keep_alive.id             : 6,\n"},
  };
  for (const Row& r : rows) {
    s_data_cmd in = Receive(PROTO_MODE_GATEWAY, r.id, r.flags, H("06 00"), r.dst);
    EXPECT_EQ(in.cmdStatus, r.status) << std::hex << r.flags;
    EXPECT_TRUE(!r.line || Has(Dump(in), r.line)) << Dump(in);
  }
  // Version 2, GGS mode is still sent like version 1; analog DCON is not.
  s_data_cmd g = Record(DLI_KEEP_ALIVE, 1, 2);
  g.payload.gd_keep_alive.id = 4;
  int status = 1;
  EXPECT_EQ(Hex(PayloadOf(PROTO_MODE_DIGITAL, g, &status), "04 ??"), "04 ??");
  EXPECT_EQ(status, 0);
  PayloadOf(PROTO_MODE_ANALOG, Record(ALI_KEEP_ALIVE, 0, 3), &status);
  EXPECT_EQ(status, CONVERT_BAD_MODE);
}

TEST(KeepAlive, GatewayRemoteAndTest) {
  // Version 2: gateway id and bus window size.
  s_data_cmd in = RoundTrip(PROTO_MODE_GATEWAY, PROTO_MODE_DIGITAL, GW_KEEP_ALIVE, 0x1000, "03 02 01 ??");
  EXPECT_EQ(V(in.payload.v2_keep_alive.gateway_id, in.payload.v2_keep_alive.bus_windows_size), V(3, 0x0102));
  EXPECT_TRUE(Has(Dump(in), "v2_keep_alive.bus_windows_size : 258,\n"));
  // Version 1: an empty payload, and the dump shows the header alone.
  s_data_cmd v1 = Record(GW_KEEP_ALIVE, 0);
  EXPECT_TRUE(PayloadOf(PROTO_MODE_GATEWAY, v1).empty());
  EXPECT_EQ(Body(v1), "");

  // The remote gateway's: state, mode, id.
  s_data_cmd rk = RoundTrip(PROTO_MODE_GATEWAY, PROTO_MODE_GATEWAY, GW_REMOTE_KEEP_ALIVE, 0, "01 02 03 ??");
  EXPECT_EQ(V(rk.payload.remote_keep_alive.state, rk.payload.remote_keep_alive.mode, rk.payload.remote_keep_alive.id),
            V(1, 2, 3));
  s_data_cmd shortr = Receive(PROTO_MODE_GATEWAY, GW_REMOTE_KEEP_ALIVE, 0, H("01 02"), 0x02);
  EXPECT_EQ(shortr.cmdStatus, CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  char buf[64];
  EXPECT_EQ(sprintf_data_cmd(buf, sizeof buf, &shortr, 0), 0);

  s_data_cmd t = RoundTrip(PROTO_MODE_ANALOG, PROTO_MODE_GATEWAY, ALI_TEST_KEEP_ALIVE, 0, "07 09");
  EXPECT_TRUE(Has(Dump(t), "tst_keep_alive.id        : 7,\ntst_keep_alive.test_mode : 9,\n"));
}

}  // namespace
