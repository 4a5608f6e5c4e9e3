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

TEST_F(MonCtl, PowerAndDipChangesReachTheFilesAndTheAgent) {
  Start();
  StreamCapture err(std::cerr);
  hal().setPower(0);
  ctl->doPowerCheck();
  EXPECT_EQ("3", Read("/var/monitoring/powerstatus"));  // 0 reads as both
  hal().setDip(7);
  ctl->doDipCheck();
  EXPECT_EQ("7", Read("/var/monitoring/dip"));
  auto t = Texts();
  EXPECT_EQ(2u, Count(t, "gatewayCommon/powerStatus/0=3"));  // both batches
  EXPECT_TRUE(Has(t, "gatewayCommon/gatewayDip/0=7"));

  ctl->doPowerCheck();  // the same again: nothing
  ctl->doDipCheck();
  EXPECT_TRUE(Texts().empty());
  hal().setPower(4);
  ctl->doPowerCheck();
  EXPECT_EQ(0, ctl->data().getPowerStatus().asInt());
  EXPECT_EQ(2u, Count(Texts(), "gatewayCommon/powerStatus/0=0"));
  // The power signal has no server to go to.
  EXPECT_NE(std::string::npos, err.text().find("service not connected to server"));
}

TEST_F(MonCtl, OwnControllerStatusFollowsTheLocalControllerProcess) {
  Start();
  ctl->doControllerCheck();
  std::string self = ctl->data().getSelfHostAddress().GetStrAddr();
  EXPECT_EQ("5", Read("/var/monitoring/controller/" + self + "/status"));  // notrun
  EXPECT_EQ(2u, Count(Texts(), "gatewayCommon/controllerStatus/0=5"));

  ::mkdir(P("/proc/4242").c_str(), 0755);
  Write("/proc/4242/stat", "4242 (controller) S 1 1 1");
  ctl->doControllerCheck();
  EXPECT_EQ("4", Read("/var/monitoring/controller/" + self + "/status"));  // notconnection
  EXPECT_EQ(2u, Count(Texts(), "gatewayCommon/controllerStatus/0=4"));
  ctl->doControllerCheck();
  EXPECT_TRUE(Texts().empty());
}

TEST_F(MonCtl, ConfigurationArchiveNamesGiveVersionAndStamp) {
  Start();
  Write("/usr/local/etc/config.2save.tar.bz2", "");
  Write("/usr/local/etc/config.zz", "");  // no digits: skipped
  ::mkdir(P("/usr/local/etc/config.00000001-0000000000000001").c_str(), 0755);  // a folder: skipped
  ctl->doConfigCheck();
  EXPECT_EQ(0xFFFFFFFFu, ctl->data().getConfigVersion());
  Write("/usr/local/etc/config.0000002a-00000000000000ff", "");
  ctl->doConfigCheck();
  EXPECT_EQ(42u, ctl->data().getConfigVersion());
  EXPECT_EQ("0000002a-00000000000000ff", Read("/var/monitoring/config_version"));
  EXPECT_EQ(2u, Count(Texts(), "gatewayCommon/gatewayConfigVersion/0=42"));
}

TEST_F(MonCtl, VersionFramerAndDriverTexts) {
  Start();
  Write("/var/version", "R77\nsecond line");
  ctl->doVersionsCheck();
  EXPECT_EQ("R77\n", ctl->data().getBuildVersion());
  EXPECT_EQ((std::vector<std::string>{"statusGeneral/sgBuildVersion/0=R77\n"}), Texts());

  // A framer file that reads nothing changes nothing.
  ctl->doFramerCheck();
  EXPECT_TRUE(Texts().empty());
  Write("/proc/driver/hdlc/peb22554/0", "Current state           : Synchronized\nLoss of Signal          : no\n");
  ctl->doFramerCheck();
  EXPECT_EQ((std::vector<std::string>{"e1Table/e1Connected/1=1", "e1Table/e1StatusDsc/1=Synchronized",
                                      "e1Table/e1SignalLoss/1=0", "e1Table/e1FrameAlignLoss/1=1",
                                      "e1Table/e1NegSlipCount/1=0", "e1Table/e1PosSlipCount/1=0"}),
            Texts());

  struct Case {
    const char* line;
    const char* text;
  } cases[] = {{"Voice v1.2 build7 extra more\n", "v1.2 [build7 extra]"},
               {"Voice v1.2 build7\n", "v1.2 [build7]"},
               {"Voice v1.2 build7 \n", "v1.2 [build7 ]"},
               {"Voice v1.2\n", "none"}};
  for (const Case& c : cases) {
    Write("/proc/voice/version", c.line);
    ctl->sendSnmpDriverBuild();
    auto t = Texts();
    ASSERT_EQ(2u, t.size()) << c.line;
    EXPECT_EQ(std::string("gatewayCommon/driverBuild/0=") + c.text, t[0]);
  }
  Write("/proc/voice/version", "");
  ctl->sendSnmpDriverBuild();
  EXPECT_TRUE(Texts().empty());
}

