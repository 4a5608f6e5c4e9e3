// The real daemon on the simulated board: a test process reads its
// crosspoint table and request log through the control socket.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

namespace {

// The daemon brings its board up only once its full start-up exists.
constexpr bool kDaemonStartsBoard = true;

int freePort() {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

class Daemon {
 public:
  Daemon() {
    char tmpl[] = "/tmp/tsd-e2e-XXXXXX";
    root_ = ::mkdtemp(tmpl);
    for (const char* d : {"/usr", "/usr/local", "/usr/local/etc", "/var", "/var/run", "/var/log",
                          "/var/monitoring", "/dev", "/dev/misc", "/run"})
      ::mkdir((root_ + d).c_str(), 0755);
    std::ofstream(root_ + "/dev/misc/gw-wd").flush();
    std::string port = std::to_string(freePort());
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setenv("TESSAROD_ROOT", root_.c_str(), 1);
      ::setenv("TESSAROD_BOARD", "sim", 1);
      std::string log = root_ + "/daemon.log";
      FILE* f = std::freopen(log.c_str(), "w", stdout);
      (void)f;
      ::dup2(1, 2);
      ::execl(TESSAROD_BIN, TESSAROD_BIN, "--port", port.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~Daemon() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int st;
      for (int i = 0; i < 100 && ::waitpid(pid_, &st, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (::waitpid(pid_, &st, WNOHANG) == 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &st, 0);
      }
    }
    std::string cmd = "rm -rf '" + root_ + "'";
    if (std::system(cmd.c_str()) != 0) {
    }
  }
  std::string socketPath() const { return root_ + "/run/tessarod-sim.sock"; }
  std::string log() const {
    std::ifstream f(root_ + "/daemon.log");
    return std::string(std::istreambuf_iterator<char>(f), {});
  }

  // Connects to the control socket, waiting up to 10 s for it.
  int connectControl() {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strcpy(a.sun_path, socketPath().c_str());
    for (int i = 0; i < 500; ++i) {
      int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
      if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return s;
      ::close(s);
      int st;
      if (::waitpid(pid_, &st, WNOHANG) == pid_) {
        pid_ = -1;
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }

 private:
  std::string root_;
  pid_t pid_ = -1;
};

// Sends one command and reads its reply up to the closing "ok"/"error:" line.
std::string ask(int s, const std::string& cmd) {
  std::string line = cmd + "\n";
  if (::send(s, line.data(), line.size(), MSG_NOSIGNAL) != ssize_t(line.size())) return "";
  std::string got;
  char buf[4096];
  auto done = [&] {
    if (got.empty() || got.back() != '\n') return false;
    std::size_t start = got.rfind('\n', got.size() - 2);
    std::string last = got.substr(start == std::string::npos ? 0 : start + 1);
    return last == "ok\n" || last.rfind("error: ", 0) == 0;
  };
  while (!done()) {
    pollfd p{s, POLLIN, 0};
    if (::poll(&p, 1, 5000) != 1) break;
    ssize_t n = ::recv(s, buf, sizeof buf, 0);
    if (n <= 0) break;
    got.append(buf, size_t(n));
  }
  return got;
}

TEST(BoardEndToEnd, ControlSocketShowsTheRunningDaemonsBoard) {
  if (!kDaemonStartsBoard) GTEST_SKIP() << "the daemon's start-up does not open the board yet";
  Daemon d;
  int s = d.connectControl();
  ASSERT_GE(s, 0) << d.log();

  // The multiplexer has disabled every backplane output at start.
  std::string log = ask(s, "log");
  EXPECT_NE(log.find("/dev/hal 0x80044d03 8192 -> 0\n"), std::string::npos) << log.substr(0, 300);
  EXPECT_NE(log.find("/dev/hal 0x80044d03 10239 -> 0\n"), std::string::npos);

  // Nothing is connected before a controller asks.
  EXPECT_EQ(ask(s, "xpoints"), "ok\n");
  // A second client at the same time is served as well.
  int s2 = d.connectControl();
  ASSERT_GE(s2, 0);
  EXPECT_EQ(ask(s2, "xpoints"), "ok\n");
  EXPECT_EQ(ask(s, "bogus").rfind("error: unknown command", 0), 0u);
  ::close(s2);
  ::close(s);
  EXPECT_NE(d.log().find("hwMux: device opened"), std::string::npos) << d.log();
}

}  // namespace
