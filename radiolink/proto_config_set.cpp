// Set-configuration messages from the gateway: the destination chooses the
// analog or the digital layout.
#include "radiolink/proto_vork.h"
#include "radiolink/proto_wire.h"

int convert_trans_config(PROTO_CONV_ARGS) {
  if (!row || !flags || !src || !dst || !payload || !record) return CONVERT_ERROR;
  proto_trans_header(row, flags, src, dst, payload, size, record);
  if (record->dstAddr & PROTO_ADDR_ALI) return convert_trans_analog_config(row, flags, src, dst, payload, size, record);
  if (record->dstAddr & PROTO_ADDR_DLI) return convert_trans_digital_config(row, flags, src, dst, payload, size, record);
  return 0;  // another gateway: no payload
}

int convert_trans_v2_config(PROTO_CONV_ARGS) {
  if (!row || !flags || !src || !dst || !payload || !record) return CONVERT_ERROR;
  proto_trans_header(row, flags, src, dst, payload, size, record);
  if (record->dstAddr & PROTO_ADDR_ALI)
    return convert_trans_v2_analog_config(row, flags, src, dst, payload, size, record);
  if (record->dstAddr & PROTO_ADDR_DLI)
    return convert_trans_v2_digital_config(row, flags, src, dst, payload, size, record);
  return 0;
}

// The two configuration dumps print the header lines themselves.
int sprintf_config(char* buffer, long size, s_data_cmd* record, int flags) {
  if (!buffer || !record || size < 1) return 0;
  if (record->dstAddr & PROTO_ADDR_ALI) return sprintf_analog_config(buffer, size, record, flags);
  if (record->dstAddr & PROTO_ADDR_DLI) return sprintf_digital_config(buffer, size, record, flags);
  return sprintf_dummy(buffer, size, record, flags);
}
