// bench-links: control
// Pipelined TPKT pings through the daemon's controller link against a
// frame-by-frame TCP echo (one read and one write per frame) in the same
// run, at windows of 1, 8 and 64 pings in flight. Prints round trips/s of
// both and their ratio, and per daemon round trip: board requests (the
// simulated board's request log), system calls (strace -c when present,
// else /proc/<pid>/io read and write calls) and heap allocations (a malloc
// counter preloaded into the daemon, built here with the C compiler). The
// same pings are then served by the control server inside this process
// (heartbeat service only, no board) to count the control path's own
// allocations.
//
//   bench_control_ping [seconds per measure, default 2]
//
// The daemon is the one built beside this program (or $TESSAROD_BIN), a
// release build for meaningful figures; it runs on the simulated board
// under a temporary root folder.
#include <arpa/inet.h>
#include <fcntl.h>
#include <limits.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <atomic>
#include <vector>

#include "bench/daemon_driver.h"
#include "control/acceptor.h"
#include "control/ctrl_server.h"
#include "control/heartbeat.h"
#include "runtime/loop/multiplexer.h"

// This process's own allocations, for the in-process measure (not under
// the address sanitizer, which owns malloc).
static std::atomic<unsigned long> g_allocations{0};
#ifndef __SANITIZE_ADDRESS__
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void* malloc(size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(n);
}
extern "C" void* calloc(size_t a, size_t b) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(a, b);
}
extern "C" void* realloc(void* p, size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(p, n);
}
#endif

namespace {

const unsigned char kPing[] = {0x03, 0x00, 0x00, 0x08, 0x80, 0x01, 0x01, 0x18};
typedef std::chrono::steady_clock Clock;

// Counts every malloc, calloc, realloc and aligned allocation of the process
// it is preloaded into, in a shared file the benchmark reads.
const char* kCounterSource = R"(
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>
extern void* __libc_malloc(size_t);
extern void* __libc_calloc(size_t, size_t);
extern void* __libc_realloc(void*, size_t);
extern void* __libc_memalign(size_t, size_t);
static unsigned long local_count;
static volatile unsigned long* counter = &local_count;
__attribute__((constructor)) static void init(void) {
  const char* path = getenv("TSD_MALLOC_COUNT_FILE");
  int fd = path ? open(path, O_RDWR | O_CLOEXEC) : -1;
  if (fd < 0) return;
  void* p = mmap(0, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p != MAP_FAILED) counter = (volatile unsigned long*)p;
  close(fd);
}
#define COUNT __atomic_add_fetch(counter, 1, __ATOMIC_RELAXED)
void* malloc(size_t n) { COUNT; return __libc_malloc(n); }
void* calloc(size_t a, size_t b) { COUNT; return __libc_calloc(a, b); }
void* realloc(void* p, size_t n) { COUNT; return __libc_realloc(p, n); }
void* memalign(size_t a, size_t n) { COUNT; return __libc_memalign(a, n); }
void* aligned_alloc(size_t a, size_t n) { COUNT; return __libc_memalign(a, n); }
int posix_memalign(void** r, size_t a, size_t n) { COUNT; *r = __libc_memalign(a, n); return *r ? 0 : 12; }
)";

int Listen(unsigned short* port) {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 4) != 0) return -1;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  *port = ntohs(a.sin_port);
  return s;
}

// The client side: pings pipelined in a window, counting ping answers (seq
// 1, no slot) and skipping the signals the board services send.
class Pinger {
 public:
  explicit Pinger(int s) : s_(s) {}
  ~Pinger() { ::close(s_); }
  // Keeps `window` pings in flight until `count` answers or `secs` pass;
  // returns the answers.
  long Run(int window, long count, double secs) {
    std::vector<unsigned char> burst;
    for (int i = 0; i < window; ++i) burst.insert(burst.end(), kPing, kPing + 8);
    if (!Send(burst.data(), burst.size())) return 0;
    long answers = 0;
    auto end = Clock::now() + std::chrono::duration<double>(secs);
    while (answers < count && Clock::now() < end) {
      int n = Take();
      if (n < 0) return answers;
      answers += n;
      for (int i = 0; i < n; ++i)
        if (!Send(kPing, 8)) return answers;
    }
    // Drain the window.
    for (long left = window; left > 0;) {
      int n = Take();
      if (n < 0) break;
      left -= n;
    }
    return answers;
  }

