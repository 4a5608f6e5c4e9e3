// Hardware state and information, debug, service, test and RS-485 payloads.
#include <cstring>

#include "radiolink/proto_vork.h"
#include "radiolink/proto_wire.h"

namespace {

unsigned pack_flags(const uint8_t* f, int n) {
  unsigned v = 0;
  for (int i = 0; i < n; ++i) v |= proto_bit(f[i], i);
  return v;
}
void unpack_flags(unsigned v, uint8_t* f, int n) {
  for (int i = 0; i < n; ++i) f[i] = static_cast<uint8_t>((v >> i) & 1);
}

bool valid_request(unsigned code) { return code >= 1 && code <= 3; }

// Size byte and bytes: debug texts and RS-485 traffic.
int recv_sized(const unsigned char* payload, int size, uint8_t& count, unsigned char* bytes) {
  if (size < 1) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  count = payload[0];
  if (count + 1 > size) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  std::memcpy(bytes, payload + 1, count);
  return CONVERT_OK;
}
int trans_sized(unsigned char* payload, int size, uint8_t count, const unsigned char* bytes) {
  ProtoWriter wr{payload, size, 0};
  if (!wr.room(1 + count)) return CONVERT_NOT_ENOUGHT_MEMORY;
  wr.u8(count);
  std::memcpy(payload + 1, bytes, count);
  wr.pos += count;
  return wr.pad() ? wr.pos : CONVERT_NOT_ENOUGHT_MEMORY;
}

int recv_u16(const unsigned char* payload, int size, uint16_t& v) {
  if (size < 2) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  v = static_cast<uint16_t>(payload[0] | (payload[1] << 8));
  return CONVERT_OK;
}

int trans_u16(unsigned char* payload, int size, uint16_t v) {
  if (size < 2) return CONVERT_NOT_ENOUGHT_MEMORY;
  ProtoWriter wr{payload, size, 0};
  wr.u16(v);
  return 2;
}

}  // namespace

// ---------------------------------------------------------------- hardware state

int convert_recv_analog_hw_state(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (size < 10) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  s_proto_ahw_state& s = record->payload.ahw_state;
  ProtoReader rd{payload, size, 0};
  s.processor_load = rd.u16();
  s.voltage_primary_power = rd.u8();
  s.voltage_secondary_power = rd.u8();
  unpack_flags(rd.u8(), s.fault_power, 2);
  unpack_flags(rd.u8(), s.fault_interface, 4);
  unpack_flags(rd.u16(), s.lose_sound, PROTO_SOUND_PATHS);
  unpack_flags(rd.u16(), s.fault_sound, PROTO_SOUND_PATHS);
  return CONVERT_OK;
}

int convert_trans_analog_hw_state(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (size < 10) return CONVERT_NOT_ENOUGHT_MEMORY;
  const s_proto_ahw_state& s = record->payload.ahw_state;
  ProtoWriter wr{payload, size, 0};
  wr.u16(s.processor_load);
  wr.u8(s.voltage_primary_power);
  wr.u8(s.voltage_secondary_power);
  wr.u8(pack_flags(s.fault_power, 2));
  wr.u8(pack_flags(s.fault_interface, 4));
  wr.u16(pack_flags(s.lose_sound, PROTO_SOUND_PATHS));
  wr.u16(pack_flags(s.fault_sound, PROTO_SOUND_PATHS));
  return wr.pos;
}

int convert_recv_digital_hw_state(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (size < 3) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  s_proto_dhw_state& s = record->payload.dhw_state;
  unpack_flags(payload[0], s.fault_power, 2);
  unpack_flags(payload[1], s.fault_codec, PROTO_2WIRE_LINES);
  unpack_flags(payload[2], s.fault_line, PROTO_2WIRE_LINES);
  return CONVERT_OK;
}

int convert_trans_digital_hw_state(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (size < 4) return CONVERT_NOT_ENOUGHT_MEMORY;
  const s_proto_dhw_state& s = record->payload.dhw_state;
  payload[0] = static_cast<unsigned char>(pack_flags(s.fault_power, 2));
  payload[1] = static_cast<unsigned char>(pack_flags(s.fault_codec, PROTO_2WIRE_LINES));
  payload[2] = static_cast<unsigned char>(pack_flags(s.fault_line, PROTO_2WIRE_LINES));
  payload[3] = 0;
  return 4;
}

