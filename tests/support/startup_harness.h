#pragma once
// Helpers for tests that start the real daemon or watch what it sends to
// syslog: a private root folder, a free TCP port, a child process with its
// output captured, and a capture of /dev/log inside a private mount
// namespace. Header-only and free of project libraries on purpose.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback.h"

namespace startup_test {

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream os;
  os << in.rdbuf();
  return os.str();
}

inline void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

inline void removeTree(const std::string& path) {
  ::nftw(path.c_str(), [](const char* p, const struct stat*, int, FTW*) { return ::remove(p); }, 16,
         FTW_DEPTH | FTW_PHYS);
}

// Polls `cond` every 10 ms until it holds or `ms` pass.
inline bool waitFor(const std::function<bool()>& cond, int ms = 10000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// A board file system of the test's own, laid out as the daemon expects it.
class TempRoot {
 public:
  TempRoot() {
    char tmpl[] = "/tmp/tsd-root-XXXXXX";
    if (::mkdtemp(tmpl)) path_ = tmpl;
    for (const char* d : {"/usr", "/usr/local", "/usr/local/etc", "/var", "/var/run", "/var/log",
                          "/var/monitoring", "/dev", "/dev/misc", "/usr/local/voice"})
      ::mkdir((path_ + d).c_str(), 0755);
    writeFile(path_ + "/dev/misc/gw-wd", "");
  }
  ~TempRoot() {
    if (!path_.empty() && !std::getenv("TSD_KEEP_ROOT")) removeTree(path_);
  }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& abs) const { return path_ + abs; }
  void config(const std::string& text) const { writeFile(path_ + "/usr/local/etc/server.conf", text); }
  // True once the daemon's loop runs: it has written "START" to the watchdog
  // file. Signals sent before that may be lost, as the loop clears its stop
  // flag when it starts.
  bool loopRunning(int ms = 10000) const {
    return waitFor([&] { return readFile(path_ + "/dev/misc/gw-wd").rfind("START", 0) == 0; }, ms);
  }

 private:
  std::string path_;
};

// A TCP port nobody listens on right now.
inline int freePort() { return looptest::closedPort(); }

// A TCP connection to the loopback port; -1 when refused.
inline int connectTo(int port) {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(s);
    return -1;
  }
  return s;
}

// True when something accepts TCP connections on the loopback port.
inline bool listening(int port) {
  int s = connectTo(port);
  if (s < 0) return false;
  ::close(s);
  return true;
}

// Reads exactly n bytes, or fewer when the peer closes or `ms` pass.
inline std::string receive(int fd, std::size_t n, int ms = 5000) {
  std::string out;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (out.size() < n) {
    int left = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
    pollfd p{fd, POLLIN, 0};
    if (left <= 0 || ::poll(&p, 1, left) <= 0) break;
    char buf[4096];
    ssize_t got = ::recv(fd, buf, std::min(sizeof buf, n - out.size()), 0);
    if (got <= 0) break;
    out.append(buf, static_cast<std::size_t>(got));
  }
  return out;
}

