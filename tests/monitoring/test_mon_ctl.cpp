// The monitoring service on the simulated board, with a test agent and a
// test controller link: the E1 LED byte, the check timers, the display
// command (answers, status files, item values, refusals and store limits),
// the power, version, driver and configuration checks, and the single full
// resend per loop pass.
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>

#include "hardware/sim/mon_hal.h"
#include "hardware/sim_env.h"
#include "mon_test_support.h"
#include "monitoring/monitoring_ctl.h"
#include "runtime/test_loop_support.h"
#include "support/e1board_harness.h"

using namespace montest;
using D = LGCP::DisplayParams&;

namespace {

class MonCtl : public SimTest::Fixture {
 protected:
  void SetUp() override {
    SimTest::Fixture::SetUp();
    ASSERT_EQ(0, std::system(("cd '" + P("") + "' && rm -rf var usr proc && mkdir -p var/monitoring usr/local/etc "
                              "proc/voice proc/driver/hdlc/peb22554").c_str()));
    Write("/proc/driver/hdlc/peb22554/0", "");
    hal().reset();
  }
  Sim::MonHalDevice& hal() { return static_cast<Sim::MonHalDevice&>(sim().hal()); }
  std::string P(const std::string& abs) { return SimTest::root() + abs; }
  void Write(const std::string& abs, const std::string& text) { std::ofstream(P(abs)) << text; }
  std::string Read(const std::string& abs) { return slurp(P(abs)); }
  ctltest::Loop& loop() { return bench->loop; }

