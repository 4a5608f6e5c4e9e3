// File transfer (P1): the link carries the P1 bytes as a length-prefixed
// string; they are built from and parsed into the VORKGW P1 packets here.
#include <cstring>
#include <string>

#include "radiolink/proto_asn.h"
#include "radiolink/proto_wire.h"

using namespace VORKGW;

int convert_recv_p1_packet(PROTO_CONV_ARGS) {
  if (!row || !flags || !src || !dst || !payload || !record) return CONVERT_ERROR;
  proto_recv_header(row, flags, src, dst, payload, size, record);
  if (size < 2) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  s_proto_p1& p = record->payload.p1;
  int n = payload[0] | (payload[1] << 8);
  // More than the record holds is refused rather than cut: a cut file block
  // would be loaded as if it were whole.
  if (n > PROTO_P1_MAX) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  p.payload_size = n;
  if (n + 2 > size) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  std::memcpy(p.payload, payload + 2, static_cast<size_t>(n));
  return CONVERT_OK;
}

int convert_trans_p1_packet(PROTO_CONV_ARGS) {
  if (!row || !flags || !src || !dst || !payload || !record) return CONVERT_ERROR;
  proto_trans_header(row, flags, src, dst, payload, size, record);
  const s_proto_p1& p = record->payload.p1;
  if (p.payload_size < 0 || p.payload_size > PROTO_P1_MAX) return CONVERT_BAD_PARAM;
  ProtoWriter wr{payload, size, 0};
  if (!wr.room(2 + p.payload_size)) return CONVERT_NOT_ENOUGHT_MEMORY;
  wr.u16(static_cast<unsigned>(p.payload_size) & 0xFFFF);
  std::memcpy(payload + 2, p.payload, static_cast<size_t>(p.payload_size));
  wr.pos += p.payload_size;
  return wr.pad() ? wr.pos : CONVERT_NOT_ENOUGHT_MEMORY;
}

int sprintf_p1_packet(char* b, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(b, size, r, flags);
  if (len == 0) return 0;
  const s_proto_p1& p = r->payload.p1;
  len = proto_dump_line(b, size, len, "p1.payload_size: %d,\n", p.payload_size);
  len = proto_dump_line(b, size, len, "p1.payload : \n");
  for (int i = 0; i < p.payload_size && i < PROTO_P1_MAX; ++i)
    len = proto_dump_line(b, size, len, "[%d] : 0x%02X,\n", i, p.payload[i]);
  return len;
}

namespace {

enum { P1_ERR_COMMAND = -3, P1_ERR_SIZE = -4, P1_ERR_PAYLOAD = -5 };
enum { P1_SRV_ACK = 0x2001 };

}  // namespace

int p1_cln_proto_pack(const ProtoVorkPacketP1ClientPacket& packet, s_data_cmd& record) {
  s_proto_p1& p = record.payload.p1;
  p.payload_size = 0;
  ProtoWriter wr{p.payload, PROTO_P1_MAX, 0};
  int command = packet.get_command().asInt();
  wr.u16(static_cast<unsigned>(command));
  wr.u32(static_cast<uint32_t>(packet.get_session().getValue()));
  const ProtoVorkPacketP1ClientCommandPayload& body = packet.get_payload();
  int count;
  switch (command) {
    case ProtoVorkPacketP1ClientCommand::p1_cln_load_start:
    case ProtoVorkPacketP1ClientCommand::p1_cln_load_end:
    case ProtoVorkPacketP1ClientCommand::p1_cln_load_commit:
    case ProtoVorkPacketP1ClientCommand::p1_cln_commit_status:
    case ProtoVorkPacketP1ClientCommand::p1_cln_load_commit_force:
      count = wr.pos;
      break;
    case ProtoVorkPacketP1ClientCommand::p1_cln_file_start: {
      if (!body.p1_cln_file_start_isSelected()) return P1_ERR_PAYLOAD;
      const ProtoVorkPacketP1ClnFileStartPacket& fs = body.get_p1_cln_file_start();
      std::string name = fs.get_file_name();
      name = name.substr(0, name.find('\0'));
      wr.u32(static_cast<uint32_t>(fs.get_file_size().getValue()));
      if (!wr.room(static_cast<int>(name.size()) + 1)) return P1_ERR_SIZE;
      for (char c : name) wr.u8(static_cast<unsigned char>(c));
      wr.u8(0);
      count = wr.pos;
      break;
    }
    case ProtoVorkPacketP1ClientCommand::p1_cln_file_load: {
      if (!body.p1_cln_file_load_isSelected()) return P1_ERR_PAYLOAD;
      const ProtoVorkPacketP1ClnFileLoadPacket& fl = body.get_p1_cln_file_load();
      wr.u32(static_cast<uint32_t>(fl.get_block_number().getValue()));
      const auto& block = fl.get_block();
      if (!wr.room(static_cast<int>(block.size()))) return P1_ERR_SIZE;
      for (unsigned i = 0; i < block.size(); ++i) wr.u8(static_cast<unsigned>(block[i].getValue()) & 0xFF);
      count = wr.pos;
      break;
    }
    default:
      return P1_ERR_COMMAND;
  }
  p.payload_size = count;
  return count;
}

int p1_srv_proto_unpack(ProtoVorkPacketP1ServerPacket& packet, const s_data_cmd& record) {
  const s_proto_p1& p = record.payload.p1;
  if (p.payload_size <= 5) return P1_ERR_PAYLOAD;
  int size = p.payload_size < PROTO_P1_MAX ? p.payload_size : PROTO_P1_MAX;
  ProtoReader rd{p.payload, size, 0};
  int command = rd.u16();
  packet.set_command().setFromInt(command);
  packet.set_session(static_cast<int>(rd.u32()));
  int rest = size - 6;
  if (command != P1_SRV_ACK) return P1_ERR_COMMAND;
  ProtoVorkPacketP1SrvAckPacket& ack = packet.set_payload().select_p1_srv_ack();
  ack.set_result().setFromInt(0);
  ack.set_ack_command().setFromInt(0);
  ack.set_payload().omit_p1_file_start();
  ack.set_payload().omit_p1_file_load();
  int status = P1_ERR_PAYLOAD;
  if (rest >= 4) {
    ack.set_result().setFromInt(rd.u16());
    ack.set_ack_command().setFromInt(rd.u16());
    status = 0;
  }
  if (rest >= 8) {
    ProtoReader at{p.payload, size, 10};
    ProtoVorkPacketP1SrvAckFileStart& fs = ack.set_payload().set_p1_file_start();
    fs.set_block_size(at.u16());
    fs.set_block_delay(at.u16());
  }
  if (rest >= 12) {
    ProtoReader at{p.payload, size, 10};
    ProtoVorkPacketP1SrvAckFileLoad& fl = ack.set_payload().set_p1_file_load();
    fl.set_data_processed(static_cast<int>(at.u32()));
    fl.set_block_number(static_cast<int>(at.u32()));
  }
  return status;
}
