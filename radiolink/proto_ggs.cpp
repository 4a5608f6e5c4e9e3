// GGS line-signalling commands and states of the line interfaces.
#include "radiolink/proto_line_util.h"

using namespace proto_line;

namespace {
LineCommand ggs_fields(s_data_cmd* record) {
  s_proto_ggs_command& c = record->payload.ggs_command;
  return LineCommand{&c.channel, &c.ggs_type_call, &c.command, &c.param_size, c.param};
}
}  // namespace

int convert_trans_ggs_command(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  return trans_line_command(ggs_fields(record), payload, size);
}

int convert_recv_ggs_command(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  return recv_line_command(ggs_fields(record), payload, size);
}

int convert_trans_ggs_state(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (size < 3) return CONVERT_NOT_ENOUGHT_MEMORY;
  const s_proto_ggs_state& s = record->payload.ggs_state;
  payload[0] = s.channel;
  payload[1] = s.state;
  payload[2] = s.error;
  return finish(payload, 3, size);
}

int convert_recv_ggs_state(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (size < 3) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  s_proto_ggs_state& s = record->payload.ggs_state;
  s.channel = payload[0];
  s.state = payload[1];
  s.error = payload[2];
  return CONVERT_OK;
}

int convert_trans_ggs_digital_state(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (size < 4) return CONVERT_NOT_ENOUGHT_MEMORY;
  const s_proto_ggs_digital_state& s = record->payload.gd_state;
  payload[0] = s.channel;
  payload[1] = s.state;
  payload[2] = s.error;
  payload[3] = static_cast<unsigned char>(((s.flag_detected_tx & 1) << 1) | (s.flag_detected_rx & 1));
  return 4;
}

int convert_recv_ggs_digital_state(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (size < 3) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  s_proto_ggs_digital_state& s = record->payload.gd_state;
  s.channel = payload[0];
  s.state = payload[1];
  s.error = payload[2];
  s.flag_detected_rx = 0;
  s.flag_detected_tx = 0;
  if (size > 3) {
    s.flag_detected_rx = payload[3] & 1;
    s.flag_detected_tx = (payload[3] >> 1) & 1;
  }
  return CONVERT_OK;
}

int sprintf_ggs_command(char* buffer, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(buffer, size, r, flags);
  if (len == 0) return 0;
  const s_proto_ggs_command& c = r->payload.ggs_command;
  len = proto_dump_line(buffer, size, len, "ggs_command.channel: %d,\n", c.channel);
  len = proto_dump_line(buffer, size, len, "ggs_command.ggs_type_call: %d,\n", c.ggs_type_call);
  len = proto_dump_line(buffer, size, len, "ggs_command.command: %d,\n", c.command);
  len = proto_dump_line(buffer, size, len, "ggs_command.param_size: %d,\n", c.param_size);
  len = proto_dump_line(buffer, size, len, "ggs_command.param : \n");
  return dump_bytes(buffer, size, len, c.param, c.param_size);
}

int sprintf_ggs_state(char* buffer, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(buffer, size, r, flags);
  if (len == 0) return 0;
  const s_proto_ggs_state& s = r->payload.ggs_state;
  len = proto_dump_line(buffer, size, len, "ggs_state.channel: %d,\n", s.channel);
  len = proto_dump_line(buffer, size, len, "ggs_state.state: %d,\n", s.state);
  return proto_dump_line(buffer, size, len, "ggs_state.error: %d,\n", s.error);
}

int sprintf_ggs_digital_state(char* buffer, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(buffer, size, r, flags);
  if (len == 0) return 0;
  const s_proto_ggs_digital_state& s = r->payload.gd_state;
  len = proto_dump_line(buffer, size, len, "gd_state.channel: %d,\n", s.channel);
  len = proto_dump_line(buffer, size, len, "gd_state.state: %d,\n", s.state);
  len = proto_dump_line(buffer, size, len, "gd_state.error: %d,\n", s.error);
  len = proto_dump_line(buffer, size, len, "gd_state.flag_detected_rx: %d,\n", s.flag_detected_rx);
  return proto_dump_line(buffer, size, len, "gd_state.flag_detected_tx: %d,\n", s.flag_detected_tx);
}