  // The service with a test agent and a test controller connected, once
  // the controller got its power signals; what the agent got is taken.
  void Start(size_t powerSignals = 2) {
    ctl = std::make_unique<MonitoringCtl>();
    bench = std::make_unique<e1test::Bench>();
    EXPECT_EQ(1, ctl->Configure(*Config({{agent.host(), "ostr"}})));
    bench->Bind(ctl.get());
    ASSERT_TRUE(bench->Start() && bench->Connect());
    ASSERT_TRUE(loop().RunUntil([&] { return Note(bench->Take(0)), agent.TryAccept() || agent.connected(); }));
    ASSERT_TRUE(loop().RunUntil([&] { return Note(bench->Take(0)), powers.size() == powerSignals; }));
    // Every check group runs once now, so that none runs on its own during
    // the test (only the power and DIP checks repeat, every 2000 ms).
    Mux::advanceClock(5000);
    loop().RunFor(5);
    Take();
  }
  // Item texts the agent received once nothing is pending (unique: each
  // text once, though items of both agent types come in both batches);
  // the messages other than pings go to `lines`.
  Texts Take(bool unique = true) {
    EXPECT_TRUE(loop().RunUntil([&] { return !ctl->agents().sendPending() && !ctl->resendPending(); }));
    Texts all;
    lines.clear();
    for (MON::Message m; agent.TakeMessage(m);) {
      if (!IsPing(m)) lines.push_back(Lines({m})[0]);
      for (const auto& t : SetTexts(m))
        if (!unique || std::find(all.begin(), all.end(), t) == all.end()) all.push_back(t);
    }
    return all;
  }
  // Notes the power signals among what the controller got.
  void Note(const e1test::Msgs& ms) {
    for (const auto& m : ms)
      if (m.get_pdu().signal_isSelected() && m.get_pdu().get_signal().power_isSelected())
        powers.push_back(m.get_pdu().get_signal().get_power().asInt());
  }
  // The display command's answer: "success" or "error <cause>".
  std::string Display(const std::function<void(D)>& fill) {
    e1test::Msgs got = bench->Exchange([&](LGCP::Command& c) { fill(c.select_display()); });
    int a = (Note(got), e1test::Answer(got));
    return a == -1 ? "success" : "error " + std::to_string(a);
  }
  static LGCP::FramerInfo Framer(int e1, bool line, bool value) {
    LGCP::FramerInfo f;
    f.set_e1(e1);
    if (line) f.set_info().select_line(value); else f.set_info().select_link(value);
    return f;
  }
  AgentServer agent;
  std::unique_ptr<MonitoringCtl> ctl;
  std::unique_ptr<e1test::Bench> bench;  // after the service: the server goes first
  std::vector<int> powers;
  Texts lines;
};

TEST_F(MonCtl, CheckTimersAndTheLedByte) {
  Mux::mux_settimeofday();  // the clock stands still
  ctl = std::make_unique<MonitoringCtl>();
  auto next = [&] { return std::vector<unsigned>{ctl->bkgCheckIn(), ctl->powerCheckIn(), ctl->controllerCheckIn()}; };
  EXPECT_EQ((std::vector<unsigned>{1000, 2000, 5000}), next());
  EXPECT_EQ(-1, ctl->halDescriptor());  // not opened at construction
  struct Row { int e1; bool line, value; int leds; } rows[] = {
      {0, false, false, 0x01}, {0, false, true, 0x00},
      {2, true, true, 0x30},  // framers above 3 have no bits: the byte is written unchanged
      {4, true, true, 0x30}, {7, false, false, 0x30}, {15, true, true, 0x30}, {16, false, false, 0x30},
      {40, true, true, 0x30},
      {2, false, true, 0x20}, {2, true, false, 0x00}, {0, true, true, 0x03},
      {0, false, true, 0x02}, {0, true, true, 0x02},  // line bit already set: link bit stays clear
      {3, false, false, 0x42}};
  for (const Row& r : rows) {
    ctl->setFramerLed(Framer(r.e1, r.line, r.value));
    EXPECT_EQ(r.leds, hal().leds()) << r.e1 << r.line << r.value;
  }
  EXPECT_EQ(0, hal().ledWrites().front());  // the open switched every LED off
  EXPECT_EQ(15u, hal().ledWrites().size());
  ctl->onBkgCheckTimer(nullptr), ctl->onPowerCheckTimer(nullptr), ctl->onControllerCheckTimer(nullptr);
  EXPECT_EQ((std::vector<unsigned>{60000, 2000, 5000}), next());
  Mux::mux_cleartimeofday();
  ctl.reset();  // at exit the LEDs go off before the descriptor closes
  EXPECT_EQ(0, hal().ledWrites().back());
}

TEST_F(MonCtl, WithoutTheDeviceCommandsAreStillAnsweredAndChecksDoNothing) {
  sim().setPresent("/dev/hal", false);
  Start(1);
  EXPECT_EQ("success", Display([](D d) { d.select_framer(Framer(1, true, true)); }));
  ctl->doPowerCheck(), ctl->doDipCheck();
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

TEST_F(MonCtl, DisplayDataIsAnsweredStoredSentAndResentOncePerPass) {
  const std::string phoneFile = "p1\nc2\nf3\n2\n2\n2\n1\n2\n";
  auto phone = [](int row) {
    Texts t;
    const char* names[] = {"PanelSoftVer=p1", "CtrlSoftVer=c2", "FpgaSoftVer=f3", "Status=2",
                           "PowerStatus=2",   "Mode=2",         "HookStatus=1",   "BaseStatus=2"};
    for (std::string n : names)
      t.push_back("emPhoneTable/emPhone" + n.replace(n.find('='), 1, "/" + std::to_string(row) + "="));
    return t;
  };
  const Texts cnt2{"extBoardTermCntTable/extBoardTermCnt/2=4294967295"};
  const Texts router{"gatewayTermCounters/routerTermCnt/0=6", cnt2[0]};
  struct Row { std::function<void(D)> fill; std::string answer; Texts items; const char *file, *content; } rows[] = {
      {[](D d) { montest::Board(d, 0); }, "success",
       {"extBoardTable/extBoardStatus/0=3", "extBoardTable/extBoardSoftVer/0=b7", "extBoardTable/extBoardType/0=3"},
       "/var/monitoring/board0", "3\nb7\n3\n"},
      {[](D d) { d.select_board().select_boardChannelStatus(); }, "success", {}, nullptr, ""},
      {[](D d) { Phone(d, 0); }, "success", phone(1), "/var/monitoring/emphone0", phoneFile.c_str()},
      {[](D d) { Phone(d, -1); }, "success", phone(0), "/var/monitoring/emphone-1", phoneFile.c_str()},
      {[](D d) { Phone(d, 2147483646); }, "success", phone(2147483647), nullptr, ""},
      // No row can hold id + 1: refused as invalid, nothing stored.
      {[](D d) { Phone(d, 2147483647); }, "error 0", {}, "/var/monitoring/emphone2147483647", ""},
      {[](D d) { d.select_emPhone().select_phoneChannelStatus(); }, "success", {}, nullptr, ""},
      {[](D d) { Counter(d, 4, 2, -1); }, "success", cnt2, "/var/monitoring/term_cnts/board2", "-1"},
      {[](D d) { Counter(d, 4, -1, 5); }, "success", cnt2, nullptr, ""},
      {[](D d) { Counter(d, 1, -1, 6); }, "success", router, "/var/monitoring/term_cnts/router", "6"},
      {[](D d) { Counter(d, 0, -1, 8); }, "success", router, nullptr, ""},
      // Router counters with and without an id keep to the one router entry.
      {[](D d) { Counter(d, 1, 7, 9); }, "success", {"gatewayTermCounters/routerTermCnt/0=9", cnt2[0]}, nullptr, ""},
      {[](D d) { Counter(d, 1, -1, 11); }, "success", {"gatewayTermCounters/routerTermCnt/0=11", cnt2[0]},
       "/var/monitoring/term_cnts/router", "11"},
      {[](D d) { Controller(d, "10.9.9.9", HSP::ControllerStatus::standby); }, "success",
       {"gatewayCommon/controllerStatus/0=0"}, "/var/monitoring/controller/10.9.9.9/status", "3"},
      {[](D d) { d.select_snmp_set().set_commands().push_back(Named("s", 2, "k")); }, "success", {"s/k/2=v"},
       "/var/monitoring/s/2/k", "v"},
  };
  Start();
  for (const Row& r : rows) {
    EXPECT_EQ(r.answer, Display(r.fill)) << &r - rows;
    EXPECT_EQ(r.items, Take()) << &r - rows;
    EXPECT_EQ(r.content, r.file ? Read(r.file) : r.content) << &r - rows;
  }
  // Trap receivers go at once, as one list.
  EXPECT_EQ("success", Display([](D d) { d.select_snmpTrapReceivers().push_back("10.1.1.1"); }));
  Take();
  EXPECT_EQ(Texts{"sinks 10.1.1.1"}, lines);
  // Two agent connections in one pass: one resend of the receivers, the
  // stored commands, then the batches of types 2 and 4, each holding every
  // item once: each stored phone, not the refused one.
  ctl->OnSnmpAgentConnect("a");
  ctl->OnSnmpAgentConnect("b");
  EXPECT_TRUE(ctl->resendPending());
  Texts all = Take(false);
  for (std::string& l : lines) l.resize(l.find(' '));
  EXPECT_EQ((Texts{"sinks", "set", "set", "set"}), lines);
  for (const std::string& once : {phone(0)[0], phone(1)[0], phone(2147483647)[0], std::string("s/k/2=v")})
    EXPECT_EQ(1, std::count(all.begin(), all.end(), once)) << once;
  for (const char* item : {"gatewayCommon/softwareBuild/0=", "gatewayCommon/gatewayDip/0="})
    EXPECT_EQ(2, std::count_if(all.begin(), all.end(), [&](const std::string& t) { return !t.rfind(item, 0); }));
  EXPECT_EQ(3u, ctl->data().GetEmPhoneStatus().size());
  // The controller leaves: the board files and statuses go, the phone files
  // stay, and its own status becomes notrun.
  ASSERT_TRUE(bench->Disconnect());
  EXPECT_FALSE(std::ifstream(P("/var/monitoring/board0")).good());
  EXPECT_TRUE(ctl->data().GetBoardStatus().empty());
  EXPECT_EQ(phoneFile, Read("/var/monitoring/emphone0"));
  EXPECT_EQ("5", Read("/var/monitoring/controller/self/status"));
  EXPECT_EQ(Texts{"gatewayCommon/controllerStatus/0=5"}, Take());
}

// The board's own address written three ways: "a.b.c.d", "a.N" and "0xA.N"
// ("127.0.0.1", "127.1", "0x7f.1").
Texts OwnSpellings(const INet4::Addr& own) {
  const unsigned h = own.host_order();
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%x.", h >> 24);
  const std::string low = std::to_string(h & 0xFFFFFF);
  return {own.GetStrAddr(), std::to_string(h >> 24) + "." + low, hex + low};
}

TEST_F(MonCtl, WhatAControllerCanStoreIsBounded) {
  Start();
  const Texts own = OwnSpellings(ctl->data().getSelfHostAddress());
  struct Row { int limit, first; std::function<void(D, int)> fill; } rows[] = {
      {1024, 0, [](D d, int i) { Phone(d, i); }},
      {1024, 0, [](D d, int i) { montest::Board(d, i); }},
      // A router entry without an id is already there.
      {1024, 1, [](D d, int i) { Counter(d, 4, i, 1); }},
      // The own controller's entry (port 0) is already there.
      {1024, 1, [](D d, int i) { Controller(d, "10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256),
                                            HSP::ControllerStatus::ok); }},
      // Past the bound the own address still has places, 16 in all, however
      // it is written and whatever the port.
      {16, 1, [&](D d, int i) { Controller(d, own[i % 3], HSP::ControllerStatus::ok, i); }},
      {4096, 0, [](D d, int i) {
         MON::SnmpSetCommand c = Named("s", 0, "k");
         c.set_id().select_oid("1.3." + std::to_string(i));
         d.select_snmp_set().set_commands().push_back(c);
       }},
  };
  EXPECT_EQ("success", Display([](D d) { Counter(d, 1, -1, 5); }));
  for (const Row& r : rows) {
    int stored = r.first;
    // Filled without files: with the folder a plain file every write fails
    // at once, and the values are stored all the same.
    ASSERT_EQ(0, ::rename(P("/var/monitoring").c_str(), P("/var/monitoring.off").c_str()));
    Write("/var/monitoring", "");
    {
      StreamCapture quiet(std::clog);
      for (LGCP::DisplayParams d; stored < 5000; ++stored)
        if (r.fill(d, stored), !ctl->data().setDisplayStatus(d)) break;
    }
    ::unlink(P("/var/monitoring").c_str());
    ASSERT_EQ(0, ::rename(P("/var/monitoring.off").c_str(), P("/var/monitoring").c_str()));
    EXPECT_EQ(r.limit, stored) << &r - rows;
    StreamCapture log(std::clog);
    EXPECT_EQ("error 1", Display([&](D d) { r.fill(d, 5000); })) << &r - rows;
    EXPECT_NE(std::string::npos, log.text().find(" than the limit of " + std::to_string(r.limit))) << log.text();
    EXPECT_EQ("success", Display([&](D d) { r.fill(d, 2); })) << &r - rows;
  }
  EXPECT_EQ("success", Display([](D d) { Counter(d, 1, 7, 9); }));  // the router entry takes it
  // A stored address and port written another way is the same entry: no
  // new place, no change.
  for (const std::string& host : own) {
    EXPECT_EQ("success", Display([&](D d) { Controller(d, host, HSP::ControllerStatus::ok, 2); })) << host;
    LGCP::DisplayParams d;
    Controller(d, host, HSP::ControllerStatus::ok, 3);
    EXPECT_FALSE(ctl->data().setControllerStatus(d.get_controller())) << host;
  }
  Take();
  // A batch that would pass the limit is refused whole.
  EXPECT_EQ("error 1", Display([](D d) {
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
  struct Row { int raw, status; bool change; } rows[] = {
      {0, 3, true}, {3, 3, false}, {1, 1, true}, {2, 2, true}, {4, 0, true}, {255, 0, false}};
  for (const Row& r : rows) {
    powers.clear();
    hal().setPower(uint8_t(r.raw));
    ctl->doPowerCheck();
    EXPECT_EQ(r.status, ctl->data().getPowerStatus().asInt()) << r.raw;
    EXPECT_EQ(r.change ? Texts{"gatewayCommon/powerStatus/0=" + std::to_string(r.status)} : Texts{}, Take());
    Note(bench->Take(0));
    EXPECT_EQ(r.change ? std::vector<int>{r.status} : std::vector<int>{}, powers) << r.raw;
  }
  EXPECT_EQ("0", Read("/var/monitoring/powerstatus"));
  // A reconnecting controller with the status unchanged gets one signal.
  powers.clear();
  ASSERT_TRUE(bench->Disconnect() && bench->Connect());
  loop().RunUntil([&] { return Note(bench->Take(0)), powers.size() > 1; }, 300);
  EXPECT_EQ(std::vector<int>{0}, powers);
}

TEST_F(MonCtl, VersionDriverAndConfigurationTexts) {
  Start();
  // The driver text from the words of the first line (null: not sent).
  const std::pair<const char*, const char*> drivers[] = {
      {"voice 1.2 2024-01-01 12:00\nnext", "1.2 [2024-01-01 12:00]"}, {"voice  1.2   b7 x y\n", "1.2 [b7 x]"},
      {"voice 1.2 b7\n", "1.2 [b7]"}, {"voice 1.2 b7 \n", "1.2 [b7 ]"}, {"voice 1.2\n", "none"}, {"", nullptr},
      {nullptr, nullptr}};  // no file
  for (const auto& d : drivers) {
    if (d.first) Write("/proc/voice/version", d.first);
    else ::unlink(P("/proc/voice/version").c_str());
    ctl->sendSnmpDriverBuild();
    EXPECT_EQ(d.second ? Texts{std::string("gatewayCommon/driverBuild/0=") + d.second} : Texts{}, Take());
  }
  // Versions: the first line as read, at most 254 bytes, sent when it changes.
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
  // separator, 16 of stamp; config_version afterwards.
  const std::pair<const char*, const char*> configs[] = {
      {"config.2save.tar.bz2", ""}, {"config.2save.tar.bz2.old", ""}, {"other.0000002a-00000000000000ff", ""},
      {"config.0000002a-00000000000000ff", "0000002a-00000000000000ff"},
      {"config.0000002a-00000000000000ff", ""},  // unchanged: not written
      {"config.xyz", ""}, {"config.0000002B_00000000000001FF.tar", "0000002b-00000000000001ff"},
      {"config.ffffffff.0000000000000001", "ffffffff-0000000000000001"}};
  const std::string dir = P("/usr/local/etc/config.00000001-0000000000000001");  // a directory: skipped
  for (const auto& c : configs) {
    ASSERT_EQ(0, std::system(("rm -f '" + P("/usr/local/etc") + "'/config* '" + P("/var/monitoring/config_version") +
                              "'").c_str()));
    Write(std::string("/usr/local/etc/") + c.first, "");
    ::mkdir(dir.c_str(), 0755);
    ctl->doConfigCheck();
    EXPECT_EQ(c.second, Read("/var/monitoring/config_version")) << c.first;
    ::rmdir(dir.c_str());
  }
  EXPECT_EQ((Texts{"gatewayCommon/gatewayConfigVersion/0=42", "gatewayCommon/gatewayConfigVersion/0=43",
                   "gatewayCommon/gatewayConfigVersion/0=4294967295"}),
            Take());
  // The folder stays the working directory; once it is gone the check
  // stops without a word and the stored version stays.
  char etc[PATH_MAX], cwd[PATH_MAX];
  ASSERT_TRUE(::realpath(P("/usr/local/etc").c_str(), etc) && ::getcwd(cwd, sizeof cwd));
  EXPECT_STREQ(etc, cwd);
  ASSERT_EQ(0, std::system(("rm -rf '" + P("/usr/local/etc") + "'").c_str()));
  StreamCapture log(std::clog);
  ctl->doConfigCheck();
  EXPECT_EQ("", log.text());
  EXPECT_EQ(0xffffffffu, ctl->data().getConfigVersion());
}

}  // namespace
