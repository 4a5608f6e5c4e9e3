// Runs the real daemon on the simulated board, each test in its own root
// folder and on its own free port.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/config/inifile.h"
#include "runtime/log/traces.h"
#include "runtime/os/paths.h"
#include "runtime/startup/command_line.h"
#include "runtime/startup/signals.h"
#include "support/startup_harness.h"

using startup_test::Daemon;
using startup_test::SyslogCapture;
using startup_test::SyslogMessage;
using startup_test::TempRoot;

namespace {

const char kUsage[] =
    "Usage:\n"
    " tessarod -Dh\n"
    "  -D --daemon                      run as daemon\n"
    "  -p --port                        use this port\n"
    "     --disable-clock               disable clock control\n"
    "     --version                     print version\n"
    "  -h --help                        display this information\n"
    "\n";

std::string startLine(int port) { return "Starting server [R2033], port=" + std::to_string(port) + "\n"; }

// Options that end the process at once: its exit code, standard output and
// what standard error holds (nothing at all for the version, which is
// printed before anything is created).
TEST(StartupCommandLineRun, OptionsThatEndTheProcessAtOnce) {
  const struct {
    std::vector<std::string> args;
    int code;
    const char* out;
    const char* err;
  } rows[] = {
      {{"-p", "5000"}, 2, kUsage, "invalid option"},
      {{"--version"}, 2, "server version: R2033\n", nullptr},
      {{"--help"}, 0, kUsage, ""},
      {{"--version", "--help"}, 0, kUsage, ""},
      {{"--bogus", "--help"}, 2, kUsage, "unrecognized option"},
  };
  TempRoot root;
  for (const auto& r : rows) {
    Daemon d(root, r.args);
    EXPECT_EQ(d.wait(), r.code) << r.args[0];
    EXPECT_EQ(d.out(), r.out);
    EXPECT_TRUE(r.err ? d.err().find(r.err) != std::string::npos : d.err().empty()) << d.err();
  }
  EXPECT_FALSE(startup_test::exists(root / "/var/run/server.pid"));
}

// Each row starts a daemon and stops it with a signal. Without a port it
// listens on 20001; neither a missing configuration file nor a missing pid
// folder is fatal; a broken "[snmpagent]" entry and a bad trace switch are
// reported with their lines. At the stop the pid file goes, the watchdog
// gets STOP and the port closes.
TEST(StartupRun, ListensStopsCleanlyOnTermAndIntAndReportsTheConfiguration) {
  const struct {
    int sig;
    bool defaultPort;
    const char* config;
    std::vector<std::string> errors;
  } rows[] = {
      {SIGTERM, true, nullptr, {}},
      {SIGINT, false, "[traces]\nsignalling.hdlc = Yes\n[snmpagent]\nname = ostr\n",
       {"traces: optional key \"signalling.hdlc\" has invalid value=\"Yes\", line 2. Key will be ignored.\n",
        "snmpagent: required key \"host\" not present, line 3\n"}},
  };
  for (const auto& r : rows) {
    TempRoot root;
    if (r.config) root.config(r.config);
    else startup_test::removeTree(root / "/var/run");
    const int port = r.defaultPort ? 20001 : startup_test::freePort();
    Daemon d(root, r.defaultPort ? std::vector<std::string>{} : std::vector<std::string>{"--port", std::to_string(port)});
    ASSERT_TRUE(d.outContains(startLine(port))) << d.err();
    EXPECT_EQ(d.out(), startLine(port));
    ASSERT_TRUE(startup_test::waitFor([&] { return startup_test::listening(port); })) << d.err();
    const std::string pidFile = root / "/var/run/server.pid";
    if (r.config) {
      ASSERT_TRUE(startup_test::waitFor([&] { return startup_test::readFile(pidFile) == std::to_string(d.pid()); }));
    }
    ASSERT_TRUE(root.loopRunning());
    for (const auto& e : r.errors) EXPECT_NE(d.err().find(e), std::string::npos) << d.err();
    // SIGUSR2 rewrites the status file from its start; by the second
    // request the loop has served a pass and lists its named handlers. A
    // folder in the file's place makes the dump fail and say so every time.
    const std::string status = root / "/var/log/server-status";
    startup_test::writeFile(status, std::string(10000, '~'));
    for (const char* part : {"dpc transition measurement", "ChildWaitService"}) {
      d.signal(SIGUSR2);
      EXPECT_TRUE(startup_test::waitFor([&] {
        const std::string s = startup_test::readFile(status);
        return s.rfind("server status information.", 0) == 0 && s.find('~') == std::string::npos &&
               s.find("\nversion : R2033\n") != std::string::npos && s.find(part) != std::string::npos;
      })) << startup_test::readFile(status);
      startup_test::writeFile(status, "");
    }
    ::unlink(status.c_str());
    ::mkdir(status.c_str(), 0755);
    auto errors = [&] {
      const std::string e = d.err();
      int n = 0;
      for (std::size_t at = 0; (at = e.find("dump status error\n", at)) != std::string::npos; ++at) ++n;
      return n;
    };
    for (int n : {1, 2}) {
      d.signal(SIGUSR2);
      EXPECT_TRUE(startup_test::waitFor([&] { return errors() == n; })) << d.err();
    }
    d.signal(r.sig);
    EXPECT_EQ(d.wait(), 0) << "signal " << r.sig << ": " << d.err();
    EXPECT_FALSE(startup_test::exists(pidFile));
    const std::string wd = startup_test::readFile(root / "/dev/misc/gw-wd");
    ASSERT_GE(wd.size(), 4u);
    EXPECT_EQ(wd.substr(wd.size() - 4), "STOP");
    EXPECT_FALSE(startup_test::listening(port));
  }
}



int clockDisabled = 0;
void disableClock() { ++clockDisabled; }

// "--disable-clock" acts at once, every time it is given, even when a later
// option is refused.
TEST(StartupCommandLine, DisableClockActsAtOnceEveryTime) {
  std::string args[] = {"tessarod", "--disable-clock", "--disable-clock", "--bogus"};
  char* argv[] = {&args[0][0], &args[1][0], &args[2][0], &args[3][0], nullptr};
  Startup::Options opts;
  std::ostringstream out;
  testing::internal::CaptureStderr();
  EXPECT_EQ(Startup::ParseCommandLine(4, argv, opts, out, disableClock), 2);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(clockDisabled, 2);
}

// ---------------------------------------------------------------- traces

class StartupTraces : public ::testing::Test {
 protected:
  void SetUp() override { traces = TraceCtl(); }
  void TearDown() override { traces = TraceCtl(); }
  void apply(const std::string& text) {
    startup_test::writeFile(root_ / "/server.conf", text);
    ASSERT_TRUE(file_.Open(root_ / "/server.conf"));
    testing::internal::CaptureStderr();
    traces.Configure(*file_["traces"]);
    err_ = testing::internal::GetCapturedStderr();
  }
  startup_test::TempRoot root_;
  IniFile::File file_;
  std::string err_;
};

// hdlc, vorkgw, internal after each configuration text (all on before).
TEST_F(StartupTraces, LastHeaderDecidesEverySwitchBadWordsAreReported) {
  const struct {
    const char* text;
    bool hdlc, vorkgw, internal;
    const char* err;
  } rows[] = {
      {"[traces]\nsignalling.hdlc = yes\nsignalling.vorkgw = enabled\n[traces]\nmonitoring.internal = yes\n", false,
       false, true, ""},
      {"[traces]\nsignalling.hdlc = True\nsignalling.vorkgw = 1\nmonitoring.internal = on\n", false, true, false,
       "traces: optional key \"signalling.hdlc\" has invalid value=\"True\", line 2. Key will be ignored.\n"
       "traces: optional key \"monitoring.internal\" has invalid value=\"on\", line 4. Key will be ignored.\n"},
      {"[snmpagent]\nhost = h\n", true, true, true, ""},  // no section: built-in values stay
  };
  for (const auto& r : rows) {
    traces.signalling.hdlc = traces.signalling.vorkgw = traces.monitoring.internal = true;
    apply(r.text);
    EXPECT_EQ(traces.signalling.hdlc, r.hdlc) << r.text;
    EXPECT_EQ(traces.signalling.vorkgw, r.vorkgw) << r.text;
    EXPECT_EQ(traces.monitoring.internal, r.internal) << r.text;
    EXPECT_EQ(err_, r.err);
  }
}

// "--daemon": the real daemon detaches and its three streams reach syslog
// under "tsd-R2033" at notice, error and debug of the daemon facility. The
// test catches them on a /dev/log of its own in a private mount namespace.

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