int convert_recv_get_info(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  return recv_u16(payload, size, record->payload.get_info.request_code);
}

int convert_trans_get_info(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  return trans_u16(payload, size, record->payload.get_info.request_code);
}

int convert_recv_digital_set_info(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (size < 3) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  s_proto_digital_set_info& s = record->payload.digital_set_info;
  ProtoReader rd{payload, size, 0};
  s.request_code = rd.u16();
  int n = rd.u8();
  if (n + 3 > size) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  if (!valid_request(s.request_code)) return CONVERT_BAD_PARAM;
  if (n >= 4) s.echo_power.power = rd.f32();
  return CONVERT_OK;
}

int convert_trans_digital_set_info(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  const s_proto_digital_set_info& s = record->payload.digital_set_info;
  if (!valid_request(s.request_code)) return CONVERT_BAD_PARAM;
  ProtoWriter wr{payload, size, 0};
  if (!wr.room(8)) return CONVERT_NOT_ENOUGHT_MEMORY;
  wr.u16(s.request_code);
  wr.u8(4);
  wr.f32(s.echo_power.power);
  wr.pad();
  return wr.pos;
}

// ---------------------------------------------------------------- debug, service, test, RS-485

int convert_recv_debug_msg(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  return recv_sized(payload, size, record->payload.debug.msg_size, record->payload.debug.msg);
}
int convert_trans_debug_msg(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  return trans_sized(payload, size, record->payload.debug.msg_size, record->payload.debug.msg);
}

int convert_recv_rs485_cmd(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  return recv_sized(payload, size, record->payload.rs485_cmd.payload_size, record->payload.rs485_cmd.payload);
}
int convert_trans_rs485_cmd(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  return trans_sized(payload, size, record->payload.rs485_cmd.payload_size, record->payload.rs485_cmd.payload);
}

int convert_recv_rs485_status(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  return recv_sized(payload, size, record->payload.ra_rs485_status.payload_size,
                    record->payload.ra_rs485_status.payload);
}
int convert_trans_rs485_status(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  return trans_sized(payload, size, record->payload.ra_rs485_status.payload_size,
                     record->payload.ra_rs485_status.payload);
}

int convert_recv_test_config(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (size < 2) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  s_proto_test_config& t = record->payload.test_config;
  t.test_mode = payload[0];
  return recv_sized(payload + 1, size - 1, t.payload_size, t.payload);
}
int convert_trans_test_config(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  const s_proto_test_config& t = record->payload.test_config;
  ProtoWriter wr{payload, size, 0};
  if (!wr.room(2 + t.payload_size)) return CONVERT_NOT_ENOUGHT_MEMORY;
  wr.u8(t.test_mode);
  wr.u8(t.payload_size);
  std::memcpy(payload + 2, t.payload, t.payload_size);
  wr.pos += t.payload_size;
  return wr.pad() ? wr.pos : CONVERT_NOT_ENOUGHT_MEMORY;
}

int convert_recv_set_debug(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  return recv_u16(payload, size, record->payload.set_debug.debug_num);
}
int convert_trans_set_debug(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  return trans_u16(payload, size, record->payload.set_debug.debug_num);
}

int convert_recv_show_debug(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  return recv_u16(payload, size, record->payload.show_debug.trace_num);
}
int convert_trans_show_debug(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  return trans_u16(payload, size, record->payload.show_debug.trace_num);
}

int convert_recv_service_command(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (size < 1) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  record->payload.service_command.command = payload[0];
  return CONVERT_OK;
}
int convert_trans_service_command(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (size < 2) return CONVERT_NOT_ENOUGHT_MEMORY;
  payload[0] = record->payload.service_command.command;
  payload[1] = 0;
  return 2;
}

// ---------------------------------------------------------------- dumps

namespace {

int dump_flags(char* b, long size, int len, const char* title, const uint8_t* f, int n) {
  len = proto_dump_line(b, size, len, "%s : \n", title);
  for (int i = 0; i < n; ++i) len = proto_dump_line(b, size, len, "[%d] : %d,\n", i, f[i]);
  return len;
}
int dump_bytes(char* b, long size, int len, const char* prefix, const uint8_t* bytes, int n) {
  len = proto_dump_line(b, size, len, "%s.payload_size: %d,\n", prefix, n);
  len = proto_dump_line(b, size, len, "%s.payload : \n", prefix);
  for (int i = 0; i < n; ++i) len = proto_dump_line(b, size, len, "[%d] : 0x%02X,\n", i, bytes[i]);
  return len;
}

}  // namespace

