// bench-links: control messages asn1 runtime
// What `display controller` commands for one address under ever new ports
// cost the daemon: its resident set size (VmRSS) and the mean time per
// command, in ten steps over the run. A controller on the daemon's TCP port
// sends the commands pipelined in batches of 1,000 and waits for every
// answer; it counts successes and refusals.
//
//   bench_display_controllers [--count N] [--host TEXT] [--daemon PATH]
//   defaults: 60000 commands, host 127.0.0.1 (the board's own address when
//   the host has no private IPv4 address), ports 1, 2, 3, ...
//
// The daemon is the one built beside this program (or $TESSAROD_BIN, or
// --daemon), run on the simulated board under a temporary root folder. The
// program moves into a network namespace of its own when it may, so that
// the daemon finds no private address and takes 127.0.0.1 as its own.
// Not a Google Benchmark: it prints figures.
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "bench/daemon_driver.h"

namespace {

using Clock = std::chrono::steady_clock;
using benchd::Bytes;
using benchd::RssKb;

// A network namespace of our own with the loopback up; false when the
// system refuses (the run then uses the host's network).
bool OwnNetwork() {
  if (::unshare(CLONE_NEWNET) != 0) return false;
  int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq r{};
  std::strncpy(r.ifr_name, "lo", IFNAMSIZ - 1);
  bool up = ::ioctl(s, SIOCGIFFLAGS, &r) == 0 && (r.ifr_flags |= IFF_UP, ::ioctl(s, SIOCSIFFLAGS, &r) == 0);
  ::close(s);
  return up;
}

// `display controller` commands; the failed answers are the refusals.
struct Controller : benchd::Controller {
  void Display(const std::string& host, int port, Bytes& out) {
    LGCP::Message m;
    m.set_seq(++seq & 0xFFFF);
    LGCP::ControllerInfo& c = m.set_pdu().select_command().select_display().select_controller();
    c.set_host().set_iaddr(host);
    c.set_host().set_port(port);
    c.set_status(HSP::ControllerStatus::ok);
    Frame(m, out);
  }
};

}  // namespace

int main(int argc, char** argv) {
  long count = 60000;
  std::string host = "127.0.0.1", bin = benchd::DaemonPath();
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--count" && i + 1 < argc) count = std::atol(argv[++i]);
    else if (a == "--host" && i + 1 < argc) host = argv[++i];
    else if (a == "--daemon" && i + 1 < argc) bin = argv[++i];
    else {
      std::fprintf(stderr, "usage: %s [--count N] [--host TEXT] [--daemon PATH]\n", argv[0]);
      return 2;
    }
  }
  ::signal(SIGPIPE, SIG_IGN);
  const bool own = OwnNetwork();
  std::printf("daemon %s, %s network, host %s, ports 1..%ld\n", bin.c_str(), own ? "own" : "the host's", host.c_str(),
              count);
  benchd::Daemon d;
  if (!d.Start(bin)) return 1;
  Controller c;
  if (!c.Reach(d.port)) {
    d.Stop();
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  std::printf("%-22s RSS %6.2f MB\n", "connected", RssKb(d.pid) / 1024.0);

  const long kBatch = 1000, step = std::max(kBatch, count / 10);
  long sent = 0, stepStart = 0;
  Clock::duration stepTime{};
  while (sent < count) {
    Bytes out;
    const long n = std::min(kBatch, count - sent);
    for (long k = 0; k < n; ++k) c.Display(host, int((sent + k) % 65535) + 1, out);
    const Clock::time_point t0 = Clock::now();
    if (!c.Send(out) || !c.Until(sent + n, 30000)) {
      std::fprintf(stderr, "the daemon stopped answering after %ld commands\n", c.answers);
      d.Stop();
      return 1;
    }
    stepTime += Clock::now() - t0;
    sent += n;
    if (sent - stepStart >= step || sent == count) {
      std::printf("%6ld commands  RSS %6.2f MB  %.3f ms per command  %ld refused so far\n", sent,
                  RssKb(d.pid) / 1024.0,
                  std::chrono::duration<double, std::milli>(stepTime).count() / double(sent - stepStart), c.failures);
      std::fflush(stdout);
      stepStart = sent;
      stepTime = {};
    }
  }
  ::close(c.sock);
  d.Stop();
  return 0;
}
