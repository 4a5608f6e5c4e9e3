// The real daemon on the simulated board with a test SNMP agent configured
// in "[snmpagent]": it connects, resends every item, sends changes found by
// its checks (loop clock driven through the board's control socket), pings,
// drops a silent agent and comes back; the controller's display commands
// write the status files and drive the LEDs, and its link brings the power
// signal.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "control/control_test_support.h"
#include "control/lgcp_codec.h"
#include "support/startup_harness.h"
#include "test_agent_server.h"

using agenttest::AgentServer;
using agenttest::IsPing;
using agenttest::SetTexts;
using ctltest::Bytes;
using ctltest::Client;

namespace {

class AgentE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    root.config("[snmpagent]\nhost = " + agent.host() + "\nname = ostr\n");
    startup_test::writeFile(root / "/var/version", "R9\n");
    startup_test::writeFile(root / "/usr/local/etc/config.0000002a-00000000000000ff", "");
    port = static_cast<unsigned short>(startup_test::freePort());
    daemon.reset(new startup_test::Daemon(root, {"--port", std::to_string(port)}));
    ASSERT_TRUE(root.loopRunning()) << daemon->err();
  }
  void TearDown() override { EXPECT_EQ(0, daemon->stop()) << daemon->err(); }

  std::string Sim(const std::string& line) { return startup_test::simCommand(root, line); }
  std::string Log() { return daemon->out() + daemon->err(); }
  bool Accept() {
    return agenttest::WaitUntil([&] { return agent.TryAccept(); });
  }
  // Collects item texts until one received since the last Mark() equals
  // `want`.
  bool Await(const std::string& want, int ms = 10000) {
    return agenttest::WaitUntil(
        [&] {
          MON::Message m;
          while (agent.TakeMessage(m))
            for (const auto& t : SetTexts(m)) texts.push_back(t);
          return std::find(texts.begin() + mark, texts.end(), want) != texts.end();
        },
        ms);
  }
  void Mark() { mark = texts.size(); }
  bool AwaitPing() {
    return agenttest::WaitUntil([&] {
      MON::Message m;
      while (agent.TakeMessage(m))
        if (IsPing(m)) return true;
      return false;
    });
  }
  std::string File(const std::string& abs) { return startup_test::readFile(root / abs); }
  bool Exists(const std::string& abs) { return startup_test::exists(root / abs); }

  startup_test::TempRoot root;
  AgentServer agent;
  unsigned short port = 0;
  std::unique_ptr<startup_test::Daemon> daemon;
  std::vector<std::string> texts;
  std::size_t mark = 0;
};

TEST_F(AgentE2E, ConnectsResendsPingsAndDropsASilentAgent) {
  ASSERT_TRUE(Accept()) << Log();
  ASSERT_TRUE(Await("gatewayCommon/gatewayDip/0=4294967295")) << Log();
  EXPECT_TRUE(std::any_of(texts.begin(), texts.end(),
                          [](const std::string& s) { return s.rfind("gatewayCommon/softwareBuild/0=", 0) == 0; }));
  EXPECT_TRUE(startup_test::waitFor([&] { return Log().find("snmpagent.ostr " + agent.host() + ": connected.") !=
                                                 std::string::npos; }));

  // The checks run as the loop clock moves: versions and configuration at
  // 1000 ms, power and DIP at 2000 ms.
  Mark();
  ASSERT_NE(std::string::npos, Sim("dip 5").find("ok"));
  ASSERT_NE(std::string::npos, Sim("clock 2000").find("ok"));
  EXPECT_TRUE(Await("statusGeneral/sgBuildVersion/0=R9\n")) << Log();
  EXPECT_TRUE(Await("gatewayCommon/gatewayDip/0=5")) << Log();
  EXPECT_TRUE(startup_test::waitFor([&] { return File("/var/monitoring/dip") == "5"; }));
  EXPECT_EQ("2", File("/var/monitoring/powerstatus"));
  EXPECT_EQ("0000002a-00000000000000ff", File("/var/monitoring/config_version"));

  // Quiet for 5000 ms: a ping. The agent never answers: at the first send
  // after 30000 ms of silence the daemon drops the link.
  ASSERT_NE(std::string::npos, Sim("clock 5000").find("ok"));
  EXPECT_TRUE(AwaitPing());
  EXPECT_FALSE(agent.Eof());
  ASSERT_NE(std::string::npos, Sim("clock 26000").find("ok"));
  ASSERT_NE(std::string::npos, Sim("clock 5000").find("ok"));
  EXPECT_TRUE(agenttest::WaitUntil([&] { return agent.Eof(); })) << Log();
  EXPECT_TRUE(startup_test::waitFor([&] { return Log().find(": ping timeout !!! now=") != std::string::npos; }));
  EXPECT_TRUE(startup_test::waitFor(
      [&] { return Log().find(": connection lost, reset snmpagent instance") != std::string::npos; }));

  // It comes back 10000 ms later and gets everything again, current values
  // included.
  agent.Drop();
  Mark();
  ASSERT_NE(std::string::npos, Sim("clock 10000").find("ok"));
  ASSERT_TRUE(Accept()) << Log();
  EXPECT_TRUE(Await("gatewayCommon/gatewayDip/0=5")) << Log();
  EXPECT_EQ(2, agent.accepted());
}

