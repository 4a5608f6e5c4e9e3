// Version-2 radio commands and states: wire, destination rules, dumps and
// packets.
#include "tests/radiolink/line_cmd_helpers.h"

using namespace line_cmd;
using namespace VORKGW;

namespace {

s_data_cmd GwCommand(uint8_t command, uint8_t dst = PROTO_ADDR_DLI) {
  s_data_cmd r = Record(GW_RAD_COMMAND, 1, 1);
  r.dstAddr = dst;
  r.payload.rad_command.channel = 2;
  r.payload.rad_command.command = command;
  return r;
}

Bytes Head(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + static_cast<long>(std::min(n, b.size()))); }

TEST(RadMessages, GatewayCommandPayloads) {
  s_data_cmd ptt = GwCommand(RAD_CMD_PTT_ON);
  ptt.payload.rad_command.ptt.param_size = 3;
  ptt.payload.rad_command.ptt.param[0] = 0x11;
  ptt.payload.rad_command.ptt.param[1] = 0x22;
  ptt.payload.rad_command.ptt.param[2] = 0x33;
  EXPECT_EQ(PayloadOf(PROTO_MODE_GATEWAY, ptt), (Bytes{0x02, 0x01, 0x03, 0x11, 0x22, 0x33}));
  // More parameters announced than the record holds: only 20 are sent.
  ptt.payload.rad_command.ptt.param_size = 25;
  for (int i = 0; i < 20; ++i) ptt.payload.rad_command.ptt.param[i] = static_cast<uint8_t>(i + 1);
  Bytes p = PayloadOf(PROTO_MODE_GATEWAY, ptt);
  ASSERT_EQ(p.size(), 24u);
  EXPECT_EQ(p[2], 20);
  EXPECT_EQ(p[22], 20);

  Bytes get = PayloadOf(PROTO_MODE_GATEWAY, GwCommand(RAD_CMD_GET_STATE_BITS));
  ASSERT_EQ(get.size(), 4u);
  EXPECT_EQ(Head(get, 3), (Bytes{0x02, 0x00, 0x00}));

  s_data_cmd sel = GwCommand(RAD_CMD_SEL_CH);
  sel.payload.rad_command.select_channel = {5, 6};
  Bytes s = PayloadOf(PROTO_MODE_GATEWAY, sel);
  ASSERT_EQ(s.size(), 6u);
  EXPECT_EQ(Head(s, 5), (Bytes{0x02, 0x0E, 0x02, 0x05, 0x06}));

  s_data_cmd rs = GwCommand(RAD_CMD_RS485, PROTO_ADDR_ALI);
  rs.payload.rad_command.rs485_cmd.payload_size = 3;
  rs.payload.rad_command.rs485_cmd.payload[2] = 0x7E;
  EXPECT_EQ(PayloadOf(PROTO_MODE_GATEWAY, rs), (Bytes{0x02, 0x09, 0x03, 0x00, 0x00, 0x7E}));
  rs.payload.rad_command.rs485_cmd.payload_size = 255;  // the largest, past the first scratch buffer size
  EXPECT_EQ(PayloadOf(PROTO_MODE_GATEWAY, rs).size(), 258u);
  EXPECT_EQ(Trans(convert_trans_rad_command, GwCommand(RAD_CMD_PTT_OFF), 3), CONVERT_NOT_ENOUGHT_MEMORY);  // pad
  EXPECT_EQ(Trans(convert_trans_rad_command, sel, 4), CONVERT_NOT_ENOUGHT_MEMORY);
}

