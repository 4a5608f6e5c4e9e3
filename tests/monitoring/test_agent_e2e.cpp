// The real daemon on the simulated board with a test SNMP agent configured
// in "[snmpagent]": it connects, resends every item, sends changes found by
// its checks (loop clock driven through the board's control socket), pings,
// drops a silent agent and comes back.
#include <gtest/gtest.h>

#include <algorithm>

#include "mon_test_support.h"
#include "support/startup_harness.h"

using namespace startup_test;

TEST(AgentE2E, ConnectsResendsPingsAndDropsASilentAgent) {
  TempRoot root;
  montest::AgentServer agent;
  root.config("[snmpagent]\nhost = " + agent.host() + "\nname = ostr\n");
  writeFile(root / "/var/version", "R9\n");
  writeFile(root / "/usr/local/etc/config.0000002a-00000000000000ff", "");
  Daemon daemon(root, {"--port", std::to_string(freePort())});
  ASSERT_TRUE(root.loopRunning()) << daemon.err();
  auto log = [&] { return daemon.out() + daemon.err(); };
  auto logged = [&](const std::string& t) { return waitFor([&] { return countOf(log(), t) > 0; }, 30000); };
  auto clock = [&](int ms) { return simCommand(root, "clock " + std::to_string(ms)).find("ok") != std::string::npos; };
  // What the agent got, as item texts; whether a ping came.
  montest::Texts texts;
  bool ping = false;
  auto pump = [&] {
    for (MON::Message m; agent.TakeMessage(m);) {
      ping = ping || montest::IsPing(m);
      for (const auto& t : montest::SetTexts(m)) texts.push_back(t);
    }
  };
  // Waits for an item text received after the first `from` ones.
  auto await = [&](const std::string& want, std::size_t from) {
    return waitFor([&] { return pump(), std::find(texts.begin() + from, texts.end(), want) != texts.end(); }, 30000);
  };

  ASSERT_TRUE(waitFor([&] { return agent.TryAccept(); }, 30000)) << log();
  ASSERT_TRUE(await("gatewayCommon/gatewayDip/0=4294967295", 0)) << log();
  EXPECT_TRUE(logged("snmpagent.ostr " + agent.host() + ": connected."));

  // The checks run as the loop clock moves: versions and configuration at
  // 1000 ms, power and DIP at 2000 ms.
  std::size_t mark = texts.size();
  ASSERT_NE(std::string::npos, simCommand(root, "dip 5").find("ok"));
  ASSERT_TRUE(clock(2000));
  EXPECT_TRUE(await("statusGeneral/sgBuildVersion/0=R9\n", mark)) << log();
  EXPECT_TRUE(await("gatewayCommon/gatewayDip/0=5", mark)) << log();
  EXPECT_TRUE(waitFor([&] { return readFile(root / "/var/monitoring/dip") == "5"; }));
  EXPECT_EQ("2", readFile(root / "/var/monitoring/powerstatus"));
  EXPECT_EQ("0000002a-00000000000000ff", readFile(root / "/var/monitoring/config_version"));

  // Quiet for 5000 ms: a ping. The agent never answers: at the first send
  // after 30000 ms of silence the daemon drops the link.
  pump();
  ping = false;
  ASSERT_TRUE(clock(5000));
  EXPECT_TRUE(waitFor([&] { return pump(), ping; }, 30000));
  EXPECT_FALSE(agent.Eof());
  ASSERT_TRUE(clock(26000) && clock(5000));
  EXPECT_TRUE(waitFor([&] { return agent.Eof(); }, 30000)) << log();
  EXPECT_TRUE(logged(": connection lost, reset snmpagent instance"));

  // It comes back 10000 ms later and gets everything again, current values
  // included.
  agent.Drop();
  mark = texts.size();
  ASSERT_TRUE(clock(10000));
  ASSERT_TRUE(waitFor([&] { return agent.TryAccept(); }, 30000)) << log();
  EXPECT_TRUE(await("gatewayCommon/gatewayDip/0=5", mark)) << log();
  EXPECT_EQ(2, agent.accepted());
  EXPECT_EQ(0, daemon.stop()) << daemon.err();
}
