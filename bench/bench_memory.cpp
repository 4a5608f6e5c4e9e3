// bench-links: control messages asn1 runtime
// Memory figures of the daemon on the simulated board: resident set size
// (VmRSS) and open descriptors of the daemon process
//   - idle, 1 s after start and after some minutes without a controller;
//   - with 1,024 external slots created by a controller;
//   - over a soak of pipelined commands at a fixed rate (destroy and create
//     of a slot, and pings), sampled every tenth of the soak.
// The daemon is the one built beside this program (or $TESSAROD_BIN), run
// under a temporary root folder. Not a Google Benchmark: it prints figures.
//
//   bench_memory [--idle-minutes N] [--soak-minutes N] [--rate N] [--quick]
//   --quick: 1 minute idle, 1 minute soak.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "bench/daemon_driver.h"

namespace {

using Clock = std::chrono::steady_clock;
using benchd::Bytes;
using benchd::Daemon;
using benchd::Descriptors;
using benchd::RssKb;

// The soak's commands: creates and destroys of ext slots, and pings.
struct Controller : benchd::Controller {
  void Create(unsigned slot, Bytes& out) {
    LGCP::Message m;
    m.set_seq(++seq);
    m.set_slot(slot);
    LGCP::ExtParams& p = m.set_pdu().select_command().select_create().select_ext();
    p.set_transmitter(slot);
    p.set_receiver(slot);
    Frame(m, out);
  }
  void Destroy(unsigned slot, Bytes& out) {
    LGCP::Message m;
    m.set_seq(++seq);
    m.set_slot(slot);
    m.set_pdu().select_command().select_destroy();
    Frame(m, out);
  }
  void Ping(Bytes& out) {
    LGCP::Message m;
    m.set_seq(++seq);
    m.set_pdu().select_command().select_ping();
    Frame(m, out);
  }
};

void Sample(const char* what, pid_t pid) {
  std::printf("%-34s RSS %6.2f MB  descriptors %d\n", what, RssKb(pid) / 1024.0, Descriptors(pid));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  double idleMinutes = 10, soakMinutes = 10;
  long rate = 10000;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--quick") {
      idleMinutes = 1;
      soakMinutes = 1;
    } else if (a == "--idle-minutes" && i + 1 < argc) {
      idleMinutes = std::atof(argv[++i]);
    } else if (a == "--soak-minutes" && i + 1 < argc) {
      soakMinutes = std::atof(argv[++i]);
    } else if (a == "--rate" && i + 1 < argc) {
      rate = std::atol(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: %s [--idle-minutes N] [--soak-minutes N] [--rate N] [--quick]\n", argv[0]);
      return 2;
    }
  }
  ::signal(SIGPIPE, SIG_IGN);
  Daemon d;
  if (!d.Start()) return 1;
  const Clock::time_point started = Clock::now();
  std::this_thread::sleep_until(started + std::chrono::seconds(1));
  Sample("idle, 1 s after start", d.pid);

  const Clock::time_point idleEnd = started + std::chrono::milliseconds(long(idleMinutes * 60000));
  for (int minute = 1; Clock::now() < idleEnd; ++minute) {
    std::this_thread::sleep_until(std::min(idleEnd, started + std::chrono::minutes(minute)));
    char what[64];
    std::snprintf(what, sizeof what, "idle, %.1f min", std::chrono::duration<double>(Clock::now() - started).count() / 60);
    Sample(what, d.pid);
  }

  Controller c;
  if (!c.Reach(d.port)) {
    d.Stop();
    return 1;
  }
  const unsigned kSlots = 1024;
  Bytes out;
  for (unsigned s = 0; s < kSlots; ++s) c.Create(s, out);
  if (!c.Send(out) || !c.Until(kSlots) || c.failures) {
    std::fprintf(stderr, "creating %u slots: %ld answers, %ld failures\n", kSlots, c.answers, c.failures);
    d.Stop();
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  Sample("1,024 ext slots created", d.pid);

  // Soak: every 10 ms a batch of rate/100 commands (destroy and create of
  // the next slot, then a ping), pipelined, each batch answered in full
  // before the next is due.
  const long perBatch = std::max(3L, rate / 100);
  const Clock::time_point soakStart = Clock::now();
  const Clock::time_point soakEnd = soakStart + std::chrono::milliseconds(long(soakMinutes * 60000));
  const auto step = (soakEnd - soakStart) / 10;
  Clock::time_point nextSample = soakStart + step;
  Clock::time_point nextBatch = soakStart;
  unsigned slot = 0;
  long sent = c.answers, late = 0;
  const long before = c.failures;
  while (Clock::now() < soakEnd) {
    out.clear();
    for (long k = 0; k + 3 <= perBatch; k += 3) {
      c.Destroy(slot, out);
      c.Create(slot, out);
      c.Ping(out);
      slot = (slot + 1) % kSlots;
      sent += 3;
    }
    if (!c.Send(out) || !c.Until(sent)) {
      std::fprintf(stderr, "the daemon stopped answering after %ld commands\n", c.answers);
      d.Stop();
      return 1;
    }
    nextBatch += std::chrono::milliseconds(10);
    if (Clock::now() > nextBatch) ++late;
    std::this_thread::sleep_until(nextBatch);
    if (Clock::now() >= nextSample) {
      char what[64];
      std::snprintf(what, sizeof what, "soak, %.1f min, %ld commands",
                    std::chrono::duration<double>(Clock::now() - soakStart).count() / 60, sent - kSlots);
      Sample(what, d.pid);
      nextSample += step;
    }
  }
  const double secs = std::chrono::duration<double>(Clock::now() - soakStart).count();
  std::printf("soak: %ld commands in %.0f s (%.0f/s), %ld failed answers, %ld late batches\n", sent - kSlots, secs,
              (sent - kSlots) / secs, c.failures - before, late);
  ::close(c.sock);
  d.Stop();
  return 0;
}
