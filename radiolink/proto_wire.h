#pragma once
// Bounded readers and writers of radio-link payload bytes: multi-byte
// numbers least significant byte first, never a byte outside the buffer.
#include <cstdint>
#include <cstring>

#include "radiolink/proto_vork.h"

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

// Appends count channel blocks, each written by one(i, out, room) which gives
// its length or a failure; CONVERT_OK or that failure.
template <class One>
int proto_trans_each(ProtoWriter& wr, int count, One one) {
  for (int i = 0; i < count; ++i) {
    int r = one(i, wr.data + wr.pos, wr.capacity - wr.pos);
    if (r < 0) return r;
    wr.pos += r;
  }
  return CONVERT_OK;
}

// Reads count channel blocks of type (16 bits), length and data, each handed
// to one(i, type, data, length); CONVERT_OK or the first failure.
template <class One>
int proto_recv_typed_each(ProtoReader& rd, int count, One one) {
  for (int i = 0; i < count; ++i) {
    if (!rd.has(3)) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
    uint16_t type = rd.u16();
    uint8_t len = rd.u8();
    if (!rd.has(len)) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
    int r = one(i, type, rd.data + rd.pos, len);
    if (r != CONVERT_OK) return r;
    rd.pos += len;
  }
  return CONVERT_OK;
}
