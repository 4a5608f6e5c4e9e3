// Version-2 radio commands and states: wire, destination rules, dumps and
// packets.
#include "tests/radiolink/radiolink_frames.h"

using namespace VORKGW;

namespace {

s_data_cmd GwCommand(uint8_t command, uint8_t dst = PROTO_ADDR_DLI) {
  s_data_cmd r = Record(GW_RAD_COMMAND, 1, 1, dst);
  r.payload.rad_command.channel = 2;
  r.payload.rad_command.command = command;
  return r;
}

// Channel, command, then the command's data: a counted parameter list
// (ptt), nothing (state bits), interface and channel (select), counted bytes
// (RS-485, to an analog interface).
TEST(RadMessages, GatewayCommandPayloads) {
  const uint16_t v2 = Flags(1, 1);
  s_data_cmd ptt = RoundTrip(PROTO_MODE_GATEWAY, PROTO_MODE_DIGITAL, GW_RAD_COMMAND, v2, "02 01 03 11 22 33");
  const s_proto_rad_command& c = ptt.payload.rad_command;
  EXPECT_EQ(V(c.channel, c.command, c.ptt.param_size, c.ptt.param[2]), V(2, RAD_CMD_PTT_ON, 3, 0x33));
  s_data_cmd get = RoundTrip(PROTO_MODE_GATEWAY, PROTO_MODE_DIGITAL, GW_RAD_COMMAND, v2, "02 00 00 ??");
  EXPECT_EQ(get.payload.rad_command.command, RAD_CMD_GET_STATE_BITS);
  s_data_cmd sel = RoundTrip(PROTO_MODE_GATEWAY, PROTO_MODE_DIGITAL, GW_RAD_COMMAND, v2, "02 0E 02 05 06 ??");
  const s_proto_rad_select& sc = sel.payload.rad_command.select_channel;
  EXPECT_EQ(V(sc.select_interface, sc.select_channel), V(5, 6));
  s_data_cmd rs = RoundTrip(PROTO_MODE_GATEWAY, PROTO_MODE_ANALOG, GW_RAD_COMMAND, v2, "02 09 03 00 00 7E");
  EXPECT_EQ(V(rs.payload.rad_command.rs485_cmd.payload_size, rs.payload.rad_command.rs485_cmd.payload[2]), V(3, 0x7E));
  rs.payload.rad_command.rs485_cmd.payload_size = 255;  // the largest, past the first scratch buffer size
  EXPECT_EQ(PayloadOf(PROTO_MODE_GATEWAY, rs).size(), 258u);
  // More parameters announced than the record holds: only 20 are sent.
  ptt.payload.rad_command.ptt.param_size = 25;
  Bytes p = PayloadOf(PROTO_MODE_GATEWAY, ptt);
  EXPECT_EQ(V(p.size(), p[2]), V(24, 20));
  EXPECT_EQ(Trans(convert_trans_rad_command, GwCommand(RAD_CMD_PTT_OFF), 3), CONVERT_NOT_ENOUGHT_MEMORY);  // pad
  EXPECT_EQ(Trans(convert_trans_rad_command, sel, 4), CONVERT_NOT_ENOUGHT_MEMORY);
}

// Commands and states sent to an interface that cannot act on them are
// refused; version 1 has no radio command rows at all.
TEST(RadMessages, DestinationRules) {
  struct Case {
    uint16_t id;
    uint8_t command, dst, protocol;
    int status;
  } cases[] = {
      {GW_RAD_COMMAND, RAD_CMD_RX_ON, PROTO_ADDR_ALI, 1, CONVERT_BAD_PARAM},
      {GW_RAD_COMMAND, RAD_CMD_RX_OFF, PROTO_ADDR_DLI, 1, 0},
      {GW_RAD_COMMAND, RAD_CMD_BSS_ON, PROTO_ADDR_ALI, 1, CONVERT_BAD_PARAM},
      {GW_RAD_COMMAND, RAD_CMD_BSS_OFF, PROTO_ADDR_ALI, 1, CONVERT_BAD_PARAM},
      {GW_RAD_COMMAND, RAD_CMD_RS485, PROTO_ADDR_DLI, 1, CONVERT_BAD_PARAM},
      {GW_RAD_COMMAND, RAD_CMD_RS485, PROTO_ADDR_ALI, 1, 0},
      {GW_RAD_COMMAND, RAD_CMD_SEL_CH, PROTO_ADDR_ALI, 1, CONVERT_BAD_PARAM},
      {GW_RAD_COMMAND, RAD_CMD_SEL_CH, PROTO_ADDR_DLI, 1, 0},
      {GW_RAD_COMMAND, RAD_CMD_RST_ON, PROTO_ADDR_DLI, 1, CONVERT_BAD_PARAM},
      {GW_RAD_COMMAND, RAD_CMD_AUX_OFF, PROTO_ADDR_DLI, 1, CONVERT_BAD_PARAM},
      {GW_RAD_COMMAND, RAD_CMD_DEACT_CH, PROTO_ADDR_DLI, 1, CONVERT_BAD_PARAM},
      {GW_RAD_COMMAND, RAD_CMD_ACT_CH, PROTO_ADDR_ALI, 1, 0},
      {GW_RAD_COMMAND, RAD_CMD_PTT_ON, PROTO_ADDR_ALI, 1, 0},
      {GW_RAD_COMMAND, RAD_CMD_SH_ON, PROTO_ADDR_ALI, 1, 0},
      {GW_RAD_COMMAND, RAD_CMD_RX_ON, PROTO_ADDR_RGW, 1, 0},
      {GW_RAD_STATE, RAD_STATE_SEL_CH, PROTO_ADDR_ALI, 1, CONVERT_BAD_PARAM},
      {GW_RAD_COMMAND, RAD_CMD_PTT_OFF, PROTO_ADDR_DLI, 0, CONVERT_BAD_ID},
  };
  for (const Case& k : cases) {
    s_data_cmd r = GwCommand(k.command, k.dst);
    r.msgID = k.id;
    r.stateProtocol = k.protocol;
    if (k.id == GW_RAD_STATE) r.payload.rad_state.type = k.command;
    int status = 1;
    Bytes p = PayloadOf(PROTO_MODE_GATEWAY, r, &status);
    EXPECT_EQ(status, k.status) << int(k.command) << " to " << int(k.dst);
    EXPECT_EQ(p.empty(), k.status != 0) << int(k.command);
  }
  int status = 1;
  EXPECT_TRUE(PayloadOf(PROTO_MODE_ANALOG, Record(ALI_RAD_STATE, 0, 1), &status).empty());
  EXPECT_EQ(status, CONVERT_BAD_ID);
}

TEST(RadMessages, GatewayStateAndCommandReceive) {
  s_data_cmd st = RoundTrip(PROTO_MODE_GATEWAY, PROTO_MODE_DIGITAL, GW_RAD_STATE, Flags(1, 1), "01 0E 02 03 04 ??");
  const s_proto_rad_state& rs = st.payload.rad_state;
  EXPECT_EQ(V(rs.channel, rs.type, rs.select_channel.select_interface, rs.select_channel.select_channel),
            V(1, RAD_STATE_SEL_CH, 3, 4));
  st.payload.rad_state.type = 7;  // no data
  EXPECT_HEX(PayloadOf(PROTO_MODE_GATEWAY, st), "01 07 00 ??");

  // A long ptt parameter list is cut to the 20 the record holds.
  Bytes ptt = H("02 01 19");
  for (int i = 0; i < 25; ++i) ptt.push_back(static_cast<uint8_t>(0x40 + i));
  s_data_cmd r = Record(0);
  EXPECT_EQ(Recv(convert_recv_rad_command, ptt, &r), CONVERT_OK);
  EXPECT_EQ(r.payload.rad_command.ptt.param_size, 20);
  EXPECT_EQ(r.payload.rad_command.ptt.param[19], 0x40 + 19);
  ptt.resize(20);
  EXPECT_EQ(Recv(convert_recv_rad_command, ptt, &r), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  EXPECT_EQ(r.payload.rad_command.command, 1);  // stored before the check

  struct Row {
    proto_convert_fn fn;
    const char* payload;
    int status;
  };
  const Row rows[] = {
      {convert_recv_rad_state, "01 0E 01 03", CONVERT_NOT_ENOUGHT_PAYLOAD_DATA},
      {convert_recv_rad_state, "01 0E 02 03", CONVERT_NOT_ENOUGHT_PAYLOAD_DATA},
      {convert_recv_rad_command, "02 09 03 AA BB", CONVERT_NOT_ENOUGHT_PAYLOAD_DATA},
      {convert_recv_rad_command, "02 0E 01 05", CONVERT_NOT_ENOUGHT_PAYLOAD_DATA},
      {convert_recv_rad_command, "02 03 09", CONVERT_OK},  // no data read
      {convert_recv_rad_digital_command, "01 40 03 00 00 C0 3F", CONVERT_NOT_ENOUGHT_PAYLOAD_DATA},
      {convert_recv_rad_digital_state, "00 00 01 FF", CONVERT_NOT_ENOUGHT_PAYLOAD_DATA},
      {convert_recv_rad_analog_state, "01 00 02 60", CONVERT_NOT_ENOUGHT_PAYLOAD_DATA},
      {convert_recv_rad_analog_state, "01 0E 02", CONVERT_OK},
      {convert_recv_rad_analog_command, "00 80 03 01 02", CONVERT_NOT_ENOUGHT_PAYLOAD_DATA},
  };
  for (const Row& k : rows) EXPECT_EQ(Recv(k.fn, H(k.payload), &r), k.status) << k.payload;
}

TEST(RadMessages, InterfaceCommandsAndStates) {
  const uint16_t v2 = Flags(1, 1);
  s_data_cmd c = RoundTrip(PROTO_MODE_DIGITAL, PROTO_MODE_GATEWAY, DLI_RAD_COMMAND, v2, "01 40 04 00 00 C0 3F ??");
  EXPECT_EQ(V(c.payload.rad_dig_command.command, c.payload.rad_dig_command.bss.snr), V(RAD_DIG_CMD_BSS_SCORE, 1.5));
  EXPECT_EQ(Trans(convert_trans_rad_digital_command, c, 7), CONVERT_NOT_ENOUGHT_MEMORY);  // no room for the pad
  ProtoVorkPacket p = Encode(c);
  const ProtoVorkPacketPayloadDigitalRadCommand& dc = p.get_payload().get_dli_rad_command();
  EXPECT_EQ(dc.get_channel().getValue(), 1);
  ASSERT_TRUE(dc.get_payload().bssScore_isSelected());
  EXPECT_EQ(std::string(dc.get_payload().get_bssScore().get_snr()), "1.500000");
  c.payload.rad_dig_command.command = RAD_DIG_CMD_SQL_ON;
  EXPECT_HEX(PayloadOf(PROTO_MODE_DIGITAL, c), "01 41 00 ??");
  c.payload.rad_dig_command.command = 70;
  p = Encode(c);
  EXPECT_EQ(p.get_payload().get_dli_rad_command().get_command().asInt(), 70);
  EXPECT_EQ(p.get_payload().get_dli_rad_command().get_payload().currentSelection(), -1);

  // State bits: ptt selcall is bit 5, the line state bit 0 of the second byte.
  s_data_cmd s = RoundTrip(PROTO_MODE_DIGITAL, PROTO_MODE_GATEWAY, DLI_RAD_STATE, v2, "00 00 02 20 01 ??");
  EXPECT_EQ(V(s.payload.rad_dig_state.state.flag_ptt_selcall, s.payload.rad_dig_state.state.flag_rc_line_state), V(1, 1));
  ProtoVorkPacket ps = Encode(s);
  const ProtoVorkPacketPayloadDigitalRadState& ds = ps.get_payload().get_dli_rad_state();
  ASSERT_TRUE(ds.get_payload().stateBits_isSelected());
  EXPECT_TRUE(bool(ds.get_payload().get_stateBits().get_ptt_selcall()));
  EXPECT_FALSE(bool(ds.get_payload().get_stateBits().get_ptt()));
  s_data_cmd back = Receive(PROTO_MODE_GATEWAY, DLI_RAD_STATE, v2, H("00 00 02 DD 01 00"));
  ASSERT_EQ(back.cmdStatus, 0);
  const s_proto_rad_digital_bits& b = back.payload.rad_dig_state.state;
  EXPECT_EQ(b.flag_rc + b.flag_self_hear + b.flag_receiver + b.flag_bss + b.flag_detector_rx + b.flag_detector_tx, 6);
  EXPECT_EQ(b.flag_ptt + b.flag_ptt_selcall, 0);  // bits 1 and 5 of 0xDD
  EXPECT_EQ(b.flag_rc_line_state, 1);
  EXPECT_TRUE(bool(Encode(back).get_payload().get_dli_rad_state().get_payload().get_stateBits().get_detected_tx()));

  s_data_cmd a = RoundTrip(PROTO_MODE_ANALOG, PROTO_MODE_GATEWAY, ALI_RAD_STATE, v2, "01 00 02 81 00 ??");
  EXPECT_EQ(V(a.payload.rad_analog_state.state.flag_rs_tx, a.payload.rad_analog_state.state.flag_attach), V(1, 1));
  s_data_cmd in = Receive(PROTO_MODE_GATEWAY, ALI_RAD_STATE, v2, H("01 00 02 60 01 00"));
  ASSERT_EQ(in.cmdStatus, 0);
  const s_proto_rad_analog_bits& ab = in.payload.rad_analog_state.state;
  EXPECT_EQ(ab.flag_detected_rx + ab.flag_detected_tx + ab.flag_rs_error, 3);
  EXPECT_EQ(ab.flag_attach + ab.flag_ptt + ab.flag_rs_tx, 0);

  s_data_cmd ac = RoundTrip(PROTO_MODE_ANALOG, PROTO_MODE_GATEWAY, ALI_RAD_COMMAND, v2, "00 80 02 A5 FE ??");
  p = Encode(ac);
  const ProtoVorkPacketPayloadAnalogRadCommand& pa = p.get_payload().get_ali_rad_command();
  EXPECT_EQ(pa.get_command().asInt(), 128);
  EXPECT_EQ(Ints(pa.get_payload().get_rs485Cmd().get_payload()), (std::vector<int>{0xA5, 0xFE}));
  ac.payload.rad_analog_command.command = 5;
  EXPECT_EQ(Encode(ac).get_payload().get_ali_rad_command().get_payload().currentSelection(), -1);
}

TEST(RadMessages, DumpNeverListsPastTheParametersHeld) {
  s_data_cmd ptt = GwCommand(RAD_CMD_PTT_ON);
  ptt.payload.rad_command.ptt.param_size = 1;
  ptt.payload.rad_command.ptt.param[0] = 0x3C;
  EXPECT_EQ(Body(ptt), "rad_command.channel: 2,\nrad_command.command: 1,\nptt.param_size: 1,\nptt.param : \n[0] : 0x3C,\n");
  ptt.payload.rad_command.ptt.param_size = 200;
  EXPECT_EQ(Body(ptt).find("[20]"), std::string::npos);
}

TEST(RadMessages, PacketsIn) {
  ProtoVorkPacketPayload pl;
  ProtoVorkPacketPayloadGWRadCommand& c = pl.select_gw_rad_command();
  c.set_channel(0x103);
  c.set_command(ProtoVorkGwRadioCommand::rs485Cmd);
  c.set_payload().select_rs485Cmd().set_payload(IntList(300, 0));
  s_data_cmd r = Record(0);
  auto decode = [&](const ProtoVorkPacketPayload& payload, ProtoVorkMsgID::NamedNumber id) {
    return ProtoVorkDecodeASN(GwPacket(id, 1, payload), r);
  };
  ASSERT_TRUE(decode(pl, ProtoVorkMsgID::gw_rad_command));
  EXPECT_EQ(r.payload.rad_command.channel, 3);
  EXPECT_EQ(r.payload.rad_command.command, 9);
  ASSERT_EQ(r.payload.rad_command.rs485_cmd.payload_size, 255);
  EXPECT_EQ(r.payload.rad_command.rs485_cmd.payload[254], 254);

  c.set_command(ProtoVorkGwRadioCommand::pttOn);
  c.set_payload().select_pttOn().set_payload(IntList(25, 0x200));
  ASSERT_TRUE(decode(pl, ProtoVorkMsgID::gw_rad_command));
  EXPECT_EQ(V(r.payload.rad_command.command, r.payload.rad_command.ptt.param_size, r.payload.rad_command.ptt.param[19]),
            V(1, 20, 19));

  // A command without data replaces whatever the reused record held.
  c.set_command(ProtoVorkGwRadioCommand::getStateBits);
  ASSERT_TRUE(decode(pl, ProtoVorkMsgID::gw_rad_command));
  EXPECT_EQ(r.payload.rad_command.command, 0);
  c.set_command().setFromInt(40);
  ASSERT_TRUE(decode(pl, ProtoVorkMsgID::gw_rad_command));
  EXPECT_EQ(r.payload.rad_command.command, 40);
  // A command whose data is missing is not converted.
  c.set_command(ProtoVorkGwRadioCommand::pttOn);
  c.set_payload().select_pttOff(ASN1::Null());
  EXPECT_FALSE(decode(pl, ProtoVorkMsgID::gw_rad_command));
  c.set_command(ProtoVorkGwRadioCommand::rs485Cmd);
  EXPECT_FALSE(decode(pl, ProtoVorkMsgID::gw_rad_command));

  ProtoVorkPacketPayload st;
  ProtoVorkPacketPayloadGWRadState& s = st.select_gw_rad_state();
  s.set_channel(4);
  s.set_type(ProtoVorkGwRadioState::selCh);
  ProtoVorkPacketPayloadRadCommandSelectChannel& ssc = s.set_payload().select_selCh();
  ssc.set_select_interface(7);
  ssc.set_select_channel(8);
  ASSERT_TRUE(decode(st, ProtoVorkMsgID::gw_rad_state));
  EXPECT_EQ(V(r.payload.rad_state.channel, r.payload.rad_state.type), V(4, 14));
  EXPECT_EQ(r.payload.rad_state.select_channel.select_interface, 7);
  s.set_type().setFromInt(3);
  ASSERT_TRUE(decode(st, ProtoVorkMsgID::gw_rad_state));
  EXPECT_EQ(r.payload.rad_state.type, 3);
  EXPECT_FALSE(decode(pl, ProtoVorkMsgID::gw_rad_state));
  EXPECT_FALSE(decode(st, ProtoVorkMsgID::gw_rad_command));

  // A channel selection reported by the DLI, passed back down by the gateway.
  const char wire[] = "01 0E 02 03 04 00";
  s_data_cmd in = Receive(PROTO_MODE_GATEWAY, DLI_RAD_COMMAND, Flags(1, 1), H(wire));
  ASSERT_EQ(in.cmdStatus, 0);
  ProtoVorkPacket up = Encode(in);
  const ProtoVorkPacketPayloadDigitalRadCommand& dc = up.get_payload().get_dli_rad_command();
  ASSERT_TRUE(dc.get_payload().selCh_isSelected());
  c.set_channel(dc.get_channel().getValue());
  c.set_command(ProtoVorkGwRadioCommand::selCh);
  c.set_payload().select_selCh(dc.get_payload().get_selCh());
  ASSERT_TRUE(decode(pl, ProtoVorkMsgID::gw_rad_command));
  EXPECT_EQ(Hex(PayloadOf(PROTO_MODE_GATEWAY, r)), wire);
  EXPECT_EQ(Receive(PROTO_MODE_DIGITAL, GW_RAD_COMMAND, Flags(1, 1), H(wire)).payload.rad_command.select_channel.select_interface, 3);
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
