// File transfer (P1) messages: link payload, client packing and server unpacking.
#include <gtest/gtest.h>

#include "tests/radiolink/config_convert.h"

namespace {

using namespace VORKGW;

ProtoVorkPacketP1ClientPacket Client(ProtoVorkPacketP1ClientCommand::NamedNumber command, int session) {
  ProtoVorkPacketP1ClientPacket c;
  c.set_command(command);
  c.set_session(session);
  return c;
}

ProtoVorkPacket Wrap(const ProtoVorkPacketP1ClientPacket& c) {
  ProtoVorkPacket p;
  ProtoVorkEncodeASN(Record(GW_CLIENT_P1), p);
  p.set_payload().select_gw_client_p1(c);
  return p;
}

Bytes P1Bytes(const s_data_cmd& r) { return Bytes(r.payload.p1.payload, r.payload.p1.payload + r.payload.p1.payload_size); }

TEST(FileTransfer, ClientCommandsTravelAsP1Bytes) {
  ProtoVorkPacketP1ClientPacket c = Client(ProtoVorkPacketP1ClientCommand::p1_cln_load_start, 7);
  c.set_payload().select_p1_cln_load_start(ASN1::Null());
  ProtoVorkPacket p = Wrap(c);
  s_data_cmd r;
  ASSERT_TRUE(ProtoVorkDecodeASN(p, r));
  EXPECT_EQ(P1Bytes(r), Bytes({0x01, 0x10, 0x07, 0x00, 0x00, 0x00}));
  r.dstAddr = PROTO_ADDR_DLI;
  Channel gw;
  Bytes frame = gw.Send({r});
  EXPECT_EQ(Bytes(frame.begin() + 16, frame.end() - 2), Bytes({0x06, 0x00, 0x01, 0x10, 0x07, 0x00, 0x00, 0x00}));
  Channel dli(PROTO_MODE_DIGITAL);
  dli.Feed(frame);
  std::vector<s_data_cmd> got = dli.Received();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].cmdStatus, 0);
  EXPECT_EQ(P1Bytes(got[0]), P1Bytes(r));

  c = Client(ProtoVorkPacketP1ClientCommand::p1_cln_file_start, 7);
  ProtoVorkPacketP1ClnFileStartPacket& fs = c.set_payload().select_p1_cln_file_start();
  fs.set_file_size(1000);
  fs.set_file_name("abc");
  p = Wrap(c);
  ASSERT_TRUE(ProtoVorkDecodeASN(p, r));
  EXPECT_EQ(P1Bytes(r), Bytes({0x02, 0x10, 0x07, 0, 0, 0, 0xE8, 0x03, 0, 0, 'a', 'b', 'c', 0}));
  // A file start without its payload alternative.
  ProtoVorkPacket bare = Wrap(Client(ProtoVorkPacketP1ClientCommand::p1_cln_file_start, 7));
  EXPECT_EQ(p1_cln_proto_pack(bare.get_payload().get_gw_client_p1(), r), -5);
  EXPECT_FALSE(ProtoVorkDecodeASN(bare, r));
  EXPECT_EQ(r.payload.p1.payload_size, 0);

  p = Wrap(Client(ProtoVorkPacketP1ClientCommand::p1_any_packet, 7));
  EXPECT_EQ(p1_cln_proto_pack(p.get_payload().get_gw_client_p1(), r), -3);
  EXPECT_FALSE(ProtoVorkDecodeASN(p, r));
}

TEST(FileTransfer, FileBlockLimit) {
  ProtoVorkPacketP1ClientPacket c = Client(ProtoVorkPacketP1ClientCommand::p1_cln_file_load, 1);
  ProtoVorkPacketP1ClnFileLoadPacket& fl = c.set_payload().select_p1_cln_file_load();
  fl.set_block_number(5);
  for (int i = 0; i < 1390; ++i) fl.set_block().push_back(ASN1::INTEGER(i + 0x100, &ASN1::INTEGER::theInfo));
  ProtoVorkPacket p = Wrap(c);
  s_data_cmd r;
  ASSERT_TRUE(ProtoVorkDecodeASN(p, r));
  EXPECT_EQ(r.payload.p1.payload_size, 1400);
  EXPECT_EQ(r.payload.p1.payload[6], 5);
  EXPECT_EQ(r.payload.p1.payload[11], 0x01);  // cut to a byte

  // The largest record crosses the link whole.
  r.dstAddr = PROTO_ADDR_ALI;
  Channel gw;
  Bytes frame = gw.Send({r});
  ASSERT_EQ(frame.size(), 18u + 1402u);
  Channel ali(PROTO_MODE_ANALOG);
  ali.Feed(frame);
  std::vector<s_data_cmd> got = ali.Received();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(P1Bytes(got[0]), P1Bytes(r));

  fl.set_block().push_back(ASN1::INTEGER(0, &ASN1::INTEGER::theInfo));
  p = Wrap(c);
  EXPECT_EQ(p1_cln_proto_pack(p.get_payload().get_gw_client_p1(), r), -4);
  EXPECT_FALSE(ProtoVorkDecodeASN(p, r));
}