// The daemon binary run as a child, its standard output and error going to
// files of the root folder.
class Daemon {
 public:
  // asanOptions: the sanitizers' leak report would mask the daemon's exit
  // code, so leak checks are off by default.
  Daemon(const TempRoot& root, std::vector<std::string> args, bool simBoard = true,
         const std::string& asanOptions = "detect_leaks=0")
      : out_(root / "/stdout.txt"), err_(root / "/stderr.txt") {
    pid_ = ::fork();
    if (pid_ == 0) {
      int o = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int e = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(o, 1);
      ::dup2(e, 2);
      ::setenv("TESSAROD_ROOT", root.path().c_str(), 1);
      if (simBoard) ::setenv("TESSAROD_BOARD", "sim", 1);
      ::setenv("ASAN_OPTIONS", asanOptions.c_str(), 1);
      std::vector<char*> argv;
      static std::string bin = TESSAROD_BIN;
      argv.push_back(&bin[0]);
      for (auto& a : args) argv.push_back(&a[0]);
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
  }
  ~Daemon() {
    if (running()) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  pid_t pid() const { return pid_; }
  std::string out() const { return readFile(out_); }
  std::string err() const { return readFile(err_); }

  bool running() {
    if (done_) return false;
    int st;
    if (::waitpid(pid_, &st, WNOHANG) == pid_) {
      done_ = true;
      status_ = st;
    }
    return !done_;
  }
  // Waits for the exit; the exit code, or -1 on time-out or a signal death.
  int wait(int ms = 10000) {
    if (!waitFor([&] { return !running(); }, ms)) return -1;
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  }
  // Asks a running daemon to stop (SIGTERM) and waits; its exit code as
  // wait() gives it, or 0 when it had stopped already.
  int stop(int ms = 10000) {
    if (!running()) return 0;
    signal(SIGTERM);
    return wait(ms);
  }
  int status() const { return status_; }
  bool outContains(const std::string& s, int ms = 10000) {
    return waitFor([&] { return out().find(s) != std::string::npos; }, ms);
  }
  void signal(int sig) { ::kill(pid_, sig); }

 private:
  std::string out_, err_;
  pid_t pid_ = -1;
  bool done_ = false;
  int status_ = 0;
};

// How often needle occurs in text.
inline std::size_t countOf(const std::string& text, const std::string& needle) {
  std::size_t n = 0;
  for (std::size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) ++n;
  return n;
}

// The simulated board's control socket of a root folder.
inline std::string simSocketPath(const TempRoot& root) { return root / "/run/tessarod-sim.sock"; }

// A connection to the simulated board's control socket, retried for up to
// ms while the daemon starts; -1 when none came.
inline int simConnect(const TempRoot& root, int ms = 0) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, simSocketPath(root).c_str(), sizeof a.sun_path - 1);
  int s = -1;
  waitFor(
      [&] {
        s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return true;
        ::close(s);
        s = -1;
        return false;
      },
      ms);
  return s;
}

// Sends one command line to the simulated board and reads its reply up to
// the closing "ok" or "error: ..." line; what came when the peer closes or
// nothing comes for ms.
inline std::string simAsk(int s, const std::string& cmd, int ms = 5000) {
  std::string line = cmd + "\n";
  if (::send(s, line.data(), line.size(), MSG_NOSIGNAL) != ssize_t(line.size())) return "";
  std::string got;
  auto done = [&] {
    if (got.empty() || got.back() != '\n') return false;
    std::size_t start = got.rfind('\n', got.size() - 2);
    std::string last = got.substr(start == std::string::npos ? 0 : start + 1);
    return last == "ok\n" || last.rfind("error: ", 0) == 0;
  };
  char buf[4096];
  while (!done()) {
    pollfd p{s, POLLIN, 0};
    if (::poll(&p, 1, ms) != 1) break;
    ssize_t n = ::recv(s, buf, sizeof buf, 0);
    if (n <= 0) break;
    got.append(buf, std::size_t(n));
  }
  return got;
}

// One command on a connection of its own ("clock 120000"); its reply.
inline std::string simCommand(const TempRoot& root, const std::string& cmd) {
  int s = simConnect(root);
  if (s < 0) return "";
  std::string reply = simAsk(s, cmd);
  ::close(s);
  return reply;
}

// One message as syslog receives it.
struct SyslogMessage {
  int priority = -1;
  std::string ident;
  std::string text;
};

// Captures what the process and its children send to syslog: the test
// process moves into a private mount namespace where /dev is a fresh tmpfs
// holding the host's devices and a datagram socket of ours as /dev/log.
class SyslogCapture {
 public:
  // Sets up once per process; false with a reason when the system refuses.
  static SyslogCapture* get(std::string* why) {
    static SyslogCapture* instance = nullptr;
    static std::string failure;
    if (!instance && failure.empty()) {
      auto* c = new SyslogCapture;
      failure = c->setup();
      if (failure.empty())
        instance = c;
      else
        delete c;
    }
    if (why) *why = failure;
    return instance;
  }

