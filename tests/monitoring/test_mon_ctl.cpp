// The monitoring service on the simulated board: the E1 LED byte, the power
// and DIP checks, the controller, configuration, version and framer checks,
// and the item values that reach a connected test agent (on change, on a
// display command, and in the full resend after an agent connects).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <memory>

#include "control/control_test_support.h"
#include "hardware/sim/mon_hal.h"
#include "hardware/sim_env.h"
#include "monitoring/monitoring_ctl.h"
#include "runtime/log/version.h"
#include "runtime/test_loop_support.h"
#include "test_agent_server.h"

using agenttest::AgentServer;
using agenttest::SetTexts;

namespace {

class MonCtl : public SimTest::Fixture {
 protected:
  void SetUp() override {
    SimTest::Fixture::SetUp();
    std::string r = SimTest::root();
    ASSERT_EQ(0, std::system(("rm -rf '" + r + "/var' '" + r + "/usr' '" + r + "/proc'").c_str()));
    for (const char* d : {"/var", "/var/monitoring", "/usr", "/usr/local", "/usr/local/etc", "/proc", "/proc/voice",
                          "/proc/driver", "/proc/driver/hdlc", "/proc/driver/hdlc/peb22554"})
      ::mkdir(P(d).c_str(), 0755);
    Write("/proc/driver/hdlc/peb22554/0", "");
    hal().reset();
  }
  void TearDown() override { ctl.reset(); }
  Sim::MonHalDevice& hal() { return static_cast<Sim::MonHalDevice&>(sim().hal()); }
  std::string P(const std::string& abs) { return SimTest::root() + abs; }
  void Write(const std::string& abs, const std::string& text) { std::ofstream(P(abs)) << text; }
  std::string Read(const std::string& abs) {
    std::ifstream f(P(abs));
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  // The service, with a test agent connected and the start-up resend taken.
  void Start(bool withAgent = true) {
    ctl = std::make_unique<MonitoringCtl>();
    if (!withAgent) return;
    std::string conf = P("/usr/local/etc/server.conf");
    Write("/usr/local/etc/server.conf", "[snmpagent]\nhost = " + agent.host() + "\nname = ostr\n");
    IniFile::File f;
    f.Open(conf);
    EXPECT_EQ(1, ctl->Configure(f));
    ASSERT_TRUE(loop.RunUntil([&] { return agent.TryAccept() || agent.connected(); }));
    resend = Texts();
  }
  // Every item text the agent received so far (after a few loop passes).
  std::vector<std::string> Texts() {
    loop.RunFor(30);
    std::vector<std::string> all;
    MON::Message m;
    while (agent.TakeMessage(m)) {
      auto t = SetTexts(m);
      all.insert(all.end(), t.begin(), t.end());
    }
    return all;
  }
  static bool Has(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
  }
  static size_t Count(const std::vector<std::string>& v, const std::string& prefix) {
    return std::count_if(v.begin(), v.end(), [&](const std::string& s) { return s.rfind(prefix, 0) == 0; });
  }
  LGCP::Command Display() {
    LGCP::Command c;
    c.select_display();
    return c;
  }
  LGCP::FramerInfo Framer(int e1, bool line, bool value) {
    LGCP::FramerInfo f;
    f.set_e1(e1);
    if (line) f.set_info().select_line(value);
    else f.set_info().select_link(value);
    return f;
  }

  ctltest::Loop loop;
  AgentServer agent;
  std::unique_ptr<MonitoringCtl> ctl;
  std::vector<std::string> resend;
};

TEST_F(MonCtl, FramerCommandsDriveTheLedByte) {
  Start(false);
  EXPECT_EQ(-1, ctl->halDescriptor());  // not opened at construction
  ctl->setFramerLed(Framer(2, true, true));
  EXPECT_EQ(0x30, hal().leds());
  ctl->setFramerLed(Framer(2, false, true));
  EXPECT_EQ(0x20, hal().leds());
  ctl->setFramerLed(Framer(2, true, false));
  EXPECT_EQ(0x00, hal().leds());
  ctl->setFramerLed(Framer(0, true, true));
  ctl->setFramerLed(Framer(0, false, true));
  ctl->setFramerLed(Framer(0, true, true));  // line bit already set: link bit stays clear
  EXPECT_EQ(0x02, hal().leds());
  ctl->setFramerLed(Framer(3, false, false));
  EXPECT_EQ(0x42, hal().leds());
  EXPECT_EQ(0, hal().ledWrites().front());  // the open switched every LED off

  // At exit the LEDs go off before the descriptor closes.
  ctl.reset();
  EXPECT_EQ(0, hal().ledWrites().back());
  EXPECT_GT(hal().ledWrites().size(), 8u);
}

TEST_F(MonCtl, WithoutTheDeviceCommandsAreStillTakenAndChecksDoNothing) {
  sim().setPresent("/dev/hal", false);
  Start(false);
  EXPECT_EQ(0, ctl->setFramerLed(Framer(1, true, true)));
  LGCP::Command c = Display();
  c.select_display().select_framer(Framer(1, true, true));
  StreamCapture err(std::cerr);  // no server bound: the answer has nowhere to go
  EXPECT_TRUE(ctl->OnCommand(c));
  ctl->doPowerCheck();
  ctl->doDipCheck();
  EXPECT_EQ(-1, ctl->data().getDipValue());
  EXPECT_EQ(-1, ctl->halDescriptor());
  sim().setPresent("/dev/hal", true);
  ctl->doDipCheck();  // retried at the next use
  EXPECT_GE(ctl->halDescriptor(), 0);
  EXPECT_EQ(0, ctl->data().getDipValue());
  LGCP::Command other;
  other.select_ping();
  EXPECT_FALSE(ctl->OnCommand(other));
}

}  // namespace
