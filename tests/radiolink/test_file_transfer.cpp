// File transfer (P1) messages: link payload, client packing and server unpacking.
#include "tests/radiolink/radiolink_frames.h"

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
void SetP1(s_data_cmd& r, const Bytes& b) {
  r.payload.p1.payload_size = static_cast<int>(b.size());
  std::memcpy(r.payload.p1.payload, b.data(), b.size());
}

// Client commands travel as P1 bytes (command, type, session); an
// interface takes the frame back to the same bytes.
TEST(FileTransfer, ClientCommandsTravelAsP1Bytes) {
  ProtoVorkPacketP1ClientPacket c = Client(ProtoVorkPacketP1ClientCommand::p1_cln_load_start, 7);
  c.set_payload().select_p1_cln_load_start(ASN1::Null());
  s_data_cmd r;
  ASSERT_TRUE(ProtoVorkDecodeASN(Wrap(c), r));
  EXPECT_EQ(Hex(P1Bytes(r)), "01 10 07 00 00 00");
  r.dstAddr = PROTO_ADDR_DLI;
  Channel gw;
  Bytes frame = gw.Send({r});
  EXPECT_EQ(Hex(PayloadOf(frame)), "06 00 01 10 07 00 00 00");
  Channel dli(PROTO_MODE_DIGITAL);
  s_data_cmd got = dli.One(frame);
  EXPECT_EQ(got.cmdStatus, 0);
  EXPECT_EQ(P1Bytes(got), P1Bytes(r));

  c = Client(ProtoVorkPacketP1ClientCommand::p1_cln_file_start, 7);
  ProtoVorkPacketP1ClnFileStartPacket& fs = c.set_payload().select_p1_cln_file_start();
  fs.set_file_size(1000);
  fs.set_file_name("abc");
  ASSERT_TRUE(ProtoVorkDecodeASN(Wrap(c), r));
  EXPECT_EQ(Hex(P1Bytes(r)), "02 10 07 00 00 00 E8 03 00 00 61 62 63 00");
  // A file start without its payload alternative; a command no client sends.
  ProtoVorkPacket bare = Wrap(Client(ProtoVorkPacketP1ClientCommand::p1_cln_file_start, 7));
  EXPECT_EQ(p1_cln_proto_pack(bare.get_payload().get_gw_client_p1(), r), -5);
  EXPECT_FALSE(ProtoVorkDecodeASN(bare, r));
  EXPECT_EQ(r.payload.p1.payload_size, 0);
  ProtoVorkPacket any = Wrap(Client(ProtoVorkPacketP1ClientCommand::p1_any_packet, 7));
  EXPECT_EQ(p1_cln_proto_pack(any.get_payload().get_gw_client_p1(), r), -3);
  EXPECT_FALSE(ProtoVorkDecodeASN(any, r));
}

// A file block holds at most 1390 bytes (1400 with its head); the largest
// record crosses the link whole.
TEST(FileTransfer, FileBlockLimit) {
  ProtoVorkPacketP1ClientPacket c = Client(ProtoVorkPacketP1ClientCommand::p1_cln_file_load, 1);
  ProtoVorkPacketP1ClnFileLoadPacket& fl = c.set_payload().select_p1_cln_file_load();
  fl.set_block_number(5);
  fl.set_block(IntList(1390, 0x100));
  s_data_cmd r;
  ASSERT_TRUE(ProtoVorkDecodeASN(Wrap(c), r));
  EXPECT_EQ(r.payload.p1.payload_size, 1400);
  EXPECT_EQ(r.payload.p1.payload[6], 5);
  EXPECT_EQ(r.payload.p1.payload[11], 0x01);  // cut to a byte
  r.dstAddr = PROTO_ADDR_ALI;
  Channel gw;
  Bytes frame = gw.Send({r});
  ASSERT_EQ(frame.size(), 18u + 1402u);
  Channel ali(PROTO_MODE_ANALOG);
  EXPECT_EQ(P1Bytes(ali.One(frame)), P1Bytes(r));

  fl.set_block().push_back(ASN1::INTEGER(0, &ASN1::INTEGER::theInfo));
  ProtoVorkPacket p = Wrap(c);
  EXPECT_EQ(p1_cln_proto_pack(p.get_payload().get_gw_client_p1(), r), -4);
  EXPECT_FALSE(ProtoVorkDecodeASN(p, r));
}