 private:
  bool Send(const unsigned char* b, size_t n) { return benchd::SendAll(s_, b, n); }
  // Reads once; the ping answers it completed, -1 on EOF.
  int Take() {
    unsigned char tmp[65536];
    ssize_t n = ::recv(s_, tmp, sizeof tmp, 0);
    if (n <= 0) return -1;
    in_.insert(in_.end(), tmp, tmp + n);
    int got = 0;
    size_t used = 0;
    while (in_.size() - used >= 4) {
      unsigned int len = (unsigned(in_[used + 2]) << 8) | in_[used + 3];
      if (len < 4 || in_.size() - used < len) break;
      const unsigned char* p = &in_[used + 4];
      got += len == 8 && p[0] == 0x80 && p[1] == 0x01 && p[2] == 0x01;
      used += len;
    }
    in_.erase(in_.begin(), in_.begin() + long(used));
    return got;
  }
  int s_;
  std::vector<unsigned char> in_;
};

// A TCP echo that reads one frame and writes it back, frame by frame.
struct Echo {
  int listener = -1;
  unsigned short port = 0;
  std::thread thread;
  void Start() {
    listener = Listen(&port);
    thread = std::thread([this] {
      for (int c; (c = ::accept(listener, nullptr, nullptr)) >= 0; ::close(c)) {
        int on = 1;
        ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        unsigned char frame[8];
        for (;;) {
          size_t got = 0;
          while (got < sizeof frame) {
            ssize_t n = ::recv(c, frame + got, sizeof frame - got, 0);
            if (n <= 0) break;
            got += size_t(n);
          }
          if (got < sizeof frame || ::send(c, frame, sizeof frame, MSG_NOSIGNAL) != ssize_t(sizeof frame)) break;
        }
      }
    });
  }
  void Stop() {
    ::shutdown(listener, SHUT_RDWR);
    ::close(listener);
    thread.join();
  }
};

struct Daemon : benchd::Daemon {
  std::string counter_file;
  volatile unsigned long* mallocs = nullptr;

