// Channel configuration of the digital line interface: wire layouts, dumps
// and the VORKGW mapping.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/radiolink/config_convert.h"

namespace {

Bytes Float(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return {static_cast<unsigned char>(bits), static_cast<unsigned char>(bits >> 8),
          static_cast<unsigned char>(bits >> 16), static_cast<unsigned char>(bits >> 24)};
}

Bytes LineBlock(float a, float b, unsigned char control) {
  Bytes l = Float(a);
  Bytes x = Float(b);
  l.insert(l.end(), x.begin(), x.end());
  l.push_back(control);
  return l;
}

TEST(DigitalConfig, RadioV1Layout) {
  s_data_cmd r = Record(0);
  EXPECT_EQ(RecvConfig(convert_recv_digital_config, Bytes(39, 0), 0, 1, r), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  ASSERT_EQ(RecvConfig(convert_recv_digital_config, Bytes(40, 0), 0, 1, r), 0);
  EXPECT_EQ(r.payload.rd_config.channels_count, 1);
  EXPECT_EQ(r.payload.rd_config.channels[0].snr, 0.0f);
  EXPECT_EQ(r.payload.rd_config.channels[0].delay_tx, 0);

  Bytes w = {0x9E, 0x00};  // flags at bits 1-4 and 7
  Bytes snr = Float(12.5f);
  w.insert(w.end(), snr.begin(), snr.end());
  Bytes rest = {0xFE, 0xFF, 0xFF, 0xFF,              // delay_rx -2
                0x01, 0x02, 0x03, 0x04, 0x05, 0x06,  // type, conn, call
                0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C,  // rc_state, vad timeout, window
                0x0D, 0x38, 0xFF, 0x10, 0x00};       // vad level, detector -200, signal 16
  w.insert(w.end(), rest.begin(), rest.end());
  Bytes lines = LineBlock(-1.5f, 2.25f, 0x02);
  w.insert(w.end(), lines.begin(), lines.end());
  Bytes tx = {0x10, 0x27, 0x00, 0x00};
  w.insert(w.end(), tx.begin(), tx.end());
  ASSERT_EQ(w.size(), 40u);

  Channel gw;
  gw.Feed(MakeFrame(DLI_SET_CONFIG, 0, 0x0100, 0x04, 0x01, w));
  std::vector<s_data_cmd> got = gw.Received();
  ASSERT_EQ(got.size(), 1u);
  s_data_cmd d = got[0];
  ASSERT_EQ(d.cmdStatus, 0);
  const s_radio_channel_digital_config& ch = d.payload.rd_config.channels[0];
  EXPECT_EQ(ch.flag_rc_mode + ch.flag_ptt_prio + ch.flag_sql_prio + ch.flag_wire + ch.flag_agc_rx, 5);
  EXPECT_EQ(ch.snr, 12.5f);
  EXPECT_EQ(ch.delay_rx, -2);
  EXPECT_EQ(ch.radio_type, 0x0201);
  EXPECT_EQ(ch.radio_call, 0x0605);
  EXPECT_EQ(ch.vad_window, 0x0C0B);
  EXPECT_EQ(ch.vad_det_level, 0x0D);
  EXPECT_EQ(ch.detector_level, -200);
  EXPECT_EQ(ch.signal_level, 16);
  EXPECT_EQ(ch.delay_tx, 10000);
  EXPECT_EQ(d.payload.rd_config.line_config[0].line_echo_threshold, -1.5f);
  EXPECT_EQ(d.payload.rd_config.line_config[0].line_control, 0);
  EXPECT_EQ(d.payload.rd_config.line_config[1].line_control, 1);

  Channel dli(PROTO_MODE_DIGITAL);
  Bytes frame = dli.Send({d});
  ASSERT_EQ(frame.size(), 18u + 40u);
  EXPECT_EQ(Bytes(frame.begin() + 16, frame.end() - 2), w);

  // Numbers with a fraction travel as text with six decimals.
  VORKGW::ProtoVorkPacket p;
  ASSERT_TRUE(ProtoVorkEncodeASN(d, p));
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
  ASSERT_EQ(TransConfig(convert_trans_config, dec, 64, sent), 40);
  EXPECT_EQ(sent, w);
  EXPECT_EQ(TransConfig(convert_trans_config, dec, 39, sent), CONVERT_NOT_ENOUGHT_MEMORY);

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
  Bytes ggs = {0x01, 0x01, 0x01, 0x00, 0x07, 0x83, 0x10, 0x00, 0x20, 0x00, 0x30, 0xAA};
  Bytes lines = LineBlock(0.5f, 0.25f, 0x03);
  Bytes full = ggs;
  full.insert(full.end(), lines.begin(), lines.end());
  ASSERT_EQ(RecvConfig(convert_recv_digital_config, full, 0, 2, r), 0);
  const s_ggs_digital_basic& dc = r.payload.gd_config.channels[0].dc;
  EXPECT_EQ(dc.flag_enable_ec, 1);
  EXPECT_EQ(dc.ggs_mode, 1);
  EXPECT_EQ(dc.flag_agc_rx, 1);
  EXPECT_EQ(dc.vad_timeout, 0x10);
  EXPECT_EQ(dc.vad_window, 0x20);
  EXPECT_EQ(dc.vad_det_level, 0x30);
  EXPECT_EQ(r.payload.gd_config.line_config[1].line_echo_threshold, 0.25f);

  // The line block missing its last byte: -200, lines untouched.
  s_data_cmd s = Record(0);
  s.payload.gd_config.line_config[0].line_echo_threshold = 7.0f;
  full.pop_back();
  EXPECT_EQ(RecvConfig(convert_recv_digital_config, full, 0, 2, s), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  EXPECT_EQ(s.payload.gd_config.line_config[0].line_echo_threshold, 7.0f);

  Bytes two = {0x01, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00};
  two.insert(two.end(), lines.begin(), lines.end());
  EXPECT_EQ(RecvConfig(convert_recv_digital_config, two, 0, 2, s), CONVERT_ERROR);
  Bytes bad = {0x01, 0x00, 0x0D, 0x00, 0x00};
  EXPECT_EQ(RecvConfig(convert_recv_digital_config, bad, 0, 2, s), CONVERT_BAD_PARAM);
  EXPECT_EQ(RecvConfig(convert_recv_digital_config, {0x03, 0x00}, 0, 2, s), CONVERT_BAD_PARAM);

  // The version-2 table takes the same layout for GGS.
  s_data_cmd v2 = Record(0);
  ASSERT_EQ(RecvConfig(convert_recv_v2_digital_config, {0x00, 0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 1, 2, v2), 0);
  EXPECT_EQ(v2.payload.gd_config.wire, 4);
}

// Every GGS type goes to the wire and back, and through the packet.
TEST(DigitalConfig, GgsEveryTypeRoundTrips) {
  for (int type = 0; type <= PROTO_GGS_TYPE_MAX; ++type) {
    SCOPED_TRACE(type);
    s_data_cmd r = Record(DLI_SET_CONFIG, 0, 2);
    r.dstAddr = PROTO_ADDR_DLI;
    s_proto_gd_config& c = r.payload.gd_config;
    c.channels_count = 2;
    c.wire = 1;
    c.channels[0].ggs_type_call = static_cast<uint16_t>(type);
    c.channels[1].ggs_type_call = GGS_TYPE_IVA;
    c.channels[1].iva = {1, 1, 0, 11, 12, -13, 14, 15, 16, 17, -18};
    // Fill the union with distinct small values through the largest member.
    s_ggs_digital_iva& u = c.channels[0].iva;
    u = {1, 0, 1, 0x0102, 0x0304, -5, 6, 0x0708, 0x090A, 0x0B, 123456};
    if (type == GGS_TYPE_FXS) c.channels[0].fxs.flag_enable_dtmf = 1;
    c.line_config[0] = {1, 3.75f};
    c.line_config[1] = {0, -0.125f};
    Bytes wire;
    int n = TransConfig(convert_trans_digital_config, r, 256, wire);
    ASSERT_GT(n, 0);
    EXPECT_EQ(n % 2, 0);

    s_data_cmd back = Record(0);
    ASSERT_EQ(RecvConfig(convert_recv_digital_config, wire, 0, 2, back), 0);
    Bytes again;
    ASSERT_EQ(TransConfig(convert_trans_digital_config, back, 256, again), n);
    EXPECT_EQ(again, wire);

    s_data_cmd dec;
    ThroughPacket(back, DLI_SET_CONFIG, PROTO_ADDR_DLI, [](const auto& pl, auto& g) {
      if (!pl.get_dli_set_config().ggs_v1_isSelected()) return false;
      g.select_ggs_digital_v1(pl.get_dli_set_config().get_ggs_v1());
      return true;
    }, convert_trans_config, wire, dec);
  }
}

TEST(DigitalConfig, DconChannels) {
  s_data_cmd r = Record(0);
  // Two data bytes of the first channel are skipped; the second channel follows.
  Bytes dcon = {0x02, 0x00, 0x00, 0x02, 0xAA, 0xBB, 0x01, 0x00, 0x00};
  ASSERT_EQ(RecvConfig(convert_recv_digital_config, dcon, 0, 3, r), 0);
  EXPECT_EQ(r.payload.dcon_dig_config.channels_count, 2);
  EXPECT_EQ(r.payload.dcon_dig_config.channels[0].type_signal, 0);
  EXPECT_EQ(r.payload.dcon_dig_config.channels[1].type_signal, 1);
  Bytes out;
  ASSERT_EQ(TransConfig(convert_trans_digital_config, r, 16, out), 8);
  EXPECT_EQ(out, Bytes({0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, out[7]}));

  EXPECT_EQ(RecvConfig(convert_recv_digital_config, {0x01, 0x02, 0x00, 0x00}, 0, 3, r), CONVERT_BAD_PARAM);
  EXPECT_EQ(r.payload.dcon_dig_config.channels[0].type_signal, 2);
  EXPECT_EQ(RecvConfig(convert_recv_digital_config, {0x01, 0x01, 0x00, 0x03, 0x00}, 0, 3, r),
            CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  EXPECT_EQ(RecvConfig(convert_recv_digital_config, {0x04}, 0, 3, r), CONVERT_BAD_PARAM);
  s_data_cmd t = Record(DLI_SET_CONFIG, 0, 3);
  t.payload.dcon_dig_config.channels_count = 1;
  t.payload.dcon_dig_config.channels[0].type_signal = 2;
  EXPECT_EQ(TransConfig(convert_trans_digital_config, t, 16, out), CONVERT_BAD_PARAM);

  // The packet selects none or ats-qsig per channel.
  r.msgID = DLI_SET_CONFIG;
  r.stateMode = 3;
  ASSERT_EQ(RecvConfig(convert_recv_digital_config, dcon, 0, 3, r), 0);
  r.msgID = DLI_SET_CONFIG;
  VORKGW::ProtoVorkPacket p;
  ProtoVorkEncodeASN(r, p);
  const auto& chans = p.get_payload().get_dli_set_config().get_dcon_v1().get_channels();
  ASSERT_EQ(chans.size(), 2u);
  EXPECT_TRUE(chans[0].get_channel().none_isSelected());
  EXPECT_TRUE(chans[1].get_channel().ats_qsig_isSelected());
}

TEST(DigitalConfig, RadioV2Layout) {
  s_data_cmd r = Record(0);
  Bytes empty = {0x00};
  Bytes lines = LineBlock(1.0f, 2.0f, 0x01);
  empty.insert(empty.end(), lines.begin(), lines.end());
  ASSERT_EQ(RecvConfig(convert_recv_v2_digital_config, empty, 1, 1, r), 0);
  EXPECT_EQ(r.payload.rd_v2_config.channels_count, 0);
  EXPECT_EQ(r.payload.rd_v2_config.line_config[1].line_echo_threshold, 2.0f);
  EXPECT_EQ(RecvConfig(convert_recv_v2_digital_config, Bytes(empty.begin(), empty.end() - 1), 1, 1, r),
            CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);

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
  ASSERT_EQ(TransConfig(convert_trans_v2_digital_config, e, 64, wire), 1 + 31 + 1 + 9);
  EXPECT_EQ(wire[1], 30);
  EXPECT_EQ(wire[2], 0x10);
  EXPECT_EQ(wire[32], 0x00);  // the disabled channel

  s_data_cmd back = Record(0);
  ASSERT_EQ(RecvConfig(convert_recv_v2_digital_config, wire, 1, 1, back), 0);
  EXPECT_EQ(back.payload.rd_v2_config.channels[0].enable, 1u);
  EXPECT_EQ(back.payload.rd_v2_config.channels[0].delay_tx, -7);
  EXPECT_EQ(back.payload.rd_v2_config.channels[0].signal_level, -300);
  EXPECT_EQ(back.payload.rd_v2_config.channels[0].gain_sh, 9);
  EXPECT_EQ(back.payload.rd_v2_config.channels[1].enable, 0u);

  // A channel shorter than its fields is disabled; a longer one has its extra bytes skipped.
  Bytes longer = wire;
  longer[1] = 32;
  longer.insert(longer.begin() + 32, {0x55, 0x66});
  s_data_cmd l = Record(0);
  ASSERT_EQ(RecvConfig(convert_recv_v2_digital_config, longer, 1, 1, l), 0);
  EXPECT_EQ(l.payload.rd_v2_config.channels[0].gain_sh, 9);
  EXPECT_EQ(l.payload.rd_v2_config.line_config[0].line_control, 1);
  Bytes announced = {0x01, 0x1E, 0x00};
  EXPECT_EQ(RecvConfig(convert_recv_v2_digital_config, announced, 1, 1, l), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);

  // Through the packet: the disabled channel carries only its enable flag.
  s_data_cmd dec;
  VORKGW::ProtoVorkPacket p = ThroughPacket(back, DLI_SET_CONFIG, PROTO_ADDR_DLI, [](const auto& pl, auto& g) {
    if (!pl.get_dli_set_config().radio_v2_isSelected()) return false;
    g.select_radio_digital_v2(pl.get_dli_set_config().get_radio_v2());
    return true;
  }, convert_trans_v2_config, wire, dec);
  EXPECT_EQ(std::string(p.get_payload().get_dli_set_config().get_radio_v2().get_channels()[0].get_snr()), "3.500000");

  // The same record over a version-2 link, gateway to digital interface.
  Channel gw;
  Channel dli(PROTO_MODE_DIGITAL);
  dli.Feed(gw.Send({dec}));
  std::vector<s_data_cmd> got = dli.Received();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].cmdStatus, 0);
  EXPECT_EQ(got[0].stateProtocol, 1);
  EXPECT_EQ(got[0].payload.rd_v2_config.channels[0].signal_level, -300);
  EXPECT_EQ(got[0].payload.rd_v2_config.line_config[0].line_echo_threshold, 0.5f);

  // Too many channels for the record.
  EXPECT_EQ(RecvConfig(convert_recv_v2_digital_config, {0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 1, 1, l),
            CONVERT_BAD_PARAM);
}

TEST(DigitalConfig, Dumps) {
  s_data_cmd r = Record(GW_SET_CONFIG, 0, 2);
  r.dstAddr = PROTO_ADDR_DLI;
  r.payload.gd_config.channels_count = 1;
  r.payload.gd_config.channels[0].ggs_type_call = GGS_TYPE_VOICE;
  r.payload.gd_config.channels[0].voice.delay_rx = -40;
  r.payload.gd_config.line_config[0].line_echo_threshold = 0.5f;
  std::string d = Dump(r);
  EXPECT_NE(d.find(".gd_config.channels_count: 1,\n.gd_config.wire: 0,\n"
                   "gd_config.channels[0].ggs_type_call    : 3,\n"),
            std::string::npos);
  EXPECT_NE(d.find("gd_config.channels[0].vocie.delay_rx         : -40,\n"
                   ".gd_config.line_config[0].line_echo_threshold: 0.5000,\n"),
            std::string::npos);
  EXPECT_EQ(d.find("msgID"), d.rfind("msgID"));

  r.payload.gd_config.channels[0].ggs_type_call = GGS_TYPE_DC;
  EXPECT_NE(Dump(r).find("gd_config.channels[0].dc.vad_timeout   \t: 0,\n"), std::string::npos);

  s_data_cmd v2 = Record(DLI_SET_CONFIG, 1, 1);
  v2.payload.rd_v2_config.channels_count = 1;
  v2.payload.rd_v2_config.channels[0].snr = 2.5f;
  std::string e = Dump(v2);
  EXPECT_NE(e.find(".rd_v2_config.channels_count: 1,\nrd_v2_config.channels[0].enable        : 0,\n"),
            std::string::npos);
  EXPECT_NE(e.find("rd_v2_config.channels[0].snr           : 2.50,\n"), std::string::npos);
  EXPECT_NE(e.find(".rd_config.line_config[1].line_control: 0,\n"), std::string::npos);

  s_data_cmd dc = Record(DLI_SET_CONFIG, 0, 3);
  dc.payload.dcon_dig_config.channels_count = 1;
  dc.payload.dcon_dig_config.channels[0].type_signal = 1;
  EXPECT_NE(Dump(dc).find(".dcon_dig_config.channels_count: 1,\ndcon_dig_config.channels[0].type_signal    : 1,\n"),
            std::string::npos);

  // A cut dump reports the full length and stays terminated.
  char small[64];
  int full = sprintf_digital_config(small, sizeof small, &dc, 0);
  EXPECT_GT(full, 63);
  EXPECT_EQ(std::strlen(small), 63u);
}

}  // namespace