TEST(RadMessages, DestinationRules) {
  struct Case {
    uint8_t command;
    uint8_t dst;
    bool refused;
  } cases[] = {
      {RAD_CMD_RX_ON, PROTO_ADDR_ALI, true},      {RAD_CMD_RX_OFF, PROTO_ADDR_DLI, false},
      {RAD_CMD_BSS_ON, PROTO_ADDR_ALI, true},     {RAD_CMD_BSS_OFF, PROTO_ADDR_ALI, true},
      {RAD_CMD_RS485, PROTO_ADDR_DLI, true},      {RAD_CMD_RS485, PROTO_ADDR_ALI, false},
      {RAD_CMD_SEL_CH, PROTO_ADDR_ALI, true},     {RAD_CMD_SEL_CH, PROTO_ADDR_DLI, false},
      {RAD_CMD_RST_ON, PROTO_ADDR_DLI, true},     {RAD_CMD_AUX_OFF, PROTO_ADDR_DLI, true},
      {RAD_CMD_DEACT_CH, PROTO_ADDR_DLI, true},   {RAD_CMD_ACT_CH, PROTO_ADDR_ALI, false},
      {RAD_CMD_PTT_ON, PROTO_ADDR_ALI, false},    {RAD_CMD_SH_ON, PROTO_ADDR_ALI, false},
      {RAD_CMD_RX_ON, PROTO_ADDR_RGW, false},
  };
  for (const Case& k : cases) {
    int status = 1;
    Bytes p = PayloadOf(PROTO_MODE_GATEWAY, GwCommand(k.command, k.dst), &status);
    EXPECT_EQ(status, k.refused ? CONVERT_BAD_PARAM : 0) << int(k.command) << " to " << int(k.dst);
    EXPECT_EQ(p.empty(), k.refused) << int(k.command);
  }
  s_data_cmd st = Record(GW_RAD_STATE, 1, 1);
  st.payload.rad_state.type = RAD_STATE_SEL_CH;
  st.dstAddr = PROTO_ADDR_ALI;
  int status = 1;
  EXPECT_TRUE(PayloadOf(PROTO_MODE_GATEWAY, st, &status).empty());
  EXPECT_EQ(status, CONVERT_BAD_PARAM);
}

TEST(RadMessages, VersionOneHasNoRows) {
  int status = 1;
  s_data_cmd r = GwCommand(RAD_CMD_PTT_OFF);
  r.stateProtocol = 0;
  EXPECT_TRUE(PayloadOf(PROTO_MODE_GATEWAY, r, &status).empty());
  EXPECT_EQ(status, CONVERT_BAD_ID);
  s_data_cmd a = Record(ALI_RAD_STATE, 0, 1);
  EXPECT_TRUE(PayloadOf(PROTO_MODE_ANALOG, a, &status).empty());
  EXPECT_EQ(status, CONVERT_BAD_ID);
}

