// Channel configuration of the analog line interface: wire layouts, dumps
// and the VORKGW mapping.
#include "tests/radiolink/radiolink_frames.h"

namespace {

const char kRadioV1[] = "07 11 12 13 14 02 21 22 23 24 03 31 32 33 41 42 43 44 45 46 47 48";

TEST(AnalogConfig, RadioV1ThroughTheChannels) {
  s_data_cmd r = RoundTrip(PROTO_MODE_ANALOG, PROTO_MODE_GATEWAY, ALI_SET_CONFIG, Flags(0, 1), kRadioV1);
  const s_proto_ra_config& c = r.payload.ra_config;
  EXPECT_EQ(c.channels_count, 1);
  EXPECT_EQ(c.channels[0].flag_agc1_tx_state + c.channels[0].flag_agc2_rx_state + c.channels[0].flag_mixer_doc_state, 3);
  EXPECT_EQ(V(c.channels[0].radio_type, c.channels[0].radio_conn), V(0x1211, 0x1413));
  ASSERT_EQ(c.gains_count, 2);
  EXPECT_EQ(c.gain_id[1], 0x23);
  EXPECT_EQ(c.gain_value[1], 0x24);
  ASSERT_EQ(c.pattern_size, 3);
  EXPECT_EQ(V(c.pattern[2], c.channels[0].uart_config.baud), V(0x33, 1145258561u));
  EXPECT_EQ(V(c.channels[0].uart_config.data_bits, c.channels[0].uart_config.mode), V(0x45, 0x48));

  // The gateway's own set-configuration reaches an analog interface.
  r.msgID = GW_SET_CONFIG;
  r.dstAddr = PROTO_ADDR_ALI;
  Channel gw, ali(PROTO_MODE_ANALOG);
  Bytes frame = gw.Send({r});
  EXPECT_EQ(Hex(PayloadOf(frame)), kRadioV1);
  s_data_cmd got = ali.One(frame);
  EXPECT_EQ(got.cmdStatus, 0);
  EXPECT_EQ(got.payload.ra_config.channels[0].uart_config.baud, 1145258561u);

  std::string d = Dump(got);
  EXPECT_TRUE(Has(d, "dstChannel   : 0x00,\n.ra_config.channels_count: 1,\n.ra_config.channels[0].flag_agc1_tx_state: 1,\n"));
  EXPECT_TRUE(Has(d, ".ra_config.channels[0].radio_type    : 4625,\n"));
  EXPECT_TRUE(Has(d, ".ra_config.gains_count : 2,\n.ra_config.gain : \n[0] : 0x21 0x22,\n[1] : 0x23 0x24,\n"
                     ".ra_config.pattern_size : 3,\n.ra_config.pattern :\n[0] : 0x31,\n"));
  EXPECT_TRUE(Has(d, ".ra_config.channels[0].uart_config.baud: 1145258561,\n"));
  // The gateway's message dumps by destination; the header lines come once.
  d = Dump(r);
  EXPECT_EQ(d.find("msgID"), d.rfind("msgID"));
  EXPECT_TRUE(Has(d, ".ra_config.pattern_size : 3,\n"));
  // A remote gateway gets an empty payload and a header-only dump.
  r.dstAddr = PROTO_ADDR_RGW;
  EXPECT_EQ(gw.Send({r}).size(), 18u);
  EXPECT_EQ(Body(r), "");
  char buf[4096];
  s_data_cmd header_only = r;
  EXPECT_EQ(sprintf_config(buf, sizeof buf, &r, 0), sprintf_dummy(buf, sizeof buf, &header_only, 0));
}

TEST(AnalogConfig, RadioV1OptionalSerialBlockAndShortfalls) {
  s_data_cmd r = Record(0);
  Bytes full = H(kRadioV1);
  Bytes head(full.begin(), full.begin() + 14);
  r.payload.ra_config.channels[0].uart_config.baud = 99;
  ASSERT_EQ(Recv(convert_recv_analog_config, head, &r, 0, 1), 0);
  EXPECT_EQ(r.payload.ra_config.channels[0].uart_config.baud, 0u);
  EXPECT_EQ(r.payload.ra_config.pattern_size, 3);
  // The serial block is left out when it does not fit.
  Bytes out;
  EXPECT_EQ(Trans(convert_trans_analog_config, r, 14, &out), 14);
  EXPECT_EQ(out, head);
  EXPECT_EQ(Trans(convert_trans_analog_config, r, 13), CONVERT_NOT_ENOUGHT_MEMORY);
  // Seven bytes: the block goes out only when it and the pad byte after it fit.
  r.payload.ra_config.gains_count = r.payload.ra_config.pattern_size = 0;
  for (auto [room, sent] : {std::pair<int, int>{14, 8}, {15, 8}, {16, 16}})
    EXPECT_EQ(Trans(convert_trans_analog_config, r, room), sent) << room;

  s_data_cmd s = Record(0);
  EXPECT_EQ(Recv(convert_recv_analog_config, Bytes(full.begin(), full.begin() + 4), &s, 0, 1),
            CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  // Pattern cut short: what was read stays, the serial block is zero.
  s.payload.ra_config.channels[0].uart_config.mode = 9;
  EXPECT_EQ(Recv(convert_recv_analog_config, Bytes(full.begin(), full.begin() + 12), &s, 0, 1),
            CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  EXPECT_EQ(V(s.payload.ra_config.gains_count, s.payload.ra_config.pattern[0]), V(2, 0x31));
  EXPECT_EQ(s.payload.ra_config.channels[0].uart_config.mode, 0);

  // Counts beyond the record's room are refused, not overrun; so is a mode
  // the analog interface does not have.
  Bytes many = H("00 00 00 00 00 0C");
  many.resize(6 + 24 + 1, 0);
  EXPECT_EQ(Recv(convert_recv_analog_config, many, &s, 0, 1), CONVERT_BAD_PARAM);
  EXPECT_EQ(Recv(convert_recv_analog_config, full, &s, 0, 3), CONVERT_BAD_MODE);
  struct Row {
    int pattern, channels, mode, protocol;
    proto_convert_fn fn;
    int status;
  };
  for (Row k : {Row{65, 1, 1, 0, convert_trans_analog_config, CONVERT_BAD_PARAM},
                Row{3, 2, 1, 0, convert_trans_analog_config, CONVERT_BAD_PARAM},
                Row{3, 1, 3, 0, convert_trans_analog_config, CONVERT_BAD_MODE},
                Row{3, 1, 3, 1, convert_trans_v2_analog_config, CONVERT_BAD_MODE}}) {
    s_data_cmd t = r;
    t.payload.ra_config.pattern_size = static_cast<uint8_t>(k.pattern);
    t.payload.ra_config.channels_count = static_cast<uint8_t>(k.channels);
    t.stateMode = static_cast<uint8_t>(k.mode);
    t.stateProtocol = static_cast<uint8_t>(k.protocol);
    EXPECT_EQ(Trans(k.fn, t, 256), k.status) << k.pattern << " " << k.channels << " " << k.mode;
  }
}

TEST(AnalogConfig, GgsChannels) {
  s_data_cmd r = Record(0);
  // A none channel and an emvi channel, no gains, no pattern: 11 bytes, sent as 12.
  const char ggs[] = "02 05 00 00 00 0C 00 01 03 00 00";
  ASSERT_EQ(Recv(convert_recv_analog_config, H(ggs), &r, 0, 2), 0);
  EXPECT_EQ(V(r.payload.ga_config.channels_count, r.payload.ga_config.wire), V(2, 5));
  EXPECT_EQ(r.payload.ga_config.channels[0].ggs_type_call, GGS_TYPE_NONE);
  EXPECT_EQ(r.payload.ga_config.channels[1].ggs_type_call, GGS_TYPE_EMVI);
  EXPECT_EQ(r.payload.ga_config.channels[1].emvi.flag_agc_state, 1);
  EXPECT_EQ(r.payload.ga_config.channels[1].emvi.ggs_mode, 1);
  Bytes out;
  Trans(convert_trans_analog_config, r, 64, &out);
  EXPECT_HEX(out, std::string(ggs) + " ??");

  // Channel data shorter than its type, a dc block longer than its type, a type out of range.
  s_ggs_channel_analog_config ch;
  const unsigned char two[] = {0x03, 0x77};
  ch.fxo.flag_agc_state = 1, ch.fxo.pulse_make = 77;  // short data and type none store only the type
  EXPECT_EQ(recv_ggs_channel_analog(&ch, GGS_TYPE_FXO, two, 2), CONVERT_ERROR);
  EXPECT_EQ(V(ch.ggs_type_call, ch.fxo.flag_agc_state, ch.fxo.pulse_make), V(GGS_TYPE_FXO, 1, 77));
  EXPECT_EQ(recv_ggs_channel_analog(&ch, GGS_TYPE_DC, two, 2), 0);
  EXPECT_EQ(V(ch.dc.flag_agc_state, ch.dc.ggs_mode), V(1, 1));
  EXPECT_EQ(recv_ggs_channel_analog(&ch, GGS_TYPE_NONE, two, 2), 0);
  EXPECT_EQ(V(ch.ggs_type_call, ch.dc.flag_agc_state, ch.dc.ggs_mode), V(GGS_TYPE_NONE, 1, 1));
  EXPECT_EQ(recv_ggs_channel_analog(&ch, 13, two, 2), CONVERT_BAD_PARAM);
  unsigned char buf[32];
  for (auto [type, size, status] : {std::tuple<int, int, int>{13, 32, CONVERT_BAD_PARAM},
                                    {GGS_TYPE_NONE, 2, CONVERT_ERROR},
                                    {GGS_TYPE_FXO, 15, CONVERT_NOT_ENOUGHT_MEMORY}}) {
    ch.ggs_type_call = static_cast<uint16_t>(type);
    EXPECT_EQ(trans_ggs_channel_analog(&ch, buf, size), status) << type;
  }
  // A type out of range, headers announced but missing, gains announced but missing.
  EXPECT_EQ(Recv(convert_recv_analog_config, H("01 00 0D 00 01 00 00 00"), &r, 0, 2), CONVERT_BAD_PARAM);
  EXPECT_EQ(Recv(convert_recv_analog_config, H("02 00 00 00 00"), &r, 0, 2), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  EXPECT_EQ(Recv(convert_recv_analog_config, H("00 00 02 01"), &r, 0, 2), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  // A payload that ends where a count would stand leaves that count as it was.
  r = Record(0);
  for (const char* dc : {"01 00 01 00 01 03", "01 00 01 00 01 03 00"}) {
    EXPECT_EQ(Recv(convert_recv_analog_config, H(dc), &r, 0, 2), 0) << dc;
    EXPECT_EQ(V(r.payload.ga_config.gains_count, r.payload.ga_config.pattern_size), V(0, 0)) << dc;
  }
  r.payload.ga_config.gains_count = 2, r.payload.ga_config.pattern_size = 1;
  EXPECT_EQ(Recv(convert_recv_analog_config, H("00 00"), &r, 0, 2), 0);
  EXPECT_EQ(V(r.payload.ga_config.gains_count, r.payload.ga_config.pattern_size), V(2, 1));
}

TEST(AnalogConfig, GgsFieldTypesSurviveWireAndPacket) {
  s_data_cmd r = Record(ALI_SET_CONFIG, 0, 2, PROTO_ADDR_ALI);
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
  int n = Trans(convert_trans_analog_config, r, 256, &wire);
  ASSERT_EQ(n, 2 + 16 + 14 + 3 + 2 + 1);

  s_data_cmd back = Record(0);
  ASSERT_EQ(Recv(convert_recv_analog_config, wire, &back, 0, 2), 0);
  Bytes again;
  ASSERT_EQ(Trans(convert_trans_analog_config, back, 256, &again), n);
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

  // GGS per-type dump lines.
  s_data_cmd m = Record(ALI_SET_CONFIG, 0, 2);
  m.payload.ga_config.channels_count = 1;
  m.payload.ga_config.channels[0].ggs_type_call = GGS_TYPE_MB;
  m.payload.ga_config.channels[0].mb.ring_det = 300;
  EXPECT_TRUE(Has(Dump(m), ".ga_config.channels[0].ggs_type_call    : 6,\n"
                           ".ga_config.channels[0].mb.flag_agc_state   : 0,\n"
                           ".ga_config.channels[0].mb.ggs_mode         : 0,\n"
                           ".ga_config.channels[0].mb.ring_det         : 300,\n"));

  // A dc channel with fxo {agc TRUE, duplex TRUE} selected takes both flags.
  VORKGW::ProtoVorkPacketPayloadGWSetConfig gw;
  VORKGW::ProtoVorkPacketPayloadGgsChannelAnalogV1 e;
  e.set_ggs_type_call().setFromInt(GGS_TYPE_DC);
  VORKGW::FXOSignalingAnalogV1& fxo = e.set_channel().select_fxo();
  fxo.set_agc(true), fxo.set_duplex(true);
  gw.select_ggs_analog_v1().set_channels().push_back(e);
  m.dstAddr = PROTO_ADDR_ALI;
  ASSERT_TRUE(DecodeGatewayConfig(m, gw, dec));
  const s_ggs_analog_simple& dc = dec.payload.ga_config.channels[0].dc;
  EXPECT_EQ(V(dc.flag_agc_state, dc.ggs_mode), V(1, 1));
  EXPECT_EQ(Trans(convert_trans_analog_config, dec, 64, &wire), 8);
  EXPECT_HEX(wire, "01 00 01 00 01 03 00 00");
  // A channel of type fxo, fxs or mb with another of the three selected (every
  // field set, agc and duplex TRUE) takes only the fields the two share by name.
  VORKGW::FXOSignalingAnalogV1 o;
  o.set_agc(true), o.set_duplex(true), o.set_pulse_make(100), o.set_pulse_break(50), o.set_pulse_pause(0x0304);
  o.set_flash(0x0506), o.set_seize(0x0708), o.set_ring_det(0x090A), o.set_ring_off(4000);
  VORKGW::FXSSignalingAnalogV1 s;
  s.set_agc(true), s.set_duplex(true), s.set_pulse_detector(true), s.set_pulse_make_det(0x11);
  s.set_pulse_break_det(0x12), s.set_pulse_pause_det(0x1314), s.set_flash_det(0x1516), s.set_seize_det(0x1718);
  s.set_ring_seq(0x19), s.set_ring_form(0x1A);
  VORKGW::MBSignalingAnalogV1 b;
  b.set_agc(true), b.set_duplex(true), b.set_ring_form(0x2A), b.set_ring_det(0x2B2C), b.set_ring_off(0x2D2E);
  typedef std::tuple<int, char, const char*, const char*> Cross;
  for (auto [type, alt, sent, line] :
       {Cross{GGS_TYPE_FXO, 's', "04 00 0D 03 00 00 00 00 00 00 00 00 00 00 00 00 00 00", "fxo.pulse_make       : 0,"},
        {GGS_TYPE_FXO, 'b', "04 00 0D 03 00 00 00 00 00 00 00 00 2C 2B 2E 2D 00 00", "fxo.ring_det         : 11052,"},
        {GGS_TYPE_FXS, 'o', "05 00 0B 03 00 00 00 00 00 00 00 00 00 00 00 00", "fxs.flag_pulse_det   : 0,"},
        {GGS_TYPE_FXS, 'b', "05 00 0B 03 00 00 00 00 00 00 00 00 00 2A 00 00", "fxs.ring_form        : 42,"},
        {GGS_TYPE_MB, 'o', "06 00 06 03 00 0A 09 A0 0F 00 00 ??", "mb.ring_off         : 4000,"},
        {GGS_TYPE_MB, 's', "06 00 06 03 1A 00 00 00 00 00 00 ??", "mb.ring_det         : 0,"}}) {
    VORKGW::ProtoVorkPacketPayloadGWSetConfig cfg;
    VORKGW::ProtoVorkPacketPayloadGgsChannelAnalogV1 c;
    c.set_ggs_type_call().setFromInt(type);
    if (alt == 'o') c.set_channel().select_fxo(o);
    if (alt == 's') c.set_channel().select_fxs(s);
    if (alt == 'b') c.set_channel().select_mb(b);
    cfg.select_ggs_analog_v1().set_channels().push_back(c);
    ASSERT_TRUE(DecodeGatewayConfig(m, cfg, dec));
    Trans(convert_trans_analog_config, dec, 64, &wire);
    EXPECT_HEX(wire, std::string("01 00 ") + sent) << type << alt;
    EXPECT_TRUE(Has(Dump(dec), std::string(".ga_config.channels[0].") + line + "\n")) << type << alt;
  }

  // Gain ids {1, 2, 3} ({11, 12, 255} in version 2), values {0x77}: the count is
  // the ids' (at most the layout's limit), the pairs stop where the values end.
  VORKGW::ProtoVorkPacketPayloadGWSetConfig radio, ggs, radio2;
  auto& rv1 = radio.select_radio_analog_v1();
  auto& gv1 = ggs.select_ggs_analog_v1();
  VORKGW::ProtoVorkPacketPayloadRadioChannelAnalogV2 ch2;
  for (int i : {1, 2, 3}) {
    rv1.set_gain_id().push_back(VORKGW::ProtoVorkAnalogGainIDV1::NamedNumber(i));
    gv1.set_gain_id().push_back(VORKGW::ProtoVorkAnalogGainIDV1::NamedNumber(i));
    ch2.set_gain_id().push_back(VORKGW::ProtoVorkAnalogGainIDV2::NamedNumber(i < 3 ? 10 + i : 255));
  }
  rv1.set_gain_values() = gv1.set_gain_values() = ch2.set_gain_values() = IntList(1, 0x77);
  radio2.select_radio_analog_v2().set_channels().push_back(ch2);
  auto gains = [](const auto& c) { return V(c.gains_count, c.gain_id[0], c.gain_value[0], c.gain_id[1]); };
  ASSERT_TRUE(DecodeGatewayConfig(Record(0, 0, 1, PROTO_ADDR_ALI), radio, dec));
  EXPECT_EQ(gains(dec.payload.ra_config), V(3, 1, 0x77, 0));
  ASSERT_TRUE(DecodeGatewayConfig(Record(0, 0, 2, PROTO_ADDR_ALI), ggs, dec));
  EXPECT_EQ(gains(dec.payload.ga_config), V(3, 1, 0x77, 0));
  ASSERT_TRUE(DecodeGatewayConfig(Record(0, 1, 1, PROTO_ADDR_ALI), radio2, dec));
  EXPECT_EQ(gains(dec.payload.ra_v2_config.channels[0]), V(2, 11, 0x77, 0));
}

TEST(AnalogConfig, RadioV2Layout) {
  s_data_cmd r = Record(0);
  ASSERT_EQ(Recv(convert_recv_v2_analog_config, H("00"), &r, 1, 1), 0);
  EXPECT_EQ(r.payload.ra_v2_config.channels_count, 0);
  Bytes out;
  Trans(convert_trans_v2_analog_config, r, 16, &out);
  EXPECT_HEX(out, "00 ??");
  EXPECT_EQ(Recv(convert_recv_v2_analog_config, {}, &r, 1, 1), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);

  // A disabled channel, then gains_count 3 in an 11-byte channel: disabled,
  // no pairs read, serial block straight after the gain count.
  Bytes odd = H("02 00 0B 0F 03 01 02 03 04 05 06 07 08");
  ASSERT_EQ(Recv(convert_recv_v2_analog_config, odd, &r, 1, 1), 0);
  const s_proto_ra_v2_config& c = r.payload.ra_v2_config;
  EXPECT_EQ(c.channels[0].enable + c.channels[0].uart_config.baud + c.channels[1].enable, 0u);
  EXPECT_EQ(V(c.channels[1].gain_id[0], c.channels[1].uart_config.baud), V(0, 0x04030201u));
  EXPECT_EQ(c.channels[1].uart_config.mode, 0x08);
  odd.pop_back();
  EXPECT_EQ(Recv(convert_recv_v2_analog_config, odd, &r, 1, 1), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  // Read byte by byte: a shortfall stops where it falls, and what was read stays
  // (flags, gain_id[0], pattern[0], baud, data bits).
  for (auto [hex, i, want] : {std::tuple<const char*, int, std::vector<double>>{"02 00 0B 0F", 1, V(4, 0, 0, 0, 0)},
                              {"02 00 0D 00 01 33", 1, V(0, 0x33, 0, 0, 0)},
                              {"01 0E 00 00 03 AA", 0, V(0, 0, 0xAA, 0, 0)},
                              {"01 0B 00 00 00 11 22 33 44 55", 0, V(0, 0, 0, 0x44332211, 0x55)}}) {
    EXPECT_EQ(Recv(convert_recv_v2_analog_config, H(hex), &r, 1, 1), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA) << hex;
    const s_radio_v2_channel_analog_config& x = r.payload.ra_v2_config.channels[i];
    EXPECT_EQ(V(x.flag_agc1_tx_state + x.flag_agc2_rx_state + x.flag_mixer_doc_state + x.flag_wire, x.gain_id[0],
                x.pattern[0], x.uart_config.baud, x.uart_config.data_bits), want) << hex;
  }

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
  ASSERT_EQ(Trans(convert_trans_v2_analog_config, e, 64, &wire), 1 + 1 + 1 + 17);
  EXPECT_EQ(wire[2], 17);
  EXPECT_EQ(wire[3], 0x0A);
  s_data_cmd back = Record(0);
  ASSERT_EQ(Recv(convert_recv_v2_analog_config, wire, &back, 1, 1), 0);
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
  EXPECT_EQ(Trans(convert_trans_v2_analog_config, e, 10), CONVERT_NOT_ENOUGHT_MEMORY);
  EXPECT_EQ(Trans(convert_trans_v2_analog_config, e, 0), CONVERT_NOT_ENOUGHT_MEMORY);
}

TEST(AnalogConfig, VersionTwoGgsIsTheVersionOneLayout) {
  Bytes ggs = H("01 00 06 00 06 03 05 01 02 03 04 00 00");
  s_data_cmd a = Record(0), b = Record(0);
  ASSERT_EQ(Recv(convert_recv_analog_config, ggs, &a, 0, 2), 0);
  ASSERT_EQ(Recv(convert_recv_v2_analog_config, ggs, &b, 1, 2), 0);
  EXPECT_EQ(std::memcmp(&a.payload.ga_config, &b.payload.ga_config, sizeof a.payload.ga_config), 0);
  EXPECT_EQ(V(b.payload.ga_config.channels[0].mb.ring_form, b.payload.ga_config.channels[0].mb.ring_off), V(5, 0x0403));

  // No packet alternative holds it: encoding selects none, decoding fails.
  b.msgID = ALI_SET_CONFIG;
  VORKGW::ProtoVorkPacket p = Encode(b);
  ASSERT_TRUE(p.get_payload().ali_set_config_isSelected());
  const VORKGW::ProtoVorkPacketPayloadAnalogSetConfig& v = p.get_payload().get_ali_set_config();
  EXPECT_FALSE(v.radio_v1_isSelected() || v.ggs_v1_isSelected() || v.radio_v2_isSelected());
  VORKGW::ProtoVorkPacketPayloadGWSetConfig gw;
  gw.select_ggs_analog_v1(VORKGW::ProtoVorkPacketPayloadGgsAnalogV1());
  b.dstAddr = PROTO_ADDR_ALI;
  s_data_cmd dec;
  EXPECT_FALSE(DecodeGatewayConfig(b, gw, dec));
  // A selected alternative other than the header's layout fails too.
  b.stateProtocol = 0;
  b.stateMode = 1;
  EXPECT_FALSE(DecodeGatewayConfig(b, gw, dec));
}

}  // namespace