  bool Start() {
    if (!MakeRoot()) return false;
    std::ofstream(root + "/dev/misc/gw-wd");
    std::ofstream(root + "/counter.c") << kCounterSource;
    std::string so = root + "/counter.so";
    bool counted = std::system(("cc -O2 -shared -fPIC -o " + so + " " + root + "/counter.c 2>/dev/null").c_str()) == 0;
    counter_file = root + "/mallocs";
    int fd = ::open(counter_file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0 && ::ftruncate(fd, 4096) == 0) {
      void* p = ::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
      if (p != MAP_FAILED && counted) mallocs = static_cast<volatile unsigned long*>(p);
    }
    if (fd >= 0) ::close(fd);
    const std::string bin = benchd::DaemonPath();
    // The request log holds every request of the short count below.
    std::vector<std::pair<std::string, std::string>> env = {{"TESSAROD_SIM_LOG", "65536"}};
    if (counted) {
      env.emplace_back("LD_PRELOAD", so);
      env.emplace_back("TSD_MALLOC_COUNT_FILE", counter_file);
    }
    if (!Launch(bin, env)) return false;
    for (int i = 0; i < 400; ++i) {
      if (int s = Attach(); s >= 0) {
        ::close(s);
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::fprintf(stderr, "cannot reach the daemon %s\n", bin.c_str());
    return false;
  }
  // A controller connection whose first ping was answered (a previous
  // controller may still be winding down: a refusal is retried).
  int Attach() {
    for (int i = 0; i < 100; ++i) {
      int s = benchd::Connect(port);
      if (s >= 0) {
        Pinger probe(::dup(s));
        if (probe.Run(1, 1, 2.0) == 1) return s;
        ::close(s);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }
  // One line to the simulated board's control socket; its reply.
  std::string Sim(const std::string& line) {
    int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s/run/tessarod-sim.sock", root.c_str());
    std::string got;
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::send(s, (line + "\n").data(), line.size() + 1, MSG_NOSIGNAL) > 0) {
      char buf[65536];
      for (;;) {
        pollfd p{s, POLLIN, 0};
        if (::poll(&p, 1, 5000) != 1) break;
        ssize_t n = ::recv(s, buf, sizeof buf, 0);
        if (n <= 0) break;
        got.append(buf, size_t(n));
        if (got.size() >= 3 && (got.compare(got.size() - 3, 3, "ok\n") == 0 || got.find("error: ") != std::string::npos))
          break;
      }
    }
    ::close(s);
    return got;
  }
  unsigned long Calls() {
    std::ifstream in("/proc/" + std::to_string(pid) + "/io");
    std::string key;
    unsigned long v, total = 0;
    while (in >> key >> v)
      if (key == "syscr:" || key == "syscw:") total += v;
    return total;
  }
};

// System calls of the daemon while it answers `count` pings at window 1,
// from strace -c; -1 when strace cannot attach.
long StracedCalls(Daemon& d, long count) {
  std::string out = d.root + "/strace.txt";
  pid_t tracer = ::fork();
  if (tracer == 0) {
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    std::string p = std::to_string(d.pid);
    ::execlp("strace", "strace", "-c", "-f", "-o", out.c_str(), "-p", p.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // attached by then
  int s = d.Attach();
  long answers = s < 0 ? 0 : Pinger(s).Run(1, count, 30);
  ::kill(tracer, SIGINT);
  int status = 0;
  ::waitpid(tracer, &status, 0);
  std::ifstream in(out);
  std::string line, last;
  while (std::getline(in, line))
    if (line.find("total") != std::string::npos) last = line;
  long calls = -1;
  if (!last.empty()) {
    std::istringstream f(last);
    std::string w;
    std::vector<std::string> cols;
    while (f >> w) cols.push_back(w);
    // % time, seconds, usecs/call, calls, [errors], total
    if (cols.size() >= 4) calls = std::atol(cols[3].c_str());
  }
  return answers > 0 && calls >= 0 ? calls / answers : -1;
}

// Allocations per round trip of the control path alone: the control server
// with the heartbeat service in this process, pinged at `window` from a
// thread.
double InProcessAllocations(int window, double secs) {
  CtrlSrv::Server server;
  server.Bind(&HeartBeatCtl::instance());
  Control::AcceptorCheckConnection* link = new Control::AcceptorCheckConnection(0, false);
  server.Activate(link);
  unsigned short port = link->bound_port();
  std::atomic<long> answered{0};
  std::atomic<unsigned long> before{0}, after{0};
  std::thread client([&] {
    int s = benchd::Connect(port);
    Pinger(::dup(s)).Run(window, 20000, secs);  // warm-up
    before = g_allocations.load();
    answered = Pinger(::dup(s)).Run(window, 1L << 40, secs);
    after = g_allocations.load();
    multiplexer.terminate();
    ::close(s);
  });
  multiplexer.run(false, true);
  client.join();
  server.Deactivate();
  return answered > 0 ? double(after - before) / double(answered) : -1;
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  double secs = argc > 1 ? std::atof(argv[1]) : 2.0;
  Daemon daemon;
  Echo echo;
  if (!daemon.Start()) {
    daemon.Stop();
    return 1;
  }
  echo.Start();
  std::printf("%-7s %14s %14s %7s %12s %12s %12s\n", "window", "daemon rt/s", "echo rt/s", "ratio", "board req/rt",
              "syscalls/rt", "mallocs/rt");
  bool all = true;
  for (int window : {1, 8, 64}) {
    // Echo.
    int e = benchd::Connect(echo.port);
    Pinger(::dup(e)).Run(window, 2000, secs);  // warm-up
    auto t0 = Clock::now();
    long echoed = Pinger(e).Run(window, 1L << 40, secs);
    double echo_rate = echoed / std::chrono::duration<double>(Clock::now() - t0).count();
    // Daemon: a warm-up, then the measure with its allocations and calls.
    int s = daemon.Attach();
    if (s < 0) break;
    Pinger(::dup(s)).Run(window, 20000, secs);
    unsigned long m0 = daemon.mallocs ? *daemon.mallocs : 0, c0 = daemon.Calls();
    t0 = Clock::now();
    long answered = Pinger(::dup(s)).Run(window, 1L << 40, secs);
    double rate = answered / std::chrono::duration<double>(Clock::now() - t0).count();
    unsigned long m1 = daemon.mallocs ? *daemon.mallocs : 0, c1 = daemon.Calls();
    // Board requests over a short run that the request log holds whole.
    daemon.Sim("log-clear");
    long few = Pinger(::dup(s)).Run(window, 100, secs);
    std::string log = daemon.Sim("log");
    long requests = 0;
    for (size_t p = 0; (p = log.find('\n', p)) != std::string::npos; ++p) ++requests;
    requests = requests > 0 ? requests - 1 : 0;  // the closing "ok"
    ::close(s);
    double ratio = echo_rate > 0 ? rate / echo_rate : 0;
    all = all && ratio >= 0.5;
    char mallocs[32] = "n/a";
    if (daemon.mallocs && answered > 0) std::snprintf(mallocs, sizeof mallocs, "%.2f", double(m1 - m0) / answered);
    std::printf("%-7d %14.0f %14.0f %7.2f %12.1f %12.2f %12s\n", window, rate, echo_rate, ratio,
                few > 0 ? double(requests) / few : 0.0, answered > 0 ? double(c1 - c0) / answered : 0.0, mallocs);
    std::fflush(stdout);
  }
  long traced = StracedCalls(daemon, 2000);
  if (traced >= 0)
    std::printf("all system calls per round trip at window 1 (strace -c -f): %ld\n", traced);
  else
    std::printf("strace not available: system calls above are /proc/<pid>/io read and write calls only\n");
  std::printf("target ratio >= 0.5 at every window: %s\n", all ? "met" : "not met");
  std::printf("control path alone (this process, heartbeat service, no board), allocations per round trip:");
  for (int window : {1, 8, 64}) std::printf(" window %d: %.2f;", window, InProcessAllocations(window, secs));
  std::printf("\n");
  echo.Stop();
  daemon.Stop();
  return 0;
}