TEST(RadMessages, GatewayStateAndCommandReceive) {
  s_data_cmd st = Record(GW_RAD_STATE, 1, 1);
  st.dstAddr = PROTO_ADDR_DLI;
  st.payload.rad_state = {1, RAD_STATE_SEL_CH, {{3, 4}}};
  EXPECT_EQ(Head(PayloadOf(PROTO_MODE_GATEWAY, st), 5), (Bytes{1, 14, 2, 3, 4}));
  st.payload.rad_state.type = 7;
  EXPECT_EQ(PayloadOf(PROTO_MODE_GATEWAY, st).size(), 4u);

  s_data_cmd in = Receive(PROTO_MODE_ANALOG, GW_RAD_STATE, Flags(1, 1), {1, 14, 2, 3, 4, 0});
  EXPECT_EQ(in.cmdStatus, 0);
  EXPECT_EQ(in.payload.rad_state.select_channel.select_interface, 3);
  EXPECT_EQ(in.payload.rad_state.select_channel.select_channel, 4);
  s_data_cmd r = Record(0);
  EXPECT_EQ(Recv(convert_recv_rad_state, {1, 14, 1, 3}, &r), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  EXPECT_EQ(Recv(convert_recv_rad_state, {1, 14, 2, 3}, &r), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);

  // A long ptt parameter list is cut to the 20 the record holds.
  Bytes ptt = {2, 1, 25};
  for (int i = 0; i < 25; ++i) ptt.push_back(static_cast<uint8_t>(0x40 + i));
  EXPECT_EQ(Recv(convert_recv_rad_command, ptt, &r), CONVERT_OK);
  EXPECT_EQ(r.payload.rad_command.ptt.param_size, 20);
  EXPECT_EQ(r.payload.rad_command.ptt.param[19], 0x40 + 19);
  ptt.resize(20);
  EXPECT_EQ(Recv(convert_recv_rad_command, ptt, &r), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  EXPECT_EQ(r.payload.rad_command.command, 1);  // stored before the check

  EXPECT_EQ(Recv(convert_recv_rad_command, {2, 9, 3, 0xAA, 0xBB}, &r), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  EXPECT_EQ(Recv(convert_recv_rad_command, {2, 14, 1, 5}, &r), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  EXPECT_EQ(Recv(convert_recv_rad_command, {2, 3, 9}, &r), CONVERT_OK);  // no data read
}

TEST(RadMessages, DigitalInterface) {
  s_data_cmd c = Record(DLI_RAD_COMMAND, 1, 1);
  c.payload.rad_dig_command.channel = 1;
  c.payload.rad_dig_command.command = RAD_DIG_CMD_BSS_SCORE;
  c.payload.rad_dig_command.bss.snr = 1.5f;
  EXPECT_EQ(Head(PayloadOf(PROTO_MODE_DIGITAL, c), 7), (Bytes{1, 64, 4, 0x00, 0x00, 0xC0, 0x3F}));
  EXPECT_EQ(Trans(convert_trans_rad_digital_command, c, 7), CONVERT_NOT_ENOUGHT_MEMORY);  // no room for the pad
  c.payload.rad_dig_command.command = RAD_DIG_CMD_SQL_ON;
  EXPECT_EQ(Head(PayloadOf(PROTO_MODE_DIGITAL, c), 3), (Bytes{1, 65, 0}));

  s_data_cmd r = Record(0);
  EXPECT_EQ(Recv(convert_recv_rad_digital_command, {1, 64, 3, 0, 0, 0xC0, 0x3F}, &r),
            CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  s_data_cmd in = Receive(PROTO_MODE_GATEWAY, DLI_RAD_COMMAND, Flags(1, 1), {1, 64, 4, 0x00, 0x00, 0xC0, 0x3F, 0});
  EXPECT_EQ(in.cmdStatus, 0);
  EXPECT_FLOAT_EQ(in.payload.rad_dig_command.bss.snr, 1.5f);

  s_data_cmd s = Record(DLI_RAD_STATE, 1, 1);
  s.payload.rad_dig_state.type = RAD_STATE_BITS;
  s.payload.rad_dig_state.state.flag_ptt_selcall = 1;
  s.payload.rad_dig_state.state.flag_rc_line_state = 1;
  EXPECT_EQ(Head(PayloadOf(PROTO_MODE_DIGITAL, s), 5), (Bytes{0, 0, 2, 0x20, 0x01}));
  s_data_cmd back = Receive(PROTO_MODE_GATEWAY, DLI_RAD_STATE, Flags(1, 1), {0, 0, 2, 0xDD, 0x01, 0});
  ASSERT_EQ(back.cmdStatus, 0);
  const s_proto_rad_digital_bits& b = back.payload.rad_dig_state.state;
  EXPECT_EQ(b.flag_rc + b.flag_self_hear + b.flag_receiver + b.flag_bss + b.flag_detector_rx + b.flag_detector_tx, 6);
  EXPECT_EQ(b.flag_ptt + b.flag_ptt_selcall, 0);  // bits 1 and 5 of 0xDD
  EXPECT_EQ(b.flag_rc_line_state, 1);
  EXPECT_EQ(Recv(convert_recv_rad_digital_state, {0, 0, 1, 0xFF}, &r), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
}

TEST(RadMessages, AnalogInterface) {
  s_data_cmd s = Record(ALI_RAD_STATE, 1, 1);
  s.payload.rad_analog_state.channel = 1;
  s.payload.rad_analog_state.state.flag_rs_tx = 1;
  s.payload.rad_analog_state.state.flag_attach = 1;
  EXPECT_EQ(Head(PayloadOf(PROTO_MODE_ANALOG, s), 5), (Bytes{1, 0, 2, 0x81, 0x00}));

  s_data_cmd in = Receive(PROTO_MODE_GATEWAY, ALI_RAD_STATE, Flags(1, 1), {1, 0, 2, 0x60, 0x01, 0});
  ASSERT_EQ(in.cmdStatus, 0);
  const s_proto_rad_analog_bits& b = in.payload.rad_analog_state.state;
  EXPECT_EQ(b.flag_detected_rx + b.flag_detected_tx + b.flag_rs_error, 3);
  EXPECT_EQ(b.flag_attach + b.flag_ptt + b.flag_rs_tx, 0);
  s_data_cmd r = Record(0);
  EXPECT_EQ(Recv(convert_recv_rad_analog_state, {1, 0, 2, 0x60}, &r), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  EXPECT_EQ(Recv(convert_recv_rad_analog_state, {1, 14, 2}, &r), CONVERT_OK);

  s_data_cmd c = Record(ALI_RAD_COMMAND, 1, 1);
  c.payload.rad_analog_command.command = RAD_ANA_CMD_RS485;
  c.payload.rad_analog_command.rs485_status.payload_size = 2;
  c.payload.rad_analog_command.rs485_status.payload[0] = 0xA5;
  EXPECT_EQ(PayloadOf(PROTO_MODE_ANALOG, c), (Bytes{0, 128, 2, 0xA5, 0x00, 0x00}));
  EXPECT_EQ(Recv(convert_recv_rad_analog_command, {0, 128, 3, 1, 2}, &r), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
}

TEST(RadMessages, DumpNeverListsPastTheParametersHeld) {
  s_data_cmd ptt = GwCommand(RAD_CMD_PTT_ON);
  ptt.payload.rad_command.ptt.param_size = 1;
  ptt.payload.rad_command.ptt.param[0] = 0x3C;
  EXPECT_EQ(Body(ptt), "rad_command.channel: 2,\nrad_command.command: 1,\nptt.param_size: 1,\nptt.param : \n[0] : 0x3C,\n");
  ptt.payload.rad_command.ptt.param_size = 200;
  EXPECT_EQ(Body(ptt).find("[20]"), std::string::npos);
}

TEST(RadMessages, PacketsOut) {
  s_data_cmd c = Record(DLI_RAD_COMMAND, 1, 1);
  c.payload.rad_dig_command.channel = 1;
  c.payload.rad_dig_command.command = RAD_DIG_CMD_BSS_SCORE;
  c.payload.rad_dig_command.bss.snr = 1.5f;
  ProtoVorkPacket p = Encode(c);
  ASSERT_TRUE(p.get_payload().dli_rad_command_isSelected());
  const ProtoVorkPacketPayloadDigitalRadCommand& dc = p.get_payload().get_dli_rad_command();
  EXPECT_EQ(dc.get_channel().getValue(), 1);
  ASSERT_TRUE(dc.get_payload().bssScore_isSelected());
  EXPECT_EQ(std::string(dc.get_payload().get_bssScore().get_snr()), "1.500000");
  c.payload.rad_dig_command.command = 70;
  p = Encode(c);
  EXPECT_EQ(p.get_payload().get_dli_rad_command().get_command().asInt(), 70);
  EXPECT_EQ(p.get_payload().get_dli_rad_command().get_payload().currentSelection(), -1);

  s_data_cmd s = Record(DLI_RAD_STATE, 1, 1);
  s.payload.rad_dig_state.state.flag_ptt_selcall = 1;
  s.payload.rad_dig_state.state.flag_detector_tx = 1;
  p = Encode(s);
  const ProtoVorkPacketPayloadDigitalRadState& ds = p.get_payload().get_dli_rad_state();
  ASSERT_TRUE(ds.get_payload().stateBits_isSelected());
  EXPECT_TRUE(bool(ds.get_payload().get_stateBits().get_ptt_selcall()));
  EXPECT_TRUE(bool(ds.get_payload().get_stateBits().get_detected_tx()));
  EXPECT_FALSE(bool(ds.get_payload().get_stateBits().get_ptt()));

  s_data_cmd ac = Record(ALI_RAD_COMMAND, 1, 1);
  ac.payload.rad_analog_command.command = RAD_ANA_CMD_RS485;
  ac.payload.rad_analog_command.rs485_status.payload_size = 2;
  ac.payload.rad_analog_command.rs485_status.payload[1] = 0xFE;
  p = Encode(ac);
  const ProtoVorkPacketPayloadAnalogRadCommand& a = p.get_payload().get_ali_rad_command();
  EXPECT_EQ(a.get_command().asInt(), 128);
  EXPECT_EQ(Ints(a.get_payload().get_rs485Cmd().get_payload()), (std::vector<int>{0, 254}));
  ac.payload.rad_analog_command.command = 5;
  EXPECT_EQ(Encode(ac).get_payload().get_ali_rad_command().get_payload().currentSelection(), -1);
}

TEST(RadMessages, PacketsIn) {
  ProtoVorkPacketPayload pl;
  ProtoVorkPacketPayloadGWRadCommand& c = pl.select_gw_rad_command();
  c.set_channel(0x103);
  c.set_command(ProtoVorkGwRadioCommand::rs485Cmd);
  c.set_payload().select_rs485Cmd().set_payload(IntList(300, 0));
  s_data_cmd r = Record(0);
  ASSERT_TRUE(ProtoVorkDecodeASN(GwPacket(ProtoVorkMsgID::gw_rad_command, 1, pl), r));
  EXPECT_EQ(r.payload.rad_command.channel, 3);
  EXPECT_EQ(r.payload.rad_command.command, 9);
  ASSERT_EQ(r.payload.rad_command.rs485_cmd.payload_size, 255);
  EXPECT_EQ(r.payload.rad_command.rs485_cmd.payload[254], 254);

  c.set_command(ProtoVorkGwRadioCommand::pttOn);
  c.set_payload().select_pttOn().set_payload(IntList(25, 0x200));
  ASSERT_TRUE(ProtoVorkDecodeASN(GwPacket(ProtoVorkMsgID::gw_rad_command, 1, pl), r));
  EXPECT_EQ(r.payload.rad_command.command, 1);
  EXPECT_EQ(r.payload.rad_command.ptt.param_size, 20);
  EXPECT_EQ(r.payload.rad_command.ptt.param[19], 19);

  // A command without data replaces whatever the reused record held.
  c.set_command(ProtoVorkGwRadioCommand::getStateBits);
  ASSERT_TRUE(ProtoVorkDecodeASN(GwPacket(ProtoVorkMsgID::gw_rad_command, 1, pl), r));
  EXPECT_EQ(r.payload.rad_command.command, 0);
  c.set_command().setFromInt(40);
  ASSERT_TRUE(ProtoVorkDecodeASN(GwPacket(ProtoVorkMsgID::gw_rad_command, 1, pl), r));
  EXPECT_EQ(r.payload.rad_command.command, 40);
  // A command whose data is missing is not converted.
  c.set_command(ProtoVorkGwRadioCommand::pttOn);
  c.set_payload().select_pttOff(ASN1::Null());
  EXPECT_FALSE(ProtoVorkDecodeASN(GwPacket(ProtoVorkMsgID::gw_rad_command, 1, pl), r));
  c.set_command(ProtoVorkGwRadioCommand::rs485Cmd);
  EXPECT_FALSE(ProtoVorkDecodeASN(GwPacket(ProtoVorkMsgID::gw_rad_command, 1, pl), r));

  ProtoVorkPacketPayload st;
  ProtoVorkPacketPayloadGWRadState& s = st.select_gw_rad_state();
  s.set_channel(4);
  s.set_type(ProtoVorkGwRadioState::selCh);
  ProtoVorkPacketPayloadRadCommandSelectChannel& ssc = s.set_payload().select_selCh();
  ssc.set_select_interface(7);
  ssc.set_select_channel(8);
  ASSERT_TRUE(ProtoVorkDecodeASN(GwPacket(ProtoVorkMsgID::gw_rad_state, 1, st), r));
  EXPECT_EQ(r.payload.rad_state.channel, 4);
  EXPECT_EQ(r.payload.rad_state.type, 14);
  EXPECT_EQ(r.payload.rad_state.select_channel.select_interface, 7);
  s.set_type().setFromInt(3);
  ASSERT_TRUE(ProtoVorkDecodeASN(GwPacket(ProtoVorkMsgID::gw_rad_state, 1, st), r));
  EXPECT_EQ(r.payload.rad_state.type, 3);

  EXPECT_FALSE(ProtoVorkDecodeASN(GwPacket(ProtoVorkMsgID::gw_rad_state, 1, pl), r));
  EXPECT_FALSE(ProtoVorkDecodeASN(GwPacket(ProtoVorkMsgID::gw_rad_command, 1, st), r));
}

TEST(RadMessages, RoundTripThroughPacket) {
  // A channel selection reported by the DLI, passed back down by the gateway.
  Bytes wire = {0x01, 0x0E, 0x02, 0x03, 0x04, 0x00};
  s_data_cmd in = Receive(PROTO_MODE_GATEWAY, DLI_RAD_COMMAND, Flags(1, 1), wire);
  ASSERT_EQ(in.cmdStatus, 0);
  ProtoVorkPacket up = Encode(in);
  const ProtoVorkPacketPayloadDigitalRadCommand& dc = up.get_payload().get_dli_rad_command();
  ASSERT_TRUE(dc.get_payload().selCh_isSelected());
  ProtoVorkPacketPayload down;
  ProtoVorkPacketPayloadGWRadCommand& g = down.select_gw_rad_command();
  g.set_channel(dc.get_channel().getValue());
  g.set_command(ProtoVorkGwRadioCommand::selCh);
  g.set_payload().select_selCh(dc.get_payload().get_selCh());
  s_data_cmd out = Record(0);
  ASSERT_TRUE(ProtoVorkDecodeASN(GwPacket(ProtoVorkMsgID::gw_rad_command, 1, down), out));
  EXPECT_EQ(PayloadOf(PROTO_MODE_GATEWAY, out), wire);
  s_data_cmd at_dli = Receive(PROTO_MODE_DIGITAL, GW_RAD_COMMAND, Flags(1, 1), wire);
  EXPECT_EQ(at_dli.payload.rad_command.select_channel.select_interface, 3);
}

TEST(RadMessages, EveryConverterRefusesNullArguments) {
  proto_convert_fn fns[] = {
      convert_trans_ggs_command,         convert_recv_ggs_command,          convert_trans_ggs_state,
      convert_recv_ggs_state,            convert_trans_ggs_digital_state,   convert_recv_ggs_digital_state,
      convert_trans_dcon_command,        convert_recv_dcon_command,         convert_trans_dcon_digital_command,
      convert_recv_dcon_digital_command, convert_trans_dcon_state,          convert_recv_dcon_state,
      convert_trans_dcon_digital_state,  convert_recv_dcon_digital_state,   convert_trans_rad_command,
      convert_recv_rad_command,          convert_trans_rad_state,           convert_recv_rad_state,
      convert_trans_rad_digital_command, convert_recv_rad_digital_command,  convert_trans_rad_digital_state,
      convert_recv_rad_digital_state,    convert_trans_rad_analog_command,  convert_recv_rad_analog_command,
      convert_trans_rad_analog_state,    convert_recv_rad_analog_state,
  };
  s_proto_transiver_event row{0, 1, 0, nullptr};
  unsigned short flags = 0;
  unsigned char src = 0, dst = 0, buf[16] = {0};
  s_data_cmd r = Record(0);
  for (proto_convert_fn fn : fns) {
    EXPECT_EQ(fn(&row, &flags, &src, &dst, buf, 16, nullptr), CONVERT_ERROR);
    EXPECT_EQ(fn(&row, &flags, &src, &dst, nullptr, 16, &r), CONVERT_ERROR);
    EXPECT_EQ(fn(nullptr, &flags, &src, &dst, buf, 16, &r), CONVERT_ERROR);
  }
}

}  // namespace
