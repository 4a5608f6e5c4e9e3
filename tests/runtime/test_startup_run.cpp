// Runs the real daemon on the simulated board, each test in its own root
// folder and on its own free port.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/startup_harness.h"

using startup_test::Daemon;
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
    d.signal(r.sig);
    EXPECT_EQ(d.wait(), 0) << "signal " << r.sig << ": " << d.err();
    EXPECT_FALSE(startup_test::exists(pidFile));
    const std::string wd = startup_test::readFile(root / "/dev/misc/gw-wd");
    ASSERT_GE(wd.size(), 4u);
    EXPECT_EQ(wd.substr(wd.size() - 4), "STOP");
    EXPECT_FALSE(startup_test::listening(port));
  }
}

TEST(StartupRun, StatusDumpOnUsr2AndErrorWhenUnwritable) {
  TempRoot root;
  const int port = startup_test::freePort();
  Daemon d(root, {"--port", std::to_string(port)});
  ASSERT_TRUE(d.outContains(startLine(port))) << d.err();
  ASSERT_TRUE(root.loopRunning());
  const std::string status = root / "/var/log/server-status";
  startup_test::writeFile(status, std::string(10000, '~'));

  d.signal(SIGUSR2);
  ASSERT_TRUE(startup_test::waitFor([&] {
    const std::string s = startup_test::readFile(status);
    return s.find('~') == std::string::npos && s.find("\n+---") != std::string::npos;
  })) << startup_test::readFile(status);
  std::string dump = startup_test::readFile(status);
  EXPECT_EQ(dump.rfind("server status information.", 0), 0u) << dump;
  EXPECT_NE(dump.find("\nversion : R2033\n"), std::string::npos) << dump;
  EXPECT_NE(dump.find("dpc transition measurement"), std::string::npos) << dump;

  // A second request rewrites the file from the start; by now the loop
  // has served a pass and lists its named handlers.
  startup_test::writeFile(status, "");
  d.signal(SIGUSR2);
  ASSERT_TRUE(startup_test::waitFor([&] {
    return startup_test::readFile(status).rfind("server status information.", 0) == 0 &&
           startup_test::readFile(status).find("ChildWaitService") != std::string::npos;
  }));

  // A folder in the file's place: the dump fails and says so every time.
  ::unlink(status.c_str());
  ::mkdir(status.c_str(), 0755);
  d.signal(SIGUSR2);
  ASSERT_TRUE(startup_test::waitFor([&] { return d.err().find("dump status error\n") != std::string::npos; }));
  d.signal(SIGUSR2);
  ASSERT_TRUE(startup_test::waitFor([&] {
    std::string e = d.err();
    std::size_t first = e.find("dump status error\n");
    return first != std::string::npos && e.find("dump status error\n", first + 1) != std::string::npos;
  })) << d.err();
  EXPECT_TRUE(d.running());
  d.signal(SIGTERM);
  EXPECT_EQ(d.wait(), 0);
}

}  // namespace