TEST(FileTransfer, LinkPayloadBounds) {
  s_data_cmd r = Record(0);
  EXPECT_EQ(Recv(convert_recv_p1_packet, H("01"), &r), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  EXPECT_EQ(Recv(convert_recv_p1_packet, H("03 00 01 02"), &r), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  ASSERT_EQ(Recv(convert_recv_p1_packet, H("03 00 01 02 03 00"), &r), 0);
  EXPECT_EQ(Hex(P1Bytes(r)), "01 02 03");
  // More bytes than the record holds are refused, not overrun.
  Bytes big(2 + 1401, 0x11);
  big[0] = 1401 & 0xFF;
  big[1] = 1401 >> 8;
  EXPECT_EQ(Recv(convert_recv_p1_packet, big, &r), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);

  Bytes out;
  EXPECT_EQ(Trans(convert_trans_p1_packet, r, 6, &out), 6);
  EXPECT_HEX(out, "03 00 01 02 03 ??");
  EXPECT_EQ(Trans(convert_trans_p1_packet, r, 4), CONVERT_NOT_ENOUGHT_MEMORY);
  for (int size : {5000, -1}) {
    r.payload.p1.payload_size = size;
    EXPECT_EQ(Trans(convert_trans_p1_packet, r, 8192), CONVERT_BAD_PARAM);
  }
  r.msgID = DLI_SERVER_P1;
  r.payload.p1.payload_size = 2;
  r.payload.p1.payload[1] = 0xAB;
  EXPECT_TRUE(Has(Dump(r), "p1.payload_size: 2,\np1.payload : \n[0] : 0x01,\n[1] : 0xAB,\n"));
}

TEST(FileTransfer, ServerAcknowledgements) {
  s_data_cmd r = Record(DLI_SERVER_P1);
  SetP1(r, H("01 20 07 00 00 00 00 00 02 10 00 01 0A 00"));
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
  ProtoVorkPacket p = Encode(r);  // through the packet of the interface's message
  ASSERT_TRUE(p.get_payload().dli_server_p1_isSelected());
  EXPECT_EQ(p.get_payload().get_dli_server_p1().get_session().getValue(), 7);

  // Session only: defaults; five bytes: nothing at all.
  r.payload.p1.payload_size = 8;
  ProtoVorkPacketP1ServerPacket part;
  EXPECT_EQ(p1_srv_proto_unpack(part, r), -5);
  ASSERT_TRUE(part.get_payload().p1_srv_ack_isSelected());
  EXPECT_EQ(part.get_payload().get_p1_srv_ack().get_ack_command().asInt(), 0);
  r.payload.p1.payload_size = 5;
  ProtoVorkPacketP1ServerPacket none;
  EXPECT_EQ(p1_srv_proto_unpack(none, r), -5);
  EXPECT_EQ(none.get_session().getValue(), 0);
  EXPECT_FALSE(none.get_payload().p1_srv_ack_isSelected());

  SetP1(r, H("01 20 09 00 00 00 02 00 03 10 00 04 00 00 05 00 00 00"));
  ProtoVorkPacketP1ServerPacket both;
  ASSERT_EQ(p1_srv_proto_unpack(both, r), 0);
  const ProtoVorkPacketP1SrvAckPayload& bp = both.get_payload().get_p1_srv_ack().get_payload();
  ASSERT_TRUE(bp.p1_file_load_isPresent());
  ASSERT_TRUE(bp.p1_file_start_isPresent());
  EXPECT_EQ(bp.get_p1_file_load().get_data_processed().getValue(), 0x0400);
  EXPECT_EQ(bp.get_p1_file_load().get_block_number().getValue(), 5);
  EXPECT_EQ(both.get_payload().get_p1_srv_ack().get_result().asInt(), 2);

  r.payload.p1.payload[0] = r.payload.p1.payload[1] = 0;  // not an acknowledgement
  ProtoVorkPacketP1ServerPacket other;
  EXPECT_EQ(p1_srv_proto_unpack(other, r), -3);
  EXPECT_EQ(other.get_session().getValue(), 9);
  EXPECT_FALSE(other.get_payload().p1_srv_ack_isSelected());
}

}  // namespace
