// The monitored-value store: framer text and carrier sample parsing, the
// change detection of every setter, the status files and directories under
// "/var/monitoring/" (names, contents, clearing, the controller "self"
// link), and the refusal of file names that would leave that folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "mon_test_values.h"
#include "monitoring/data_holder.h"
#include "runtime/os/paths.h"
#include "runtime/test_loop_support.h"

namespace {

std::vector<unsigned char> B(const std::string& s) { return std::vector<unsigned char>(s.begin(), s.end()); }

std::string Key(const char* label) {
  std::string k = label;
  k.resize(24, ' ');
  return k + ": ";
}

TEST(LinkText, FramerFieldsChangeOnlyWhenTheirTextChanges) {
  FramerDataHolder f(1, "/proc/driver/hdlc/peb22554/0");
  const std::string nc = "x\n" + Key("Current state") + "No Carrier\n";
  struct Row {
    std::string text;
    bool changed;
    const char* state;
    bool connected, signal, frame;
    int neg, pos;
  } rows[] = {
      {Key("Current state") + "absent\n", false, "absent", false, true, true, 0, 0},  // the initial text
      {nc, true, "No Carrier", false, true, true, 0, 0},
      {nc, false, "No Carrier", false, true, true, 0, 0},
      {Key("Current state") + "Sync\n" + Key("Loss of Signal") + "no\n" + Key("Loss of Frame Alignment") +
           "yes \n" + Key("Receive Slip Negative") + "12\n" + Key("Receive Slip Positive") + "junk",
       true, "Sync", true, false, false, 12, 0},
      {Key("Loss of Signal") + "yes", true, "Sync", true, true, false, 12, 0},
      // The text ends at the first zero byte.
      {Key("Receive Slip Negative") + "13" + std::string(1, '\0') + Key("Receive Slip Positive") + "9\n", true,
       "Sync", true, true, false, 13, 0},
      {"nothing here", false, "Sync", true, true, false, 13, 0},
  };
  for (const Row& r : rows) {
    auto b = B(r.text);
    EXPECT_EQ(r.changed, f.setFramerStatus(b)) << r.text;
    EXPECT_EQ(r.state, f.statusDsc);
    EXPECT_EQ((std::vector<int>{r.connected, r.signal, r.frame, r.neg, r.pos}),
              (std::vector<int>{f.connected, f.signalLoss, f.frameAlignLoss, f.negSlipCount, f.posSlipCount}))
        << r.text;
  }
}

TEST(LinkText, CarrierStateFollowsTheLastFiveSamples) {
  NetIfDataHolder n(2, "eth0", "/sys/class/net/eth0/carrier");
  struct Row { const char* sample; bool changed; int status; } rows[] = {{"1", true, 2},  {"1", false, 2}, {"1\n", true, 1}, {"1", false, 1}, {"1", false, 1},
              {"0", false, 1}, {"", false, 1},  {"x", false, 1},   {"0", true, 2}};
  for (const Row& r : rows) {
    auto b = B(r.sample);
    EXPECT_EQ(r.changed, n.setNetIfStatus(b)) << &r - rows;
    EXPECT_EQ(r.status, n.operStatus) << &r - rows;
    EXPECT_EQ(r.status, n.adminStatus);
  }
}

// ---- the holder --------------------------------------------------------------

class Holder : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* d : {"/var/monitoring/keep", "/proc/driver/hdlc/peb22554", "/proc/net", "/sys/class/net/eth0",
                          "/sys/class/net/wan1"})
      root.mkdirs(d);
    const std::pair<const char*, std::string> files[] = {
        {"/proc/driver/hdlc/peb22554/0", ""},
        {"/proc/driver/hdlc/peb22554/2", ""},
        {"/proc/net/dev", "Inter-|   Receive\n face |bytes\n    lo: 1 2 3\n  eth0: 4 5\n\twan1:6\n  " +
                              std::string(64, 'x') + ": 7\n  :8\n"},
        {"/sys/class/net/eth0/carrier", "1\n"},
        {"/sys/class/net/wan1/carrier", "0\n"},
        {"/var/monitoring/stale", "old"},
        {"/var/monitoring/keep/inner", "x"}};
    for (const auto& f : files) Write(f.first, f.second);
    h = std::make_unique<MonitoringDataHolder>();
  }
  std::string P(const std::string& abs) { return root.file(abs); }
  void Write(const std::string& abs, const std::string& text) { std::ofstream(P(abs)) << text; }
  std::string Read(const std::string& abs) { return slurp(P(abs)); }
  bool Exists(const std::string& abs) {
    struct stat st;
    return ::lstat(P(abs).c_str(), &st) == 0;
  }
  static LGCP::BoardInfo Board1() {
    LGCP::DisplayParams d;
    montest::Board(d, 1);
    return d.get_board();
  }
  TempRoot root;
  std::unique_ptr<MonitoringDataHolder> h;
};

