// The real daemon on the simulated board with a stand-in T.38 engine: the
// capacity in the resource report, a create starting the engine on a
// channel switched to a timeslot (data passes through the engine), the
// engine's end as an abort signal, destroy stopping the engine.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <sstream>

#include "support/e1board_harness.h"
#include "slots_test_support.h"
#include "support/t38_standin.h"

namespace {

using e1test::Answer;
using e1test::Msgs;
using Fill = std::function<void(LGCP::Command&)>;

constexpr int kOk = -1;

class T38Daemon : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(d.Ready()) << d.log();
    root_ = RootOf(d.daemon().pid());
    ASSERT_FALSE(root_.empty());
    t38test::InstallEngine(root_);
    ASSERT_TRUE(d.Attach()) << d.log();
  }
  // The daemon's root folder, from its environment.
  static std::string RootOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
    for (std::string var; std::getline(in, var, '\0');)
      if (var.rfind("TESSAROD_ROOT=", 0) == 0) return var.substr(14);
    return "";
  }
  int Ask(unsigned slot, const Fill& fill) {
    LGCP::Message m = e1test::CommandMsg(++seq_, fill);
    m.set_slot(slot);
    d.Clear();
    EXPECT_TRUE(e1test::Send(d.ctl, m));
    d.Wait([](const Msgs& ms) { return Answer(ms) != -2; });
    return Answer(d.Received());
  }
  static void T38(LGCP::Command& c) {
    LGCP::T38Soft& p = c.select_create().select_t38soft();
    p.set_dhost().set_iaddr().assign("192.168.7.9");
    p.set_dhost().set_port(6000);
    p.set_shost().set_iaddr().assign("0.0.0.0");
    p.set_shost().set_port(6002);
    p.set_rx_packet_size(120);
    p.set_rx_threshold(2);
    p.set_tx_threshold(2);
    p.set_args().push_back(ASN1::IA5String("--verbose"));
  }
  // Signals of one slot, as "<slot> <description>"; aborts as "<slot> abort <code>".
  static std::vector<std::string> Signals(const Msgs& ms) {
    std::vector<std::string> v;
    for (const auto& m : ms) {
      if (!m.get_pdu().signal_isSelected()) continue;
      const LGCP::Signal& s = m.get_pdu().get_signal();
      std::string slot = m.slot_isPresent() ? std::to_string(m.get_slot().getValue()) : "-";
      v.push_back(slot + " " +
                  (s.abort_isSelected() ? "abort " + std::to_string(s.get_abort().getValue()) : slottest::Describe(s)));
    }
    return v;
  }
  int Instances() {
    d.Clear();
    EXPECT_TRUE(e1test::Send(d.ctl, e1test::CommandMsg(++seq_, [](LGCP::Command& c) { c.select_query(); })));
    const LGCP::Resources* r = nullptr;
    d.Wait([&](const Msgs& ms) {
      for (const auto& m : ms)
        if (m.get_pdu().signal_isSelected() && m.get_pdu().get_signal().query_isSelected())
          r = &m.get_pdu().get_signal().get_query();
      return r != nullptr;
    });
    return r ? r->get_t38_instances().getValue() : -1;
  }
  // The pid of the engine the daemon started last; 0 when none.
  int EnginePid() {
    std::string log = d.log();
    std::size_t p = log.rfind("t38 daemon[");
    return p == std::string::npos ? 0 : std::atoi(log.c_str() + p + 11);
  }

  e1test::DaemonBench d;
  std::string root_;
  int seq_ = 0;
};

TEST_F(T38Daemon, AnEngineRelaysItsChannelAndStopsOnDestroy) {
  t38test::Set(root_, "instances", "6\n");
  EXPECT_EQ(Instances(), 6);

  ASSERT_EQ(d.Sim("mcc-next 1500"), "ok\n");
  t38test::Set(root_, "mode", "echo");
  ASSERT_EQ(Ask(9, T38), kOk);
  d.Wait([](const Msgs& ms) { return Signals(ms).size() >= 2; });
  EXPECT_EQ(Signals(d.Received()), (std::vector<std::string>{"9 transmitter active 1500", "9 receiver active 1500"}));
  ASSERT_TRUE(startup_test::waitFor([&] { return !t38test::Args(root_).empty(); }));
  EXPECT_EQ(t38test::Args(root_), (std::vector<std::string>{"--child", "--remote", "192.168.7.9/6000/6002", "--verbose"}));
  EXPECT_NE(d.Sim("channels").find("1500 type 2 "), std::string::npos) << d.Sim("channels");

  // Timeslot 0/5 both ways with the engine, which sends back what it gets.
  ASSERT_EQ(Ask(4, [](LGCP::Command& c) {
              LGCP::TrunkParams& p = c.select_create().select_trunk();
              p.set_trunk(0);
              p.set_timeslot(5);
            }), kOk);
  ASSERT_EQ(Ask(4, [](LGCP::Command& c) { c.select_connect(9); }), kOk);
  ASSERT_EQ(Ask(9, [](LGCP::Command& c) { c.select_connect(4); }), kOk);
  EXPECT_EQ(d.Sim("inject 5 6661782070616765"), "outputs 1\nok\n");
  EXPECT_TRUE(startup_test::waitFor([&] { return d.Sim("frames 5") == "6661782070616765\nok\n"; }));

  const int pid = EnginePid();
  ASSERT_GT(pid, 0);
  ASSERT_EQ(Ask(9, [](LGCP::Command& c) { c.select_destroy(); }), kOk);
  EXPECT_TRUE(startup_test::waitFor([&] { return ::kill(pid, 0) != 0; })) << "engine still running";
  EXPECT_TRUE(startup_test::waitFor([&] { return d.Sim("channels").find("1500 ") == std::string::npos; }))
      << d.Sim("channels");
  // The slot is gone: the loop reaps the engine; nobody reports it.
  const std::string reaped = "terminate child process, pid=" + std::to_string(pid) + " status=15";
  EXPECT_TRUE(startup_test::waitFor([&] { return d.log().find(reaped) != std::string::npos; })) << d.log();
  EXPECT_EQ(d.log().find("t38 daemon terminated by signal"), std::string::npos);
}

TEST_F(T38Daemon, AnEngineThatEndsIsReportedAsAbort) {
  t38test::Set(root_, "mode", "exit 4");
  ASSERT_EQ(Ask(3, T38), kOk);
  d.Wait([](const Msgs& ms) { return Signals(ms).size() >= 3; });
  EXPECT_EQ(Signals(d.Received()).back(), "3 abort 1024");
  EXPECT_TRUE(startup_test::waitFor([&] { return d.log().find("t38 daemon terminated with code=4") != std::string::npos; }))
      << d.log();
  // The slot stays until the controller destroys it.
  EXPECT_EQ(Ask(3, [](LGCP::Command& c) { c.select_destroy(); }), kOk);
}

}  // namespace