int sprintf_analog_hw_state(char* b, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(b, size, r, flags);
  if (len == 0) return 0;
  const s_proto_ahw_state& s = r->payload.ahw_state;
  len = proto_dump_line(b, size, len, "ahw_state.processor_load: %d,\n", s.processor_load);
  len = proto_dump_line(b, size, len, "ahw_state.voltage_primary_power: %d,\n", s.voltage_primary_power);
  len = proto_dump_line(b, size, len, "ahw_state.voltage_secondary_power: %d,\n", s.voltage_secondary_power);
  len = dump_flags(b, size, len, "ahw_state.fault_power", s.fault_power, 2);
  len = dump_flags(b, size, len, "ahw_state.fault_interface", s.fault_interface, 4);
  len = dump_flags(b, size, len, "ahw_state.lose_sound", s.lose_sound, PROTO_SOUND_PATHS);
  len = dump_flags(b, size, len, "ahw_state.fault_sound", s.fault_sound, PROTO_SOUND_PATHS);
  return len;
}

int sprintf_digital_hw_state(char* b, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(b, size, r, flags);
  if (len == 0) return 0;
  const s_proto_dhw_state& s = r->payload.dhw_state;
  len = dump_flags(b, size, len, "dhw_state.fault_power", s.fault_power, 2);
  len = dump_flags(b, size, len, "dhw_state.fault_codec", s.fault_codec, PROTO_2WIRE_LINES);
  len = dump_flags(b, size, len, "dhw_state.fault_line", s.fault_line, PROTO_2WIRE_LINES);
  return len;
}

int sprintf_get_info(char* b, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(b, size, r, flags);
  if (len == 0) return 0;
  return proto_dump_line(b, size, len, "get_info.request_code: %d,\n", r->payload.get_info.request_code);
}

int sprintf_digital_set_info(char* b, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(b, size, r, flags);
  if (len == 0) return 0;
  const s_proto_digital_set_info& s = r->payload.digital_set_info;
  len = proto_dump_line(b, size, len, "digital_set_info.request_code: %d,\n", s.request_code);
  if (valid_request(s.request_code))
    len = proto_dump_line(b, size, len, "digital_set_info.echo_power.power: %4.4f,\n",
                          static_cast<double>(s.echo_power.power));
  return len;
}

int sprintf_debug_msg(char* b, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(b, size, r, flags);
  if (len == 0) return 0;
  const s_proto_debug_msg& d = r->payload.debug;
  char text[256] = {0};
  std::memcpy(text, d.msg, d.msg_size);
  len = proto_dump_line(b, size, len, "debug.msg_size: %d,\n", d.msg_size);
  return proto_dump_line(b, size, len, "debug.msg     : %s,\n", text);
}

int sprintf_set_debug(char* b, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(b, size, r, flags);
  if (len == 0) return 0;
  return proto_dump_line(b, size, len, "set_debug.debug_num: %d,\n", r->payload.set_debug.debug_num);
}

int sprintf_show_debug(char* b, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(b, size, r, flags);
  if (len == 0) return 0;
  return proto_dump_line(b, size, len, "show_debug.trace_num: %d,\n", r->payload.show_debug.trace_num);
}

int sprintf_service_command(char* b, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(b, size, r, flags);
  if (len == 0) return 0;
  return proto_dump_line(b, size, len, "service_command.command: %d,\n", r->payload.service_command.command);
}

int sprintf_test_config(char* b, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(b, size, r, flags);
  if (len == 0) return 0;
  const s_proto_test_config& t = r->payload.test_config;
  len = proto_dump_line(b, size, len, "test_config.test_mode: %d,\n", t.test_mode);
  return dump_bytes(b, size, len, "test_config", t.payload, t.payload_size);
}

int sprintf_rs485_cmd(char* b, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(b, size, r, flags);
  if (len == 0) return 0;
  return dump_bytes(b, size, len, "rs485_cmd", r->payload.rs485_cmd.payload, r->payload.rs485_cmd.payload_size);
}

int sprintf_rs485_status(char* b, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(b, size, r, flags);
  if (len == 0) return 0;
  return dump_bytes(b, size, len, "ra_rs485_status", r->payload.ra_rs485_status.payload,
                    r->payload.ra_rs485_status.payload_size);
}
