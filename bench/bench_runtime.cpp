// bench-links: runtime
// Costs of the runtime's hot paths: arming, re-arming and firing timers, one
// loop pass with ready descriptors, and taking and sharing pool packets.
#include <benchmark/benchmark.h>

#include <poll.h>
#include <unistd.h>

#include <iostream>
#include <memory>
#include <vector>

#include "runtime/loop/dpc.h"
#include "runtime/loop/event.h"
#include "runtime/loop/multiplexer.h"
#include "runtime/loop/timer.h"
#include "runtime/packet/clean_queue.h"
#include "runtime/packet/packet.h"

namespace {

struct Client {
  Timer t;
  void On() {}
};

// n clients whose timers are armed for from, from + 1, ... ms.
std::vector<std::unique_ptr<Client>> Armed(int n, unsigned int from) {
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < n; ++i) {
    clients.emplace_back(new Client);
    clients.back()->t.set(from + static_cast<unsigned int>(i), &Client::On, clients.back().get());
  }
  return clients;
}

// Re-arming one timer among n queued ones (the usual protocol time-out).
void BM_TimerRearm(benchmark::State& state) {
  auto others = Armed(int(state.range(0)), 1000);
  Client c;
  for (auto _ : state) c.t.set(30000, &Client::On, &c);
}
BENCHMARK(BM_TimerRearm)->Arg(10)->Arg(1000);

// Arming a due timer and firing it from the timer phase (a periodic action
// that re-arms), among n later ones.
void BM_TimerArmFire(benchmark::State& state) {
  auto others = Armed(int(state.range(0)), 60000);
  Client c;
  for (auto _ : state) {
    c.t.set(0, &Client::On, &c);
    benchmark::DoNotOptimize(multiplexer.timers_schedule());
  }
}
BENCHMARK(BM_TimerArmFire)->Arg(10);

struct Reader {
  Event ev;
  int passes = 0;
  int limit = 0;
  void On(int, short) {}
};

struct Stopper {
  Dpc dpc;
  int left = 0;
  void Run() {
    if (--left <= 0) multiplexer.terminate();
  }
};

// Loop passes with n always-ready descriptors.
void BM_LoopPass(benchmark::State& state) {
  int n = static_cast<int>(state.range(0));
  std::vector<std::unique_ptr<Reader>> readers;
  std::vector<int> fds;
  for (int i = 0; i < n; ++i) {
    int p[2];
    if (::pipe(p) != 0) return;
    if (::write(p[1], "x", 1) != 1) return;
    readers.emplace_back(new Reader);
    readers.back()->ev.Bind("Reader::On", &Reader::On, readers.back().get());
    readers.back()->ev.Schedule(Fd(p[0]), POLLIN);
    fds.push_back(p[1]);
  }
  std::clog.setstate(std::ios::badbit);  // no "Mux: terminating..." per run
  Stopper s;
  s.dpc.Bind(&s, &Stopper::Run);
  s.dpc.Activate();
  for (auto _ : state) {
    s.left = 2 * 100;
    multiplexer.run(false, true);
  }
  state.SetItemsProcessed(state.iterations() * 100);
  for (int fd : fds) ::close(fd);
  std::clog.clear();
}
BENCHMARK(BM_LoopPass)->Arg(1)->Arg(64);

void BM_PacketBuildAndShare(benchmark::State& state) {
  CleanQueue<Packet, 7> q;
  for (auto _ : state) {
    Packet p;
    p.reserve_head(8);
    p.put(100);
    p.push16_b(0x1234);
    q.put(p);
    Packet out;
    q.get(out);
    benchmark::DoNotOptimize(out.length());
  }
}
BENCHMARK(BM_PacketBuildAndShare);

}  // namespace

BENCHMARK_MAIN();