  // Drops what arrived so far.
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.clear();
  }

  // The next message, or none after `ms`.
  bool next(SyslogMessage& m, int ms = 5000) {
    std::string raw;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (!arrived_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !queue_.empty(); }))
        return false;
      raw = std::move(queue_.front());
      queue_.pop_front();
    }
    m = SyslogMessage();
    // "<pri>Mmm dd hh:mm:ss ident: text"
    std::size_t gt = raw.find('>');
    if (raw.empty() || raw[0] != '<' || gt == std::string::npos) return false;
    m.priority = std::atoi(raw.c_str() + 1);
    std::size_t p0 = gt + 1 + 16;
    std::size_t colon = raw.find(": ", p0);
    if (p0 > raw.size() || colon == std::string::npos) return false;
    m.ident = raw.substr(p0, colon - p0);
    m.text = raw.substr(colon + 2);
    return true;
  }

  // Collects messages until `stop` says enough or nothing comes for `ms`.
  std::vector<SyslogMessage> collect(const std::function<bool(const SyslogMessage&)>& stop, int ms = 10000) {
    std::vector<SyslogMessage> all;
    SyslogMessage m;
    while (next(m, ms)) {
      all.push_back(m);
      if (stop(m)) break;
    }
    return all;
  }

 private:
  SyslogCapture() = default;

  std::string setup() {
    if (::unshare(CLONE_NEWNS) != 0) {
      uid_t uid = ::getuid();
      gid_t gid = ::getgid();
      if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
        return std::string("no private mount namespace: ") + std::strerror(errno);
      writeFile("/proc/self/setgroups", "deny");
      writeFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
      writeFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
      return std::string("cannot make / private: ") + std::strerror(errno);
    char tmpl[] = "/tmp/tsd-olddev-XXXXXX";
    if (!::mkdtemp(tmpl)) return "mkdtemp failed";
    std::string old = tmpl;
    if (::mount("/dev", old.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
      return std::string("cannot bind /dev: ") + std::strerror(errno);
    if (::mount("tmpfs", "/dev", "tmpfs", 0, "mode=755") != 0)
      return std::string("cannot mount tmpfs on /dev: ") + std::strerror(errno);
    // Bring back every device but the log socket.
    if (DIR* d = ::opendir(old.c_str())) {
      while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n == "." || n == ".." || n == "log") continue;
        std::string from = old + "/" + n, to = "/dev/" + n;
        struct stat st;
        if (::lstat(from.c_str(), &st) != 0) continue;
        if (S_ISLNK(st.st_mode)) {
          char target[512];
          ssize_t len = ::readlink(from.c_str(), target, sizeof target - 1);
          if (len > 0) {
            target[len] = '\0';
            if (::symlink(target, to.c_str()) != 0) continue;
          }
          continue;
        }
        if (S_ISDIR(st.st_mode))
          ::mkdir(to.c_str(), 0755);
        else
          writeFile(to, "");
        ::mount(from.c_str(), to.c_str(), nullptr, MS_BIND | MS_REC, nullptr);
      }
      ::closedir(d);
    }
    ::umount2(old.c_str(), MNT_DETACH);
    ::rmdir(old.c_str());

    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strcpy(a.sun_path, "/dev/log");
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
      return std::string("cannot bind /dev/log: ") + std::strerror(errno);
    int big = 1 << 20;
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    // Drain the socket all the time: a daemon whose log socket fills up
    // blocks in syslog(), and the test would see a hung daemon. The thread
    // starts only now, since unshare() refuses a process with threads.
    std::thread([this] {
      char buf[4096];
      for (;;) {
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.emplace_back(buf, static_cast<std::size_t>(n));
        arrived_.notify_all();
      }
    }).detach();
    return "";
  }

  int fd_ = -1;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<std::string> queue_;
};

}  // namespace startup_test
