// The SNMP agent link and the agent controller against a test agent on a
// real TCP socket, with the loop clock driven: configuration of the link,
// connection and notify, pings, the silence limit, received payloads, and
// the batching, uniq numbering and fan-out of monitoring item values.
#include <gtest/gtest.h>

#include <memory>

#define CTLTEST_SOCKET_FAKES
#include "control/control_test_support.h"
#include "mon_test_support.h"
#include "monitoring/snmp_agent.h"
#include "monitoring/snmp_agent_ctrl.h"
#include "runtime/os/clock.h"
#include "runtime/test_loop_support.h"

using namespace montest;

namespace {

IniFile::SubSection& First(IniFile::File& f) { return *(*f["snmpagent"]).begin(); }

MON::Command Ping() { return MON::Command(MON::Command::ping::Id(), ASN1::Null()); }

struct Notify : ISnmpAgentNotify {
  void OnSnmpAgentConnect(const std::string& name) override { names.push_back(name); }
  Texts names;
};

TEST(AgentLinkConfig, StateAddressTypeAndLogPrefix) {
  AgentServer srv;
  const std::string host = srv.host(), prefix = "snmpagent.ostr " + host;
  struct Row { const char *host, *name; int state, type; const char* prefix; /* null: no connector */ } rows[] = {
      {"10.0.0.7", "ostr", 0, 2, nullptr},  // no port
      {"127.0.0.1:", "vorkgw.vm", 1, 4, "snmpagent.vorkgw.vm 127.0.0.1:0"},
      {"127.0.0.1:9", "2", 1, 2, "snmpagent.2 127.0.0.1:9"},
      {"127.0.0.1:9", "0x4", 1, 4, "snmpagent.0x4 127.0.0.1:9"},
      {"127.0.0.1:9", "0x10", 1, 16, "snmpagent.0x10 127.0.0.1:9"},  // no name, still a number it holds
      {"127.0.0.1:9", "other", 0, 0, nullptr},
      {host.c_str(), "ostr", 1, 2, prefix.c_str()}};
  for (const Row& r : rows) {
    auto f = Config({{r.host, r.name}});
    SnmpAgentInstance a;
    StreamCapture err(std::cerr), log(std::clog);
    fake::connect_at_once = r.host == host;  // the test agent is reached inside Activate()
    a.Activate(First(*f));
    EXPECT_EQ(fake::connect_at_once, a.connector() && a.connector()->IsConnected()) << r.name;
    fake::connect_at_once = false;
    EXPECT_EQ((std::vector<int>{r.state, r.type}), (std::vector<int>{a.getState(), a.addressType()})) << r.name;
    EXPECT_EQ(r.prefix ? r.prefix : "", r.prefix ? a.logPrefix() : log.text()) << r.name;
    EXPECT_EQ(r.prefix != nullptr, a.connector() != nullptr) << r.name;
    EXPECT_EQ(r.type == 0, err.text().find("snmpagent: ") != std::string::npos) << err.text();
  }
}

TEST(AgentLink, SilenceIsJudgedAtEachSendWhichArmsThePing) {
  ctltest::Loop loop;
  for (unsigned silence : {30000u, 30001u}) {
    const bool dropped = silence > 30000;
    AgentServer srv;
    auto f = Config({{srv.host(), "ostr"}});
    SnmpAgentInstance a;
    a.Activate(First(*f));
    ASSERT_TRUE(loop.RunUntil([&] { return srv.TryAccept(), srv.connected() && a.connector()->IsConnected(); }));
    EXPECT_FALSE(a.pingPending());  // nothing sent yet: no ping
    Mux::mux_settimeofday();        // the clock stands still from here
    StreamCapture err(std::cerr), log(std::clog);
    a.OnMessage("\xff", 1);  // even an undecodable payload is a sign of life
    uint32_t heard = a.lastHeard();
    EXPECT_EQ(Mux::milliseconds(), heard);
    MON::Message cmd;  // an agent sends no command
    cmd.set_pdu().select_command(Ping());
    auto bytes = Encode(cmd);
    a.OnMessage(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
    EXPECT_EQ(a.logPrefix() + ": receive : decode error!\n" + a.logPrefix() + ": receive unknown message type\n",
              err.text());
    Mux::advanceClock(silence);
    a.Command(Ping());
    EXPECT_EQ(5000u, a.pingIn());
    Mux::mux_cleartimeofday();
    EXPECT_EQ(dropped ? a.logPrefix() + ": ping timeout !!! now=" + std::to_string(heard + silence) +
                            " stamp=" + std::to_string(heard) + "\n"
                      : "",
              log.text());
    MON::Message m;
    ASSERT_TRUE(loop.RunUntil([&] { return srv.TakeMessage(m); }));  // sent all the same
    EXPECT_TRUE(IsPing(m));
    EXPECT_EQ(dropped, loop.RunUntil([&] { return srv.Eof(); }, dropped ? 5000 : 50)) << silence;
  }
}

// Two agents (names ostr and vorkgw), both connected to one controller.
class AgentCtrl : public ::testing::Test {
 protected:
  void SetUp() override {
    f = Config({{a.host(), "ostr"}, {b.host(), "vorkgw"}});
    ctrl.CreateInstances(*(*f)["snmpagent"]);
    ctrl.Bind(&n);
    ASSERT_TRUE(loop.RunUntil(
        [&] { return a.TryAccept(), b.TryAccept(), n.names.size() == 2 && a.connected() && b.connected(); }));
  }
  std::vector<MON::Message> Drain(AgentServer& s, int wait_ms = 30) {
    loop.RunFor(wait_ms);
    std::vector<MON::Message> out;
    for (MON::Message m; s.TakeMessage(m);) out.push_back(m);
    return out;
  }
  static std::vector<int> Uniqs(const MON::Message& m) {
    std::vector<int> u;
    for (const auto& c : m.get_pdu().get_command().get_snmp_set().get_commands()) u.push_back(c.get_uniq().getValue());
    return u;
  }
  ctltest::Loop loop;
  AgentServer a, b;
  std::unique_ptr<IniFile::File> f;
  Notify n;
  SnmpAgentCtrl ctrl;
};

TEST_F(AgentCtrl, BatchesByMaskFanOutImmediateCommandsAndTrapReceivers) {
  ASSERT_EQ(34u, ctrl.itemTable().size());
  ctrl.SendTrapsink({});  // empty lists send nothing
  ctrl.Send(MON::SnmpSetCommands());
  // Item 27 (mask 4) first: uniq 1, one message per link.
  ctrl.Send(SnmpAgentCtrl::sgBuildVersion, "R1\n");
  EXPECT_EQ(2, ctrl.nextUniq());
  for (AgentServer* s : {&a, &b}) EXPECT_EQ(Texts{"set 1 statusGeneral/sgBuildVersion/0=R1\n"}, Lines(Drain(*s)));
  // Item 2 (mask 6): the batch of type 2 then of type 4, consecutive uniqs;
  // two values of one item in one pass both leave, in order. Immediate
  // commands (the caller's uniq) and trap receivers go before the batches.
  ctrl.Send(SnmpAgentCtrl::powerStatus, "2");
  ctrl.Send(SnmpAgentCtrl::powerStatus, "3");
  ctrl.Send(SnmpAgentCtrl::e1Connected, 4, "1");
  MON::SnmpSetCommands cmds;
  MON::SnmpSetCommand byOid = Named("s", 0, "k", "v", 900);
  byOid.set_id().select_oid("1.3.6.1.4.1.1");
  cmds.set_commands().push_back(byOid);
  ctrl.Send(cmds);
  ctrl.SendTrapsink({"10.0.0.1", "10.0.0.2"});
  for (AgentServer* s : {&a, &b})
    EXPECT_EQ((Texts{"set 900 1.3.6.1.4.1.1=v", "sinks 10.0.0.1 10.0.0.2",
                     "set 2 gatewayCommon/powerStatus/0=2 4 gatewayCommon/powerStatus/0=3 6 e1Table/e1Connected/4=1",
                     "set 3 gatewayCommon/powerStatus/0=2 5 gatewayCommon/powerStatus/0=3"}),
              Lines(Drain(*s)));
  // An unknown item changes nothing.
  ctrl.Send(SnmpAgentCtrl::MonitoringItemType(34), "x");
  EXPECT_EQ(7, ctrl.nextUniq());
  EXPECT_FALSE(ctrl.sendPending());
  EXPECT_TRUE(Drain(a).empty());
}

TEST_F(AgentCtrl, BatchesAreHalvedToAtMost128ItemsAndMessagesThatFitALinkPacket) {
  struct Row { int items; std::size_t length; std::vector<std::size_t> sizes; /* empty: not checked */ } rows[] = {
      {128, 1, {128}}, {129, 1, {64, 65}}, {300, 100, {}}};
  int expect = 1;
  for (const Row& r : rows) {
    for (int i = 0; i < r.items; ++i) ctrl.Send(SnmpAgentCtrl::e1StatusDsc, i, std::string(r.length, 'v'));
    std::vector<std::size_t> sizes;
    for (const auto& m : Drain(a, 100)) {
      sizes.push_back(Uniqs(m).size());
      EXPECT_LE(Encode(m).size(), 4092u);
      for (int x : Uniqs(m)) EXPECT_EQ(expect++, x);
    }
    EXPECT_EQ(r.sizes.empty() ? sizes : r.sizes, sizes);
    EXPECT_GT(sizes.size(), r.sizes.empty() ? 2u : 0u);
  }
  EXPECT_EQ(558, expect);
  EXPECT_EQ(0, a.bad());
}

}  // namespace
