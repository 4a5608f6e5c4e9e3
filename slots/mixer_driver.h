#pragma once
// The mixer driver ("/dev/mixer"): its request numbers and argument records,
// serialised big-endian, and mixer_ctl(), which opens the device around each
// single request so that no descriptor to it is ever held.
#include <cstddef>
#include <cstdint>
#include <iosfwd>

namespace Mixer {

// Request numbers as the board's driver defines them.
constexpr uint32_t MIX_RX_CLEAR = 0x800C4D02;   // mix_slot: empty a receiving channel's sum
constexpr uint32_t MIX_RX_ADD = 0x801C4D03;     // mix_route: add a source with its gain
constexpr uint32_t MIX_RX_REMOVE = 0x801C4D04;  // mix_route: take a source out of the sum
constexpr uint32_t MIX_TDM = 0x800C4D06;        // mix_slot: result is the channel's TDM timeslot
constexpr uint32_t MIX_UNIT_INFO = 0x80104D07;  // mix_unit_info: the unit after the one in word 0

// Address of one mixer channel (12 bytes).
struct mix_slot {
  int32_t dev_no = 0;  // unit
  int32_t type = 0;    // 0: TDM channel
  int32_t number = 0;  // channel within the unit

  static constexpr std::size_t kSize = 12;
  void encode(uint8_t* out) const;
  void decode(const uint8_t* in);
};

// A route from a source channel into a receiving channel's sum (28 bytes).
struct mix_route {
  mix_slot rx;
  mix_slot tx;
  int32_t gain = 0;

  static constexpr std::size_t kSize = 28;
  void encode(uint8_t* out) const;
  void decode(const uint8_t* in);
};

// A unit record (16 bytes): word 0 the unit (in: the previous one, -1 for
// the first), word 1 its TDM channels, word 2 unused, word 3 its mixer inputs.
struct mix_unit_info {
  int32_t word[4] = {-1, 0, 0, 0};

  static constexpr std::size_t kSize = 16;
  void encode(uint8_t* out) const;
  void decode(const uint8_t* in);
};

// One request on a fresh descriptor of "/dev/mixer" (close-on-exec, closed
// again before returning, errno kept). The record is updated from what the
// driver wrote back. Returns the request's result, -1 when the device does
// not open.
int mixer_ctl(uint32_t request, mix_slot& record);
int mixer_ctl(uint32_t request, mix_route& record);
int mixer_ctl(uint32_t request, mix_unit_info& record);

}  // namespace Mixer
