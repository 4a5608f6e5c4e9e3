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
#include <arpa/inet.h>
#include <fcntl.h>
#include <limits.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "control/lgcp_codec.h"
#include "messages/LGCP.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<char>;

std::string BesideThisProgram() {
  if (const char* env = std::getenv("TESSAROD_BIN")) return env;
  char exe[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return "tessarod";
  exe[n] = 0;
  std::string dir(exe);
  return dir.substr(0, dir.rfind('/')) + "/../tessarod";
}

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

unsigned short FreePort() {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

int Connect(unsigned short port) {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(s);
    return -1;
  }
  int on = 1;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return s;
}

long RssKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
  return -1;
}

struct Daemon {
  pid_t pid = -1;
  unsigned short port = 0;
  std::string root;

  bool Start(const std::string& bin) {
    char tmpl[] = "/tmp/tsd-display-XXXXXX";
    if (!::mkdtemp(tmpl)) return false;
    root = tmpl;
    for (const char* d : {"/usr", "/usr/local", "/usr/local/etc", "/var", "/var/run", "/var/log", "/var/monitoring",
                          "/dev", "/dev/misc"})
      ::mkdir((root + d).c_str(), 0755);
    port = FreePort();
    pid = ::fork();
    if (pid == 0) {
      int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::setenv("TESSAROD_ROOT", root.c_str(), 1);
      ::setenv("TESSAROD_BOARD", "sim", 1);
      const std::string p = std::to_string(port);
      ::execl(bin.c_str(), bin.c_str(), "--port", p.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return pid > 0;
  }
  void Stop() {
    if (pid > 0) {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
      pid = -1;
    }
    if (!root.empty() && std::system(("rm -rf '" + root + "'").c_str()) != 0) {
    }
  }
};

// A controller: `display controller` commands in TPKT frames; counts the
// answers and the refusals among them.
struct Controller {
  int sock = -1;
  Bytes in;
  long answers = 0, refused = 0;
  int seq = 0;

  static void Frame(const LGCP::Message& m, Bytes& out) {
    Bytes body;
    if (!LgcpCodec::Encode(m, body)) {
      std::fprintf(stderr, "cannot encode a command\n");
      std::exit(1);
    }
    const std::size_t len = body.size() + 4;
    out.push_back(3);
    out.push_back(0);
    out.push_back(static_cast<char>(len >> 8));
    out.push_back(static_cast<char>(len & 0xFF));
    out.insert(out.end(), body.begin(), body.end());
  }
  void Display(const std::string& host, int port, Bytes& out) {
    LGCP::Message m;
    m.set_seq(++seq & 0xFFFF);
    LGCP::ControllerInfo& c = m.set_pdu().select_command().select_display().select_controller();
    c.set_host().set_iaddr(host);
    c.set_host().set_port(port);
    c.set_status(HSP::ControllerStatus::ok);
    Frame(m, out);
  }
  bool Send(const Bytes& out) {
    for (std::size_t done = 0; done < out.size();) {
      ssize_t n = ::send(sock, out.data() + done, out.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }
  // Reads until `total` answers have come; false on EOF or after 30 s
  // without one.
  bool Until(long total) {
    while (answers < total) {
      pollfd pf{sock, POLLIN, 0};
      if (::poll(&pf, 1, 30000) != 1) return false;
      char buf[65536];
      ssize_t n = ::recv(sock, buf, sizeof buf, 0);
      if (n <= 0) return false;
      in.insert(in.end(), buf, buf + n);
      std::size_t used = 0;
      while (in.size() - used >= 4) {
        const std::size_t len = (std::size_t(static_cast<unsigned char>(in[used + 2])) << 8) |
                                static_cast<unsigned char>(in[used + 3]);
        if (len < 4 || in.size() - used < len) break;
        LGCP::Message m;
        if (LgcpCodec::Decode(in.data() + used + 4, in.data() + used + len, m) && m.get_pdu().response_isSelected()) {
          ++answers;
          if (!m.get_pdu().get_response().success_isSelected()) ++refused;
        }
        used += len;
      }
      in.erase(in.begin(), in.begin() + static_cast<long>(used));
    }
    return true;
  }
};

}  // namespace

int main(int argc, char** argv) {
  long count = 60000;
  std::string host = "127.0.0.1", bin = BesideThisProgram();
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
  Daemon d;
  if (!d.Start(bin)) return 1;
  Controller c;
  for (int i = 0; i < 200 && c.sock < 0; ++i) {
    c.sock = Connect(d.port);
    if (c.sock < 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (c.sock < 0) {
    std::fprintf(stderr, "cannot reach the daemon on port %u\n", d.port);
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
    if (!c.Send(out) || !c.Until(sent + n)) {
      std::fprintf(stderr, "the daemon stopped answering after %ld commands\n", c.answers);
      d.Stop();
      return 1;
    }
    stepTime += Clock::now() - t0;
    sent += n;
    if (sent - stepStart >= step || sent == count) {
      std::printf("%6ld commands  RSS %6.2f MB  %.3f ms per command  %ld refused so far\n", sent,
                  RssKb(d.pid) / 1024.0,
                  std::chrono::duration<double, std::milli>(stepTime).count() / double(sent - stepStart), c.refused);
      std::fflush(stdout);
      stepStart = sent;
      stepTime = {};
    }
  }
  ::close(c.sock);
  d.Stop();
  return 0;
}
