// Channel configuration of the analog line interface: wire layouts, dumps
// and the VORKGW mapping.
#include <gtest/gtest.h>

#include "tests/radiolink/config_convert.h"

namespace {

const Bytes kRadioV1 = {0x07, 0x11, 0x12, 0x13, 0x14, 0x02, 0x21, 0x22, 0x23, 0x24, 0x03,
                        0x31, 0x32, 0x33, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48};

TEST(AnalogConfig, RadioV1ThroughTheChannels) {
  Channel gw;
  gw.Feed(MakeFrame(ALI_SET_CONFIG, 0, 0x0100, 0x08, 0x01, kRadioV1));
  std::vector<s_data_cmd> got = gw.Received();
  ASSERT_EQ(got.size(), 1u);
  s_data_cmd r = got[0];
  ASSERT_EQ(r.cmdStatus, 0);
  const s_proto_ra_config& c = r.payload.ra_config;
  EXPECT_EQ(c.channels_count, 1);
  EXPECT_EQ(c.channels[0].flag_agc1_tx_state, 1);
  EXPECT_EQ(c.channels[0].flag_agc2_rx_state, 1);
  EXPECT_EQ(c.channels[0].flag_mixer_doc_state, 1);
  EXPECT_EQ(c.channels[0].radio_type, 0x1211);
  EXPECT_EQ(c.channels[0].radio_conn, 0x1413);
  ASSERT_EQ(c.gains_count, 2);
  EXPECT_EQ(c.gain_id[1], 0x23);
  EXPECT_EQ(c.gain_value[1], 0x24);
  ASSERT_EQ(c.pattern_size, 3);
  EXPECT_EQ(c.pattern[2], 0x33);
  EXPECT_EQ(c.channels[0].uart_config.baud, 1145258561u);
  EXPECT_EQ(c.channels[0].uart_config.data_bits, 0x45);
  EXPECT_EQ(c.channels[0].uart_config.mode, 0x48);

  // The interface sends the record back as the same bytes.
  Channel ali(PROTO_MODE_ANALOG);
  Bytes frame = ali.Send({r});
  ASSERT_EQ(frame.size(), 18u + 22u);
  EXPECT_EQ(Bytes(frame.begin() + 16, frame.end() - 2), kRadioV1);

  // And the gateway's own set-configuration reaches an analog interface.
  s_data_cmd set = r;
  set.msgID = GW_SET_CONFIG;
  set.dstAddr = PROTO_ADDR_ALI;
  Channel gw_out;
  frame = gw_out.Send({set});
  ASSERT_EQ(frame.size(), 18u + 22u);
  Channel ali_in(PROTO_MODE_ANALOG);
  ali_in.Feed(frame);
  got = ali_in.Received();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].cmdStatus, 0);
  EXPECT_EQ(got[0].payload.ra_config.channels[0].uart_config.baud, 1145258561u);
}

