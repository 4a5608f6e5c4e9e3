// The real daemon on the simulated board with a test SNMP agent configured
// in "[snmpagent]": it connects, resends every item, sends changes found by
// its checks (loop clock driven through the board's control socket), pings,
// drops a silent agent and comes back.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/startup_harness.h"
#include "test_agent_server.h"

namespace {

TEST(AgentE2E, ConnectsResendsPingsAndDropsASilentAgent) {
  startup_test::TempRoot root;
  agenttest::AgentServer agent;
  root.config("[snmpagent]\nhost = " + agent.host() + "\nname = ostr\n");
  startup_test::writeFile(root / "/var/version", "R9\n");
  startup_test::writeFile(root / "/usr/local/etc/config.0000002a-00000000000000ff", "");
  startup_test::Daemon daemon(root, {"--port", std::to_string(startup_test::freePort())});
  ASSERT_TRUE(root.loopRunning()) << daemon.err();
  auto log = [&] { return daemon.out() + daemon.err(); };
  auto logged = [&](const std::string& text) {
    return startup_test::waitFor([&] { return log().find(text) != std::string::npos; }, 30000);
  };
  auto clock = [&](int ms) { return startup_test::simCommand(root, "clock " + std::to_string(ms)); };
  std::vector<std::string> texts;
  bool ping = false;
  auto pump = [&] {
    MON::Message m;
    while (agent.TakeMessage(m)) {
      ping = ping || agenttest::IsPing(m);
      for (const auto& t : agenttest::SetTexts(m)) texts.push_back(t);
    }
  };
  // Waits for an item text received after the first `from` ones.
  auto await = [&](const std::string& want, std::size_t from) {
    return agenttest::WaitUntil(
        [&] { return pump(), std::find(texts.begin() + from, texts.end(), want) != texts.end(); }, 30000);
  };

  ASSERT_TRUE(agenttest::WaitUntil([&] { return agent.TryAccept(); }, 30000)) << log();
  ASSERT_TRUE(await("gatewayCommon/gatewayDip/0=4294967295", 0)) << log();
  auto builds = [&] {
    return std::count_if(texts.begin(), texts.end(),
                         [](const std::string& s) { return s.rfind("gatewayCommon/softwareBuild/0=", 0) == 0; });
  };
  EXPECT_TRUE(agenttest::WaitUntil([&] { return pump(), builds() >= 2; }, 30000));
  EXPECT_EQ(2, builds());  // once in each agent type's batch
  EXPECT_TRUE(logged("snmpagent.ostr " + agent.host() + ": connected."));

  // The checks run as the loop clock moves: versions and configuration at
  // 1000 ms, power and DIP at 2000 ms.
  std::size_t mark = texts.size();
  ASSERT_NE(std::string::npos, startup_test::simCommand(root, "dip 5").find("ok"));
  ASSERT_NE(std::string::npos, clock(2000).find("ok"));
  EXPECT_TRUE(await("statusGeneral/sgBuildVersion/0=R9\n", mark)) << log();
  EXPECT_TRUE(await("gatewayCommon/gatewayDip/0=5", mark)) << log();
  EXPECT_TRUE(startup_test::waitFor([&] { return startup_test::readFile(root / "/var/monitoring/dip") == "5"; }));
  EXPECT_EQ("2", startup_test::readFile(root / "/var/monitoring/powerstatus"));
  EXPECT_EQ("0000002a-00000000000000ff", startup_test::readFile(root / "/var/monitoring/config_version"));

  // Quiet for 5000 ms: a ping. The agent never answers: at the first send
  // after 30000 ms of silence the daemon drops the link.
  pump();
  ping = false;
  ASSERT_NE(std::string::npos, clock(5000).find("ok"));
  EXPECT_TRUE(agenttest::WaitUntil([&] { return pump(), ping; }, 30000));
  EXPECT_FALSE(agent.Eof());
  ASSERT_NE(std::string::npos, clock(26000).find("ok"));
  ASSERT_NE(std::string::npos, clock(5000).find("ok"));
  EXPECT_TRUE(agenttest::WaitUntil([&] { return agent.Eof(); }, 30000)) << log();
  EXPECT_TRUE(logged(": ping timeout !!! now="));
  EXPECT_TRUE(logged(": connection lost, reset snmpagent instance"));

  // It comes back 10000 ms later and gets everything again, current values
  // included.
  agent.Drop();
  mark = texts.size();
  ASSERT_NE(std::string::npos, clock(10000).find("ok"));
  ASSERT_TRUE(agenttest::WaitUntil([&] { return agent.TryAccept(); }, 30000)) << log();
  EXPECT_TRUE(await("gatewayCommon/gatewayDip/0=5", mark)) << log();
  EXPECT_EQ(2, agent.accepted());
  EXPECT_EQ(0, daemon.stop()) << daemon.err();
}

}  // namespace