TEST_F(Holder, StartUpClearsTheFolderAndFindsFramersAndInterfaces) {
  EXPECT_FALSE(Exists("/var/monitoring/stale"));
  EXPECT_TRUE(Exists("/var/monitoring/keep/inner"));  // only the top level goes
  EXPECT_TRUE(Exists("/var/monitoring/term_cnts"));

  ASSERT_EQ(2u, h->GetFramers().size());
  EXPECT_EQ(1, h->GetFramers().front().number);
  EXPECT_EQ(3, h->GetFramers().back().number);
  EXPECT_EQ("/proc/driver/hdlc/peb22554/2", h->GetFramers().back().procPath);

  // lo has no carrier file but still takes index 1.
  ASSERT_EQ(2u, h->GetNetIfs().size());
  EXPECT_EQ(2, h->GetNetIfs().front().index);
  EXPECT_EQ("eth0", h->GetNetIfs().front().name);
  EXPECT_EQ("/sys/class/net/eth0/carrier", h->GetNetIfs().front().carrierPath);
  EXPECT_EQ(3, h->GetNetIfs().back().index);
  EXPECT_EQ("wan1", h->GetNetIfs().back().name);

  h.reset();  // the destructor clears the top level again
  Write("/var/monitoring/dip", "1");
  EXPECT_TRUE(Exists("/var/monitoring/keep"));
}

TEST_F(Holder, StatusesAreKeptWhenTheirFileCannotBeWritten) {
  std::string dir = P("/var/monitoring");
  ASSERT_EQ(0, std::system(("rm -rf '" + dir + "' && touch '" + dir + "'").c_str()));
  StreamCapture log(std::clog);
  EXPECT_TRUE(h->setDipValue(9));
  EXPECT_EQ(9, h->getDipValue());
  h->setBoardStatus(Board1());
  EXPECT_EQ(1u, h->GetBoardStatus().size());
  EXPECT_NE(std::string::npos, log.text().find("FAIL create temporary file <"));
}

