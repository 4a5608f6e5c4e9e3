#pragma once
// The daemon inside a fuzz target: a private network namespace and root
// folder, the simulated board, the slot factories and the control services
// bound as the daemon binds them, and a controller link over a socket pair
// whose far end the target reads. The loop is run one pass at a time with
// a zero poll timeout and the loop clock driven, so an input never waits
// in real time. Cleanup() between inputs drops the controller (every slot
// destroyed) and takes the board back to power-on.
#include <dirent.h>
#include <net/if.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "control/ctrl_server.h"
#include "control/heartbeat.h"
#include "control/lgcp_codec.h"
#include "control/service.h"
#include "hardware/board/board.h"
#include "hardware/bus_ctl.h"
#include "hardware/e1_ctl.h"
#include "hardware/hw_tests.h"
#include "hardware/hwmux.h"
#include "hardware/sim/sim.h"
#include "hardware/spi_ctrl.h"
#include "monitoring/monitoring_ctl.h"
#include "radio/slot_factories.h"
#include "runtime/config/inifile.h"
#include "runtime/loop/child_wait.h"
#include "runtime/loop/multiplexer.h"
#include "runtime/os/clock.h"
#include "runtime/os/paths.h"
#include "runtime/packet/packet.h"
#include "slots/echo_slot.h"
#include "slots/ext_slot.h"
#include "slots/hdlc_slot.h"
#include "slots/isdn_slot.h"
#include "slots/map_slot.h"
#include "slots/mcc_slot.h"
#include "slots/mixer_slot.h"
#include "slots/modem_factory.h"
#include "slots/pstn_slot.h"
#include "slots/rtp_factory.h"
#include "slots/slots.h"
#include "slots/t38_slot.h"
#include "slots/voice_slot.h"

namespace fuzzd {

// Log lines go nowhere (a stream without a buffer drops what it is
// given), unless TSD_FUZZ_LOG is set to look into a finding.
inline void Quiet() {
  if (std::getenv("TSD_FUZZ_LOG")) return;
  std::clog.rdbuf(nullptr);
  std::cerr.rdbuf(nullptr);
  std::cout.rdbuf(nullptr);
}

// A network namespace of the process's own with loopback up: whatever an
// input makes the daemon connect to or listen on stays inside it.
inline void PrivateNetwork() {
  static bool done = false;
  if (done) return;
  done = true;
  if (::unshare(CLONE_NEWNET) != 0) {
    std::fprintf(stderr, "fuzz: cannot enter a private network namespace: %s\n", std::strerror(errno));
    std::_Exit(2);
  }
  int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq r{};
  std::strncpy(r.ifr_name, "lo", IFNAMSIZ - 1);
  if (::ioctl(s, SIOCGIFFLAGS, &r) == 0) {
    r.ifr_flags |= IFF_UP;
    (void)::ioctl(s, SIOCSIFFLAGS, &r);
  }
  ::close(s);
}

// A root folder laid out as the daemon expects it, removed at exit; the
// board is the simulated one.
inline const std::string& Root() {
  static std::string root = [] {
    static char tmpl[] = "/tmp/tsd-fuzz-XXXXXX";
    std::string r = ::mkdtemp(tmpl) ? tmpl : "";
    if (r.empty()) std::_Exit(2);
    for (const char* d : {"/usr", "/usr/local", "/usr/local/etc", "/var", "/var/run", "/var/log",
                          "/var/monitoring", "/dev", "/dev/misc", "/usr/local/voice", "/run"})
      ::mkdir((r + d).c_str(), 0755);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(tmpl, ec);
    });
    ::setenv("TESSAROD_ROOT", r.c_str(), 1);
    ::setenv("TESSAROD_BOARD", "sim", 1);
    RootPath::reload();
    Board::reload();
    return r;
  }();
  return root;
}

inline Sim::Board& Sim() { return Sim::Board::instance(); }

