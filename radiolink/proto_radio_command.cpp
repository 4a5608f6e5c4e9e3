// Radio command (parameter bytes to an interface) and BSS link quality.
#include <cstring>

#include "radiolink/proto_vork.h"

int convert_trans_radio_command(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  const s_proto_radio_command& rc = record->payload.radio_command;
  int n = rc.param_size;
  int len = 1 + n;
  if (len & 1) ++len;
  if (len > size) return CONVERT_NOT_ENOUGHT_MEMORY;
  payload[0] = rc.param_size;
  std::memcpy(payload + 1, rc.param, static_cast<size_t>(n));
  if (1 + n < len) payload[1 + n] = 0;
  return len;
}

int convert_recv_radio_command(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (size < 0) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  s_proto_radio_command& rc = record->payload.radio_command;
  rc.channel = 0;
  if (size == 0) {
    rc.param_size = 0;
    return CONVERT_OK;
  }
  rc.param_size = payload[0];
  if (1 + rc.param_size > size) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  std::memcpy(rc.param, payload + 1, rc.param_size);
  return CONVERT_OK;
}

int convert_trans_bss_quality(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (size < 4) return CONVERT_NOT_ENOUGHT_MEMORY;
  uint32_t bits;
  std::memcpy(&bits, &record->payload.rd_bss.snr, sizeof bits);
  for (int i = 0; i < 4; ++i) payload[i] = static_cast<unsigned char>(bits >> (8 * i));
  return 4;
}

int convert_recv_bss_quality(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (size < 4) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  record->payload.rd_bss.channel = 0;
  uint32_t bits = 0;
  for (int i = 0; i < 4; ++i) bits |= static_cast<uint32_t>(payload[i]) << (8 * i);
  std::memcpy(&record->payload.rd_bss.snr, &bits, sizeof bits);
  return CONVERT_OK;
}

int sprintf_radio_command(char* buffer, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(buffer, size, r, flags);
  if (len == 0) return 0;
  const s_proto_radio_command& rc = r->payload.radio_command;
  len = proto_dump_line(buffer, size, len, "radio_command.channel: %d,\n", rc.channel);
  len = proto_dump_line(buffer, size, len, "radio_command.param_size: %d,\n", rc.param_size);
  len = proto_dump_line(buffer, size, len, "radio_command.param : \n");
  for (int i = 0; i < rc.param_size; ++i) len = proto_dump_line(buffer, size, len, "[%d] : 0x%02X,\n", i, rc.param[i]);
  return len;
}

int sprintf_bss_quality(char* buffer, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(buffer, size, r, flags);
  if (len == 0) return 0;
  len = proto_dump_line(buffer, size, len, "rd_bss.channel: %d,\n", r->payload.rd_bss.channel);
  len = proto_dump_line(buffer, size, len, "rd_bss.snr    : %4.2f,\n", static_cast<double>(r->payload.rd_bss.snr));
  return len;
}
