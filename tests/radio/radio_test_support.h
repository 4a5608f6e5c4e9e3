#pragma once
// Helpers of the radio slot tests: log capture and packed radio packets.
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "radio/sig_proto.h"

namespace radiotest {

// Collects what the log and error streams receive while alive.
struct LogCapture {
  LogCapture() : log(std::clog.rdbuf(text.rdbuf())), err(std::cerr.rdbuf(text.rdbuf())) {}
  ~LogCapture() {
    std::clog.rdbuf(log);
    std::cerr.rdbuf(err);
  }
  bool has(const std::string& s) const { return text.str().find(s) != std::string::npos; }
  std::ostringstream text;
  std::streambuf *log, *err;
};

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
