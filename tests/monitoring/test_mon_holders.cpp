// The monitored-value store: framer text and carrier sample parsing, the
// change detection of every setter, the status files and directories under
// "/var/monitoring/" (names, contents, modes, clearing, the controller
// "self" link), and the refusal of file names that would leave that folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "mon_test_support.h"
#include "monitoring/data_holder.h"
#include "runtime/os/paths.h"
#include "runtime/test_loop_support.h"

namespace {

// The readers take a buffer they may change.
std::vector<unsigned char>& B(const std::string& s) {
  static std::vector<unsigned char> b;
  return b.assign(s.begin(), s.end()), b;
}

std::string Key(const char* label) { return (label + std::string(24, ' ')).substr(0, 24) + ": "; }

TEST(LinkText, FramerFieldsChangeOnlyWhenTheirTextChanges) {
  FramerDataHolder f(1, "/proc/driver/hdlc/peb22554/0");
  const std::string nc = "x\n" + Key("Current state") + "No Carrier\n";
  // Fields: connected, loss of signal, loss of frame, negative and positive slips.
  struct Row { std::string text; bool changed; const char* state; std::vector<int> fields; } rows[] = {
      {Key("Current state") + "absent\n", false, "absent", {0, 1, 1, 0, 0}},  // the initial text
      {nc, true, "No Carrier", {0, 1, 1, 0, 0}},
      {nc, false, "No Carrier", {0, 1, 1, 0, 0}},
      {Key("Current state") + "Sync\n" + Key("Loss of Signal") + "no\n" + Key("Loss of Frame Alignment") + "yes \n" +
           Key("Receive Slip Negative") + "12\n" + Key("Receive Slip Positive") + "junk",
       true, "Sync", {1, 0, 0, 12, 0}},
      {Key("Loss of Signal") + "yes", true, "Sync", {1, 1, 0, 12, 0}},
      // The text ends at the first zero byte.
      {Key("Receive Slip Negative") + "13" + std::string(1, '\0') + Key("Receive Slip Positive") + "9\n", true, "Sync",
       {1, 1, 0, 13, 0}},
      {"nothing here", false, "Sync", {1, 1, 0, 13, 0}}};
  for (const Row& r : rows) {
    EXPECT_EQ(r.changed, f.setFramerStatus(B(r.text))) << r.text;
    EXPECT_EQ(r.state, f.statusDsc);
    EXPECT_EQ(r.fields, (std::vector<int>{f.connected, f.signalLoss, f.frameAlignLoss, f.negSlipCount,
                                          f.posSlipCount})) << r.text;
  }
}

TEST(LinkText, CarrierStateFollowsTheLastFiveSamples) {
  NetIfDataHolder n(2, "eth0", "/sys/class/net/eth0/carrier");
  struct Row { const char* sample; bool changed; int status; } rows[] = {
      {"1", true, 2}, {"1", false, 2}, {"1\n", true, 1}, {"1", false, 1}, {"1", false, 1},
      {"0", false, 1}, {"", false, 1}, {"x", false, 1}, {"0", true, 2}};
  for (const Row& r : rows) {
    EXPECT_EQ(r.changed, n.setNetIfStatus(B(r.sample))) << &r - rows;
    EXPECT_EQ((std::vector<int>{r.status, r.status}), (std::vector<int>{n.operStatus, n.adminStatus})) << &r - rows;
  }
}

class Holder : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::pair<const char*, std::string> files[] = {
        {"/proc/driver/hdlc/peb22554/0", ""}, {"/proc/driver/hdlc/peb22554/2", ""},
        {"/proc/net/dev", "Inter-|   Receive\n face |bytes\n    lo: 1 2 3\n  eth0: 4 5\n\twan1:6\n  " +
                              std::string(64, 'x') + ": 7\n  :8\n"},
        {"/sys/class/net/eth0/carrier", "1\n"}, {"/sys/class/net/wan1/carrier", "0\n"},
        {"/var/monitoring/stale", "old"}, {"/var/monitoring/keep/inner", "x"}};
    for (const auto& f : files) Write(f.first, f.second);
    h = std::make_unique<MonitoringDataHolder>();
  }
  std::string P(const std::string& abs) { return root.file(abs); }
  void Write(const std::string& abs, const std::string& text) {
    root.mkdirs(abs.substr(0, abs.rfind('/')));
    std::ofstream(P(abs)) << text;
  }
  std::string Read(const std::string& abs) { return slurp(P(abs)); }
  bool Exists(const std::string& abs) {
    struct stat st;
    return ::lstat(P(abs).c_str(), &st) == 0;
  }
  TempRoot root;
  std::unique_ptr<MonitoringDataHolder> h;
};

