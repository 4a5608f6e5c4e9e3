// The real daemon on the simulated board: the resource query finds the
// simulated mixer units; mixer inputs and outputs are created, switched
// to a trunk timeslot (crosspoints and mixer routes read through the
// simulator's control socket) and destroyed, releasing both.
#include <gtest/gtest.h>

#include "support/e1board_harness.h"

namespace {

using e1test::Answer;
using e1test::Msgs;
using Fill = std::function<void(LGCP::Command&)>;

constexpr int kOk = -1;
constexpr int kRefused = LGCP::ErrorCause::insufficientResources;

class MixerDaemon : public ::testing::Test {
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
  // Sends query and returns the mixer units of the resource signal.
  std::vector<std::pair<int, int>> Query() {
    d.Clear();
    EXPECT_TRUE(e1test::Send(d.ctl, e1test::CommandMsg(++seq_, [](LGCP::Command& c) { c.select_query(); })));
    const LGCP::Resources* res = nullptr;
    d.Wait([&](const Msgs& ms) {
      for (const auto& m : ms)
        if (m.get_pdu().signal_isSelected() && m.get_pdu().get_signal().query_isSelected())
          res = &m.get_pdu().get_signal().get_query();
      return res != nullptr;
    });
    std::vector<std::pair<int, int>> units;
    if (res)
      for (const auto& u : res->get_mixer()) units.emplace_back(u.get_unit().getValue(), u.get_tdm_inputs().getValue());
    return units;
  }
  static Fill MixIn(int unit, int channel, int summator = -1) {
    return [=](LGCP::Command& c) {
      LGCP::MixerInParams& p = c.select_create().select_mixerIn();
      p.set_unit(unit);
      p.set_channel().select_tdm(channel);
      if (summator >= 0) p.set_summator().select_tdm(summator);
    };
  }
  static Fill MixOut(int unit, int channel, int source, int gain) {
    return [=](LGCP::Command& c) {
      LGCP::MixerOutParams& p = c.select_create().select_mixerOut();
      p.set_unit(unit);
      p.set_channel().select_tdm(channel);
      LGCP::MixerInput in;
      in.set_channel().select_tdm(source);
      in.set_gain(gain);
      p.set_inputs().push_back(in);
    };
  }
  static Fill ConnectTo(unsigned target) {
    return [=](LGCP::Command& c) { c.select_connect(target); };
  }
  static void Destroy(LGCP::Command& c) { c.select_destroy(); }
  bool Has(const std::string& command, const std::string& line) {
    return ("\n" + d.Sim(command)).find("\n" + line + "\n") != std::string::npos;
  }

  e1test::DaemonBench d;
  int seq_ = 0;
};

TEST_F(MixerDaemon, MixerSlotsAreFoundSwitchedAndReleased) {
  // No unit is known before the first query.
  EXPECT_EQ(Ask(2, MixIn(0, 4)), kRefused);
  EXPECT_EQ(Query(), (std::vector<std::pair<int, int>>{{0, 32}, {1, 32}}));

  ASSERT_EQ(Ask(1, [](LGCP::Command& c) {
              LGCP::TrunkParams& p = c.select_create().select_trunk();
              p.set_trunk(0);
              p.set_timeslot(3);
            }),
            kOk);
  ASSERT_EQ(Ask(2, MixIn(0, 4, 20)), kOk);
  ASSERT_EQ(Ask(3, MixOut(0, 5, 4, 100)), kOk);
  EXPECT_EQ(Ask(4, MixIn(0, 40)), kRefused);
  EXPECT_TRUE(Has("mixer-routes", "0 20 4 32767")) << d.Sim("mixer-routes");
  EXPECT_TRUE(Has("mixer-routes", "0 5 4 100")) << d.Sim("mixer-routes");

  // Unit 0's channels sit on timeslots 512 onwards.
  ASSERT_EQ(Ask(1, ConnectTo(2)), kOk);
  ASSERT_EQ(Ask(3, ConnectTo(1)), kOk);
  EXPECT_TRUE(Has("xpoints", "516 3")) << d.Sim("xpoints");
  EXPECT_TRUE(Has("xpoints", "3 517")) << d.Sim("xpoints");
  EXPECT_EQ(Ask(2, ConnectTo(3)), int(LGCP::ErrorCause::connectFail));  // an input transmits nothing

  ASSERT_EQ(Ask(2, Destroy), kOk);
  EXPECT_FALSE(Has("mixer-routes", "0 20 4 32767")) << d.Sim("mixer-routes");
  EXPECT_FALSE(Has("xpoints", "516 3")) << d.Sim("xpoints");
  ASSERT_EQ(Ask(3, Destroy), kOk);
  EXPECT_EQ(d.Sim("mixer-routes"), "ok\n");
  EXPECT_FALSE(Has("xpoints", "3 517")) << d.Sim("xpoints");
  EXPECT_NE(d.log().find("mixer [0]: clear tdm output 5"), std::string::npos) << d.log();
}

}  // namespace