TEST(FileTransfer, LinkPayloadBounds) {
  s_data_cmd r = Record(0);
  EXPECT_EQ(RecvConfig(convert_recv_p1_packet, {0x01}, 0, 0, r), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  EXPECT_EQ(RecvConfig(convert_recv_p1_packet, {0x03, 0x00, 0x01, 0x02}, 0, 0, r), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  ASSERT_EQ(RecvConfig(convert_recv_p1_packet, {0x03, 0x00, 0x01, 0x02, 0x03, 0x00}, 0, 0, r), 0);
  EXPECT_EQ(P1Bytes(r), Bytes({0x01, 0x02, 0x03}));

  // More bytes than the record holds are refused, not overrun.
  Bytes big(2 + 1401, 0x11);
  big[0] = 1401 & 0xFF;
  big[1] = 1401 >> 8;
  EXPECT_EQ(RecvConfig(convert_recv_p1_packet, big, 0, 0, r), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);

  Bytes out;
  EXPECT_EQ(TransConfig(convert_trans_p1_packet, r, 6, out), 6);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), Bytes({0x03, 0x00, 0x01, 0x02, 0x03}));
  EXPECT_EQ(TransConfig(convert_trans_p1_packet, r, 4, out), CONVERT_NOT_ENOUGHT_MEMORY);
  r.payload.p1.payload_size = 5000;
  EXPECT_EQ(TransConfig(convert_trans_p1_packet, r, 8192, out), CONVERT_BAD_PARAM);
  r.payload.p1.payload_size = -1;
  EXPECT_EQ(TransConfig(convert_trans_p1_packet, r, 8192, out), CONVERT_BAD_PARAM);

  r.msgID = DLI_SERVER_P1;
  r.payload.p1.payload_size = 2;
  r.payload.p1.payload[1] = 0xAB;
  EXPECT_NE(Dump(r).find("p1.payload_size: 2,\np1.payload : \n[0] : 0x01,\n[1] : 0xAB,\n"), std::string::npos);
}

TEST(FileTransfer, ServerAcknowledgements) {
  s_data_cmd r = Record(DLI_SERVER_P1);
  Bytes ack = {0x01, 0x20, 0x07, 0, 0, 0, 0x00, 0x00, 0x02, 0x10, 0x00, 0x01, 0x0A, 0x00};
  r.payload.p1.payload_size = static_cast<int>(ack.size());
  std::memcpy(r.payload.p1.payload, ack.data(), ack.size());
  ProtoVorkPacketP1ServerPacket srv;
  ASSERT_EQ(p1_srv_proto_unpack(srv, r), 0);
  EXPECT_EQ(srv.get_session().getValue(), 7);
  ASSERT_TRUE(srv.get_payload().p1_srv_ack_isSelected());
  const ProtoVorkPacketP1SrvAckPacket& a = srv.get_payload().get_p1_srv_ack();
  EXPECT_TRUE(a.get_result().is_p1_srv_sts_success());
  EXPECT_TRUE(a.get_ack_command().is_p1_cln_file_start());
  ASSERT_TRUE(a.get_payload().p1_file_start_isPresent());
  EXPECT_EQ(a.get_payload().get_p1_file_start().get_block_size().getValue(), 256);
  EXPECT_EQ(a.get_payload().get_p1_file_start().get_block_delay().getValue(), 10);
  EXPECT_FALSE(a.get_payload().p1_file_load_isPresent());

  // Through the packet conversion of the interface's message.
  ProtoVorkPacket p;
  ProtoVorkEncodeASN(r, p);
  ASSERT_TRUE(p.get_payload().dli_server_p1_isSelected());
  EXPECT_EQ(p.get_payload().get_dli_server_p1().get_session().getValue(), 7);

  Bytes load = {0x01, 0x20, 0x09, 0, 0, 0, 0x02, 0x00, 0x03, 0x10, 0x00, 0x04, 0, 0, 0x05, 0, 0, 0};
  r.payload.p1.payload_size = static_cast<int>(load.size());
  std::memcpy(r.payload.p1.payload, load.data(), load.size());
  ProtoVorkPacketP1ServerPacket both;
  ASSERT_EQ(p1_srv_proto_unpack(both, r), 0);
  const ProtoVorkPacketP1SrvAckPayload& bp = both.get_payload().get_p1_srv_ack().get_payload();
  ASSERT_TRUE(bp.p1_file_load_isPresent());
  ASSERT_TRUE(bp.p1_file_start_isPresent());
  EXPECT_EQ(bp.get_p1_file_load().get_data_processed().getValue(), 0x0400);
  EXPECT_EQ(bp.get_p1_file_load().get_block_number().getValue(), 5);
  EXPECT_EQ(both.get_payload().get_p1_srv_ack().get_result().asInt(), 2);

  load[0] = 0;
  load[1] = 0;
  ProtoVorkPacketP1ServerPacket other;
  std::memcpy(r.payload.p1.payload, load.data(), load.size());
  EXPECT_EQ(p1_srv_proto_unpack(other, r), -3);
  EXPECT_EQ(other.get_session().getValue(), 9);
  EXPECT_FALSE(other.get_payload().p1_srv_ack_isSelected());

  // Session only: defaults; five bytes: nothing at all.
  r.payload.p1.payload_size = 8;
  std::memcpy(r.payload.p1.payload, ack.data(), 8);
  ProtoVorkPacketP1ServerPacket part;
  EXPECT_EQ(p1_srv_proto_unpack(part, r), -5);
  ASSERT_TRUE(part.get_payload().p1_srv_ack_isSelected());
  EXPECT_EQ(part.get_payload().get_p1_srv_ack().get_ack_command().asInt(), 0);
  r.payload.p1.payload_size = 5;
  ProtoVorkPacketP1ServerPacket none;
  EXPECT_EQ(p1_srv_proto_unpack(none, r), -5);
  EXPECT_EQ(none.get_session().getValue(), 0);
  EXPECT_FALSE(none.get_payload().p1_srv_ack_isSelected());
}

}  // namespace
