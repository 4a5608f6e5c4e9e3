// The monitoring service on the simulated board, with a test agent and a
// test controller link: the E1 LED byte, the display command (answers,
// status files, item values, refusals and store limits), the power, version,
// driver and configuration checks, and the single full resend per loop pass.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>

#include "control/acceptor.h"
#include "control/control_test_support.h"
#include "control/ctrl_server.h"
#include "control/lgcp_codec.h"
#include "hardware/sim/mon_hal.h"
#include "hardware/sim_env.h"
#include "monitoring/monitoring_ctl.h"
#include "runtime/test_loop_support.h"
#include "mon_test_values.h"
#include "test_agent_server.h"

using agenttest::AgentServer;
using agenttest::SetTexts;
using Texts = std::vector<std::string>;
using namespace montest;

namespace {

class MonCtl : public SimTest::Fixture {
 protected:
  void SetUp() override {
    SimTest::Fixture::SetUp();
    std::string r = SimTest::root();
    ASSERT_EQ(0, std::system(("rm -rf '" + r + "/var' '" + r + "/usr' '" + r + "/proc'").c_str()));
    for (const char* d : {"/var/monitoring", "/usr/local/etc", "/proc/voice", "/proc/driver/hdlc/peb22554"})
      ASSERT_EQ(0, std::system(("mkdir -p '" + P(d) + "'").c_str()));
    Write("/proc/driver/hdlc/peb22554/0", "");
    hal().reset();
  }
  void TearDown() override {
    if (server) server->Deactivate();
    server.reset();
    ctl.reset();
  }
  Sim::MonHalDevice& hal() { return static_cast<Sim::MonHalDevice&>(sim().hal()); }
  std::string P(const std::string& abs) { return SimTest::root() + abs; }
  void Write(const std::string& abs, const std::string& text) { std::ofstream(P(abs)) << text; }
  std::string Read(const std::string& abs) { return slurp(P(abs)); }

  // The service with a test agent and a test controller connected, once
  // the controller got its power signals; what the agent got is taken.
  void Start(size_t powerSignals = 2) {
    ctl = std::make_unique<MonitoringCtl>();
    Write("/usr/local/etc/server.conf", "[snmpagent]\nhost = " + agent.host() + "\nname = ostr\n");
    IniFile::File f;
    f.Open(P("/usr/local/etc/server.conf"));
    EXPECT_EQ(1, ctl->Configure(f));
    server = std::make_unique<CtrlSrv::Server>();
    server->Bind(ctl.get());
    acceptor = new Control::AcceptorCheckConnection(0, false);
    ASSERT_TRUE(server->Activate(acceptor));
    ASSERT_TRUE(client.Connect(acceptor->bound_port()));
    ASSERT_TRUE(loop.RunUntil([&] {
      Poll(-1);
      return (agent.TryAccept() || agent.connected()) && powers.size() == powerSignals;
    }));
    // Every check group runs once now, so that none runs on its own during
    // the test (only the power and DIP checks repeat, every 2000 ms).
    Mux::advanceClock(5000);
    loop.RunFor(5);
    Take();
  }
  // Item texts the agent received once nothing is pending; unique: each
  // text once, though items of both agent types come in both batches.
  Texts Take(bool unique = true) {
    EXPECT_TRUE(loop.RunUntil([&] { return !ctl->agents().sendPending() && !ctl->resendPending(); }));
    Texts all;
    MON::Message m;
    while (agent.TakeMessage(m))
      for (const auto& t : SetTexts(m))
        if (!unique || std::find(all.begin(), all.end(), t) == all.end()) all.push_back(t);
    return all;
  }
  // Controller frames: power signals are noted, the answer to seq returned
  // as "success" or "error <cause>".
  std::string Poll(int seq) {
    std::string answer;
    ctltest::Bytes p;
    while (client.TakeFrame(p)) {
      LGCP::Message m;
      EXPECT_TRUE(LgcpCodec::Decode(reinterpret_cast<const char*>(p.data()),
                                    reinterpret_cast<const char*>(p.data() + p.size()), m));
      const LGCP::PDU& pdu = m.get_pdu();
      if (pdu.signal_isSelected() && pdu.get_signal().power_isSelected())
        powers.push_back(pdu.get_signal().get_power().asInt());
      if (pdu.response_isSelected() && m.seq_isPresent() && m.get_seq().getValue() == seq)
        answer = pdu.get_response().success_isSelected()
                     ? "success"
                     : "error " + std::to_string(pdu.get_response().get_error().asInt());
    }
    return answer;
  }
  std::string Display(const std::function<void(LGCP::DisplayParams&)>& fill) {
    LGCP::Message m;
    m.set_seq(++seq);
    fill(m.set_pdu().select_command().select_display());
    std::vector<char> out;
    EXPECT_TRUE(LgcpCodec::Encode(m, out));
    client.SendFrame(ctltest::Bytes(out.begin(), out.end()));
    std::string answer;
    EXPECT_TRUE(loop.RunUntil([&] { return !(answer = Poll(seq)).empty(); }));
    return answer;
  }
  static LGCP::FramerInfo Framer(int e1, bool line, bool value) {
    LGCP::FramerInfo f;
    f.set_e1(e1);
    if (line) f.set_info().select_line(value);
    else f.set_info().select_link(value);
    return f;
  }

