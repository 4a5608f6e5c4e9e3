// GGS line-signalling commands and states: wire, dumps and packets.
#include "tests/radiolink/radiolink_frames.h"

using namespace VORKGW;

namespace {

s_data_cmd GgsCommand(uint16_t id, int protocol, std::initializer_list<uint8_t> params) {
  s_data_cmd r = Record(id, static_cast<uint8_t>(protocol), 2);
  s_proto_ggs_command& c = r.payload.ggs_command;
  c.channel = 3;
  c.ggs_type_call = 5;  // fxs
  c.command = 2;        // call
  c.param_size = static_cast<uint8_t>(params.size());
  std::copy(params.begin(), params.end(), c.param);
  return r;
}

TEST(GgsMessages, CommandPayloadAndPadding) {
  // Same layout from the gateway and from both interfaces, in both versions.
  const std::pair<int, uint16_t> senders[] = {
      {PROTO_MODE_GATEWAY, GW_GGS_COMMAND}, {PROTO_MODE_DIGITAL, DLI_GGS_COMMAND}, {PROTO_MODE_ANALOG, ALI_GGS_COMMAND}};
  for (auto [mode, id] : senders)
    for (int protocol = 0; protocol <= 1; ++protocol)
      EXPECT_HEX(PayloadOf(mode, GgsCommand(id, protocol, {0x0A, 0x0B})), "03 05 00 02 02 0A 0B ??") << id;
  s_data_cmd wide = GgsCommand(GW_GGS_COMMAND, 0, {0x01});
  wide.payload.ggs_command.ggs_type_call = 0x0102;
  EXPECT_EQ(Hex(PayloadOf(PROTO_MODE_GATEWAY, wide)), "03 02 01 02 01 01");
  EXPECT_HEX(PayloadOf(PROTO_MODE_GATEWAY, GgsCommand(GW_GGS_COMMAND, 0, {})), "03 05 00 02 00 ??");

  EXPECT_EQ(Trans(convert_trans_ggs_command, GgsCommand(GW_GGS_COMMAND, 0, {}), 4), CONVERT_NOT_ENOUGHT_MEMORY);
  EXPECT_EQ(Trans(convert_trans_ggs_command, GgsCommand(GW_GGS_COMMAND, 0, {1, 2}), 7), CONVERT_NOT_ENOUGHT_MEMORY);
  // The largest command (260 bytes) goes out through the grown scratch buffer.
  s_data_cmd big = GgsCommand(GW_GGS_COMMAND, 0, {});
  big.payload.ggs_command.param_size = 255;
  big.payload.ggs_command.param[254] = 0x99;
  Bytes b = PayloadOf(PROTO_MODE_GATEWAY, big);
  ASSERT_EQ(b.size(), 260u);
  EXPECT_EQ(b[259], 0x99);
}

TEST(GgsMessages, ShortPayloadsKeepWhatWasRead) {
  // More parameters announced than present: -200, the head stays, and the
  // record still reaches the reader.
  s_data_cmd r = Receive(PROTO_MODE_GATEWAY, DLI_GGS_COMMAND, Flags(1, 2), H("05 05 00 02 09 01 02 00"));
  EXPECT_EQ(r.cmdStatus, CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  const s_proto_ggs_command& c = r.payload.ggs_command;
  EXPECT_EQ((std::vector<int>{c.channel, c.ggs_type_call, c.command, c.param_size}), (std::vector<int>{5, 5, 2, 9}));
  EXPECT_EQ(Recv(convert_recv_ggs_command, H("01 02 03 04"), &r), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  EXPECT_EQ(Recv(convert_recv_ggs_state, H("07 03"), &r), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);

  // The digital interface takes the gateway's state in the plain layout.
  s_data_cmd in = Receive(PROTO_MODE_DIGITAL, GW_GGS_STATE, Flags(0), H("07 03 80 FF"));
  EXPECT_EQ(in.cmdStatus, 0);
  EXPECT_EQ(in.payload.ggs_state.error, 0x80);
}

TEST(GgsMessages, DigitalStateFlags) {
  s_data_cmd gd = Record(DLI_GGS_STATE);
  gd.payload.gd_state = {1, 4, 0x20, 3, 0};  // only bit 0 of a flag counts
  EXPECT_EQ(Hex(PayloadOf(PROTO_MODE_DIGITAL, gd)), "01 04 20 01");
  gd.payload.gd_state.flag_detected_tx = 1;
  EXPECT_EQ(Hex(PayloadOf(PROTO_MODE_DIGITAL, gd)), "01 04 20 03");

  s_data_cmd d = Record(0);
  d.payload.gd_state.flag_detected_rx = d.payload.gd_state.flag_detected_tx = 1;
  EXPECT_EQ(Recv(convert_recv_ggs_digital_state, H("01 04 20"), &d), CONVERT_OK);
  EXPECT_EQ(d.payload.gd_state.flag_detected_rx + d.payload.gd_state.flag_detected_tx, 0);
  EXPECT_EQ(Recv(convert_recv_ggs_digital_state, H("01 04 20 03"), &d), CONVERT_OK);
  EXPECT_EQ(d.payload.gd_state.flag_detected_rx + d.payload.gd_state.flag_detected_tx, 2);

  EXPECT_EQ(Body(GgsCommand(ALI_GGS_COMMAND, 0, {0x0A, 0xFF})),
            "ggs_command.channel: 3,\nggs_command.ggs_type_call: 5,\nggs_command.command: 2,\n"
            "ggs_command.param_size: 2,\nggs_command.param : \n[0] : 0x0A,\n[1] : 0xFF,\n");
  gd.payload.gd_state = {200, 2, 0x80, 1, 0};
  EXPECT_EQ(Body(gd),
            "gd_state.channel: 200,\ngd_state.state: 2,\ngd_state.error: 128,\ngd_state.flag_detected_rx: 1,\n"
            "gd_state.flag_detected_tx: 0,\n");
}

TEST(GgsMessages, Packets) {
  ProtoVorkPacket p = Encode(GgsCommand(DLI_GGS_COMMAND, 0, {}));
  ASSERT_TRUE(p.get_payload().dli_ggs_command_isSelected());
  EXPECT_EQ(p.get_payload().get_dli_ggs_command().get_ggs_type_call().asInt(), ProtoVorkGgsTypeControl::fxs);
  EXPECT_TRUE(Ints(p.get_payload().get_dli_ggs_command().get_param()).empty());
  s_data_cmd d = Record(DLI_GGS_STATE);
  d.payload.gd_state = {9, 7, 0, 0, 2};  // state 7 has no name: carried as is
  p = Encode(d);
  EXPECT_EQ(p.get_payload().get_dli_ggs_state().get_state().asInt(), 7);
  EXPECT_TRUE(bool(p.get_payload().get_dli_ggs_state().get_detected_tx()));

  ProtoVorkPacketPayload pl;
  ProtoVorkPacketPayloadGgsCommand& c = pl.select_gw_ggs_command();
  c.set_channel(0x104);
  c.set_ggs_type_call(ProtoVorkGgsTypeControl::emvi);
  c.set_command(ProtoVorkGgsCommand::busy);
  c.set_param(IntList(25, 0x100));
  s_data_cmd r = Record(0);
  ASSERT_TRUE(ProtoVorkDecodeASN(GwPacket(ProtoVorkMsgID::gw_ggs_command, 0, pl), r));
  EXPECT_EQ(r.payload.ggs_command.channel, 4);
  EXPECT_EQ(r.payload.ggs_command.ggs_type_call, 12);
  ASSERT_EQ(r.payload.ggs_command.param_size, 20);
  EXPECT_EQ(r.payload.ggs_command.param[19], 19);
  // A payload that does not belong to the id fails; the header is written.
  r.msgID = 0;
  EXPECT_FALSE(ProtoVorkDecodeASN(GwPacket(ProtoVorkMsgID::gw_ggs_state, 0, pl), r));
  EXPECT_EQ(r.msgID, GW_GGS_STATE);

  // Interface frame -> record -> packet; the same values sent back down by
  // the gateway -> record -> the same frame payload.
  const char wire[] = "06 03 00 01 03 11 22 33";
  s_data_cmd in = Receive(PROTO_MODE_GATEWAY, DLI_GGS_COMMAND, Flags(1, 2), H(wire));
  ASSERT_EQ(in.cmdStatus, 0);
  ProtoVorkPacketPayload down;
  down.select_gw_ggs_command(Encode(in).get_payload().get_dli_ggs_command());
  ASSERT_TRUE(ProtoVorkDecodeASN(GwPacket(ProtoVorkMsgID::gw_ggs_command, 1, down), r));
  EXPECT_EQ(Hex(PayloadOf(PROTO_MODE_GATEWAY, r)), wire);
  s_data_cmd st = Receive(PROTO_MODE_GATEWAY, ALI_GGS_STATE, Flags(0, 2), H("02 01 40 00"));
  down.select_gw_ggs_state(Encode(st).get_payload().get_ali_ggs_state());
  ASSERT_TRUE(ProtoVorkDecodeASN(GwPacket(ProtoVorkMsgID::gw_ggs_state, 0, down), r));
  EXPECT_EQ(Hex(PayloadOf(PROTO_MODE_GATEWAY, r)), "02 01 40 00");
}

}  // namespace
