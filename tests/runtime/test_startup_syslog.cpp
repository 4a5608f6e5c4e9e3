// "--daemon": the real daemon detaches and its three streams reach syslog
// under "tsd-R2033" at notice, error and debug of the daemon facility. The
// test catches them on a /dev/log of its own in a private mount namespace.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "support/startup_harness.h"

using startup_test::Daemon;
using startup_test::SyslogCapture;
using startup_test::SyslogMessage;
using startup_test::TempRoot;

namespace {

// The detached daemon, found through its pid file; stopped when the test
// ends, whatever happened.
struct Detached {
  explicit Detached(const TempRoot& root) : pidFile(root / "/var/run/server.pid") {}
  ~Detached() {
    if (pid > 0 && ::kill(pid, 0) == 0) {
      ::kill(pid, SIGKILL);
    }
  }
  bool find() {
    return startup_test::waitFor([&] {
      pid = std::atoi(startup_test::readFile(pidFile).c_str());
      return pid > 0;
    });
  }
  std::string pidFile;
  pid_t pid = -1;
};

TEST(StartupSyslog, DaemonModeSendsTheStreamsToSyslog) {
  std::string why;
  SyslogCapture* cap = SyslogCapture::get(&why);
  if (!cap) FAIL() << "no syslog capture: " << why;
  cap->clear();

  TempRoot root;
  const int port = startup_test::freePort();
  Daemon launcher(root, {"--port", std::to_string(port), "--daemon"});
  // The process started here ends as soon as the daemon has detached.
  EXPECT_EQ(launcher.wait(), 0);
  Detached daemon(root);
  ASSERT_TRUE(daemon.find()) << launcher.err();
  EXPECT_NE(daemon.pid, launcher.pid());
  // Before detaching the terminal still gets the board's first lines; the
  // start line comes after and goes to syslog only.
  EXPECT_EQ(launcher.out(), "");

  auto isFrom = [](const SyslogMessage& m) { return m.ident == "tsd-R2033"; };
  auto until = [&](const std::string& text) {
    return cap->collect([&](const SyslogMessage& m) { return isFrom(m) && m.text == text; });
  };
  auto has = [&](const std::vector<SyslogMessage>& all, int priority, const std::string& text) {
    for (auto& m : all)
      if (isFrom(m) && m.priority == priority && m.text == text) return true;
    return false;
  };

  const std::string start = "Starting server [R2033], port=" + std::to_string(port);
  auto got = until(start);
  ASSERT_TRUE(has(got, 29, start));
  ASSERT_TRUE(startup_test::waitFor([&] { return startup_test::listening(port); }));
  ASSERT_TRUE(root.loopRunning());

  // Error stream: a status dump that cannot be written.
  const std::string status = root / "/var/log/server-status";
  ::mkdir(status.c_str(), 0755);
  ::kill(daemon.pid, SIGUSR2);
  got = until("dump status error");
  EXPECT_TRUE(has(got, 27, "dump status error"));

  // Log stream: the resource update.
  ::kill(daemon.pid, SIGHUP);
  got = until("update hardware resources");
  EXPECT_TRUE(has(got, 31, "update hardware resources"));

  ::kill(daemon.pid, SIGTERM);
  EXPECT_TRUE(startup_test::waitFor([&] { return !startup_test::exists(daemon.pidFile); }));
  EXPECT_TRUE(startup_test::waitFor([&] { return ::kill(daemon.pid, 0) != 0; }));
  const std::string wd = startup_test::readFile(root / "/dev/misc/gw-wd");
  EXPECT_EQ(wd.rfind("START", 0), 0u);
  ASSERT_GE(wd.size(), 4u);
  EXPECT_EQ(wd.substr(wd.size() - 4), "STOP");
}

}  // namespace
