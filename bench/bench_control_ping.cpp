// bench-links: runtime
// Pipelined ping round trips through the daemon's controller link, side by
// side with a plain TCP echo of the same TPKT frames on the same loopback.
// The daemon is the one built beside this program (or $TESSAROD_BIN); it
// runs on the simulated board under a temporary root folder.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
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

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

const unsigned char kPingFrame[] = {0x03, 0x00, 0x00, 0x08, 0x80, 0x01, 0x01, 0x18};
const int kDepth = 64;  // pings in flight per round

int Listen(unsigned short* port) {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 4) != 0) return -1;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  *port = ntohs(a.sin_port);
  return s;
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

// Reads TPKT frames until `answers` ping answers (seq 1, no slot: payload
// 80 01 01 ..) arrived, skipping the signals the board services send on
// their own; false on EOF.
bool ReadAnswers(int s, int answers, std::vector<unsigned char>& buf) {
  int got = 0;
  while (got < answers) {
    size_t used = 0;
    while (buf.size() - used >= 4) {
      unsigned int len = (unsigned(buf[used + 2]) << 8) | buf[used + 3];
      if (len < 4 || buf.size() - used < len) break;
      const unsigned char* p = &buf[used + 4];
      bool answer = len == 8 && p[0] == 0x80 && p[1] == 0x01 && p[2] == 0x01;
      if (answer) ++got;
      used += len;
    }
    buf.erase(buf.begin(), buf.begin() + used);
    if (got >= answers) break;
    unsigned char tmp[65536];
    ssize_t n = ::recv(s, tmp, sizeof tmp, 0);
    if (n <= 0) return false;
    buf.insert(buf.end(), tmp, tmp + n);
  }
  return true;
}

bool SendAll(int s, const std::vector<unsigned char>& b) {
  size_t done = 0;
  while (done < b.size()) {
    ssize_t n = ::send(s, b.data() + done, b.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

std::string DaemonPath() {
  if (const char* env = std::getenv("TESSAROD_BIN")) return env;
  char exe[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return "tessarod";
  exe[n] = 0;
  std::string dir(exe);
  dir = dir.substr(0, dir.rfind('/'));
  return dir + "/../tessarod";
}

struct DaemonProcess {
  pid_t pid = -1;
  unsigned short port = 0;
  std::string root;

  bool Start() {
    char tmpl[] = "/tmp/tsd-bench-XXXXXX";
    if (!::mkdtemp(tmpl)) return false;
    root = tmpl;
    for (const char* d : {"/usr", "/usr/local", "/usr/local/etc", "/var", "/var/run", "/var/log", "/var/monitoring",
                          "/dev", "/dev/misc"})
      ::mkdir((root + d).c_str(), 0755);
    int probe = Listen(&port);
    ::close(probe);
    std::string bin = DaemonPath();
    pid = ::fork();
    if (pid == 0) {
      int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::setenv("TESSAROD_ROOT", root.c_str(), 1);
      ::setenv("TESSAROD_BOARD", "sim", 1);
      std::string p = std::to_string(port);
      ::execl(bin.c_str(), bin.c_str(), "--port", p.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 200; ++i) {
      int s = Connect(port);
      if (s >= 0) {
        std::vector<unsigned char> f(kPingFrame, kPingFrame + 8), buf;
        pollfd pf{s, POLLIN, 0};
        bool ok = SendAll(s, f) && ::poll(&pf, 1, 2000) == 1 && ReadAnswers(s, 1, buf);
        ::close(s);
        if (ok) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  void Stop() {
    if (pid > 0) {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
      pid = -1;
    }
    if (!root.empty()) {
      std::string cmd = "rm -rf '" + root + "'";
      if (std::system(cmd.c_str()) != 0) {
      }
    }
  }
};

// A plain echo of whatever arrives, one client at a time.
struct EchoServer {
  int listener = -1;
  unsigned short port = 0;
  std::thread thread;

  void Start() {
    listener = Listen(&port);
    thread = std::thread([this] {
      for (;;) {
        int c = ::accept(listener, nullptr, nullptr);
        if (c < 0) return;
        int on = 1;
        ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        unsigned char buf[65536];
        for (;;) {
          ssize_t n = ::recv(c, buf, sizeof buf, 0);
          if (n <= 0) break;
          if (::send(c, buf, size_t(n), MSG_NOSIGNAL) != n) break;
        }
        ::close(c);
      }
    });
  }
  void Stop() {
    ::shutdown(listener, SHUT_RDWR);
    ::close(listener);
    thread.join();
  }
};

DaemonProcess daemon_process;
EchoServer echo_server;
double daemon_rate = 0;
double echo_rate = 0;

// A connection whose first ping was answered; a previous controller may
// still be winding down in the daemon, so a refusal is retried.
int Attach(unsigned short port) {
  std::vector<unsigned char> f(kPingFrame, kPingFrame + 8), buf;
  for (int i = 0; i < 100; ++i) {
    int s = Connect(port);
    if (s >= 0) {
      pollfd pf{s, POLLIN, 0};
      buf.clear();
      if (SendAll(s, f) && ::poll(&pf, 1, 2000) == 1 && ReadAnswers(s, 1, buf)) return s;
      ::close(s);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

void RunPings(benchmark::State& state, unsigned short port, double* rate) {
  int s = Attach(port);
  if (s < 0) {
    state.SkipWithError("cannot connect");
    return;
  }
  std::vector<unsigned char> burst;
  for (int i = 0; i < kDepth; ++i) burst.insert(burst.end(), kPingFrame, kPingFrame + 8);
  std::vector<unsigned char> buf;
  auto start = std::chrono::steady_clock::now();
  int64_t total = 0;
  for (auto _ : state) {
    if (!SendAll(s, burst) || !ReadAnswers(s, kDepth, buf)) {
      state.SkipWithError("connection lost");
      break;
    }
    total += kDepth;
  }
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (secs > 0) *rate = double(total) / secs;
  state.SetItemsProcessed(total);
  ::close(s);
}

void BM_DaemonPing(benchmark::State& state) { RunPings(state, daemon_process.port, &daemon_rate); }
void BM_TcpEcho(benchmark::State& state) { RunPings(state, echo_server.port, &echo_rate); }

BENCHMARK(BM_DaemonPing)->UseRealTime();
BENCHMARK(BM_TcpEcho)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  benchmark::Initialize(&argc, argv);
  if (!daemon_process.Start()) {
    std::fprintf(stderr, "cannot start the daemon (%s)\n", DaemonPath().c_str());
    daemon_process.Stop();
    return 1;
  }
  echo_server.Start();
  benchmark::RunSpecifiedBenchmarks();
  echo_server.Stop();
  daemon_process.Stop();
  if (daemon_rate > 0 && echo_rate > 0)
    std::printf("pings through the daemon: %.0f/s, plain TCP echo: %.0f/s, ratio daemon/echo = %.3f\n", daemon_rate,
                echo_rate, daemon_rate / echo_rate);
  return 0;
}