TEST_F(MonCtl, DisplayDataAndCounters) {
  Start();
  StreamCapture err(std::cerr);
  LGCP::Command c = Display();
  auto& b = c.select_display().select_board().select_boardStatus();
  b.set_position(0);
  b.set_version(std::vector<char>{'v', '9'});
  b.set_status(LGCP::ExtBoardStatus::ready);
  b.set_type(LGCP::ExtBoardType::isdn);
  EXPECT_TRUE(ctl->OnCommand(c));
  EXPECT_EQ((std::vector<std::string>{"extBoardTable/extBoardStatus/0=3", "extBoardTable/extBoardSoftVer/0=v9",
                                      "extBoardTable/extBoardType/0=1"}),
            Texts());

  LGCP::Command p = Display();
  auto& ph = p.select_display().select_emPhone().select_phoneStatus();
  ph.set_id(0);
  ph.set_mode(LGCP::EmPhoneMode::active);
  EXPECT_TRUE(ctl->OnCommand(p));
  auto t = Texts();
  ASSERT_EQ(8u, t.size());
  EXPECT_EQ("emPhoneTable/emPhonePanelSoftVer/1=", t[0]);
  EXPECT_EQ("emPhoneTable/emPhoneMode/1=1", t[5]);

  LGCP::Command ch = Display();
  ch.select_display().select_board().select_boardChannelStatus();
  EXPECT_TRUE(ctl->OnCommand(ch));
  EXPECT_TRUE(Texts().empty());

  auto counter = [&](int owner, int id, int cnt) {
    LGCP::Command k = Display();
    auto& tc = k.select_display().select_termCounter();
    tc.set_owner(LGCP::TermCounterOwner::NamedNumber(owner));
    if (id >= 0) tc.set_ownerId(id);
    tc.set_cnt(cnt);
    EXPECT_TRUE(ctl->OnCommand(k));
    return Texts();
  };
  counter(0, -1, 1);
  counter(4, -1, 2);
  counter(4, 3, 4);
  t = counter(1, -1, -1);
  EXPECT_EQ((std::vector<std::string>{"gatewayTermCounters/routerTermCnt/0=4294967295",
                                      "extBoardTermCntTable/extBoardTermCnt/3=4",
                                      "gatewayTermCounters/routerTermCnt/0=4294967295"}),
            t);
}

TEST_F(MonCtl, AnAgentConnectionSetsOffOneFullResend) {
  Write("/sys/x", "");
  Start();
  // The start-up resend: every item of a fresh service, stored values as
  // stored (nothing read yet).
  EXPECT_TRUE(Has(resend, std::string("gatewayCommon/softwareBuild/0=") + Version::current.tag()));
  EXPECT_EQ(2u, Count(resend, "gatewayCommon/gatewayDip/0=4294967295"));
  EXPECT_EQ(2u, Count(resend, "gatewayCommon/gatewayConfigVersion/0=4294967295"));
  EXPECT_EQ(1u, Count(resend, "statusGeneral/sgBoardVersion/0="));
  EXPECT_EQ(6u, Count(resend, "e1Table/"));
  EXPECT_EQ(0u, Count(resend, "gatewayCommon/driverBuild"));  // no driver version file

  // Stored board, phone and interface data are part of it; two connections
  // in one pass give one resend.
  LGCP::Command p = Display();
  p.select_display().select_emPhone().select_phoneStatus().set_id(5);
  StreamCapture err(std::cerr);
  ctl->OnCommand(p);
  ctl->OnCommand(p);
  Texts();
  ctl->OnSnmpAgentConnect("a");
  ctl->OnSnmpAgentConnect("b");
  EXPECT_TRUE(ctl->resendPending());
  auto again = Texts();
  EXPECT_FALSE(ctl->resendPending());
  EXPECT_EQ(2u, Count(again, "gatewayCommon/softwareBuild/0="));
  EXPECT_EQ(1u, Count(again, "emPhoneTable/emPhoneMode/6="));
}

}  // namespace
