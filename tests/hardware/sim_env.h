#pragma once
// Test environment of the hardware tests: a temporary root folder and the
// simulated board, reset to power-on before each test.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "hardware/board/board.h"
#include "hardware/sim/sim.h"
#include "runtime/os/paths.h"

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

}  // namespace SimTest
