// Runs the real daemon on the simulated board, each test in its own root
// folder and on its own free port.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <string>

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

TEST(StartupCommandLineRun, OptionsThatEndTheProcessAtOnce) {
  TempRoot root;
  {
    Daemon d(root, {"-p", "5000"});
    EXPECT_EQ(d.wait(), 2);
    EXPECT_EQ(d.out(), kUsage);
    EXPECT_NE(d.err().find("invalid option"), std::string::npos) << d.err();
  }
  {
    Daemon d(root, {"--version"});
    EXPECT_EQ(d.wait(), 2);
    EXPECT_EQ(d.out(), "server version: R2033\n");
    // Nothing is created before the version is printed.
    EXPECT_EQ(d.err(), "");
    EXPECT_FALSE(startup_test::exists(root / "/var/run/server.pid"));
  }
  {
    Daemon d(root, {"--help"});
    EXPECT_EQ(d.wait(), 0);
    EXPECT_EQ(d.out(), kUsage);
  }
  {
    Daemon d(root, {"--version", "--help"});
    EXPECT_EQ(d.wait(), 0);
    EXPECT_EQ(d.out(), kUsage);
  }
  {
    Daemon d(root, {"--bogus", "--help"});
    EXPECT_EQ(d.wait(), 2);
    EXPECT_EQ(d.out(), kUsage);
    EXPECT_NE(d.err().find("unrecognized option"), std::string::npos) << d.err();
  }
}

// No configuration file and no pid folder: neither is fatal.
TEST(StartupRun, DefaultPortInTheStartLine) {
  TempRoot root;
  startup_test::removeTree(root / "/var/run");
  Daemon d(root, {});
  ASSERT_TRUE(d.outContains(startLine(20001))) << d.out() << d.err();
  EXPECT_EQ(d.out(), startLine(20001));
  ASSERT_TRUE(startup_test::waitFor([&] { return startup_test::listening(20001); }));
  ASSERT_TRUE(root.loopRunning());
  d.signal(SIGTERM);
  EXPECT_EQ(d.wait(), 0) << d.err();
}

TEST(StartupRun, ListensOnTheGivenPortAndStopsCleanlyOnTermAndInt) {
  for (int sig : {SIGTERM, SIGINT}) {
    TempRoot root;
    const int port = startup_test::freePort();
    Daemon d(root, {"--port", std::to_string(port)});
    ASSERT_TRUE(d.outContains(startLine(port))) << d.err();
    ASSERT_TRUE(startup_test::waitFor([&] { return startup_test::listening(port); })) << d.err();
    const std::string pidFile = root / "/var/run/server.pid";
    ASSERT_TRUE(startup_test::waitFor([&] { return startup_test::readFile(pidFile) == std::to_string(d.pid()); }));
    ASSERT_TRUE(root.loopRunning());

    d.signal(sig);
    EXPECT_EQ(d.wait(), 0) << "signal " << sig << ": " << d.err();
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

TEST(StartupRun, ConfigurationIsReadFromTheRootFolder) {
  TempRoot root;
  // A broken "[snmpagent]" entry is reported; the trace switches take any
  // boolean word, and a bad one is reported with its line.
  root.config("[traces]\nsignalling.hdlc = Yes\n[snmpagent]\nname = ostr\n");
  const int port = startup_test::freePort();
  Daemon d(root, {"--port", std::to_string(port)});
  ASSERT_TRUE(d.outContains(startLine(port))) << d.err();
  EXPECT_NE(d.err().find("traces: optional key \"signalling.hdlc\" has invalid value=\"Yes\", line 2. Key will be ignored.\n"),
            std::string::npos)
      << d.err();
  EXPECT_NE(d.err().find("snmpagent: required key \"host\" not present, line 3\n"), std::string::npos) << d.err();
  ASSERT_TRUE(root.loopRunning());
  d.signal(SIGTERM);
  EXPECT_EQ(d.wait(), 0);
}

}  // namespace
