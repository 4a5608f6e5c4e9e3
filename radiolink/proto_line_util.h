#pragma once
// Helpers shared by the GGS, DCON and RAD converters and printers.
#include <cstring>

#include "radiolink/proto_vork.h"

namespace proto_line {

// Pads an odd payload length by one zero byte; -199 when the result does
// not fit the buffer.
inline int finish(unsigned char* payload, int len, int size) {
  if (len & 1) {
    if (len + 1 > size) return CONVERT_NOT_ENOUGHT_MEMORY;
    payload[len++] = 0;
  }
  if (len > size) return CONVERT_NOT_ENOUGHT_MEMORY;
  return len;
}

// A command with a channel, a 16-bit kind, a command number and a counted
// parameter list (GGS and DCON commands share this layout).
struct LineCommand {
  uint8_t* channel;
  uint16_t* kind;
  uint8_t* command;
  uint8_t* param_size;
  uint8_t* param;
};

inline int trans_line_command(const LineCommand& c, unsigned char* payload, int size) {
  if (size < 5) return CONVERT_NOT_ENOUGHT_MEMORY;
  int n = *c.param_size;
  payload[0] = *c.channel;
  payload[1] = static_cast<unsigned char>(*c.kind & 0xFF);
  payload[2] = static_cast<unsigned char>(*c.kind >> 8);
  payload[3] = *c.command;
  payload[4] = static_cast<unsigned char>(n);
  int len = 5 + n;
  if (len <= size) std::memcpy(payload + 5, c.param, static_cast<size_t>(n));
  return finish(payload, len, size);
}

inline int recv_line_command(const LineCommand& c, const unsigned char* payload, int size) {
  if (size < 5) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  *c.channel = payload[0];
  *c.kind = static_cast<uint16_t>(payload[1] | (payload[2] << 8));
  *c.command = payload[3];
  *c.param_size = payload[4];
  if (5 + *c.param_size > size) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  std::memcpy(c.param, payload + 5, *c.param_size);
  return CONVERT_OK;
}

// Float bit pattern <-> 4 bytes, least significant first.
inline void put_float(unsigned char* out, float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(bits >> (8 * i));
}
inline float get_float(const unsigned char* in) {
  uint32_t bits = 0;
  for (int i = 0; i < 4; ++i) bits |= static_cast<uint32_t>(in[i]) << (8 * i);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// The "[i] : 0xNN,\n" lines of a byte list.
inline int dump_bytes(char* buffer, long size, int len, const uint8_t* bytes, int count) {
  for (int i = 0; i < count; ++i) len = proto_dump_line(buffer, size, len, "[%d] : 0x%02X,\n", i, bytes[i]);
  return len;
}

}  // namespace proto_line
