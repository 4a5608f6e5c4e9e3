#pragma once
// Driving a real daemon from a figure-printing bench program: the daemon
// built beside the program (or $TESSAROD_BIN) on the simulated board under
// a temporary root folder, its RSS and descriptors, and a controller that
// sends TPKT-framed LGCP commands pipelined and counts the answers.
#include <dirent.h>
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

#include <arpa/inet.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "control/lgcp_codec.h"
#include "messages/LGCP.h"

namespace benchd {

using Bytes = std::vector<char>;

inline std::string DaemonPath() {
  if (const char* env = std::getenv("TESSAROD_BIN")) return env;
  char exe[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return "tessarod";
  exe[n] = 0;
  std::string dir(exe);
  return dir.substr(0, dir.rfind('/')) + "/../tessarod";
}

inline unsigned short FreePort() {
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

inline int Connect(unsigned short port) {
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

// Writes all n bytes; false when the peer has gone.
inline bool SendAll(int sock, const void* data, std::size_t n) {
  const char* b = static_cast<const char*>(data);
  for (std::size_t done = 0; done < n;) {
    ssize_t r = ::send(sock, b + done, n - done, MSG_NOSIGNAL);
    if (r <= 0) return false;
    done += static_cast<std::size_t>(r);
  }
  return true;
}

// VmRSS in kB and the number of open descriptors of a process.
inline long RssKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
  return -1;
}

inline int Descriptors(pid_t pid) {
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

  // A temporary root folder with the folders the daemon writes to.
  bool MakeRoot() {
    char tmpl[] = "/tmp/tsd-bench-XXXXXX";
    if (!::mkdtemp(tmpl)) return false;
    root = tmpl;
    for (const char* d : {"/usr", "/usr/local", "/usr/local/etc", "/var", "/var/run", "/var/log", "/var/monitoring",
                          "/dev", "/dev/misc", "/run"})
      ::mkdir((root + d).c_str(), 0755);
    return true;
  }
  // Starts the daemon on the simulated board under the root, on a free
  // port, its output discarded; env holds further variables for it.
  bool Launch(const std::string& bin, const std::vector<std::pair<std::string, std::string>>& env = {}) {
    port = FreePort();
    pid = ::fork();
    if (pid == 0) {
      int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::setenv("TESSAROD_ROOT", root.c_str(), 1);
      ::setenv("TESSAROD_BOARD", "sim", 1);
      for (const auto& v : env) ::setenv(v.first.c_str(), v.second.c_str(), 1);
      const std::string p = std::to_string(port);
      ::execl(bin.c_str(), bin.c_str(), "--port", p.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return pid > 0;
  }
  bool Start(const std::string& bin = DaemonPath()) { return MakeRoot() && Launch(bin); }
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
// answers (responses) and the failed ones among them; signals the daemon
// sends on its own are skipped.
struct Controller {
  int sock = -1;
  Bytes in;
  long answers = 0;
  long failures = 0;
  int seq = 0;

  // Connects within about 10 s of the daemon's start.
  bool Reach(unsigned short port) {
    for (int i = 0; i < 200 && sock < 0; ++i) {
      sock = Connect(port);
      if (sock < 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (sock < 0) std::fprintf(stderr, "cannot reach the daemon on port %u\n", port);
    return sock >= 0;
  }
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
  bool Send(const Bytes& out) { return SendAll(sock, out.data(), out.size()); }
  // Reads until `total` answers have arrived in all; false on EOF or after
  // waitMs without progress.
  bool Until(long total, int waitMs = 10000) {
    while (answers < total) {
      pollfd pf{sock, POLLIN, 0};
      if (::poll(&pf, 1, waitMs) != 1) return false;
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

}  // namespace benchd
