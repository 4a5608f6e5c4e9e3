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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Sim::Board& b = Sim::Board::instance();
  std::string text(reinterpret_cast<const char*>(data), size);
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    const std::string line = text.substr(start, nl - start);
    const std::string reply = b.execute(line);
    if (reply.empty() || reply.back() != '\n') __builtin_trap();
    start = nl + 1;
  }
  b.reset();
  return 0;
}
