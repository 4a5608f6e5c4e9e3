// The real daemon on the simulated board: multichannel slots of the three
// types allocated by create, switched to a timeslot, data both ways (what
// reaches the channel becomes the controller's user-data signals), the
// free channels in the resource report, and destroy giving the channel back.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "support/e1board_harness.h"

namespace {

using e1test::Answer;
using e1test::Msgs;
using Fill = std::function<void(LGCP::Command&)>;

constexpr int kOk = -1;

class MccDaemon : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(d.Ready()) << d.log();
    ASSERT_TRUE(d.Attach()) << d.log();
  }
  int Ask(unsigned slot, const Fill& fill) {
    LGCP::Message m = e1test::CommandMsg(++seq_, fill);
    m.set_slot(slot);
    d.Clear();
    EXPECT_TRUE(e1test::Send(d.ctl, m));
    d.Wait([](const Msgs& ms) { return Answer(ms) != -2; });
    return Answer(d.Received());
  }
  static Fill Mcc(LGCP::MccType::NamedNumber type, LGCP::MccMode::NamedNumber mode = LGCP::MccMode::standard) {
    return [=](LGCP::Command& c) {
      LGCP::MccParams& p = c.select_create().select_mcc();
      p.set_type(type);
      p.set_mode(mode);
    };
  }
  // The controller channels the board holds: channel -> type.
  std::map<int, int> Channels() {
    std::map<int, int> m;
    std::istringstream in(d.Sim("channels"));
    int ch, type;
    std::string word;
    while (in >> ch >> word >> type) {
      m[ch] = type;
      std::getline(in, word);
    }
    return m;
  }
  // Free data, BRI and transparent channels in the resource report.
  std::string FreeChannels() {
    d.Clear();
    EXPECT_TRUE(e1test::Send(d.ctl, e1test::CommandMsg(++seq_, [](LGCP::Command& c) { c.select_query(); })));
    auto report = [](const Msgs& ms) -> const LGCP::Message* {
      for (const auto& m : ms)
        if (m.get_pdu().signal_isSelected() && m.get_pdu().get_signal().query_isSelected()) return &m;
      return nullptr;
    };
    if (!d.Wait([&](const Msgs& ms) { return report(ms) != nullptr; })) return "no report";
    const LGCP::Resources& r = report(d.Received())->get_pdu().get_signal().get_query();
    return std::to_string(r.get_mcc_data().getValue()) + " " + std::to_string(r.get_mcc_bri().getValue()) + " " +
           std::to_string(r.get_mcc_trans().getValue());
  }
  // The user data signals received, as "<slot>:<text>".
  static std::vector<std::string> UserData(const Msgs& ms) {
    std::vector<std::string> v;
    for (const auto& m : ms)
      if (m.get_pdu().signal_isSelected() && m.get_pdu().get_signal().userData_isSelected())
        v.push_back(std::to_string(m.get_slot().getValue()) + ":" +
                    std::string(m.get_pdu().get_signal().get_userData()));
    return v;
  }

  e1test::DaemonBench d;
  int seq_ = 0;
};

TEST_F(MccDaemon, ChannelsAreAllocatedCarryDataAndAreFreedOnDestroy) {
  ASSERT_EQ(d.Sim("mcc-next 1100"), "ok\n");
  ASSERT_EQ(Ask(1, Mcc(LGCP::MccType::data)), kOk);
  ASSERT_EQ(Ask(2, Mcc(LGCP::MccType::bri)), kOk);
  ASSERT_EQ(Ask(3, Mcc(LGCP::MccType::transparent, LGCP::MccMode::ss7)), kOk);
  std::map<int, int> held = Channels();
  ASSERT_EQ(held.size(), 3u) << d.Sim("channels");
  EXPECT_EQ(held[1100], 0);
  std::multiset<int> types;
  for (auto& c : held) types.insert(c.second);
  EXPECT_EQ(types, (std::multiset<int>{0, 1, 3}));
  EXPECT_NE(d.log().find("mcc: MCC_ALLOCATE type=3"), std::string::npos) << d.log();
  EXPECT_EQ(FreeChannels(), "30 15 32");  // ss7 channels are counted as data

  // Trunk 0 timeslot 5 both ways with the data channel.
  ASSERT_EQ(Ask(4, [](LGCP::Command& c) {
              LGCP::TrunkParams& p = c.select_create().select_trunk();
              p.set_trunk(0);
              p.set_timeslot(5);
            }), kOk);
  ASSERT_EQ(Ask(4, [](LGCP::Command& c) { c.select_connect(1); }), kOk);
  ASSERT_EQ(Ask(1, [](LGCP::Command& c) { c.select_connect(4); }), kOk);

  d.Clear();
  EXPECT_EQ(d.Sim("inject 5 68656c6c6f"), "outputs 1\nok\n");
  EXPECT_EQ(d.Sim("inject 5 776f726c64"), "outputs 1\nok\n");
  d.Wait([](const Msgs& ms) { return UserData(ms).size() >= 2; });
  EXPECT_EQ(UserData(d.Received()), (std::vector<std::string>{"1:hello", "1:world"}));

  ASSERT_EQ(Ask(1, [](LGCP::Command& c) { c.select_userData(std::vector<char>{'a', 'b', 'c'}); }), kOk);
  EXPECT_TRUE(startup_test::waitFor([&] { return d.Sim("frames 5") == "616263\nok\n"; }));

  // Destroy gives the channel back; the others stay.
  ASSERT_EQ(Ask(1, [](LGCP::Command& c) { c.select_destroy(); }), kOk);
  EXPECT_TRUE(startup_test::waitFor([&] { return Channels().count(1100) == 0; })) << d.Sim("channels");
  EXPECT_EQ(Channels().size(), 2u);
  EXPECT_EQ(FreeChannels(), "31 15 32");
}

}  // namespace
