// DCON channel commands and states between the gateway and the digital
// line interface.
#include "radiolink/proto_line_util.h"

using namespace proto_line;

namespace {
LineCommand dcon_fields(s_proto_dcon_command& c) {
  return LineCommand{&c.channel, &c.type_signal, &c.command, &c.param_size, c.param};
}

void put_state_head(unsigned char* out, const s_proto_dcon_state& s) {
  out[0] = s.channel;
  out[1] = static_cast<unsigned char>(s.type_signal & 0xFF);
  out[2] = static_cast<unsigned char>(s.type_signal >> 8);
  out[3] = s.state;
  out[4] = s.error;
}

void get_state_head(const unsigned char* in, s_proto_dcon_state& s) {
  s.channel = in[0];
  s.type_signal = static_cast<uint16_t>(in[1] | (in[2] << 8));
  s.state = in[3];
  s.error = in[4];
}

s_proto_dcon_state state_head(const s_proto_dcon_digital_state& d) {
  s_proto_dcon_state s;
  s.channel = d.channel;
  s.type_signal = d.type_signal;
  s.state = d.state;
  s.error = d.error;
  return s;
}

int dump_command(char* buffer, long size, int len, const char* prefix, const s_proto_dcon_command& c) {
  len = proto_dump_line(buffer, size, len, "%s.channel: %d,\n", prefix, c.channel);
  len = proto_dump_line(buffer, size, len, "%s.type_signal: %d,\n", prefix, c.type_signal);
  len = proto_dump_line(buffer, size, len, "%s.command: %d,\n", prefix, c.command);
  len = proto_dump_line(buffer, size, len, "%s.param_size: %d,\n", prefix, c.param_size);
  len = proto_dump_line(buffer, size, len, "%s.param : \n", prefix);
  return dump_bytes(buffer, size, len, c.param, c.param_size);
}
}  // namespace

int convert_trans_dcon_command(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  return trans_line_command(dcon_fields(record->payload.dcon_command), payload, size);
}

int convert_recv_dcon_command(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  return recv_line_command(dcon_fields(record->payload.dcon_command), payload, size);
}

int convert_trans_dcon_digital_command(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  return trans_line_command(dcon_fields(record->payload.dcon_dig_command), payload, size);
}

int convert_recv_dcon_digital_command(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  return recv_line_command(dcon_fields(record->payload.dcon_dig_command), payload, size);
}

int convert_trans_dcon_state(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (size < 5) return CONVERT_NOT_ENOUGHT_MEMORY;
  put_state_head(payload, record->payload.dcon_state);
  return finish(payload, 5, size);
}

int convert_recv_dcon_state(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (size < 5) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  get_state_head(payload, record->payload.dcon_state);
  return CONVERT_OK;
}

int convert_trans_dcon_digital_state(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (size < 6) return CONVERT_NOT_ENOUGHT_MEMORY;
  const s_proto_dcon_digital_state& d = record->payload.dcon_dig_state;
  put_state_head(payload, state_head(d));
  payload[5] = static_cast<unsigned char>(((d.flag_detected_tx & 1) << 1) | (d.flag_detected_rx & 1));
  return 6;
}

int convert_recv_dcon_digital_state(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (size < 6) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  s_proto_dcon_digital_state& d = record->payload.dcon_dig_state;
  s_proto_dcon_state s;
  get_state_head(payload, s);
  d.channel = s.channel;
  d.type_signal = s.type_signal;
  d.state = s.state;
  d.error = s.error;
  d.flag_detected_rx = payload[5] & 1;
  d.flag_detected_tx = (payload[5] >> 1) & 1;
  return CONVERT_OK;
}

int sprintf_dcon_command(char* buffer, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(buffer, size, r, flags);
  if (len == 0) return 0;
  return dump_command(buffer, size, len, "dcon_command", r->payload.dcon_command);
}

int sprintf_dcon_digital_command(char* buffer, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(buffer, size, r, flags);
  if (len == 0) return 0;
  return dump_command(buffer, size, len, "dcon_dig_command", r->payload.dcon_dig_command);
}

int sprintf_dcon_state(char* buffer, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(buffer, size, r, flags);
  if (len == 0) return 0;
  const s_proto_dcon_state& s = r->payload.dcon_state;
  len = proto_dump_line(buffer, size, len, "dcon_state.channel: %d,\n", s.channel);
  len = proto_dump_line(buffer, size, len, "dcon_state.type_signal: %d,\n", s.type_signal);
  len = proto_dump_line(buffer, size, len, "dcon_state.state: %d,\n", s.state);
  return proto_dump_line(buffer, size, len, "dcon_state.error: %d,\n", s.error);
}

int sprintf_dcon_digital_state(char* buffer, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(buffer, size, r, flags);
  if (len == 0) return 0;
  const s_proto_dcon_digital_state& s = r->payload.dcon_dig_state;
  len = proto_dump_line(buffer, size, len, "dcon_dig_state.channel: %d,\n", s.channel);
  len = proto_dump_line(buffer, size, len, "dcon_dig_state.type_signal: %d,\n", s.type_signal);
  len = proto_dump_line(buffer, size, len, "dcon_dig_state.state: %d,\n", s.state);
  len = proto_dump_line(buffer, size, len, "dcon_dig_state.error: %d,\n", s.error);
  len = proto_dump_line(buffer, size, len, "dcon_dig_state.flag_detected_rx: %d,\n", s.flag_detected_rx);
  return proto_dump_line(buffer, size, len, "dcon_dig_state.flag_detected_tx: %d,\n", s.flag_detected_tx);
}
