// Channel configuration of the digital line interface: wire layouts, dumps
// and the VORKGW mapping.
#include <cmath>

#include "tests/radiolink/radiolink_frames.h"

namespace {

// The radio v1 layout of one channel: flags at bits 1-4 and 7, snr 12.5,
// delay_rx -2, type, conn, call, rc_state, vad timeout, window, vad level,
// detector -200, signal 16; the line block (-1.5, 2.25, control 2); delay_tx 10000.
const char kRadioV1[] =
    "9E 00 00 00 48 41 FE FF FF FF 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 38 FF 10 00 "
    "00 00 C0 BF 00 00 10 40 02 10 27 00 00";
// The line block: echo thresholds 0.5 and 0.25, control bits 0 and 1.
const char kLines[] = "00 00 00 3F 00 00 80 3E 03";

Bytes Cat(const char* a, const char* b) {
  Bytes x = H(a), y = H(b);
  x.insert(x.end(), y.begin(), y.end());
  return x;
}

TEST(DigitalConfig, RadioV1Layout) {
  s_data_cmd r = Record(0);
  EXPECT_EQ(Recv(convert_recv_digital_config, Bytes(39, 0), &r, 0, 1), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  ASSERT_EQ(Recv(convert_recv_digital_config, Bytes(40, 0), &r, 0, 1), 0);
  EXPECT_EQ(r.payload.rd_config.channels_count, 1);

  s_data_cmd d = RoundTrip(PROTO_MODE_DIGITAL, PROTO_MODE_GATEWAY, DLI_SET_CONFIG, Flags(0, 1), kRadioV1);
  const s_radio_channel_digital_config& ch = d.payload.rd_config.channels[0];
  EXPECT_EQ(ch.flag_rc_mode + ch.flag_ptt_prio + ch.flag_sql_prio + ch.flag_wire + ch.flag_agc_rx, 5);
  EXPECT_EQ(V(ch.snr, ch.delay_rx, ch.radio_type, ch.radio_call, ch.vad_window), V(12.5f, -2, 0x0201, 0x0605, 0x0C0B));
  EXPECT_EQ(V(ch.vad_det_level, ch.detector_level, ch.signal_level, ch.delay_tx), V(0x0D, -200, 16, 10000));
  EXPECT_EQ(d.payload.rd_config.line_config[0].line_echo_threshold, -1.5f);
  EXPECT_EQ(d.payload.rd_config.line_config[0].line_control, 0);
  EXPECT_EQ(d.payload.rd_config.line_config[1].line_control, 1);

  // Numbers with a fraction travel as text with six decimals.
  VORKGW::ProtoVorkPacket p = Encode(d);
  const VORKGW::ProtoVorkPacketPayloadDigitalSetConfig& v = p.get_payload().get_dli_set_config();
  ASSERT_TRUE(v.radio_v1_isSelected());
  EXPECT_EQ(std::string(v.get_radio_v1().get_channels()[0].get_snr()), "12.500000");
  EXPECT_EQ(std::string(v.get_radio_v1().get_lines().get_lines()[0].get_line_echo_threshold()), "-1.500000");
  EXPECT_EQ(v.get_radio_v1().get_channels()[0].get_detector_level().getValue(), -200);

  VORKGW::ProtoVorkPacketPayloadGWSetConfig g;
  g.select_radio_digital_v1(v.get_radio_v1());
  d.dstAddr = PROTO_ADDR_DLI;
  s_data_cmd dec;
  ASSERT_TRUE(DecodeGatewayConfig(d, g, dec));
  Bytes sent;
  Trans(convert_trans_config, dec, 64, &sent);
  EXPECT_EQ(Hex(sent), kRadioV1);
  EXPECT_EQ(Trans(convert_trans_config, dec, 39), CONVERT_NOT_ENOUGHT_MEMORY);

  // Texts beyond single precision become infinities of their sign.
  auto huge = v.get_radio_v1();
  huge.set_channels()[0].set_snr("1e39");
  huge.set_lines().set_lines()[0].set_line_echo_threshold("-1e39");
  g.select_radio_digital_v1(huge);
  ASSERT_TRUE(DecodeGatewayConfig(d, g, dec));
  EXPECT_EQ(dec.payload.rd_config.channels[0].snr, HUGE_VALF);
  EXPECT_EQ(dec.payload.rd_config.line_config[0].line_echo_threshold, -HUGE_VALF);
}

TEST(DigitalConfig, GgsChannelsAndLineBlock) {
  s_data_cmd r = Record(0);
  // One dc channel announced 7 bytes long: the seventh is ignored.
  Bytes full = Cat("01 01 01 00 07 83 10 00 20 00 30 AA", kLines);
  ASSERT_EQ(Recv(convert_recv_digital_config, full, &r, 0, 2), 0);
  const s_ggs_digital_basic& dc = r.payload.gd_config.channels[0].dc;
  EXPECT_EQ(V(dc.flag_enable_ec + dc.ggs_mode + dc.flag_agc_rx, dc.vad_timeout, dc.vad_window), V(3, 0x10, 0x20));
  EXPECT_EQ(V(dc.vad_det_level, r.payload.gd_config.line_config[1].line_echo_threshold), V(0x30, 0.25f));

  // The line block missing its last byte: -200, lines untouched.
  s_data_cmd s = Record(0);
  s.payload.gd_config.line_config[0].line_echo_threshold = 7.0f;
  full.pop_back();
  EXPECT_EQ(Recv(convert_recv_digital_config, full, &s, 0, 2), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  EXPECT_EQ(s.payload.gd_config.line_config[0].line_echo_threshold, 7.0f);
  s_ggs_channel_digital_config& held = s.payload.gd_config.channels[0];  // short data, type none: only the type
  held.dc.flag_enable_ec = 1, held.dc.vad_timeout = 77;
  EXPECT_EQ(Recv(convert_recv_digital_config, Cat("01 00 01 00 02 00 00", kLines), &s, 0, 2), CONVERT_ERROR);
  EXPECT_EQ(V(held.ggs_type_call, held.dc.flag_enable_ec, held.dc.vad_timeout), V(GGS_TYPE_DC, 1, 77));
  EXPECT_EQ(Recv(convert_recv_digital_config, Cat("01 00 00 00 00", kLines), &s, 0, 2), 0);
  EXPECT_EQ(V(held.ggs_type_call, held.dc.flag_enable_ec, held.dc.vad_timeout), V(GGS_TYPE_NONE, 1, 77));
  EXPECT_EQ(Recv(convert_recv_digital_config, H("01 00 0D 00 00"), &s, 0, 2), CONVERT_BAD_PARAM);
  EXPECT_EQ(Recv(convert_recv_digital_config, H("03 00"), &s, 0, 2), CONVERT_BAD_PARAM);
  // The version-2 table takes the same layout for GGS.
  ASSERT_EQ(Recv(convert_recv_v2_digital_config, H("00 04 00 00 00 00 00 00 00 00 00"), &s, 1, 2), 0);
  EXPECT_EQ(s.payload.gd_config.wire, 4);

  s_data_cmd v = Record(GW_SET_CONFIG, 0, 2, PROTO_ADDR_DLI);
  v.payload.gd_config.channels_count = 1;
  v.payload.gd_config.channels[0].ggs_type_call = GGS_TYPE_VOICE;
  v.payload.gd_config.channels[0].voice.delay_rx = -40;
  v.payload.gd_config.line_config[0].line_echo_threshold = 0.5f;
  std::string d = Dump(v);
  EXPECT_TRUE(Has(d, ".gd_config.channels_count: 1,\n.gd_config.wire: 0,\ngd_config.channels[0].ggs_type_call    : 3,\n"));
  EXPECT_TRUE(Has(d, "gd_config.channels[0].vocie.delay_rx         : -40,\n"
                     ".gd_config.line_config[0].line_echo_threshold: 0.5000,\n"));
  EXPECT_EQ(d.find("msgID"), d.rfind("msgID"));
  v.payload.gd_config.channels[0].ggs_type_call = GGS_TYPE_DC;
  EXPECT_TRUE(Has(Dump(v), "gd_config.channels[0].dc.vad_timeout   \t: 0,\n"));
}

// Every GGS type goes to the wire and back, and through the packet.
TEST(DigitalConfig, GgsEveryTypeRoundTrips) {
  for (int type = 0; type <= PROTO_GGS_TYPE_MAX; ++type) {
    SCOPED_TRACE(type);
    s_data_cmd r = Record(DLI_SET_CONFIG, 0, 2, PROTO_ADDR_DLI);
    s_proto_gd_config& c = r.payload.gd_config;
    c.channels_count = 2;
    c.wire = 1;
    c.channels[0].ggs_type_call = static_cast<uint16_t>(type);
    c.channels[1].ggs_type_call = GGS_TYPE_IVA;
    c.channels[1].iva = {1, 1, 0, 11, 12, -13, 14, 15, 16, 17, -18};
    // Fill the union with distinct small values through the largest member.
    c.channels[0].iva = {1, 0, 1, 0x0102, 0x0304, -5, 6, 0x0708, 0x090A, 0x0B, 123456};
    if (type == GGS_TYPE_FXS) c.channels[0].fxs.flag_enable_dtmf = 1;
    c.line_config[0] = {1, 3.75f};
    c.line_config[1] = {0, -0.125f};
    // Room for the count and wire but not a channel header: -199.
    for (int room : {2, 3, 4}) EXPECT_EQ(Trans(convert_trans_digital_config, r, room), -199) << room;
    Bytes wire;
    int n = Trans(convert_trans_digital_config, r, 256, &wire);
    ASSERT_GT(n, 0);
    EXPECT_EQ(n % 2, 0);
    s_data_cmd back = Record(0);
    ASSERT_EQ(Recv(convert_recv_digital_config, wire, &back, 0, 2), 0);
    Bytes again;
    ASSERT_EQ(Trans(convert_trans_digital_config, back, 256, &again), n);
    EXPECT_EQ(again, wire);
    s_data_cmd dec;
    ThroughPacket(back, DLI_SET_CONFIG, PROTO_ADDR_DLI, [](const auto& pl, auto& g) {
      if (!pl.get_dli_set_config().ggs_v1_isSelected()) return false;
      g.select_ggs_digital_v1(pl.get_dli_set_config().get_ggs_v1());
      return true;
    }, convert_trans_config, wire, dec);
  }

  // A dc channel with dc or fxo selected, carrying ec, duplex and agc TRUE and
  // vad 100/200/5, stores and sends those values.
  auto fill = [](auto& x) {
    x.set_ec(true), x.set_duplex(true), x.set_agc(true);
    x.set_vad_timeout(100), x.set_vad_window(200), x.set_vad_detector_level(5);
  };
  for (bool fxo : {false, true}) {
    VORKGW::ProtoVorkPacketPayloadGWSetConfig gw;
    VORKGW::ProtoVorkPacketPayloadGgsChannelDigitalV1 e;
    e.set_ggs_type_call().setFromInt(GGS_TYPE_DC);
    fxo ? fill(e.set_channel().select_fxo()) : fill(e.set_channel().select_dc());
    gw.select_ggs_digital_v1().set_channels().push_back(e);
    s_data_cmd dec;
    ASSERT_TRUE(DecodeGatewayConfig(Record(0, 0, 2, PROTO_ADDR_DLI), gw, dec));
    Bytes wire;
    Trans(convert_trans_digital_config, dec, 64, &wire);
    EXPECT_HEX(wire, "01 00 01 00 06 83 64 00 C8 00 05 00 00 00 00 00 00 00 00 00");
  }
}

TEST(DigitalConfig, DconChannels) {
  s_data_cmd r = Record(DLI_SET_CONFIG, 0, 3);
  // Two data bytes of the first channel are skipped; the second channel follows.
  Bytes dcon = H("02 00 00 02 AA BB 01 00 00");
  ASSERT_EQ(Recv(convert_recv_digital_config, dcon, &r, 0, 3), 0);
  EXPECT_EQ(V(r.payload.dcon_dig_config.channels_count, r.payload.dcon_dig_config.channels[0].type_signal), V(2, 0));
  EXPECT_EQ(r.payload.dcon_dig_config.channels[1].type_signal, 1);
  Bytes out;
  Trans(convert_trans_digital_config, r, 16, &out);
  EXPECT_HEX(out, "02 00 00 00 01 00 00 ??");
  // The packet selects none or ats-qsig per channel.
  VORKGW::ProtoVorkPacket p = Encode(r);
  const auto& chans = p.get_payload().get_dli_set_config().get_dcon_v1().get_channels();
  ASSERT_EQ(chans.size(), 2u);
  EXPECT_TRUE(chans[0].get_channel().none_isSelected());
  EXPECT_TRUE(chans[1].get_channel().ats_qsig_isSelected());

  EXPECT_EQ(Recv(convert_recv_digital_config, H("01 02 00 00"), &r, 0, 3), CONVERT_BAD_PARAM);
  EXPECT_EQ(r.payload.dcon_dig_config.channels[0].type_signal, 2);
  EXPECT_EQ(Recv(convert_recv_digital_config, H("01 01 00 03 00"), &r, 0, 3), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  EXPECT_EQ(Recv(convert_recv_digital_config, H("04"), &r, 0, 3), CONVERT_BAD_PARAM);
  s_data_cmd t = Record(DLI_SET_CONFIG, 0, 3);
  t.payload.dcon_dig_config.channels_count = 1;
  t.payload.dcon_dig_config.channels[0].type_signal = 2;
  EXPECT_EQ(Trans(convert_trans_digital_config, t, 16), CONVERT_BAD_PARAM);

  t.payload.dcon_dig_config.channels[0].type_signal = 1;
  EXPECT_TRUE(Has(Dump(t), ".dcon_dig_config.channels_count: 1,\ndcon_dig_config.channels[0].type_signal    : 1,\n"));
  // A cut dump reports the full length and stays terminated.
  char small[64];
  EXPECT_GT(sprintf_digital_config(small, sizeof small, &t, 0), 63);
  EXPECT_EQ(std::strlen(small), 63u);
}

TEST(DigitalConfig, RadioV2Layout) {
  s_data_cmd r = Record(0);
  Bytes empty = Cat("00", "00 00 80 3F 00 00 00 40 01");  // thresholds 1.0 and 2.0
  ASSERT_EQ(Recv(convert_recv_v2_digital_config, empty, &r, 1, 1), 0);
  EXPECT_EQ(r.payload.rd_v2_config.channels_count, 0);
  EXPECT_EQ(r.payload.rd_v2_config.line_config[1].line_echo_threshold, 2.0f);
  empty.pop_back();
  EXPECT_EQ(Recv(convert_recv_v2_digital_config, empty, &r, 1, 1), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);

  s_data_cmd e = Record(DLI_SET_CONFIG, 1, 1);
  s_proto_rd_v2_config& c = e.payload.rd_v2_config;
  c.channels_count = 2;
  c.channels[0].enable = 1;
  c.channels[0].flag_agc_rx = 1;
  c.channels[0].snr = 3.5f;
  c.channels[0].delay_tx = -7;
  c.channels[0].signal_level = -300;
  c.channels[0].gain_sh = 9;
  c.line_config[0] = {1, 0.5f};
  Bytes wire;
  ASSERT_EQ(Trans(convert_trans_v2_digital_config, e, 64, &wire), 1 + 31 + 1 + 9);
  EXPECT_EQ(wire[1], 30);
  EXPECT_EQ(wire[2], 0x10);
  EXPECT_EQ(wire[32], 0x00);  // the disabled channel
  s_data_cmd back = Record(0);
  ASSERT_EQ(Recv(convert_recv_v2_digital_config, wire, &back, 1, 1), 0);
  const s_proto_rd_v2_config& b = back.payload.rd_v2_config;
  EXPECT_EQ((std::vector<int>{int(b.channels[0].enable), b.channels[0].delay_tx, b.channels[0].signal_level,
                              b.channels[0].gain_sh, int(b.channels[1].enable)}),
            (std::vector<int>{1, -7, -300, 9, 0}));

  // A channel longer than its fields has its extra bytes skipped; one
  // announced but missing is short.
  Bytes longer = wire;
  longer[1] = 32;
  longer.insert(longer.begin() + 32, {0x55, 0x66});
  s_data_cmd l = Record(0);
  ASSERT_EQ(Recv(convert_recv_v2_digital_config, longer, &l, 1, 1), 0);
  EXPECT_EQ(l.payload.rd_v2_config.channels[0].gain_sh, 9);
  EXPECT_EQ(l.payload.rd_v2_config.line_config[0].line_control, 1);
  EXPECT_EQ(Recv(convert_recv_v2_digital_config, H("01 1E 00"), &l, 1, 1), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  // Too many channels for the record.
  EXPECT_EQ(Recv(convert_recv_v2_digital_config, Bytes{3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, &l, 1, 1),
            CONVERT_BAD_PARAM);

  // Through the packet: the disabled channel carries only its enable flag.
  s_data_cmd dec;
  VORKGW::ProtoVorkPacket p = ThroughPacket(back, DLI_SET_CONFIG, PROTO_ADDR_DLI, [](const auto& pl, auto& g) {
    if (!pl.get_dli_set_config().radio_v2_isSelected()) return false;
    g.select_radio_digital_v2(pl.get_dli_set_config().get_radio_v2());
    return true;
  }, convert_trans_v2_config, wire, dec);
  EXPECT_EQ(std::string(p.get_payload().get_dli_set_config().get_radio_v2().get_channels()[0].get_snr()), "3.500000");

  // The same record over a version-2 link, gateway to digital interface.
  Channel gw, dli(PROTO_MODE_DIGITAL);
  s_data_cmd got = dli.One(gw.Send({dec}));
  EXPECT_EQ(V(got.cmdStatus, got.stateProtocol, got.payload.rd_v2_config.channels[0].signal_level), V(0, 1, -300));
  EXPECT_EQ(got.payload.rd_v2_config.line_config[0].line_echo_threshold, 0.5f);

  s_data_cmd v2 = Record(DLI_SET_CONFIG, 1, 1);
  v2.payload.rd_v2_config.channels_count = 1;
  v2.payload.rd_v2_config.channels[0].snr = 2.5f;
  std::string d = Dump(v2);
  EXPECT_TRUE(Has(d, ".rd_v2_config.channels_count: 1,\nrd_v2_config.channels[0].enable        : 0,\n"));
  EXPECT_TRUE(Has(d, "rd_v2_config.channels[0].snr           : 2.50,\n"));
  EXPECT_TRUE(Has(d, ".rd_config.line_config[1].line_control: 0,\n"));
}

}  // namespace