// The controller's link: a connected socket pair; the target reads what
// the daemon sends from the far end.
class Link : public Control::Service {
 public:
  Link() { set_verbose(false); }
  ~Link() override { Close(); }
  // Connects again after the daemon dropped the link (heartbeat time-out).
  void Reconnect() {
    if (GetState() == State::Connecting) Connect();
  }
  // Every complete TPKT payload the daemon sent since the last call.
  std::vector<std::string> Take() {
    char buf[65536];
    for (;;) {
      ssize_t n = peer_ < 0 ? -1 : ::recv(peer_, buf, sizeof buf, MSG_DONTWAIT);
      if (n <= 0) break;
      in_.append(buf, std::size_t(n));
    }
    std::vector<std::string> out;
    std::size_t at = 0;
    while (in_.size() - at >= 4) {
      const unsigned len = uint8_t(in_[at + 2]) << 8 | uint8_t(in_[at + 3]);
      if (in_[at] != 3 || len < 4) std::abort();  // the daemon frames every block
      if (in_.size() - at < len) break;
      out.push_back(in_.substr(at + 4, len - 4));
      at += len;
    }
    in_.erase(0, at);
    return out;
  }

 protected:
  bool ImplActivate() override { return Connect(); }
  void ImplDeactivate() override {}
  void ImplOnDisconnect() override { Close(); }

 private:
  bool Connect() {
    Close();
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv) != 0) return false;
    int big = 1 << 20;
    ::setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    ::setsockopt(sv[1], SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    peer_ = sv[1];
    in_.clear();
    Connected(Fd(sv[0]), INet4::Addr(std::string("127.0.0.1:20001")));
    return true;
  }
  void Close() {
    if (peer_ >= 0) ::close(peer_);
    peer_ = -1;
  }
  int peer_ = -1;
  std::string in_;
};

// Stops the loop after one whole pass: asked on every pass, it keeps the
// poll timeout at zero and ends the run at the start of the second.
class OnePass : public TimerPoolPlugin {
 public:
  int wait() override {
    if (++passes_ > 1) multiplexer.terminate();
    return 0;
  }

 private:
  int passes_ = 0;
};

// Moves the loop clock on by ms and runs one pass of the loop.
inline void Pass(unsigned ms = 0) {
  if (ms) Mux::advanceClock(ms);
  OnePass p;
  p.timerHook();
  multiplexer.run(false, true);
  p.timerUnhook();
}

// The daemon's start-up as main does it, with the controller connected.
inline Link& Daemon(const std::string& config = "") {
  static Link* link = [&] {
    Quiet();
    PrivateNetwork();
    const std::string& root = Root();
    std::ofstream(root + "/usr/local/etc/server.conf") << config;
    Sim();
    Slots::releaseWaitMs = 0;  // no real pause when the controller goes
    CreateSlotFactories();
    HwMux::instance();
    IniFile::File file;
    file.Open(root + "/usr/local/etc/server.conf");
    MonitoringCtl::instance().Configure(file);
    ctrlServer.Bind(&HeartBeatCtl::instance());
    ctrlServer.Bind(&Slots::instance());
    ctrlServer.Bind(&HwTests::instance());
    ctrlServer.Bind(&BusCtl::instance());
    ctrlServer.Bind(&E1Ctl::instance());
    ctrlServer.Bind(&spiCtrl::instance());
    ctrlServer.Bind(&MonitoringCtl::instance());
    ChildWait::Activate();
    auto* l = new Link;
    ctrlServer.Activate(l);
    for (int i = 0; i < 20; ++i) Pass();  // the start-up refresh of the outputs
    l->Take();
    return l;
  }();
  return *link;
}

// Open descriptors of the process.
inline int OpenDescriptors() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d)) ++n;
    ::closedir(d);
  }
  return n;
}

// Aborts when descriptors pile up: services keep the devices they once
// used open, anything beyond that is a leak.
inline void CheckDescriptors() {
  static const int limit = OpenDescriptors() + 64;
  if (OpenDescriptors() > limit) std::abort();
}

// Between inputs: the controller goes (every slot destroyed without
// answers, at once since releases are not waited for), the board takes
// back the closed descriptors and returns to power-on, and the controller
// comes back. Aborts when packets or descriptors stay behind.
inline void Cleanup(Link& link, unsigned packetsBefore) {
  ctrlServer.OnDisconnect();
  Sim().pump();
  Sim().reset();
  Sim().clearLog();
  link.Reconnect();
  link.Take();
  ctrlServer.OnConnect();
  if (PacketPool::free_count() != packetsBefore) std::abort();
  CheckDescriptors();
}

}  // namespace fuzzd