TEST_F(Holder, StartUpClearsTheFolderAndFindsFramersAndInterfaces) {
  EXPECT_FALSE(Exists("/var/monitoring/stale"));
  EXPECT_TRUE(Exists("/var/monitoring/keep/inner"));  // only the top level goes
  EXPECT_TRUE(Exists("/var/monitoring/term_cnts"));
  std::string found;
  for (const auto& f : h->GetFramers()) found += std::to_string(f.number) + " " + f.procPath + "\n";
  // lo has no carrier file but still takes index 1.
  for (const auto& n : h->GetNetIfs()) found += std::to_string(n.index) + " " + n.name + " " + n.carrierPath + "\n";
  EXPECT_EQ("1 /proc/driver/hdlc/peb22554/0\n3 /proc/driver/hdlc/peb22554/2\n"
            "2 eth0 /sys/class/net/eth0/carrier\n3 wan1 /sys/class/net/wan1/carrier\n",
            found);
  h.reset();  // the destructor clears the top level again
  Write("/var/monitoring/dip", "1");
  EXPECT_TRUE(Exists("/var/monitoring/keep"));
}

TEST_F(Holder, SettersReportChangesAndWriteTheirFiles) {
  auto controller = [&](const char* host, HSP::ControllerStatus::NamedNumber status) {
    LGCP::DisplayParams d;
    montest::Controller(d, host, status);
    return h->setControllerStatus(d.get_controller());
  };
  const std::string own = "/var/monitoring/controller/127.0.0.1";
  struct Row { std::function<bool()> set; bool changed; std::string file, content; /* "" when missing */ } rows[] = {
      {[&] { return h->setDipValue(7); }, true, "/var/monitoring/dip", "7"},
      {[&] { return ::unlink(P("/var/monitoring/dip").c_str()), h->setDipValue(7); }, false, "/var/monitoring/dip", ""},
      {[&] { return h->setPowerStatus(LGCP::POWERStatus::unknown); }, false, "/var/monitoring/powerstatus", ""},
      {[&] { return h->setPowerStatus(LGCP::POWERStatus::both); }, true, "/var/monitoring/powerstatus", "3"},
      {[&] { return h->setPowerStatus(LGCP::POWERStatus::standby); }, true, "/var/monitoring/powerstatus", "1"},
      {[&] { return h->setConfigVersion(0x1a, 5); }, true, "/var/monitoring/config_version",
       "0000001a-0000000000000005"},
      {[&] { return h->setBuildVersion("B\n") && !h->setBuildVersion("B\n"); }, true, "/var/version-none", ""},
      {[&] { return controller("127.0.0.1", HSP::ControllerStatus::ok); }, true, own + "/status", "1"},
      {[&] { return controller("127.0.0.1", HSP::ControllerStatus::ok); }, false, own + "/status", "1"},
      {[&] { return controller("10.0.0.9", HSP::ControllerStatus::active); }, false,
       "/var/monitoring/controller/10.0.0.9/status", "2"}};
  for (const Row& r : rows) {
    EXPECT_EQ(r.changed, r.set()) << &r - rows;
    EXPECT_EQ(r.content, Read(r.file)) << &r - rows;
  }
  char link[256] = {};
  EXPECT_GT(::readlink(P("/var/monitoring/controller/self").c_str(), link, sizeof link - 1), 0);
  EXPECT_EQ(P(own), link);
  EXPECT_EQ(HSP::ControllerStatus::ok, h->getSelfControllerStatus().asInt());
}