  ctltest::Loop loop;
  AgentServer agent;
  std::unique_ptr<MonitoringCtl> ctl;
  std::unique_ptr<CtrlSrv::Server> server;
  Control::AcceptorCheckConnection* acceptor = nullptr;
  ctltest::Client client;
  std::vector<int> powers;
  int seq = 0;
};

TEST_F(MonCtl, FramerCommandsDriveTheLedByte) {
  ctl = std::make_unique<MonitoringCtl>();
  EXPECT_EQ(-1, ctl->halDescriptor());  // not opened at construction
  struct Row { int e1; bool line, value; int leds; } rows[] = {{2, true, true, 0x30}, {2, false, true, 0x20}, {2, true, false, 0x00}, {0, true, true, 0x03},
              {0, false, true, 0x02}, {0, true, true, 0x02},  // line bit already set: link bit stays clear
              {3, false, false, 0x42}};
  for (const Row& r : rows) {
    ctl->setFramerLed(Framer(r.e1, r.line, r.value));
    EXPECT_EQ(r.leds, hal().leds()) << r.e1 << r.line << r.value;
  }
  EXPECT_EQ(0, hal().ledWrites().front());  // the open switched every LED off
  ctl.reset();  // at exit the LEDs go off before the descriptor closes
  EXPECT_EQ(0, hal().ledWrites().back());
  EXPECT_EQ(9u, hal().ledWrites().size());
}

TEST_F(MonCtl, CheckGroupsRunOnTheirTimers) {
  Mux::mux_settimeofday();  // the clock stands still
  ctl = std::make_unique<MonitoringCtl>();
  auto next = [&] { return std::vector<unsigned>{ctl->bkgCheckIn(), ctl->powerCheckIn(), ctl->controllerCheckIn()}; };
  EXPECT_EQ((std::vector<unsigned>{1000, 2000, 5000}), next());
  ctl->onBkgCheckTimer(nullptr);
  ctl->onPowerCheckTimer(nullptr);
  ctl->onControllerCheckTimer(nullptr);
  EXPECT_EQ((std::vector<unsigned>{60000, 2000, 5000}), next());
  Mux::mux_cleartimeofday();
}

TEST_F(MonCtl, WithoutTheDeviceCommandsAreStillAnsweredAndChecksDoNothing) {
  sim().setPresent("/dev/hal", false);
  Start(1);
  EXPECT_EQ("success", Display([](LGCP::DisplayParams& d) { d.select_framer(Framer(1, true, true)); }));
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

TEST_F(MonCtl, DisplayDataIsAnsweredStoredAndSentToTheAgents) {
  const std::string phoneFile = "p1\nc2\nf3\n2\n2\n2\n1\n2\n";
  auto phone = [](int row) {
    std::string r = "/" + std::to_string(row) + "=";
    return Texts{"emPhoneTable/emPhonePanelSoftVer" + r + "p1", "emPhoneTable/emPhoneCtrlSoftVer" + r + "c2",
                 "emPhoneTable/emPhoneFpgaSoftVer" + r + "f3",  "emPhoneTable/emPhoneStatus" + r + "2",
                 "emPhoneTable/emPhonePowerStatus" + r + "2",   "emPhoneTable/emPhoneMode" + r + "2",
                 "emPhoneTable/emPhoneHookStatus" + r + "1",    "emPhoneTable/emPhoneBaseStatus" + r + "2"};
  };
  struct Row {
    const char* what;
    std::function<void(LGCP::DisplayParams&)> fill;
    std::string answer;
    Texts items;
    const char* file;
    std::string content;
  } rows[] = {
      {"board 0", [](LGCP::DisplayParams& d) { montest::Board(d, 0); }, "success",
       {"extBoardTable/extBoardStatus/0=3", "extBoardTable/extBoardSoftVer/0=b7", "extBoardTable/extBoardType/0=3"},
       "/var/monitoring/board0", "3\nb7\n3\n"},
      {"board channel", [](LGCP::DisplayParams& d) { d.select_board().select_boardChannelStatus(); }, "success",
       {}, nullptr, ""},
      {"phone 0", [](LGCP::DisplayParams& d) { Phone(d, 0); }, "success", phone(1), "/var/monitoring/emphone0",
       phoneFile},
      {"phone -1", [](LGCP::DisplayParams& d) { Phone(d, -1); }, "success", phone(0), "/var/monitoring/emphone-1",
       phoneFile},
      {"phone 2147483646", [](LGCP::DisplayParams& d) { Phone(d, 2147483646); }, "success", phone(2147483647),
       nullptr, ""},
      // No row can hold id + 1: refused as invalid, nothing stored.
      {"phone 2147483647", [](LGCP::DisplayParams& d) { Phone(d, 2147483647); }, "error 0", {},
       "/var/monitoring/emphone2147483647", ""},
      {"phone channel", [](LGCP::DisplayParams& d) { d.select_emPhone().select_phoneChannelStatus(); }, "success",
       {}, nullptr, ""},
      {"counter board 2", [](LGCP::DisplayParams& d) { Counter(d, 4, 2, -1); }, "success",
       {"extBoardTermCntTable/extBoardTermCnt/2=4294967295"}, "/var/monitoring/term_cnts/board2", "-1"},
      {"counter without id", [](LGCP::DisplayParams& d) { Counter(d, 4, -1, 5); }, "success",
       {"extBoardTermCntTable/extBoardTermCnt/2=4294967295"}, nullptr, ""},
      {"counter router", [](LGCP::DisplayParams& d) { Counter(d, 1, -1, 6); }, "success",
       {"gatewayTermCounters/routerTermCnt/0=6", "extBoardTermCntTable/extBoardTermCnt/2=4294967295"},
       "/var/monitoring/term_cnts/router", "6"},
      {"counter none", [](LGCP::DisplayParams& d) { Counter(d, 0, -1, 8); }, "success",
       {"gatewayTermCounters/routerTermCnt/0=6", "extBoardTermCntTable/extBoardTermCnt/2=4294967295"}, nullptr, ""},
      {"controller", [](LGCP::DisplayParams& d) {
         auto& c = d.select_controller();
         c.set_host().set_iaddr("10.9.9.9");
         c.set_status(HSP::ControllerStatus::standby);
       }, "success", {"gatewayCommon/controllerStatus/0=0"}, "/var/monitoring/controller/10.9.9.9/status", "3"},
      {"snmp-set", [](LGCP::DisplayParams& d) { d.select_snmp_set().set_commands().push_back(Named("s", 2, "k")); },
       "success", {"s/k/2=v"}, "/var/monitoring/s/2/k", "v"},
  };
  Start();
  for (const Row& r : rows) {
    EXPECT_EQ(r.answer, Display(r.fill)) << r.what;
    EXPECT_EQ(r.items, Take()) << r.what;
    if (r.file) {
      EXPECT_EQ(r.content, Read(r.file)) << r.what;
    }
  }
  // Trap receivers go at once, as one list.
  EXPECT_EQ("success", Display([](LGCP::DisplayParams& d) { d.select_snmpTrapReceivers().push_back("10.1.1.1"); }));
  MON::Message m;
  ASSERT_TRUE(loop.RunUntil([&] { return agent.TakeMessage(m); }));
  ASSERT_EQ(1u, m.get_pdu().get_command().get_snmp_trapsink_set().get_trapsinks().size());
  // The full resend holds each stored phone once, the refused one not at all.
  ctl->OnSnmpAgentConnect("ostr");
  Texts all = Take(false);
  for (int row : {0, 1, 2147483647})
    EXPECT_EQ(1, std::count(all.begin(), all.end(), phone(row)[0])) << row;
  EXPECT_EQ(3u, ctl->data().GetEmPhoneStatus().size());
  // The controller leaves: the board files and statuses go, the phone files
  // stay, and its own status becomes notrun.
  client.Close();
  ASSERT_TRUE(loop.RunUntil([&] { return !acceptor->IsConnected(); }));
  EXPECT_FALSE(std::ifstream(P("/var/monitoring/board0")).good());
  EXPECT_TRUE(ctl->data().GetBoardStatus().empty());
  EXPECT_EQ(phoneFile, Read("/var/monitoring/emphone0"));
  EXPECT_EQ("5", Read("/var/monitoring/controller/self/status"));
  EXPECT_EQ(Texts{"gatewayCommon/controllerStatus/0=5"}, Take());
}

TEST_F(MonCtl, WhatAControllerCanStoreIsBounded) {
  struct Row { const char* what; int limit; std::function<void(LGCP::DisplayParams&, int)> fill; } rows[] = {
      {"phones", 1024, [](LGCP::DisplayParams& d, int i) { Phone(d, i); }},
      {"boards", 1024, [](LGCP::DisplayParams& d, int i) { montest::Board(d, i); }},
      {"counters", 1024, [](LGCP::DisplayParams& d, int i) { Counter(d, 4, i, 1); }},
      {"controllers", 1024,
       [](LGCP::DisplayParams& d, int i) {
         auto& c = d.select_controller();
         c.set_host().set_iaddr("10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256));
         c.set_status(HSP::ControllerStatus::ok);
       }},
      {"snmp-set names", 4096,
       [](LGCP::DisplayParams& d, int i) {
         MON::SnmpSetCommand c = Named("s", 0, "k");
         c.set_id().select_oid("1.3." + std::to_string(i));
         d.select_snmp_set().set_commands().push_back(c);
       }},
  };
  Start();
  for (const Row& r : rows) {
    // The own controller's entry is already there.
    int stored = std::string(r.what) == "controllers" ? 1 : 0;
    {
      // Filled without files: with the folder a plain file every write
      // fails at once, and the values are stored all the same.
      ASSERT_EQ(0, ::rename(P("/var/monitoring").c_str(), P("/var/monitoring.off").c_str()));
      Write("/var/monitoring", "");
      StreamCapture quiet(std::clog);
      for (LGCP::DisplayParams d; stored < 5000; ++stored) {
        r.fill(d, stored);
        if (!ctl->data().setDisplayStatus(d)) break;
      }
      ::unlink(P("/var/monitoring").c_str());
      ASSERT_EQ(0, ::rename(P("/var/monitoring.off").c_str(), P("/var/monitoring").c_str()));
    }
    EXPECT_EQ(r.limit, stored) << r.what;
    StreamCapture log(std::clog);
    EXPECT_EQ("error 1", Display([&](LGCP::DisplayParams& d) { r.fill(d, 5000); })) << r.what;
    EXPECT_NE(std::string::npos, log.text().find(" than the limit of " + std::to_string(r.limit))) << log.text();
    EXPECT_EQ("success", Display([&](LGCP::DisplayParams& d) { r.fill(d, 2); })) << r.what;
  }
  Take();
  // A batch that would pass the limit is refused whole.
  EXPECT_EQ("error 1", Display([](LGCP::DisplayParams& d) {
              auto& cmds = d.select_snmp_set().set_commands();
              cmds.push_back(Named("s", 1, "new"));
              cmds.push_back(Named("s", 1, "new"));
            }));
  EXPECT_FALSE(std::ifstream(P("/var/monitoring/s/1/new")).good());
  EXPECT_EQ(4096u, ctl->data().GetSnmpCommands().get_commands().size());
  EXPECT_TRUE(Take().empty());
}

TEST_F(MonCtl, PowerByteMapsToTheStatusAndChangesAreSignalled) {
  Start();  // the first check at the connect found main (raw 2): two signals
  EXPECT_EQ((std::vector<int>{2, 2}), powers);
  struct Row { int raw, status; bool change; } rows[] = {{0, 3, true}, {3, 3, false}, {1, 1, true}, {2, 2, true}, {4, 0, true}, {255, 0, false}};
  for (const Row& r : rows) {
    powers.clear();
    hal().setPower(uint8_t(r.raw));
    ctl->doPowerCheck();
    EXPECT_EQ(r.status, ctl->data().getPowerStatus().asInt()) << r.raw;
    EXPECT_EQ(r.change ? Texts{"gatewayCommon/powerStatus/0=" + std::to_string(r.status)} : Texts{}, Take());
    Poll(-1);
    EXPECT_EQ(r.change ? std::vector<int>{r.status} : std::vector<int>{}, powers) << r.raw;
  }
  EXPECT_EQ("0", Read("/var/monitoring/powerstatus"));
  // A reconnecting controller with the status unchanged gets one signal.
  powers.clear();
  client.Close();
  ASSERT_TRUE(loop.RunUntil([&] { return !acceptor->IsConnected(); }));
  ASSERT_TRUE(client.Connect(acceptor->bound_port()));
  loop.RunUntil([&] { return Poll(-1), powers.size() > 1; }, 300);
  EXPECT_EQ(std::vector<int>{0}, powers);
}

TEST_F(MonCtl, VersionDriverAndConfigurationTexts) {
  Start();
  // The driver text from the words of the first line.
  struct Driver {
    const char* line;
    const char* text;  // null: not sent
  } drivers[] = {{"voice 1.2 2024-01-01 12:00\nnext", "1.2 [2024-01-01 12:00]"},
                 {"voice  1.2   b7 x y\n", "1.2 [b7 x]"},
                 {"voice 1.2 b7\n", "1.2 [b7]"},
                 {"voice 1.2 b7 \n", "1.2 [b7 ]"},
                 {"voice 1.2\n", "none"},
                 {"", nullptr}};
  for (const Driver& d : drivers) {
    Write("/proc/voice/version", d.line);
    ctl->sendSnmpDriverBuild();
    EXPECT_EQ(d.text ? Texts{std::string("gatewayCommon/driverBuild/0=") + d.text} : Texts{}, Take()) << d.line;
  }
  ::unlink(P("/proc/voice/version").c_str());
  ctl->sendSnmpDriverBuild();
  EXPECT_TRUE(Take().empty());

  // Versions: the first line as read, sent when it changes.
  Write("/var/version", "R9\nsecond");
  Write("/var/fpga-version", "F1");
  ctl->doVersionsCheck();
  EXPECT_EQ((Texts{"statusGeneral/sgBuildVersion/0=R9\n", "statusGeneral/sgFPGAVersion/0=F1"}), Take());
  ctl->doVersionsCheck();
  EXPECT_TRUE(Take().empty());
  Write("/var/u-boot-version", "U2\n");
  Write("/var/board-version", std::string(300, 'b'));
  ctl->doVersionsCheck();
  EXPECT_EQ((Texts{"statusGeneral/sgBootVersion/0=U2\n", "statusGeneral/sgBoardVersion/0=" + std::string(254, 'b')}),
            Take());

  // Configuration archive names: 8 hexadecimal digits of version, any
  // separator, 16 of stamp.
  struct Config {
    const char* name;
    const char* file;  // config_version afterwards
  } configs[] = {{"config.2save.tar.bz2", ""},
                 {"config.2save.tar.bz2.old", ""},
                 {"other.0000002a-00000000000000ff", ""},
                 {"config.0000002a-00000000000000ff", "0000002a-00000000000000ff"},
                 {"config.0000002a-00000000000000ff", ""},  // unchanged: not written
                 {"config.xyz", ""},
                 {"config.0000002B_00000000000001FF.tar", "0000002b-00000000000001ff"},
                 {"config.ffffffff.0000000000000001", "ffffffff-0000000000000001"}};
  for (const Config& c : configs) {
    ASSERT_EQ(0, std::system(("rm -f '" + P("/usr/local/etc") + "'/config* '" + P("/var/monitoring/config_version") +
                              "'").c_str()));
    Write(std::string("/usr/local/etc/") + c.name, "");
    ::mkdir(P("/usr/local/etc/config.00000001-0000000000000001").c_str(), 0755);  // a directory: skipped
    ctl->doConfigCheck();
    EXPECT_EQ(c.file, Read("/var/monitoring/config_version")) << c.name;
    ::rmdir(P("/usr/local/etc/config.00000001-0000000000000001").c_str());
  }
  EXPECT_EQ((Texts{"gatewayCommon/gatewayConfigVersion/0=42", "gatewayCommon/gatewayConfigVersion/0=43",
                   "gatewayCommon/gatewayConfigVersion/0=4294967295"}),
            Take());
}

TEST_F(MonCtl, AgentConnectionsInOnePassCauseOneResendInOrder) {
  Start();
  EXPECT_EQ("success", Display([](LGCP::DisplayParams& d) { d.select_snmpTrapReceivers().push_back("10.1.1.1"); }));
  EXPECT_EQ("success",
            Display([](LGCP::DisplayParams& d) { d.select_snmp_set().set_commands().push_back(Named("s", 2, "k")); }));
  Take();
  ctl->OnSnmpAgentConnect("a");
  ctl->OnSnmpAgentConnect("b");
  EXPECT_TRUE(ctl->resendPending());
  ASSERT_TRUE(loop.RunUntil([&] { return !ctl->resendPending() && !ctl->agents().sendPending(); }));
  std::vector<int> kinds;  // 4 trap receivers, 0 snmp-set
  std::vector<Texts> sets;
  MON::Message m;
  while (agent.TakeMessage(m)) {
    if (agenttest::IsPing(m)) continue;
    kinds.push_back(m.get_pdu().get_command().currentSelection());
    sets.push_back(SetTexts(m));
  }
  ASSERT_EQ(4u, kinds.size());  // receivers, stored commands, the batches of types 2 and 4
  EXPECT_EQ((std::vector<int>{1, 0, 0, 0}), kinds);
  EXPECT_EQ(Texts{"s/k/2=v"}, sets[1]);
  for (int batch : {2, 3}) {
    auto once = [&](const std::string& prefix) {
      return std::count_if(sets[batch].begin(), sets[batch].end(),
                           [&](const std::string& t) { return t.rfind(prefix, 0) == 0; });
    };
    EXPECT_EQ(1, once("gatewayCommon/softwareBuild/0=")) << batch;
    EXPECT_EQ(1, once("gatewayCommon/gatewayDip/0=")) << batch;
  }
}

}  // namespace
