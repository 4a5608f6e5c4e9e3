#pragma once
// Records of the E1 CAS driver ("/dev/e1-cas"), built and read explicitly in
// the board's byte order.
#include <cstddef>
#include <cstdint>

// One timeslot's signalling: the driver's 12-byte channel record, also the
// record of every change the driver reports through read().
struct cas_channel {
  static constexpr std::size_t kSize = 12;
  int32_t path = 0;      // trunk 0..3
  int32_t timeslot = 0;  // 0 = the trunk as a whole
  uint8_t rx = 0;        // received signalling bits
  uint8_t tx = 0;        // transmitted signalling bits

  void encode(uint8_t* out) const;
  void decode(const uint8_t* in);
};

// Opens (close = 0) or closes (close = 1) CAS on a timeslot: a channel record
// followed by the 32-bit close flag.
struct cas_channel_setup {
  static constexpr std::size_t kSize = 16;
  cas_channel channel;
  int32_t close = 0;

  void encode(uint8_t* out) const;
  void decode(const uint8_t* in);
};
