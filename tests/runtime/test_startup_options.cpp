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

}  // namespace
