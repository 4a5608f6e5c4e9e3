// The real daemon on the simulated board, driven by a controller: timeslot
// slots switched through the multiplexer (read back through the
// simulator's control socket), released, destroyed, refused; a lost
// controller link takes every slot with it.
#include <gtest/gtest.h>

#include "support/e1board_harness.h"

namespace {

using e1test::Answer;
using e1test::Msgs;
using Fill = std::function<void(LGCP::Command&)>;

constexpr int kOk = -1;
constexpr int kNotExists = LGCP::ErrorCause::slotNotExists;

class SlotsDaemon : public ::testing::Test {
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
  static Fill Create(bool bri, unsigned trunk, unsigned ts) {
    return [=](LGCP::Command& c) {
      LGCP::TrunkParams& p = bri ? c.select_create().select_trunk_bri() : c.select_create().select_trunk();
      p.set_trunk(trunk);
      p.set_timeslot(ts);
    };
  }
  static Fill ConnectTo(unsigned target) {
    return [=](LGCP::Command& c) { c.select_connect(target); };
  }
  static void Destroy(LGCP::Command& c) { c.select_destroy(); }
  bool Xpoint(int output, int source) {
    std::string line = "\n" + std::to_string(output) + " " + std::to_string(source) + "\n";
    return ("\n" + d.Sim("xpoints")).find(line) != std::string::npos;
  }

  e1test::DaemonBench d;
  int seq_ = 0;
};

TEST_F(SlotsDaemon, TwoTimeslotsAreSwitchedReleasedAndDestroyed) {
  ASSERT_EQ(Ask(1, Create(false, 0, 3)), kOk);
  ASSERT_EQ(Ask(2, Create(false, 1, 8)), kOk);
  ASSERT_EQ(Ask(1, ConnectTo(2)), kOk);
  EXPECT_TRUE(Xpoint(40, 3)) << d.Sim("xpoints");
  EXPECT_TRUE(startup_test::waitFor([&] { return d.log().find("mux: slot 01:trunk [3] -> 02:trunk [40]") != std::string::npos; }));
  ASSERT_EQ(Ask(2, [](LGCP::Command& c) { c.select_disconnect(); }), kOk);
  EXPECT_FALSE(Xpoint(40, 3)) << d.Sim("xpoints");

  // Destroying a connected transmitter releases the receiver's crosspoint.
  ASSERT_EQ(Ask(1, ConnectTo(2)), kOk);
  ASSERT_TRUE(Xpoint(40, 3));
  EXPECT_EQ(Ask(1, Destroy), kOk);
  EXPECT_FALSE(Xpoint(40, 3)) << d.Sim("xpoints");
  EXPECT_EQ(Ask(2, Destroy), kOk);
  EXPECT_EQ(Ask(2, Destroy), kNotExists);
}

TEST_F(SlotsDaemon, InvalidCreatesAreAnsweredWithTheirCause) {
  EXPECT_EQ(Ask(5, Create(false, 4, 0)), int(LGCP::ErrorCause::insufficientResources));
  EXPECT_EQ(Ask(5, Create(true, 0, 4)), int(LGCP::ErrorCause::insufficientResources));
  EXPECT_EQ(Ask(5, Destroy), kNotExists);  // the number stayed free
}

TEST_F(SlotsDaemon, ALostControllerTakesEverySlot) {
  ASSERT_EQ(Ask(3, Create(false, 0, 5)), kOk);
  ASSERT_EQ(Ask(4, Create(false, 0, 6)), kOk);
  ASSERT_EQ(Ask(7, Create(false, 2, 1)), kOk);
  ASSERT_EQ(Ask(3, ConnectTo(4)), kOk);
  ASSERT_EQ(Ask(4, ConnectTo(7)), kOk);
  ASSERT_TRUE(Xpoint(6, 5) && Xpoint(65, 6));

  d.ctl.Close();
  EXPECT_TRUE(startup_test::waitFor([&] { return !Xpoint(6, 5) && !Xpoint(65, 6); })) << d.Sim("xpoints");
  ASSERT_TRUE(d.Attach()) << d.log();
  EXPECT_EQ(Ask(3, ConnectTo(4)), kNotExists);
  // The timeslot is free: taken without replacing an old holder.
  ASSERT_EQ(Ask(8, Create(false, 0, 5)), kOk);
  EXPECT_EQ(d.log().find("two slots require the same timeslot"), std::string::npos) << d.log();
}

}  // namespace
