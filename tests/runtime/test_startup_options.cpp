#include <gtest/gtest.h>

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

namespace {

int clockDisabled = 0;
void disableClock() { ++clockDisabled; }

struct Parse {
  int code;
  Startup::Options opts;
  std::string out;
};

Parse parse(std::vector<std::string> args) {
  args.insert(args.begin(), "tessarod");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  print_version = 0;
  clockDisabled = 0;
  Parse p;
  std::ostringstream out;
  testing::internal::CaptureStderr();
  p.code = Startup::ParseCommandLine(static_cast<int>(args.size()), argv.data(), p.opts, out, disableClock);
  testing::internal::GetCapturedStderr();
  p.out = out.str();
  return p;
}

TEST(StartupCommandLine, DisableClockActsAtOnceEveryTime) {
  Parse p = parse({"--disable-clock", "--disable-clock", "--bogus"});
  EXPECT_EQ(p.code, 2);
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

TEST_F(StartupTraces, LastHeaderDecidesEverySwitch) {
  apply("[traces]\nsignalling.hdlc = yes\nsignalling.vorkgw = enabled\n"
        "[traces]\nmonitoring.internal = yes\n");
  EXPECT_FALSE(traces.signalling.hdlc);
  EXPECT_FALSE(traces.signalling.vorkgw);
  EXPECT_TRUE(traces.monitoring.internal);
  EXPECT_EQ(err_, "");
}

TEST_F(StartupTraces, BadWordsAreReportedAndLeaveTheSwitchOff) {
  apply("[traces]\nsignalling.hdlc = True\nsignalling.vorkgw = 1\nmonitoring.internal = on\n");
  EXPECT_FALSE(traces.signalling.hdlc);
  EXPECT_TRUE(traces.signalling.vorkgw);
  EXPECT_FALSE(traces.monitoring.internal);
  EXPECT_EQ(err_,
            "traces: optional key \"signalling.hdlc\" has invalid value=\"True\", line 2. Key will be ignored.\n"
            "traces: optional key \"monitoring.internal\" has invalid value=\"on\", line 4. Key will be ignored.\n");
}

TEST_F(StartupTraces, NoSectionKeepsTheBuiltInValues) {
  traces.signalling.hdlc = true;
  apply("[snmpagent]\nhost = h\n");
  EXPECT_TRUE(traces.signalling.hdlc);
}

// ---------------------------------------------------------------- status dump

}  // namespace
