// Records <-> VORKGW packets.
#include "asn1/coder.h"
#include "tests/radiolink/radiolink_frames.h"

using namespace VORKGW;

namespace {

ProtoVorkPacket Packet(ProtoVorkMsgID::NamedNumber id, ProtoVorkAddress::NamedNumber dst = ProtoVorkAddress::dli) {
  ProtoVorkPacket p = GwPacket(id, 0, ProtoVorkPacketPayload(), dst);
  p.set_msgSeqNum(11);
  p.set_msgLength(2);
  p.set_stateMaster(0x101);
  p.set_srcChannel(0x105);
  p.set_dstChannel(3);
  return p;
}

TEST(RadioPackets, EncodeHeaderAndDestination) {
  s_data_cmd r = Record(DLI_SET_ID, 0, 1, PROTO_ADDR_DLI);
  r.msgSeqNum = 42;
  r.msgLength = 1;
  r.srcAddr = 2;
  r.srcChannel = 4;
  r.dstChannel = 6;
  r.payload.id.id = 7;
  ProtoVorkPacket p = Encode(r);
  EXPECT_EQ(V(p.get_msgID().asInt(), p.get_msgSeqNum().getValue(), p.get_msgLength().getValue()), V(DLI_SET_ID, 42, 1));
  EXPECT_TRUE(p.get_stateMode().is_radio());
  EXPECT_TRUE(p.get_srcAddr().is_dli());
  EXPECT_EQ(p.get_srcChannel().getValue(), 4);
  EXPECT_TRUE(p.get_dstAddr().is_dli());
  EXPECT_EQ(p.get_dstChannel().getValue(), 6);
  ASSERT_TRUE(p.get_payload().dli_set_id_isSelected());
  EXPECT_EQ(p.get_payload().get_dli_set_id().get_id().getValue(), 7);

  // The packet goes through the aligned PER coder like any VORKGW value.
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  std::vector<char> bytes;
  ASSERT_TRUE(ASN1::encode(p, &env, std::back_inserter(bytes)));
  ProtoVorkPacket back;
  ASSERT_TRUE(ASN1::decode(bytes.data(), bytes.data() + bytes.size(), &env, back, true));
  EXPECT_TRUE(back == p);

  // Numbers the enumerations do not name still travel unchanged.
  s_data_cmd odd = r;
  odd.stateMode = 9;
  odd.srcAddr = 7;
  p = Encode(odd);
  EXPECT_EQ(p.get_stateMode().asInt(), 9);
  EXPECT_EQ(p.get_srcAddr().asInt(), 7);
  r.stateProtocol = 1;  // version 2 packets always name the local gateway
  EXPECT_TRUE(Encode(r).get_dstAddr().is_lgw());
  r.stateProtocol = 0;
  r.dstAddr = 3;  // no single address
  EXPECT_TRUE(Encode(r).get_dstAddr().is_lgw());
}

TEST(RadioPackets, EncodePayloadCases) {
  ProtoVorkPacket p = Encode(Record(DLI_RAD_LINK_ERR));
  EXPECT_TRUE(p.get_payload().dli_rad_link_err_isSelected());

  s_data_cmd q = Record(DLI_RAD_BSS_QUAL);
  q.payload.rd_bss.snr = 1.5f;
  p = Encode(q);
  ASSERT_TRUE(p.get_payload().dli_rad_bss_qual_isSelected());
  EXPECT_EQ(std::string(p.get_payload().get_dli_rad_bss_qual().get_snr()), "1.500000");

  s_data_cmd sel = Record(DLI_RAD_SELECT_CHANNEL);
  sel.payload.select_channel = {1, 2, 3};
  p = Encode(sel);
  ASSERT_TRUE(p.get_payload().dli_rad_select_channel_isSelected());
  EXPECT_EQ(p.get_payload().get_dli_rad_select_channel().get_select_channel().getValue(), 3);

  s_data_cmd ka = Record(DLI_KEEP_ALIVE, 0, 1);
  ka.payload.rd_keep_alive.id = 5;
  ka.payload.rd_keep_alive.channels_count = 1;
  ka.payload.rd_keep_alive.channels[0].flag_sql = 1;
  p = Encode(ka);
  ASSERT_TRUE(p.get_payload().dli_keep_alive_isSelected());
  const ProtoVorkPacketPayloadDigitalKeepAlive& dk = p.get_payload().get_dli_keep_alive();
  ASSERT_TRUE(dk.radio_v1_isSelected());
  ASSERT_EQ(dk.get_radio_v1().get_channels().size(), 1u);
  EXPECT_TRUE(bool((*dk.get_radio_v1().get_channels().begin()).get_sql()));
  EXPECT_FALSE(bool((*dk.get_radio_v1().get_channels().begin()).get_rc()));

  s_data_cmd ga = Record(ALI_KEEP_ALIVE, 0, 2);
  ga.payload.ga_keep_alive.id = 9;
  p = Encode(ga);
  ASSERT_TRUE(p.get_payload().get_ali_keep_alive().ggs_v1_isSelected());
  EXPECT_EQ(p.get_payload().get_ali_keep_alive().get_ggs_v1().get_id().getValue(), 9);
  ga.stateMode = 3;  // DCON has no analog keep-alive
  EXPECT_EQ(Encode(ga).get_payload().get_ali_keep_alive().currentSelection(), -1);

  s_data_cmd t = Record(ALI_TEST_KEEP_ALIVE);
  t.payload.tst_keep_alive.test_mode = 4;
  p = Encode(t);
  EXPECT_EQ(p.get_payload().get_ali_test_keep_alive().get_test_mode().getValue(), 4);
  // An id without a payload case keeps the previous payload.
  ProtoVorkEncodeASN(Record(GW_GET_ID), p);
  EXPECT_TRUE(p.get_payload().ali_test_keep_alive_isSelected());
  EXPECT_EQ(p.get_msgID().asInt(), GW_GET_ID);

  // A remote keep-alive, which a gateway receives, is carried in full.
  s_data_cmd rk = Record(GW_REMOTE_KEEP_ALIVE);
  rk.payload.remote_keep_alive.id = 6;
  p = Encode(rk);
  ASSERT_TRUE(p.get_payload().gw_remote_keep_alive_isSelected());
  EXPECT_EQ(p.get_payload().get_gw_remote_keep_alive().get_id().getValue(), 6);
  s_data_cmd back = Record(0);
  ASSERT_TRUE(ProtoVorkDecodeASN(p, back));
  EXPECT_EQ(back.payload.remote_keep_alive.id, 6);
}

TEST(RadioPackets, DecodeHeaderAndPayloads) {
  s_data_cmd r = Record(0);
  r.cmdStatus = -5;
  ProtoVorkPacket p = Packet(ProtoVorkMsgID::gw_rad_ptt_off, ProtoVorkAddress::ali);
  p.set_payload().select_dli_set_id().set_id(1);  // not looked at
  ASSERT_TRUE(ProtoVorkDecodeASN(p, r));
  EXPECT_EQ(V(r.cmdStatus, r.msgID, r.msgSeqNum), V(-5, GW_RAD_PTT_OFF, 11u));
  EXPECT_EQ(r.stateMaster, 1);  // low 8 bits
  EXPECT_EQ(V(r.srcChannel, r.stateMode, r.dstAddr), V(5, 1, PROTO_ADDR_ALI));
  ASSERT_TRUE(ProtoVorkDecodeASN(Packet(ProtoVorkMsgID::gw_get_id, ProtoVorkAddress::rgw), r));
  EXPECT_EQ(r.dstAddr, PROTO_ADDR_RGW);
  EXPECT_FALSE(ProtoVorkDecodeASN(Packet(ProtoVorkMsgID::dli_set_id), r));  // a gateway never sends it

  ProtoVorkPacket sel = Packet(ProtoVorkMsgID::gw_rad_select_channel);
  sel.set_payload().select_gw_get_id(ASN1::Null());
  EXPECT_FALSE(ProtoVorkDecodeASN(sel, r));
  ProtoVorkPacketPayloadSelectChannel& sc = sel.set_payload().select_gw_rad_select_channel();
  sc.set_channel(0x102);
  sc.set_select_interface(1);
  sc.set_select_channel(2);
  ASSERT_TRUE(ProtoVorkDecodeASN(sel, r));
  EXPECT_EQ(r.payload.select_channel.channel, 2);
  EXPECT_EQ(r.payload.select_channel.select_channel, 2);

  ProtoVorkPacket ptt = Packet(ProtoVorkMsgID::gw_rad_ptt_on);
  ProtoVorkPacketPayloadGWRadPTTCmd& cmd = ptt.set_payload().select_gw_rad_ptt_on();
  cmd.set_channel(4);
  cmd.set_payload(IntList(25, 0x100));
  ASSERT_TRUE(ProtoVorkDecodeASN(ptt, r));
  EXPECT_EQ(V(r.payload.radio_command.channel, r.payload.radio_command.param_size), V(4, 20));
  EXPECT_EQ(V(r.payload.radio_command.param[0], r.payload.radio_command.param[19]), V(0, 19));

  ProtoVorkPacket ka = Packet(ProtoVorkMsgID::gw_keep_alive);
  ka.set_stateProtocol(ProtoVorkProtocol::protocol_v2);
  ProtoVorkPacketPayloadGWKeepAliveV2& v2 = ka.set_payload().select_gw_keep_alive().select_keep_alive_v2();
  v2.set_gateway_id(3);
  v2.set_bus_windows_size(0x10102);
  ASSERT_TRUE(ProtoVorkDecodeASN(ka, r));
  EXPECT_EQ(r.payload.v2_keep_alive.gateway_id, 3);
  EXPECT_EQ(r.payload.v2_keep_alive.bus_windows_size, 0x0102);
  ka.set_payload().select_gw_get_id(ASN1::Null());
  EXPECT_FALSE(ProtoVorkDecodeASN(ka, r));

  ProtoVorkPacket rk = Packet(ProtoVorkMsgID::gw_remote_keep_alive);
  ProtoVorkPacketPayloadGWRemoteKeepAlive& remote = rk.set_payload().select_gw_remote_keep_alive();
  remote.set_state(1);
  remote.set_mode(2);
  remote.set_id(0x1FF);
  ASSERT_TRUE(ProtoVorkDecodeASN(rk, r));
  EXPECT_EQ(r.payload.remote_keep_alive.id, 0xFF);
}

}  // namespace
