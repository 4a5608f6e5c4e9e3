// The SNMP agent link and the agent controller against a test agent on a
// real TCP socket, with the loop clock driven: configuration of the link,
// connection and notify, pings, the silence limit, received payloads, and
// the batching, uniq numbering and fan-out of monitoring item values.
#include <gtest/gtest.h>

#include <memory>

#include "control/control_test_support.h"
#include "monitoring/snmp_agent.h"
#include "monitoring/snmp_agent_ctrl.h"
#include "runtime/os/clock.h"
#include "runtime/test_loop_support.h"
#include "test_agent_server.h"

using agenttest::AgentServer;
using agenttest::IsPing;
using agenttest::SetTexts;

namespace {

// A configuration file with the given text, parsed.
std::unique_ptr<IniFile::File> Config(const std::string& text) {
  char name[] = "/tmp/tsd-mon-conf-XXXXXX";
  int fd = ::mkstemp(name);
  EXPECT_EQ(ssize_t(text.size()), ::write(fd, text.data(), text.size()));
  ::close(fd);
  auto f = std::make_unique<IniFile::File>();
  f->Open(name);
  ::unlink(name);
  return f;
}

std::string Agent(const std::string& host, const std::string& name) {
  return "[snmpagent]\nhost = " + host + "\nname = " + name + "\n";
}

IniFile::SubSection& First(IniFile::File& f) { return *(*f["snmpagent"]).begin(); }

struct Notify : ISnmpAgentNotify {
  void OnSnmpAgentConnect(const std::string& name) override { names.push_back(name); }
  std::vector<std::string> names;
};

class AgentLink : public ::testing::Test {
 protected:
  // Runs the loop until the server took the link and the link saw it.
  bool Connect(AgentServer& srv, SnmpAgentInstance& a) {
    return loop.RunUntil([&] {
      srv.TryAccept();
      return srv.connected() && a.connector() && a.connector()->IsConnected();
    });
  }
  ctltest::Loop loop;
};

TEST_F(AgentLink, Configuration) {
  struct Row {
    const char* host;
    const char* name;
    int state, type;
    const char* prefix;  // null: no connector
  } rows[] = {{"10.0.0.7", "ostr", 0, 2, nullptr},  // no port
              {"127.0.0.1:", "vorkgw.vm", 1, 4, "snmpagent.vorkgw.vm 127.0.0.1:0"},
              {"127.0.0.1:9", "2", 1, 2, "snmpagent.2 127.0.0.1:9"},
              {"127.0.0.1:9", "0x4", 1, 4, "snmpagent.0x4 127.0.0.1:9"},
              {"127.0.0.1:9", "other", 0, 0, nullptr}};
  for (const Row& r : rows) {
    auto f = Config(Agent(r.host, r.name));
    SnmpAgentInstance a;
    StreamCapture err(std::cerr), log(std::clog);
    a.Activate(First(*f));
    EXPECT_EQ(r.state, a.getState()) << r.host << " " << r.name;
    EXPECT_EQ(r.type, a.addressType()) << r.name;
    EXPECT_EQ(r.prefix != nullptr, a.connector() != nullptr) << r.name;
    if (r.prefix) {
      EXPECT_EQ(r.prefix, a.logPrefix());
    }
    EXPECT_EQ(r.type == 0, err.text().find("snmpagent: ") != std::string::npos) << err.text();
    if (!r.prefix) {
      EXPECT_EQ("", log.text());
    }
  }
}

TEST_F(AgentLink, SilenceIsJudgedAtEachSendWhichArmsThePing) {
  struct Row { unsigned silence; bool dropped; } rows[] = {{30000, false}, {30001, true}};
  for (const Row& r : rows) {
    AgentServer srv;
    auto f = Config(Agent(srv.host(), "ostr"));
    SnmpAgentInstance a;
    a.Activate(First(*f));
    ASSERT_TRUE(Connect(srv, a));
    EXPECT_FALSE(a.pingPending());  // nothing sent yet: no ping
    Mux::mux_settimeofday();        // the clock stands still from here
    StreamCapture err(std::cerr), log(std::clog);
    a.OnMessage("\xff", 1);  // even an undecodable payload is a sign of life
    uint32_t heard = a.lastHeard();
    EXPECT_EQ(Mux::milliseconds(), heard);
    MON::Message cmd;  // an agent sends no command
    cmd.set_pdu().select_command(MON::Command(MON::Command::ping::Id(), ASN1::Null()));
    auto bytes = AgentServer::Encode(cmd);
    a.OnMessage(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
    EXPECT_EQ(a.logPrefix() + ": receive : decode error!\n" + a.logPrefix() + ": receive unknown message type\n",
              err.text());
    Mux::advanceClock(r.silence);
    a.Command(MON::Command(MON::Command::ping::Id(), ASN1::Null()));
    EXPECT_EQ(5000u, a.pingIn());
    Mux::mux_cleartimeofday();
    std::string line = a.logPrefix() + ": ping timeout !!! now=" + std::to_string(heard + r.silence) +
                       " stamp=" + std::to_string(heard) + "\n";
    EXPECT_EQ(r.dropped ? line : "", log.text()) << r.silence;
    MON::Message m;
    ASSERT_TRUE(loop.RunUntil([&] { return srv.TakeMessage(m); }));  // sent all the same
    EXPECT_TRUE(IsPing(m));
    EXPECT_EQ(r.dropped, loop.RunUntil([&] { return srv.Eof(); }, r.dropped ? 5000 : 50)) << r.silence;
  }
}

// ---- the agent controller ----------------------------------------------------

class AgentCtrl : public AgentLink {
 protected:
  // Two agents (names ostr and vorkgw), both connected.
  void SetUp() override {
    f = Config(Agent(a.host(), "ostr") + Agent(b.host(), "vorkgw"));
    ctrl.CreateInstances(*(*f)["snmpagent"]);
    ctrl.Bind(&n);
    ASSERT_TRUE(loop.RunUntil([&] {
      a.TryAccept();
      b.TryAccept();
      return n.names.size() == 2 && a.connected() && b.connected();
    }));
  }
  std::vector<MON::Message> Drain(AgentServer& s, int wait_ms = 30) {
    loop.RunFor(wait_ms);
    std::vector<MON::Message> out;
    MON::Message m;
    while (s.TakeMessage(m)) out.push_back(m);
    return out;
  }
  std::vector<int> Uniqs(const MON::Message& m) {
    std::vector<int> u;
    for (const auto& c : m.get_pdu().get_command().get_snmp_set().get_commands()) u.push_back(c.get_uniq().getValue());
    return u;
  }
  AgentServer a, b;
  std::unique_ptr<IniFile::File> f;
  Notify n;
  SnmpAgentCtrl ctrl;
};

TEST_F(AgentCtrl, ItemsGoToTheBatchesTheirMaskSelectsAndEveryLinkGetsEveryBatch) {
  ASSERT_EQ(34u, ctrl.itemTable().size());
  // Item 27 (mask 4) first: uniq 1, one message per link.
  ctrl.Send(SnmpAgentCtrl::sgBuildVersion, "R1\n");
  EXPECT_EQ(2, ctrl.nextUniq());
  for (AgentServer* s : {&a, &b}) {
    auto msgs = Drain(*s);
    ASSERT_EQ(1u, msgs.size());
    EXPECT_EQ(std::vector<std::string>{"statusGeneral/sgBuildVersion/0=R1\n"}, SetTexts(msgs[0]));
    EXPECT_EQ(std::vector<int>{1}, Uniqs(msgs[0]));
  }
  // Item 2 (mask 6): the batch of type 2 then of type 4, consecutive uniqs;
  // two values of one item in one pass both leave, in order.
  ctrl.Send(SnmpAgentCtrl::powerStatus, "2");
  ctrl.Send(SnmpAgentCtrl::powerStatus, "3");
  ctrl.Send(SnmpAgentCtrl::e1Connected, 4, "1");
  for (AgentServer* s : {&a, &b}) {
    auto msgs = Drain(*s);
    ASSERT_EQ(2u, msgs.size());
    EXPECT_EQ((std::vector<std::string>{"gatewayCommon/powerStatus/0=2", "gatewayCommon/powerStatus/0=3",
                                        "e1Table/e1Connected/4=1"}),
              SetTexts(msgs[0]));
    EXPECT_EQ((std::vector<int>{2, 4, 6}), Uniqs(msgs[0]));
    EXPECT_EQ((std::vector<std::string>{"gatewayCommon/powerStatus/0=2", "gatewayCommon/powerStatus/0=3"}),
              SetTexts(msgs[1]));
    EXPECT_EQ((std::vector<int>{3, 5}), Uniqs(msgs[1]));
  }
  // An unknown item changes nothing.
  ctrl.Send(SnmpAgentCtrl::MonitoringItemType(34), "x");
  EXPECT_EQ(7, ctrl.nextUniq());
  EXPECT_FALSE(ctrl.sendPending());
  EXPECT_TRUE(Drain(a).empty());
}

TEST_F(AgentCtrl, ImmediateCommandsAndTrapReceivers) {
  ctrl.SendTrapsink({});
  ctrl.Send(MON::SnmpSetCommands());
  EXPECT_TRUE(Drain(a).empty());

  ctrl.Send(SnmpAgentCtrl::gatewayDip, "5");  // pending batch
  MON::SnmpSetCommands cmds;
  MON::SnmpSetCommand c;
  c.set_uniq(900);
  c.set_id().select_oid("1.3.6.1.4.1.1");
  c.set_value("v");
  cmds.set_commands().push_back(c);
  ctrl.Send(cmds);
  ctrl.SendTrapsink({"10.0.0.1", "10.0.0.2"});
  for (AgentServer* s : {&a, &b}) {
    auto msgs = Drain(*s);
    ASSERT_EQ(4u, msgs.size());
    EXPECT_EQ(std::vector<int>{900}, Uniqs(msgs[0]));  // the caller's uniq, before the batch
    const auto& sinks = msgs[1].get_pdu().get_command().get_snmp_trapsink_set().get_trapsinks();
    ASSERT_EQ(2u, sinks.size());
    EXPECT_EQ("10.0.0.2", std::string(sinks[1].get_host()));
    EXPECT_FALSE(sinks[0].port_isPresent());
    EXPECT_EQ(std::vector<std::string>{"gatewayCommon/gatewayDip/0=5"}, SetTexts(msgs[2]));
  }
}

TEST_F(AgentCtrl, LargeBatchesAreCutIntoMessagesThatFitALinkPacket) {
  std::string value(100, 'v');
  for (int i = 0; i < 300; ++i) ctrl.Send(SnmpAgentCtrl::e1StatusDsc, i, value);
  auto msgs = Drain(a, 100);
  ASSERT_GT(msgs.size(), 2u);
  int expect = 1;
  std::size_t total = 0;
  for (const auto& m : msgs) {
    auto u = Uniqs(m);
    EXPECT_LE(u.size(), SnmpAgentCtrl::kMaxBatch);
    EXPECT_LE(AgentServer::Encode(m).size(), 4092u);
    for (int x : u) EXPECT_EQ(expect++, x);
    total += u.size();
  }
  EXPECT_EQ(300u, total);
  EXPECT_EQ(0, a.bad());
}

}  // namespace
