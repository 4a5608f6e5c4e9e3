#pragma once
// Argument records of the board's drivers: sequences of big-endian words,
// built and read explicitly so that the host's byte order never leaks into
// what a driver (real or simulated) sees.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace Board {

inline void putBE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}
inline void putBE16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
inline uint32_t getBE32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline uint16_t getBE16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }

// A record of 32-bit signed words in the board's byte order.
class WordRecord {
 public:
  explicit WordRecord(std::size_t words) : bytes_(words * 4, 0) {}
  WordRecord(std::initializer_list<int32_t> words) : bytes_(words.size() * 4, 0) {
    std::size_t i = 0;
    for (int32_t w : words) set(i++, w);
  }
  void set(std::size_t i, int32_t v) { putBE32(&bytes_[i * 4], uint32_t(v)); }
  int32_t get(std::size_t i) const { return int32_t(getBE32(&bytes_[i * 4])); }
  std::size_t words() const { return bytes_.size() / 4; }
  uint8_t* data() { return bytes_.data(); }
  const uint8_t* data() const { return bytes_.data(); }
  std::size_t size() const { return bytes_.size(); }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace Board
