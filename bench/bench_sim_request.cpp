// bench-links: hardware
// What a request to the simulated board costs next to a plain call through a
// virtual function doing the same bookkeeping: one multiplexer request on
// "/dev/hal", and the output refresh (128 requests per deferred call).
// Prints the ratio of each to the baseline and the heap allocations per
// request.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <new>
#include <string>

#include "hardware/board/board.h"
#include "hardware/board/record.h"
#include "hardware/board/requests.h"
#include "hardware/hwmux.h"
#include "hardware/sim/sim.h"
#include "runtime/os/paths.h"

namespace {

std::atomic<unsigned long> allocations{0};

// The baseline: a request handed to an object behind a virtual call that
// reads the record's first word and keeps it.
class Plain {
 public:
  virtual ~Plain() = default;
  virtual int request(int fd, uint32_t code, void* record) = 0;
};

class PlainTable : public Plain {
 public:
  int request(int fd, uint32_t code, void* record) override {
    const int32_t w = int32_t(Board::getBE32(static_cast<const uint8_t*>(record)));
    table_[unsigned(w) & 2047] = uint16_t(code ^ unsigned(fd));
    return 0;
  }

 private:
  uint16_t table_[2048] = {};
};

Plain* plain() {
  static PlainTable t;
  return &t;
}

int halFd() {
  static int fd = Board::open("/dev/hal", O_RDWR | O_CLOEXEC);
  return fd;
}

void BM_FunctionCall(benchmark::State& state) {
  Plain* p = plain();
  benchmark::DoNotOptimize(p);
  uint8_t rec[4];
  int32_t out = 8192;
  for (auto _ : state) {
    Board::putBE32(rec, uint32_t(out));
    benchmark::DoNotOptimize(p->request(3, Board::Req::MuxDisable, rec));
    out = out == 10239 ? 8192 : out + 1;
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_FunctionCall);

void BM_BoardRequest(benchmark::State& state) {
  const int fd = halFd();
  uint8_t rec[4];
  int32_t out = 8192;
  const unsigned long before = allocations;
  for (auto _ : state) {
    Board::putBE32(rec, uint32_t(out));
    benchmark::DoNotOptimize(Board::ioctl(fd, Board::Req::MuxDisable, rec));
    out = out == 10239 ? 8192 : out + 1;
  }
  state.counters["allocs_per_request"] = double(allocations - before) / double(state.iterations());
  state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_BoardRequest);

// The refresh as the loop runs it: 128 disables per deferred call.
void BM_Refresh128(benchmark::State& state) {
  HwMux* mux = HwMux::instance();
  const unsigned long before = allocations;
  for (auto _ : state) mux->OnDPC();
  state.counters["allocs_per_request"] = double(allocations - before) / double(state.iterations() * 128);
  state.SetItemsProcessed(int64_t(state.iterations()) * 128);
}
BENCHMARK(BM_Refresh128);

// Keeps the time per item of each benchmark besides printing it.
class Recorder : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      const auto items = r.counters.find("items_per_second");
      if (items != r.counters.end() && double(items->second) > 0)
        perItemNs[r.benchmark_name()] = 1e9 / double(items->second);
    }
  }
  std::map<std::string, double> perItemNs;
};

}  // namespace

// Counts every allocation made with new (malloc and free underneath).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t n) {
  ++allocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

int main(int argc, char** argv) {
  char root[] = "/tmp/tsd-bench-sim-XXXXXX";
  if (!::mkdtemp(root)) return 1;
  ::setenv("TESSAROD_ROOT", root, 1);
  ::setenv("TESSAROD_BOARD", "sim", 1);
  RootPath::reload();
  Board::reload();
  if (halFd() < 0) {
    std::fprintf(stderr, "no simulated /dev/hal\n");
    return 1;
  }
  std::clog.setstate(std::ios::badbit);  // the multiplexer's start-up lines
  benchmark::Initialize(&argc, argv);
  Recorder rec;
  benchmark::RunSpecifiedBenchmarks(&rec);
  const double base = rec.perItemNs["BM_FunctionCall"];
  if (base > 0) {
    std::printf("board request / function call: %.1f (%.1f ns / %.1f ns)\n", rec.perItemNs["BM_BoardRequest"] / base,
                rec.perItemNs["BM_BoardRequest"], base);
    std::printf("refresh request / function call: %.1f (%.1f ns / %.1f ns)\n", rec.perItemNs["BM_Refresh128"] / base,
                rec.perItemNs["BM_Refresh128"], base);
  }
  std::error_code ec;
  std::filesystem::remove_all(root, ec);
  return 0;
}
