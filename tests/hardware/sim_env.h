#pragma once
// Test environment of the hardware tests: a temporary root folder and the
// simulated board, reset to power-on before each test; a service bound to a
// test controller; a DTMF user; capture of the error and log streams; a
// frozen loop clock that the test moves on, firing the due timers, so that
// cadences come out exact.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "hardware/board/board.h"
#include "hardware/board/record.h"
#include "hardware/board/requests.h"
#include "hardware/hwmux.h"
#include "hardware/tonec.h"
#include "hardware/sim/dsp.h"
#include "hardware/sim/dtmf.h"
#include "hardware/sim/e1cas.h"
#include "hardware/sim/hal.h"
#include "hardware/sim/maintenance.h"
#include "hardware/sim/mcc.h"
#include "hardware/sim/sim.h"
#include "runtime/loop/multiplexer.h"
#include "runtime/os/clock.h"
#include "runtime/os/paths.h"
#include "commands.h"

// The board's request numbers and records, as every hardware test names them.
namespace R = Board::Req;
using Sim::Bytes;

namespace SimTest {

inline const std::string& root() {
  static std::string dir = [] {
    char tmpl[] = "/tmp/tsd-hw-XXXXXX";
    const char* d = ::mkdtemp(tmpl);
    std::string r = d ? d : "/tmp";
    static char made[sizeof tmpl];
    if (d) {
      std::memcpy(made, tmpl, sizeof tmpl);
      std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(made, ec);
      });
    }
    ::setenv("TESSAROD_ROOT", r.c_str(), 1);
    ::setenv("TESSAROD_BOARD", "sim", 1);
    RootPath::reload();
    Board::reload();
    return r;
  }();
  return dir;
}

// The process's simulated board, logging every request a test makes.
inline Sim::Board& board() {
  root();
  static bool once = (Sim::Board::instance().setLogCapacity(1 << 16), true);
  (void)once;
  return Sim::Board::instance();
}

// A DTMF user on one timeslot: the digits it is told of and the sendings
// it hears the end of.
class Digits : public Hardware::TonecReceiver {
 public:
  explicit Digits(unsigned ts) : ts_(ts) {}
  void tonec_event(Params const& p) override { events.push_back(p); }
  unsigned tonec_timeslot() const override { return ts_; }
  void tone_gen_complete() override { ++completions; }
  std::vector<Params> events;
  int completions = 0;

 private:
  unsigned ts_;
};

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
    for (unsigned i = 0; i < ms; ++i) jump(1);
  }
  // Moves the loop clock on by ms at once, then fires what is due.
  void jump(unsigned ms) {
    Mux::advanceClock(ms);
    multiplexer.timers_schedule();
  }
};

// What poll reports on a descriptor right now.
inline short pollNow(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1 ? p.revents : 0;
}

class Fixture : public ::testing::Test {
 protected:
  void SetUp() override { board().reset(); }
  Sim::Board& sim() { return board(); }
  // How many requests of that code the board has logged.
  std::size_t requestCount(uint32_t code) {
    std::size_t n = 0;
    for (const auto& e : sim().log()) n += e.request == code;
    return n;
  }
  // The request log as text, one request a line.
  std::string requestLog() {
    std::string s;
    for (const auto& e : sim().log()) s += e.text() + "\n";
    return s;
  }
};

// A service bound to a test controller's server; Start makes both afresh.
template <class S>
class BenchFixture : public Fixture {
 protected:
  void TearDown() override {
    bench.reset();
    svc.reset();
  }
  void Start(bool connect) {
    bench.reset();
    svc = std::make_unique<S>();
    bench = std::make_unique<e1test::Bench>();
    bench->Bind(svc.get());
    ASSERT_TRUE(bench->Start());
    if (connect) {
      ASSERT_TRUE(bench->Connect());
    }
  }
  std::unique_ptr<S> svc;
  std::unique_ptr<e1test::Bench> bench;
};

}  // namespace SimTest
