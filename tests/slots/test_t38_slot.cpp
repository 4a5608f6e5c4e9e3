// The T.38 slot with a stand-in engine on the simulated controller: the
// engine's command line, the channel block, how its end is reported,
// refused creates and the capacity query.
#include <gtest/gtest.h>
#include <signal.h>

#include <memory>

#include "control/control_test_support.h"
#include "hardware/board/requests.h"
#include "hardware/sim/mcc.h"
#include "hardware/sim_env.h"
#include "runtime/loop/child_wait.h"
#include "slots/t38_slot.h"
#include "slots_test_support.h"
#include "support/startup_harness.h"
#include "t38_standin.h"

namespace {

using Strings = std::vector<std::string>;

LGCP::CreateParams Params(std::size_t extra = 0) { return slottest::fills::T38(extra); }

class T38SlotTest : public SimTest::Fixture {
 protected:
  void SetUp() override {
    SimTest::Fixture::SetUp();
    ChildWait::Activate();
    t38test::InstallEngine(SimTest::root());
    t38test::Clear(SimTest::root());
    slottest::BoundSpy().signals.clear();
  }
  std::unique_ptr<T38SoftSlot> Make(const std::string& mode = "") {
    t38test::Set(SimTest::root(), "mode", mode);
    return std::unique_ptr<T38SoftSlot>(static_cast<T38SoftSlot*>(T38SoftFactory::instance().INewSlot(Params())));
  }
  bool EngineStarted() {
    return loop.RunUntil([] { return !t38test::Args(SimTest::root()).empty(); });
  }
  // The abort codes sent since the last call.
  static std::vector<int> Aborts() {
    std::vector<int> v;
    for (const auto& s : slottest::BoundSpy().signals)
      if (s.abort_isSelected()) v.push_back(s.get_abort().getValue());
    slottest::BoundSpy().signals.clear();
    return v;
  }
  // Runs the loop until the engine has ended and been reported.
  bool Ended(T38SoftSlot& slot) {
    return loop.RunUntil([&] { return slot.GetPid() == -1; });
  }
  std::string Channels() {
    std::ostringstream out;
    std::istringstream none;
    sim().pump();
    sim().mcc().command("channels", none, out);
    return out.str();
  }
  ctltest::Loop loop;
};

TEST(T38EngineArgs, FixedPartThenAtMostTwentySevenExtraArguments) {
  EXPECT_EQ(T38SoftFactory::EngineArgs(Params().get_t38soft()),
            Strings({"/usr/local/sbin/t38", "--child", "--remote", "10.1.2.3/4000/5002"}));
  Strings many = T38SoftFactory::EngineArgs(Params(40).get_t38soft());
  ASSERT_EQ(many.size(), 31u);  // and the null makes 32
  EXPECT_EQ(many[4], "a0");
  EXPECT_EQ(many.back(), "a26");
  EXPECT_EQ(T38SoftFactory::EngineArgs(Params(27).get_t38soft()).size(), 31u);
}

TEST_F(T38SlotTest, TheEngineRunsOnATransparentChannel) {
  sim().mcc().setNextChannel(600);
  ctltest::Capture log(std::clog);
  auto slot = Make();
  ASSERT_TRUE(slot);
  std::string block;
  for (const auto& e : sim().log())
    if (e.request == Board::Req::MccAllocate) block = e.text();
  EXPECT_EQ(block, "/dev/mcc/ctl 0x40144d00 2 160 0 3 4 -> 0");
  EXPECT_EQ(slot->IGetTransmitChannel(), 600);
  EXPECT_EQ(slot->IGetReceiveChannel(), 600);
  EXPECT_EQ(std::string(slot->GetName()), "t38 soft");
  EXPECT_NE(log.text().find("args for run t38 daemon:\narg[0]=/usr/local/sbin/t38\narg[1]=--child\n"
                            "arg[2]=--remote\narg[3]=10.1.2.3/4000/5002\nt38 daemon[" +
                            std::to_string(slot->GetPid()) + "] successfully started\n"),
            std::string::npos)
      << log.text();

  // Arguments, streams and the channel's release are followed through the
  // daemon; here the engine is only seen to stop.
  ASSERT_TRUE(EngineStarted());
  const int pid = slot->GetPid();
  EXPECT_TRUE(slot->IBeforeDestroy());
  slot.reset();
  EXPECT_TRUE(loop.RunUntil([&] { return ::kill(pid, 0) != 0; }));
}

TEST_F(T38SlotTest, TheEnginesEndIsLoggedAndSentAsAbort) {
  struct Case {
    std::string mode;
    int signal;
    int status;
    std::string line;
  } cases[] = {{"exit 3", 0, 3 << 8, "t38 daemon terminated with code=3\n"},
               {"", SIGKILL, SIGKILL, "t38 daemon terminated by signal=9\n"},
               {"", SIGTERM, SIGTERM, "t38 daemon terminated by signal=15\n"}};
  for (const Case& c : cases) {
    ctltest::Capture log(std::clog), err(std::cerr);
    auto slot = Make(c.mode);
    ASSERT_TRUE(slot);
    if (c.signal) {
      ASSERT_TRUE(EngineStarted());
      ::kill(slot->GetPid(), c.signal);
    }
    ASSERT_TRUE(Ended(*slot)) << c.line;
    EXPECT_EQ(log.count(c.line), 1u) << log.text();
    EXPECT_EQ(Aborts(), std::vector<int>({c.status}));
    // An ended engine is not signalled again.
    EXPECT_TRUE(slot->IBeforeDestroy());
    t38test::Clear(SimTest::root());
  }
}

TEST_F(T38SlotTest, AnEngineThatCannotRunEndsWith237) {
  t38test::RemoveEngine(SimTest::root());
  ctltest::Capture log(std::clog);
  auto slot = Make();
  ASSERT_TRUE(slot);
  ASSERT_TRUE(Ended(*slot));
  EXPECT_EQ(log.count("t38 daemon terminated with code=237\n"), 1u) << log.text();
  EXPECT_EQ(Aborts(), std::vector<int>({237 << 8}));
}

TEST_F(T38SlotTest, ControllerFailuresStartNoEngine) {
  LGCP::CreateParams other;
  other.select_mcc();
  EXPECT_EQ(T38SoftFactory::instance().INewSlot(other), nullptr);

  ctltest::Capture err(std::cerr), log(std::clog);
  sim().setPresent("/dev/mcc/ctl", false);
  EXPECT_FALSE(Make());
  sim().setPresent("/dev/mcc/ctl", true);
  sim().failNext("/dev/mcc/ctl", Board::Req::MccAllocate, EBUSY);
  EXPECT_FALSE(Make());
  sim().failNext("/dev/mcc/ctl", Board::Req::MccTimeslot, EIO);
  EXPECT_FALSE(Make());
  EXPECT_EQ(err.text(),
            "T38SoftFactory::INewSlot - FAIL to open </dev/mcc/ctl> [2]\n"
            "T38SoftFactory::INewSlot - FAIL to ioctl MCC_ALLOCATE [16]\n"
            "T38SoftFactory::INewSlot - FAIL to ioctl MCC_TIMESLOT [5]\n");
  EXPECT_EQ(log.text(), "");
  EXPECT_EQ(Channels(), "");
}

TEST_F(T38SlotTest, QueryAsksTheEngineForItsCapacity) {
  auto instances = [] {
    LGCP::Resources r;
    r.set_t38_instances(-1);
    T38SoftFactory::instance().Query(r);
    return r.get_t38_instances().getValue();
  };
  ctltest::Capture log(std::clog);
  t38test::Set(SimTest::root(), "instances", "12\n");
  EXPECT_EQ(instances(), 12);
  t38test::Set(SimTest::root(), "instances", "");
  EXPECT_EQ(instances(), 0);
  EXPECT_EQ(log.count("t38: can't detect T38 resources\n"), 1u);
  t38test::RemoveEngine(SimTest::root());
  EXPECT_EQ(instances(), 0);
  EXPECT_EQ(log.count("t38 daemon not found!\n"), 1u);
}

}  // namespace