TEST_F(Holder, SnmpSetCommandsAreMergedAndNamedOnesWrittenInsideTheFolder) {
  auto set = [&](const std::vector<MON::SnmpSetCommand>& list) {
    MON::SnmpSetCommands cmds;
    for (const auto& c : list) cmds.set_commands().push_back(c);
    h->setSnmpCommands(cmds);
  };
  MON::SnmpSetCommand oid = montest::Named("", 0, "", "a", 1);
  oid.set_id().select_oid("1.3.6");
  set({oid, montest::Named("sec", 2, "key", "value text", 2)});
  EXPECT_EQ("value text", Read("/var/monitoring/sec/2/key"));
  oid.set_value("b");
  StreamCapture log(std::clog);
  set({oid, montest::Named("sec", 2, "key", "new", 9), montest::Named("..", 1, "evil", "x", 3),
       montest::Named("s", 1, "../../../escape", "x", 4), montest::Named(std::string("a\0b", 3), 1, "c", "x", 5),
       montest::Named("a", 1, std::string("b\0c", 3), "y", 6), montest::Named("", 2, "key", "empty", 7),
       montest::Named(".", 3, "key", "dot", 8), montest::Named("sec", 2, "./k3", "slash", 10)});
  EXPECT_EQ("new", Read("/var/monitoring/sec/2/key"));
  EXPECT_EQ("empty dot slash",
            Read("/var/monitoring/2/key") + " " + Read("/var/monitoring/3/key") + " " + Read("/var/monitoring/sec/2/k3"));
  std::string stored;  // the first uniq stays
  for (const auto& c : h->GetSnmpCommands().get_commands())
    stored += std::to_string(c.get_uniq().getValue()) + "=" + std::string(c.get_value()) + " ";
  EXPECT_EQ("1=b 2=new 3=x 4=x 5=x 6=y 7=empty 8=dot 10=slash ", stored);
  EXPECT_FALSE(Exists("/var/evil") || Exists("/escape") || Exists("/var/monitoring/s") || Exists("/var/monitoring/a"));
  EXPECT_NE(std::string::npos, log.text().find("monitoring: refused snmp-set file name <../evil>")) << log.text();
}

TEST_F(Holder, ModesDoNotDependOnTheUmaskAndStatusesOutliveFailedWrites) {
  mode_t old = ::umask(0);
  h.reset();
  h = std::make_unique<MonitoringDataHolder>();
  Write("/var/monitoring/board1", "old");
  ::chmod(P("/var/monitoring/board1").c_str(), 0666);
  LGCP::DisplayParams d;
  auto display = [&](const std::function<void(LGCP::DisplayParams&)>& fill) { fill(d), h->setDisplayStatus(d); };
  h->setDipValue(1);
  display([](LGCP::DisplayParams& p) { montest::Board(p, 1); });
  display([](LGCP::DisplayParams& p) { montest::Counter(p, 1, -1, 1); });
  display([](LGCP::DisplayParams& p) { montest::Controller(p, "10.2.3.4", HSP::ControllerStatus::ok); });
  display([](LGCP::DisplayParams& p) { p.select_snmp_set().set_commands().push_back(montest::Named("s", 2, "k")); });
  ::umask(old);
  const std::pair<const char*, unsigned> rows[] = {
      {"/var/monitoring/dip", 0644},        {"/var/monitoring/board1", 0644},
      {"/var/monitoring/term_cnts", 0755},  {"/var/monitoring/term_cnts/router", 0644},
      {"/var/monitoring/controller", 0755}, {"/var/monitoring/controller/10.2.3.4", 0755},
      {"/var/monitoring/s", 0755},          {"/var/monitoring/controller/10.2.3.4/status", 0644},
      {"/var/monitoring/s/2", 0755},        {"/var/monitoring/s/2/k", 0644}};
  for (const auto& r : rows) {
    struct stat st {};
    EXPECT_EQ(0, ::stat(P(r.first).c_str(), &st)) << r.first;
    EXPECT_EQ(r.second, st.st_mode & 07777) << r.first;
  }
  // With the folder a plain file every write fails; the values stay.
  ASSERT_EQ(0, std::system(("rm -rf '" + P("/var/monitoring") + "' && touch '" + P("/var/monitoring") + "'").c_str()));
  StreamCapture log(std::clog);
  EXPECT_TRUE(h->setDipValue(9));
  EXPECT_EQ(9, h->getDipValue());
  display([](LGCP::DisplayParams& p) { montest::Board(p, 2); });
  EXPECT_EQ(2u, h->GetBoardStatus().size());
  EXPECT_NE(std::string::npos, log.text().find("FAIL create temporary file <"));
}

}  // namespace
