#pragma once
// Helpers of the radio slot tests: packed radio packets.
#include <string>
#include <vector>

#include "radio/sig_proto.h"
#include "slots/slot_bench_fixture.h"

namespace radiotest {

using slottest::LogCapture;

// A packet of `type` with its priority and push-to-talk flag.
inline std::vector<uint8_t> Packed(int type, int priority, int ptt = 0) {
  sig_proto p;
  sig_proto_init(&p);
  p.type = type;
  p.priority = priority;
  p.flag_p = ptt;
  unsigned char buf[1024];
  const int n = sig_proto_pack(&p, buf, sizeof buf);
  return std::vector<uint8_t>(buf, buf + (n > 0 ? n : 0));
}

}  // namespace radiotest