TEST(AnalogConfig, RadioV1OptionalSerialBlockAndShortfalls) {
  s_data_cmd r = Record(0);
  Bytes head(kRadioV1.begin(), kRadioV1.begin() + 14);
  r.payload.ra_config.channels[0].uart_config.baud = 99;
  ASSERT_EQ(RecvConfig(convert_recv_analog_config, head, 0, 1, r), 0);
  EXPECT_EQ(r.payload.ra_config.channels[0].uart_config.baud, 0u);
  EXPECT_EQ(r.payload.ra_config.pattern_size, 3);

  // The serial block is left out when it does not fit.
  Bytes out;
  EXPECT_EQ(TransConfig(convert_trans_analog_config, r, 14, out), 14);
  EXPECT_EQ(out, head);
  EXPECT_EQ(TransConfig(convert_trans_analog_config, r, 13, out), CONVERT_NOT_ENOUGHT_MEMORY);

  s_data_cmd s = Record(0);
  EXPECT_EQ(RecvConfig(convert_recv_analog_config, Bytes(kRadioV1.begin(), kRadioV1.begin() + 4), 0, 1, s),
            CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  // Pattern cut short: what was read stays, the serial block is zero.
  s.payload.ra_config.channels[0].uart_config.mode = 9;
  EXPECT_EQ(RecvConfig(convert_recv_analog_config, Bytes(kRadioV1.begin(), kRadioV1.begin() + 12), 0, 1, s),
            CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  EXPECT_EQ(s.payload.ra_config.gains_count, 2);
  EXPECT_EQ(s.payload.ra_config.pattern[0], 0x31);
  EXPECT_EQ(s.payload.ra_config.channels[0].uart_config.mode, 0);

  // Counts beyond the record's room are refused, not overrun.
  Bytes many = {0, 0, 0, 0, 0, 12};
  many.resize(6 + 24 + 1, 0);
  EXPECT_EQ(RecvConfig(convert_recv_analog_config, many, 0, 1, s), CONVERT_BAD_PARAM);
  s_data_cmd t = r;
  t.payload.ra_config.pattern_size = 65;
  EXPECT_EQ(TransConfig(convert_trans_analog_config, t, 256, out), CONVERT_BAD_PARAM);
  t = r;
  t.payload.ra_config.channels_count = 2;
  EXPECT_EQ(TransConfig(convert_trans_analog_config, t, 256, out), CONVERT_BAD_PARAM);

  // A mode the analog interface does not have.
  EXPECT_EQ(RecvConfig(convert_recv_analog_config, kRadioV1, 0, 3, s), CONVERT_BAD_MODE);
  t = r;
  t.stateMode = 3;
  EXPECT_EQ(TransConfig(convert_trans_analog_config, t, 256, out), CONVERT_BAD_MODE);
  t.stateProtocol = 1;
  EXPECT_EQ(TransConfig(convert_trans_v2_analog_config, t, 256, out), CONVERT_BAD_MODE);
}

TEST(AnalogConfig, GgsChannels) {
  s_data_cmd r = Record(0);
  // A none channel and an emvi channel, no gains, no pattern: 11 bytes, sent as 12.
  Bytes ggs = {0x02, 0x05, 0x00, 0x00, 0x00, 0x0C, 0x00, 0x01, 0x03, 0x00, 0x00};
  ASSERT_EQ(RecvConfig(convert_recv_analog_config, ggs, 0, 2, r), 0);
  EXPECT_EQ(r.payload.ga_config.channels_count, 2);
  EXPECT_EQ(r.payload.ga_config.wire, 5);
  EXPECT_EQ(r.payload.ga_config.channels[0].ggs_type_call, GGS_TYPE_NONE);
  EXPECT_EQ(r.payload.ga_config.channels[1].ggs_type_call, GGS_TYPE_EMVI);
  EXPECT_EQ(r.payload.ga_config.channels[1].emvi.flag_agc_state, 1);
  EXPECT_EQ(r.payload.ga_config.channels[1].emvi.ggs_mode, 1);
  Bytes out;
  ASSERT_EQ(TransConfig(convert_trans_analog_config, r, 64, out), 12);
  Bytes padded = ggs;
  padded.push_back(out[11]);
  EXPECT_EQ(out, padded);

  // Channel data shorter than its type, a dc block longer than its type, a type out of range.
  s_ggs_channel_analog_config ch;
  const unsigned char two[] = {0x03, 0x77};
  EXPECT_EQ(recv_ggs_channel_analog(&ch, GGS_TYPE_FXO, two, 2), CONVERT_ERROR);
  EXPECT_EQ(recv_ggs_channel_analog(&ch, GGS_TYPE_DC, two, 2), 0);
  EXPECT_EQ(ch.dc.flag_agc_state, 1);
  EXPECT_EQ(ch.dc.ggs_mode, 1);
  EXPECT_EQ(recv_ggs_channel_analog(&ch, 13, two, 2), CONVERT_BAD_PARAM);
  Bytes bad = {0x01, 0x00, 0x0D, 0x00, 0x01, 0x00, 0x00, 0x00};
  EXPECT_EQ(RecvConfig(convert_recv_analog_config, bad, 0, 2, r), CONVERT_BAD_PARAM);
  ch.ggs_type_call = 13;
  unsigned char buf[32];
  EXPECT_EQ(trans_ggs_channel_analog(&ch, buf, sizeof buf), CONVERT_BAD_PARAM);
  ch.ggs_type_call = GGS_TYPE_NONE;
  EXPECT_EQ(trans_ggs_channel_analog(&ch, buf, 2), CONVERT_ERROR);
  ch.ggs_type_call = GGS_TYPE_FXO;
  EXPECT_EQ(trans_ggs_channel_analog(&ch, buf, 15), CONVERT_NOT_ENOUGHT_MEMORY);

  // Headers announced but missing; gains announced but missing.
  EXPECT_EQ(RecvConfig(convert_recv_analog_config, {0x02, 0x00, 0x00, 0x00, 0x00}, 0, 2, r),
            CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  EXPECT_EQ(RecvConfig(convert_recv_analog_config, {0x00, 0x00, 0x02, 0x01}, 0, 2, r),
            CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
}

TEST(AnalogConfig, GgsFieldTypesSurviveWireAndPacket) {
  s_data_cmd r = Record(ALI_SET_CONFIG, 0, 2);
  r.dstAddr = PROTO_ADDR_ALI;
  s_proto_ga_config& c = r.payload.ga_config;
  c.channels_count = 2;
  c.wire = 1;
  c.channels[0].ggs_type_call = GGS_TYPE_FXO;
  c.channels[0].fxo = {1, 0, 3, 4, 0x0506, 0x0708, 0x090A, 0x0B0C, 0x0D0E};
  c.channels[1].ggs_type_call = GGS_TYPE_FXS;
  c.channels[1].fxs = {0, 1, 1, 0x21, 0x22, 0x2324, 0x2526, 0x2728, 0x29, 0x2A};
  c.gains_count = 1;
  c.gain_id[0] = 12;
  c.gain_value[0] = 0x80;
  c.pattern_size = 1;
  c.pattern[0] = 0x55;
  Bytes wire;
  int n = TransConfig(convert_trans_analog_config, r, 256, wire);
  ASSERT_EQ(n, 2 + 16 + 14 + 3 + 2 + 1);

  s_data_cmd back = Record(0);
  ASSERT_EQ(RecvConfig(convert_recv_analog_config, wire, 0, 2, back), 0);
  Bytes again;
  ASSERT_EQ(TransConfig(convert_trans_analog_config, back, 256, again), n);
  EXPECT_EQ(again, wire);
  EXPECT_EQ(back.payload.ga_config.channels[1].fxs.flag_pulse_det, 1);
  EXPECT_EQ(back.payload.ga_config.channels[0].fxo.ring_off, 0x0D0E);

  // Through the packet and back as the gateway's set-configuration.
  s_data_cmd dec;
  VORKGW::ProtoVorkPacket p = ThroughPacket(back, ALI_SET_CONFIG, PROTO_ADDR_ALI, [](const auto& pl, auto& g) {
    if (!pl.ali_set_config_isSelected() || !pl.get_ali_set_config().ggs_v1_isSelected()) return false;
    g.select_ggs_analog_v1(pl.get_ali_set_config().get_ggs_v1());
    return true;
  }, convert_trans_config, wire, dec);
  const auto& chans = p.get_payload().get_ali_set_config().get_ggs_v1().get_channels();
  ASSERT_EQ(chans.size(), 2u);
  EXPECT_TRUE(chans[1].get_channel().fxs_isSelected());
  EXPECT_EQ(chans[0].get_channel().get_fxo().get_pulse_pause().getValue(), 0x0506);
}

TEST(AnalogConfig, RadioV2Layout) {
  s_data_cmd r = Record(0);
  ASSERT_EQ(RecvConfig(convert_recv_v2_analog_config, {0x00}, 1, 1, r), 0);
  EXPECT_EQ(r.payload.ra_v2_config.channels_count, 0);
  Bytes out;
  ASSERT_EQ(TransConfig(convert_trans_v2_analog_config, r, 16, out), 2);
  EXPECT_EQ(out[0], 0x00);
  EXPECT_EQ(RecvConfig(convert_recv_v2_analog_config, {}, 1, 1, r), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);

  // A disabled channel, then gains_count 3 in an 11-byte channel: disabled,
  // no pairs read, serial block straight after the gain count.
  Bytes odd = {0x02, 0x00, 0x0B, 0x0F, 0x03, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
  ASSERT_EQ(RecvConfig(convert_recv_v2_analog_config, odd, 1, 1, r), 0);
  const s_proto_ra_v2_config& c = r.payload.ra_v2_config;
  EXPECT_EQ(c.channels[0].enable, 0u);
  EXPECT_EQ(c.channels[0].uart_config.baud, 0u);
  EXPECT_EQ(c.channels[1].enable, 0u);
  EXPECT_EQ(c.channels[1].gain_id[0], 0);
  EXPECT_EQ(c.channels[1].uart_config.baud, 0x04030201u);
  EXPECT_EQ(c.channels[1].uart_config.mode, 0x08);
  odd.pop_back();
  EXPECT_EQ(RecvConfig(convert_recv_v2_analog_config, odd, 1, 1, r), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);

  // An enabled channel goes out and comes back, through the packet too.
  s_data_cmd e = Record(ALI_SET_CONFIG, 1, 1);
  s_radio_v2_channel_analog_config& ch = e.payload.ra_v2_config.channels[1];
  e.payload.ra_v2_config.channels_count = 2;
  ch.enable = 1;
  ch.flag_wire = 1;
  ch.flag_agc2_rx_state = 7;  // any non-zero value is on
  ch.gains_count = 2;
  ch.gain_id[0] = 11;
  ch.gain_value[0] = 0x10;
  ch.gain_id[1] = 12;
  ch.gain_value[1] = 0x20;
  ch.pattern_size = 2;
  ch.pattern[1] = 0x99;
  ch.uart_config = {115200, 3, 2, 1, 2};
  Bytes wire;
  ASSERT_EQ(TransConfig(convert_trans_v2_analog_config, e, 64, wire), 1 + 1 + 1 + 17);
  EXPECT_EQ(wire[2], 17);
  EXPECT_EQ(wire[3], 0x0A);
  s_data_cmd back = Record(0);
  ASSERT_EQ(RecvConfig(convert_recv_v2_analog_config, wire, 1, 1, back), 0);
  EXPECT_EQ(back.payload.ra_v2_config.channels[1].enable, 1u);
  EXPECT_EQ(back.payload.ra_v2_config.channels[1].pattern[1], 0x99);
  EXPECT_EQ(back.payload.ra_v2_config.channels[1].uart_config.baud, 115200u);

  s_data_cmd dec;
  ThroughPacket(back, ALI_SET_CONFIG, PROTO_ADDR_ALI, [](const auto& pl, auto& g) {
    if (!pl.get_ali_set_config().radio_v2_isSelected()) return false;
    g.select_radio_analog_v2(pl.get_ali_set_config().get_radio_v2());
    return true;
  }, convert_trans_v2_config, wire, dec);

  // Too much for the capacity.
  EXPECT_EQ(TransConfig(convert_trans_v2_analog_config, e, 10, out), CONVERT_NOT_ENOUGHT_MEMORY);
  EXPECT_EQ(TransConfig(convert_trans_v2_analog_config, e, 0, out), CONVERT_NOT_ENOUGHT_MEMORY);
}

TEST(AnalogConfig, VersionTwoGgsIsTheVersionOneLayout) {
  Bytes ggs = {0x01, 0x00, 0x06, 0x00, 0x06, 0x03, 0x05, 0x01, 0x02, 0x03, 0x04, 0x00, 0x00};
  s_data_cmd a = Record(0), b = Record(0);
  ASSERT_EQ(RecvConfig(convert_recv_analog_config, ggs, 0, 2, a), 0);
  ASSERT_EQ(RecvConfig(convert_recv_v2_analog_config, ggs, 1, 2, b), 0);
  EXPECT_EQ(std::memcmp(&a.payload.ga_config, &b.payload.ga_config, sizeof a.payload.ga_config), 0);
  EXPECT_EQ(b.payload.ga_config.channels[0].mb.ring_form, 5);
  EXPECT_EQ(b.payload.ga_config.channels[0].mb.ring_off, 0x0403);

  // No packet alternative holds it: encoding selects none, decoding fails.
  b.msgID = ALI_SET_CONFIG;
  VORKGW::ProtoVorkPacket p;
  ASSERT_TRUE(ProtoVorkEncodeASN(b, p));
  ASSERT_TRUE(p.get_payload().ali_set_config_isSelected());
  const VORKGW::ProtoVorkPacketPayloadAnalogSetConfig& v = p.get_payload().get_ali_set_config();
  EXPECT_FALSE(v.radio_v1_isSelected() || v.ggs_v1_isSelected() || v.radio_v2_isSelected());
  VORKGW::ProtoVorkPacketPayloadGWSetConfig gw;
  VORKGW::ProtoVorkPacketPayloadGgsAnalogV1 value;
  gw.select_ggs_analog_v1(value);
  b.dstAddr = PROTO_ADDR_ALI;
  s_data_cmd dec;
  EXPECT_FALSE(DecodeGatewayConfig(b, gw, dec));
  // A selected alternative other than the header's layout fails too.
  b.stateProtocol = 0;
  b.stateMode = 1;
  EXPECT_FALSE(DecodeGatewayConfig(b, gw, dec));
}

TEST(AnalogConfig, Dumps) {
  s_data_cmd r = Record(0);
  ASSERT_EQ(RecvConfig(convert_recv_analog_config, kRadioV1, 0, 1, r), 0);
  r.msgID = ALI_SET_CONFIG;
  std::string d = Dump(r);
  EXPECT_NE(d.find("dstChannel   : 0x00,\n.ra_config.channels_count: 1,\n"
                   ".ra_config.channels[0].flag_agc1_tx_state: 1,\n"),
            std::string::npos);
  EXPECT_NE(d.find(".ra_config.channels[0].radio_type    : 4625,\n"), std::string::npos);
  EXPECT_NE(d.find(".ra_config.gains_count : 2,\n.ra_config.gain : \n[0] : 0x21 0x22,\n[1] : 0x23 0x24,\n"
                   ".ra_config.pattern_size : 3,\n.ra_config.pattern :\n[0] : 0x31,\n"),
            std::string::npos);
  EXPECT_NE(d.find(".ra_config.channels[0].uart_config.baud: 1145258561,\n"), std::string::npos);

  // The gateway's message dumps by destination; the header lines come once.
  r.msgID = GW_SET_CONFIG;
  r.dstAddr = PROTO_ADDR_ALI;
  std::string g = Dump(r);
  EXPECT_EQ(g.find("msgID"), g.rfind("msgID"));
  EXPECT_NE(g.find(".ra_config.pattern_size : 3,\n"), std::string::npos);
  r.dstAddr = PROTO_ADDR_RGW;
  s_data_cmd header_only = r;
  char buf[4096];
  int head = sprintf_dummy(buf, sizeof buf, &header_only, 0);
  EXPECT_EQ(sprintf_config(buf, sizeof buf, &r, 0), head);
  EXPECT_EQ(Dump(r).find("ra_config"), std::string::npos);

  // A remote gateway gets an empty payload.
  Channel gw;
  EXPECT_EQ(gw.Send({r}).size(), 18u);

  // GGS per-type lines.
  s_data_cmd m = Record(ALI_SET_CONFIG, 0, 2);
  m.payload.ga_config.channels_count = 1;
  m.payload.ga_config.channels[0].ggs_type_call = GGS_TYPE_MB;
  m.payload.ga_config.channels[0].mb.ring_det = 300;
  EXPECT_NE(Dump(m).find(".ga_config.channels[0].ggs_type_call    : 6,\n"
                         ".ga_config.channels[0].mb.flag_agc_state   : 0,\n"
                         ".ga_config.channels[0].mb.ggs_mode         : 0,\n"
                         ".ga_config.channels[0].mb.ring_det         : 300,\n"),
            std::string::npos);
}

}  // namespace