TEST_F(AgentE2E, ControllerDisplayCommandsAndThePowerSignal) {
  ASSERT_TRUE(Accept()) << Log();
  Client c;
  ASSERT_TRUE(startup_test::waitFor([&] { return c.Connect(port); }));

  auto send = [&](const LGCP::Message& m) {
    std::vector<char> out;
    ASSERT_TRUE(LgcpCodec::Encode(m, out));
    c.SendFrame(Bytes(out.begin(), out.end()));
  };
  // Waits for the response to seq, noting a power signal on the way.
  bool power = false;
  auto answer = [&](int seq) {
    bool ok = false;
    startup_test::waitFor([&] {
      Bytes p;
      while (c.TakeFrame(p)) {
        LGCP::Message m;
        if (!LgcpCodec::Decode(reinterpret_cast<const char*>(p.data()),
                               reinterpret_cast<const char*>(p.data() + p.size()), m))
          continue;
        if (m.get_pdu().signal_isSelected() && m.get_pdu().get_signal().power_isSelected())
          power = power || m.get_pdu().get_signal().get_power().is_main();
        if (m.get_pdu().response_isSelected() && m.seq_isPresent() && m.get_seq().getValue() == seq)
          ok = m.get_pdu().get_response().success_isSelected();
      }
      return ok;
    });
    return ok;
  };

  LGCP::Message board;
  board.set_seq(1);
  auto& bs = board.set_pdu().select_command().select_display().select_board().select_boardStatus();
  bs.set_position(3);
  bs.set_version(std::vector<char>{'b', '7'});
  bs.set_status(LGCP::ExtBoardStatus::ready);
  bs.set_type(LGCP::ExtBoardType::ffe);
  send(board);
  ASSERT_TRUE(answer(1)) << Log();
  EXPECT_TRUE(power);  // sent when the controller connected
  EXPECT_EQ("3\nb7\n3\n", File("/var/monitoring/board3"));
  EXPECT_TRUE(Await("extBoardTable/extBoardSoftVer/3=b7"));

  LGCP::Message led;
  led.set_seq(2);
  auto& fr = led.set_pdu().select_command().select_display().select_framer();
  fr.set_e1(2);
  fr.set_info().select_line(true);
  send(led);
  ASSERT_TRUE(answer(2));
  EXPECT_NE(std::string::npos, Sim("leds").find("48\nok"));

  // The controller at the board's own address becomes "notrun" until the
  // controller link is seen by the 5000 ms check; then its stored status.
  ASSERT_NE(std::string::npos, Sim("clock 5000").find("ok"));
  EXPECT_TRUE(startup_test::waitFor([&] { return Exists("/var/monitoring/controller/self/status"); }));

  // The controller leaves: the board files go.
  c.Close();
  EXPECT_TRUE(startup_test::waitFor([&] { return !Exists("/var/monitoring/board3"); })) << Log();
  EXPECT_TRUE(startup_test::waitFor([&] { return File("/var/monitoring/controller/self/status") == "5"; }));
}

}  // namespace
