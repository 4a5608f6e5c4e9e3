#pragma once
// Helpers of the DTMF and DSP service tests: capture of the error and log
// streams, and a frozen loop clock that the test moves on millisecond by
// millisecond, firing the due timers, so that cadences come out exact.
#include <poll.h>

#include <iostream>
#include <sstream>
#include <string>

#include "runtime/loop/multiplexer.h"
#include "runtime/os/clock.h"

namespace DspTest {

class LogCapture {
 public:
  LogCapture() : err_(std::cerr.rdbuf(errBuf_.rdbuf())), log_(std::clog.rdbuf(logBuf_.rdbuf())) {}
  ~LogCapture() {
    std::cerr.rdbuf(err_);
    std::clog.rdbuf(log_);
  }
  std::string err() const { return errBuf_.str(); }
  std::string log() const { return logBuf_.str(); }
  bool errHas(const std::string& s) const { return err().find(s) != std::string::npos; }
  bool logHas(const std::string& s) const { return log().find(s) != std::string::npos; }
  void clear() {
    errBuf_.str("");
    logBuf_.str("");
  }

 private:
  std::ostringstream errBuf_, logBuf_;
  std::streambuf* err_;
  std::streambuf* log_;
};

class FrozenClock {
 public:
  FrozenClock() { Mux::mux_settimeofday(); }
  ~FrozenClock() { Mux::mux_cleartimeofday(); }
  unsigned now() const { return Mux::milliseconds(); }
  // Moves the loop clock on by ms, one millisecond at a time, firing every
  // timer as it falls due.
  void advance(unsigned ms) {
    for (unsigned i = 0; i < ms; ++i) {
      Mux::advanceClock(1);
      multiplexer.timers_schedule();
    }
  }
};

// What poll reports on a descriptor right now.
inline short pollNow(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1 ? p.revents : 0;
}

}  // namespace DspTest
