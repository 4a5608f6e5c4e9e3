#pragma once
// Bounded readers and writers of radio-link payload bytes: multi-byte
// numbers least significant byte first, never a byte outside the buffer.
#include <cstdint>
#include <cstring>

#include "radiolink/proto_vork.h"

#define PROTO_CONV_ARGS                                                                                                \
  s_proto_transiver_event *row, unsigned short *flags, unsigned char *src, unsigned char *dst, unsigned char *payload, \
      int size, s_data_cmd *record

struct ProtoReader {
  const unsigned char* data;
  int length;
  int pos;

  bool has(int n) const { return n >= 0 && pos <= length && n <= length - pos; }
  uint8_t u8() { return data[pos++]; }
  uint16_t u16() {
    uint16_t v = static_cast<uint16_t>(data[pos] | (data[pos + 1] << 8));
    pos += 2;
    return v;
  }
  int16_t s16() { return static_cast<int16_t>(u16()); }
  uint32_t u32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(data[pos + i]) << (8 * i);
    pos += 4;
    return v;
  }
  int32_t s32() { return static_cast<int32_t>(u32()); }
  float f32() {
    uint32_t bits = u32();
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
  }
};

struct ProtoWriter {
  unsigned char* data;
  int capacity;
  int pos;

  bool room(int n) const { return n >= 0 && pos <= capacity && n <= capacity - pos; }
  void u8(unsigned v) { data[pos++] = static_cast<unsigned char>(v); }
  void u16(unsigned v) {
    u8(v & 0xFF);
    u8((v >> 8) & 0xFF);
  }
  void u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) u8((v >> (8 * i)) & 0xFF);
  }
  void f32(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    u32(bits);
  }
  // Pads an odd payload with one zero byte; false when that byte does not fit.
  bool pad() {
    if ((pos & 1) == 0) return true;
    if (!room(1)) return false;
    u8(0);
    return true;
  }
};

inline unsigned proto_bit(uint8_t flag, int bit) { return (flag ? 1u : 0u) << bit; }
inline uint8_t proto_flag(uint8_t byte, int bit) { return static_cast<uint8_t>((byte >> bit) & 1); }
