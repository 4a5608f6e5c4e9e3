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
#include <arpa/inet.h>
#include <fcntl.h>
#include <limits.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "control/lgcp_codec.h"
#include "messages/LGCP.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<char>;

std::string DaemonPath() {
  if (const char* env = std::getenv("TESSAROD_BIN")) return env;
  char exe[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return "tessarod";
  exe[n] = 0;
  std::string dir(exe);
  return dir.substr(0, dir.rfind('/')) + "/../tessarod";
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

// VmRSS in kB and the number of open descriptors of a process.
long RssKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
  return -1;
}

int Descriptors(pid_t pid) {
  DIR* d = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (!d) return -1;
  int n = 0;
  while (dirent* e = ::readdir(d))
    if (e->d_name[0] != '.') ++n;
  ::closedir(d);
  return n;
}

struct Daemon {
  pid_t pid = -1;
  unsigned short port = 0;
  std::string root;

  bool Start() {
    char tmpl[] = "/tmp/tsd-memory-XXXXXX";
    if (!::mkdtemp(tmpl)) return false;
    root = tmpl;
    for (const char* d : {"/usr", "/usr/local", "/usr/local/etc", "/var", "/var/run", "/var/log", "/var/monitoring",
                          "/dev", "/dev/misc"})
      ::mkdir((root + d).c_str(), 0755);
    port = FreePort();
    const std::string bin = DaemonPath();
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

// A controller: sends encoded commands in TPKT frames and counts the
// answers (responses); signals the daemon sends on its own are skipped.
struct Controller {
  int sock = -1;
  std::vector<char> in;
  long answers = 0;
  long failures = 0;
  int seq = 0;

  void Frame(const LGCP::Message& m, Bytes& out) {
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
  bool Send(const Bytes& out) {
    std::size_t done = 0;
    while (done < out.size()) {
      ssize_t n = ::send(sock, out.data() + done, out.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }
  // Reads until `total` answers have arrived in all; false on EOF or after
  // 10 s without progress.
  bool Until(long total) {
    while (answers < total) {
      pollfd pf{sock, POLLIN, 0};
      if (::poll(&pf, 1, 10000) != 1) return false;
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
          if (!m.get_pdu().get_response().success_isSelected()) ++failures;
        }
        used += len;
      }
      in.erase(in.begin(), in.begin() + static_cast<long>(used));
    }
    return true;
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
  for (int i = 0; i < 200 && c.sock < 0; ++i) {
    c.sock = Connect(d.port);
    if (c.sock < 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (c.sock < 0) {
    std::fprintf(stderr, "cannot reach the daemon on port %u\n", d.port);
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
