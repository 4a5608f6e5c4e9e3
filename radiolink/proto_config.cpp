// Configuration query answer of a line interface: identity and versions.
#include "radiolink/proto_vork.h"

namespace {

enum { SHORT_FORM = 6, FULL_FORM = 14 };

uint16_t get16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
void put16(unsigned char* p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}

}  // namespace

int convert_trans_get_config(PROTO_CONV_ARGS) {
  if (!row || !flags || !src || !dst || !payload || !record) return CONVERT_ERROR;
  proto_trans_header(row, flags, src, dst, payload, size, record);
  if (size < FULL_FORM) return CONVERT_NOT_ENOUGHT_MEMORY;
  const s_proto_gateway_config& c = record->payload.gateway_config;
  payload[0] = c.id;
  put16(payload + 1, c.major_version);
  put16(payload + 3, c.minor_version);
  payload[5] = c.channels_count;
  put16(payload + 6, c.major_boot_version);
  put16(payload + 8, c.minor_boot_version);
  put16(payload + 10, c.major_sub_system_version);
  put16(payload + 12, c.minor_sub_system_version);
  return FULL_FORM;
}

int convert_recv_get_config(PROTO_CONV_ARGS) {
  if (!row || !flags || !src || !dst || !payload || !record) return CONVERT_ERROR;
  proto_recv_header(row, flags, src, dst, payload, size, record);
  if (size < SHORT_FORM) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  s_proto_gateway_config& c = record->payload.gateway_config;
  c.id = payload[0];
  c.major_version = get16(payload + 1);
  c.minor_version = get16(payload + 3);
  c.channels_count = payload[5];
  c.major_boot_version = 0;
  c.minor_boot_version = 0;
  c.major_sub_system_version = 0;
  c.minor_sub_system_version = 0;
  if (size >= FULL_FORM) {
    c.major_boot_version = get16(payload + 6);
    c.minor_boot_version = get16(payload + 8);
    c.major_sub_system_version = get16(payload + 10);
    c.minor_sub_system_version = get16(payload + 12);
  }
  return CONVERT_OK;
}

int sprintf_get_config(char* buffer, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(buffer, size, r, flags);
  if (len == 0) return 0;
  const s_proto_gateway_config& c = r->payload.gateway_config;
  len = proto_dump_line(buffer, size, len, "gateway_config.id             : %d,\n", c.id);
  len = proto_dump_line(buffer, size, len, "gateway_config.channels_count : %d,\n", c.channels_count);
  len = proto_dump_line(buffer, size, len, "gateway_config.major_version  : %d,\n", c.major_version);
  len = proto_dump_line(buffer, size, len, "gateway_config.minor_version  : %d,\n", c.minor_version);
  len = proto_dump_line(buffer, size, len, "gateway_config.major_boot_version  : %d,\n", c.major_boot_version);
  len = proto_dump_line(buffer, size, len, "gateway_config.minor_boot_version  : %d,\n", c.minor_boot_version);
  len = proto_dump_line(buffer, size, len, "gateway_config.major_sub_system_version  : %d,\n",
                        c.major_sub_system_version);
  len = proto_dump_line(buffer, size, len, "gateway_config.minor_sub_system_version  : %d,\n",
                        c.minor_sub_system_version);
  return len;
}