TEST_F(Holder, SettersReportChangesAndWriteTheirFiles) {
  auto controller = [&](const char* host, HSP::ControllerStatus::NamedNumber status) {
    LGCP::ControllerInfo c;
    c.set_host().set_iaddr(host);
    c.set_status(status);
    return h->setControllerStatus(c);
  };
  const std::string own = "/var/monitoring/controller/127.0.0.1";
  struct Row {
    std::function<bool()> set;
    bool changed;
    std::string file, content;  // the file afterwards ("" when missing)
  } rows[] = {
      {[&] { return h->setDipValue(7); }, true, "/var/monitoring/dip", "7"},
      {[&] { return ::unlink(P("/var/monitoring/dip").c_str()), h->setDipValue(7); }, false, "/var/monitoring/dip", ""},
      {[&] { return h->setPowerStatus(LGCP::POWERStatus::unknown); }, false, "/var/monitoring/powerstatus", ""},
      {[&] { return h->setPowerStatus(LGCP::POWERStatus::both); }, true, "/var/monitoring/powerstatus", "3"},
      {[&] { return h->setPowerStatus(LGCP::POWERStatus::standby); }, true, "/var/monitoring/powerstatus", "1"},
      {[&] { return h->setConfigVersion(0x1a, 5); }, true, "/var/monitoring/config_version", "0000001a-0000000000000005"},
      {[&] { return h->setBuildVersion("B\n") && !h->setBuildVersion("B\n"); }, true, "", ""},
      {[&] { return controller("127.0.0.1", HSP::ControllerStatus::ok); }, true, own + "/status", "1"},
      {[&] { return controller("127.0.0.1", HSP::ControllerStatus::ok); }, false, own + "/status", "1"},
      {[&] { return controller("10.0.0.9", HSP::ControllerStatus::active); }, false,
       "/var/monitoring/controller/10.0.0.9/status", "2"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(r.changed, r.set()) << &r - rows;
    if (!r.file.empty()) {
      EXPECT_EQ(r.content, Read(r.file)) << &r - rows;
    }
  }
  char link[256] = {};
  EXPECT_GT(::readlink(P("/var/monitoring/controller/self").c_str(), link, sizeof link - 1), 0);
  EXPECT_EQ(P(own), link);
  EXPECT_EQ(HSP::ControllerStatus::ok, h->getSelfControllerStatus().asInt());
}

TEST_F(Holder, SnmpSetCommandsAreMergedAndNamedOnesWrittenInsideTheFolder) {
  MON::SnmpSetCommands cmds;
  MON::SnmpSetCommand oid;
  oid.set_uniq(1);
  oid.set_id().select_oid("1.3.6");
  oid.set_value("a");
  cmds.set_commands().push_back(oid);
  cmds.set_commands().push_back(montest::Named("sec", 2, "key", "value text", 2));
  h->setSnmpCommands(cmds);
  EXPECT_EQ("value text", Read("/var/monitoring/sec/2/key"));

  MON::SnmpSetCommands again;
  oid.set_value("b");
  again.set_commands().push_back(oid);
  again.set_commands().push_back(montest::Named("sec", 2, "key", "new", 9));
  StreamCapture log(std::clog);
  again.set_commands().push_back(montest::Named("..", 1, "evil", "x", 3));
  again.set_commands().push_back(montest::Named("s", 1, "../../../escape", "x", 4));
  h->setSnmpCommands(again);
  EXPECT_EQ("new", Read("/var/monitoring/sec/2/key"));
  const auto& stored = h->GetSnmpCommands().get_commands();
  ASSERT_EQ(4u, stored.size());
  EXPECT_EQ("b", std::string(stored[0].get_value()));
  EXPECT_EQ(2, stored[1].get_uniq().getValue());  // the first uniq stays
  EXPECT_FALSE(Exists("/var/evil"));
  EXPECT_FALSE(Exists("/escape"));
  EXPECT_FALSE(Exists("/var/monitoring/s"));
  EXPECT_NE(std::string::npos, log.text().find("refused"));
}

TEST_F(Holder, ModesDoNotDependOnTheUmask) {
  mode_t old = ::umask(0);
  h.reset();
  h = std::make_unique<MonitoringDataHolder>();
  Write("/var/monitoring/board1", "old");
  ::chmod(P("/var/monitoring/board1").c_str(), 0666);
  h->setDipValue(1);
  h->setBoardStatus(Board1());
  LGCP::DisplayParams d;
  montest::Counter(d, 1, -1, 1);
  h->setDisplayStatus(d);
  d.select_controller().set_host().set_iaddr("10.2.3.4");
  h->setDisplayStatus(d);
  d.select_snmp_set().set_commands().push_back(montest::Named("sec", 2, "key"));
  h->setDisplayStatus(d);
  ::umask(old);
  const std::pair<const char*, unsigned> rows[] = {
      {"/var/monitoring/dip", 0644},          {"/var/monitoring/board1", 0644},
      {"/var/monitoring/term_cnts", 0755},    {"/var/monitoring/term_cnts/router", 0644},
      {"/var/monitoring/controller", 0755},   {"/var/monitoring/controller/10.2.3.4", 0755},
      {"/var/monitoring/sec", 0755},          {"/var/monitoring/controller/10.2.3.4/status", 0644},
      {"/var/monitoring/sec/2", 0755},        {"/var/monitoring/sec/2/key", 0644}};
  for (const auto& r : rows) {
    struct stat st;
    ASSERT_EQ(0, ::stat(P(r.first).c_str(), &st)) << r.first;
    EXPECT_EQ(r.second, st.st_mode & 07777) << r.first;
  }
}

}  // namespace
