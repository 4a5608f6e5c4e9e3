// DCON channel commands and states: wire, dumps and packets.
#include "tests/radiolink/radiolink_frames.h"

using namespace VORKGW;

namespace {

s_data_cmd DconState(uint16_t id, int protocol = 0) {
  s_data_cmd r = Record(id, static_cast<uint8_t>(protocol), 3);
  // Channel 1, ats-qsig, calling, FSM error; the plain state shares the head.
  r.payload.dcon_dig_state = {1, 1, 3, 0x20, 0, 0};
  return r;
}

TEST(DconMessages, StatesOnTheWire) {
  // Channel, signal type (16 bits), state, error; the digital state adds the detection flags.
  for (uint16_t f : {Flags(0, 3), Flags(1, 3)}) {
    s_data_cmd s = RoundTrip(PROTO_MODE_GATEWAY, PROTO_MODE_DIGITAL, GW_DCON_STATE, f, "01 01 00 03 20 ??");
    const s_proto_dcon_state& v = s.payload.dcon_state;
    EXPECT_EQ(V(v.channel, v.type_signal, v.state, v.error), V(1, 1, 3, 0x20));
    s = RoundTrip(PROTO_MODE_DIGITAL, PROTO_MODE_GATEWAY, DLI_DCON_STATE, f, "01 01 00 03 20 03");
    EXPECT_EQ(V(s.payload.dcon_dig_state.flag_detected_rx, s.payload.dcon_dig_state.flag_detected_tx), V(1, 1));
  }
  EXPECT_EQ(Trans(convert_trans_dcon_state, DconState(GW_DCON_STATE), 5), CONVERT_NOT_ENOUGHT_MEMORY);
  EXPECT_EQ(Trans(convert_trans_dcon_digital_state, DconState(DLI_DCON_STATE), 5), CONVERT_NOT_ENOUGHT_MEMORY);

  // A plain state of 5 bytes is whole; a digital one needs its flags byte.
  s_data_cmd r = Record(0);
  EXPECT_EQ(Recv(convert_recv_dcon_state, H("01 02 01 04 40"), &r), CONVERT_OK);
  EXPECT_EQ(r.payload.dcon_state.type_signal, 0x0102);
  EXPECT_EQ(r.payload.dcon_state.error, 0x40);
  EXPECT_EQ(Recv(convert_recv_dcon_digital_state, H("01 01 00 03 20"), &r), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  s_data_cmd in = Receive(PROTO_MODE_GATEWAY, DLI_DCON_STATE, Flags(1, 3), H("01 01 00 03 20 02"));
  EXPECT_EQ(V(in.cmdStatus, in.payload.dcon_dig_state.flag_detected_rx, in.payload.dcon_dig_state.flag_detected_tx),
            V(0, 0, 1));
}

TEST(DconMessages, Commands) {
  s_data_cmd c = RoundTrip(PROTO_MODE_GATEWAY, PROTO_MODE_DIGITAL, GW_DCON_COMMAND, Flags(0, 3), "04 01 00 02 00 ??");
  EXPECT_EQ(V(c.payload.dcon_command.channel, c.payload.dcon_command.type_signal, c.payload.dcon_command.command),
            V(4, 1, 2));
  c.msgID = DLI_DCON_COMMAND;
  c.payload.dcon_dig_command.param_size = 3;
  c.payload.dcon_dig_command.param[2] = 0xA3;
  EXPECT_EQ(Hex(PayloadOf(PROTO_MODE_DIGITAL, c)), "04 01 00 02 03 00 00 A3");

  s_data_cmd bad = Receive(PROTO_MODE_GATEWAY, DLI_DCON_COMMAND, Flags(0, 3), H("04 01 00 01 04 55"));
  EXPECT_EQ(bad.cmdStatus, CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  EXPECT_EQ(bad.payload.dcon_dig_command.param_size, 4);
  s_data_cmd at_dli = Receive(PROTO_MODE_DIGITAL, GW_DCON_COMMAND, Flags(1, 3), H("04 01 00 01 01 55"));
  EXPECT_EQ(at_dli.cmdStatus, 0);
  EXPECT_EQ(at_dli.payload.dcon_command.param[0], 0x55);

  c.payload.dcon_dig_command = {1, 300, 0, 1, {0x0B}};
  EXPECT_EQ(Body(c),
            "dcon_dig_command.channel: 1,\ndcon_dig_command.type_signal: 300,\ndcon_dig_command.command: 0,\n"
            "dcon_dig_command.param_size: 1,\ndcon_dig_command.param : \n[0] : 0x0B,\n");
  c.msgID = GW_DCON_COMMAND;
  EXPECT_EQ(Body(c).substr(0, 24), "dcon_command.channel: 1,");
  s_data_cmd s = DconState(DLI_DCON_STATE);
  s.payload.dcon_dig_state.flag_detected_tx = 1;
  EXPECT_EQ(Body(s),
            "dcon_dig_state.channel: 1,\ndcon_dig_state.type_signal: 1,\ndcon_dig_state.state: 3,\n"
            "dcon_dig_state.error: 32,\ndcon_dig_state.flag_detected_rx: 0,\ndcon_dig_state.flag_detected_tx: 1,\n");
}

TEST(DconMessages, Packets) {
  s_data_cmd s = DconState(DLI_DCON_STATE);
  s.payload.dcon_dig_state.flag_detected_rx = 1;
  ProtoVorkPacket p = Encode(s);
  ASSERT_TRUE(p.get_payload().dli_dcon_state_isSelected());
  const ProtoVorkPacketPayloadDigitalDconState& v = p.get_payload().get_dli_dcon_state();
  EXPECT_EQ(v.get_type_signal().asInt(), ProtoVorkDconSignal::ats_qsig);
  EXPECT_TRUE(v.get_state().is_calling());
  EXPECT_TRUE(bool(v.get_detected_rx()));
  EXPECT_FALSE(bool(v.get_detected_tx()));

  ProtoVorkPacketPayload cmd;
  ProtoVorkPacketPayloadDconCommand& c = cmd.select_gw_dcon_command();
  c.set_channel(2);
  c.set_type_signal(ProtoVorkDconSignal::ats_qsig);
  c.set_command(ProtoVorkDconCommand::call);
  c.set_param(IntList(30, 1));
  s_data_cmd r = Record(0);
  ASSERT_TRUE(ProtoVorkDecodeASN(GwPacket(ProtoVorkMsgID::gw_dcon_command, 0, cmd), r));
  EXPECT_EQ(r.payload.dcon_command.command, 2);
  ASSERT_EQ(r.payload.dcon_command.param_size, 20);
  EXPECT_EQ(r.payload.dcon_command.param[19], 20);

  ProtoVorkPacketPayload st;
  ProtoVorkPacketPayloadGWDconState& g = st.select_gw_dcon_state();
  g.set_channel(0x203);
  g.set_type_signal().setFromInt(0x10001);
  g.set_state(ProtoVorkDconState::unavailable);
  g.set_error(0x40);
  ASSERT_TRUE(ProtoVorkDecodeASN(GwPacket(ProtoVorkMsgID::gw_dcon_state, 0, st), r));
  EXPECT_EQ(r.payload.dcon_state.channel, 3);
  EXPECT_EQ(r.payload.dcon_state.type_signal, 1);  // low 16 bits
  EXPECT_EQ(r.payload.dcon_state.state, 4);
  EXPECT_FALSE(ProtoVorkDecodeASN(GwPacket(ProtoVorkMsgID::gw_dcon_state, 0, cmd), r));
  EXPECT_FALSE(ProtoVorkDecodeASN(GwPacket(ProtoVorkMsgID::gw_dcon_command, 0, st), r));

  // An interface's command goes up as a packet, comes back down from the
  // gateway and is sent as the same bytes.
  const char wire[] = "07 01 00 02 02 C1 C2 00";
  s_data_cmd in = Receive(PROTO_MODE_GATEWAY, DLI_DCON_COMMAND, Flags(0, 3), H(wire));
  ASSERT_EQ(in.cmdStatus, 0);
  ProtoVorkPacketPayload down;
  down.select_gw_dcon_command(Encode(in).get_payload().get_dli_dcon_command());
  ASSERT_TRUE(ProtoVorkDecodeASN(GwPacket(ProtoVorkMsgID::gw_dcon_command, 0, down), r));
  EXPECT_EQ(Hex(PayloadOf(PROTO_MODE_GATEWAY, r)), wire);
}

}  // namespace
