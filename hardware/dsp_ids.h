#pragma once
// Detector ids of the DSP services: each enable carries a fresh id from a
// per-service 32-bit counter, the driver echoes it in every event, and
// events with another id are outdated. 0 is never handed out.
#include <cstdint>

namespace Hardware {

inline uint32_t NextDetectorId(uint32_t last) {
  uint32_t next = last + 1;
  return next == 0 ? 1 : next;
}

}  // namespace Hardware
