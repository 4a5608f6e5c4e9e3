#pragma once
// Helpers of the radio slot tests: packed radio packets and byte vectors
// written as hex text.
#include <string>
#include <vector>

#include "radio/sig_proto.h"
#include "slots/slot_bench_fixture.h"

namespace radiotest {

using slottest::LogCapture;
using Bytes = std::vector<unsigned char>;

// "01 11 c0 2c" as bytes; blanks are only for reading.
inline Bytes H(const std::string& hex) {
  Bytes b;
  std::string digits;
  for (char c : hex)
    if (c != ' ') digits += c;
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2) b.push_back(uint8_t(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return b;
}

// A packet of `type` with its priority and push-to-talk flag.
inline Bytes Packed(int type, int priority, int ptt = 0) {
  sig_proto p;
  sig_proto_init(&p);
  p.type = type;
  p.priority = priority;
  p.flag_p = ptt;
  unsigned char buf[1024];
  const int n = sig_proto_pack(&p, buf, sizeof buf);
  return Bytes(buf, buf + (n > 0 ? n : 0));
}

}  // namespace radiotest