  // Notice: the start line; error: a status dump that cannot be written;
  // debug (the log stream): the resource update.
  ::mkdir((root / "/var/log/server-status").c_str(), 0755);
  const struct {
    int sig;
    std::string text;
    int priority;
  } rows[] = {{0, "Starting server [R2033], port=" + std::to_string(port), 29},
              {SIGUSR2, "dump status error", 27},
              {SIGHUP, "update hardware resources", 31}};
  for (const auto& r : rows) {
    if (r.sig) ::kill(daemon.pid, r.sig);
    auto got = cap->collect([&](const SyslogMessage& m) { return m.ident == "tsd-R2033" && m.text == r.text; });
    EXPECT_TRUE(std::any_of(got.begin(), got.end(), [&](const SyslogMessage& m) {
      return m.ident == "tsd-R2033" && m.text == r.text && m.priority == r.priority;
    })) << r.text;
    ASSERT_TRUE(startup_test::waitFor([&] { return startup_test::listening(port); }));
    ASSERT_TRUE(root.loopRunning());  // signals sent before would be lost
  }
  ::kill(daemon.pid, SIGTERM);
  EXPECT_TRUE(startup_test::waitFor([&] { return !startup_test::exists(daemon.pidFile); }));
  EXPECT_TRUE(startup_test::waitFor([&] { return ::kill(daemon.pid, 0) != 0; }));
  const std::string wd = startup_test::readFile(root / "/dev/misc/gw-wd");
  EXPECT_TRUE(wd.rfind("START", 0) == 0 && wd.size() >= 9 && wd.compare(wd.size() - 4, 4, "STOP") == 0) << wd;
}

}  // namespace
