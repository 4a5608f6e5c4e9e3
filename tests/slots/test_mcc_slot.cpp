// The multichannel controller slot on the simulated controller: the
// allocation block for each type and mode, refused creates, user data in
// both directions (draining, record size, empty data), a channel the
// controller ends, and the resource query.
#include <gtest/gtest.h>
#include <poll.h>

#include <fcntl.h>

#include <cstring>
#include <memory>

#include "control/control_test_support.h"
#include "hardware/board/record.h"
#include "hardware/board/requests.h"
#include "hardware/sim/mcc_resources.h"
#include "hardware/sim_env.h"
#include "runtime/loop/event.h"
#include "slots/mcc_slot.h"
#include "slots_test_support.h"

namespace {

using Strings = std::vector<std::string>;
constexpr uint32_t kAllocate = Board::Req::MccAllocate;
constexpr uint32_t kTimeslot = Board::Req::MccTimeslot;
constexpr int kOutput = 77;  // a fabric output the tests connect to a channel

class MccSlotTest : public SimTest::Fixture {
 protected:
  void SetUp() override {
    SimTest::Fixture::SetUp();
    Signals();
  }
  std::unique_ptr<MccSlot> Make(LGCP::MccType::NamedNumber type = LGCP::MccType::data,
                                LGCP::MccMode::NamedNumber mode = LGCP::MccMode::standard) {
    return std::unique_ptr<MccSlot>(static_cast<MccSlot*>(MccFactory::instance().INewSlot(slottest::fills::Mcc(type, mode))));
  }
  // The user data of the signals sent since the last call, in order.
  static Strings Signals() {
    Strings v;
    for (const auto& s : slottest::BoundSpy().signals)
      v.push_back(s.userData_isSelected() ? std::string(s.get_userData()) : "other " + slottest::Describe(s));
    slottest::BoundSpy().signals.clear();
    return v;
  }
  // What the channel transmitted, as seen at a fabric output.
  Strings Transmitted() {
    sim().pump();
    Strings v;
    for (const auto& f : sim().tdm().takeFarEnd(kOutput)) v.emplace_back(f.begin(), f.end());
    return v;
  }
  std::string Channels() {
    std::ostringstream out;
    std::istringstream none;
    sim().mcc().command("channels", none, out);
    return out.str();
  }
  ctltest::Loop loop;
};

TEST_F(MccSlotTest, TypeAndModeSelectTheChannelMode) {
  struct Case {
    LGCP::MccType::NamedNumber type;
    LGCP::MccMode::NamedNumber mode;
    int channelMode;
  } cases[] = {{LGCP::MccType::data, LGCP::MccMode::standard, 0},
               {LGCP::MccType::bri, LGCP::MccMode::standard, 1},
               {LGCP::MccType::transparent, LGCP::MccMode::standard, 2},
               {LGCP::MccType::transparent, LGCP::MccMode::ss7, 3},
               {LGCP::MccType::bri, LGCP::MccMode::ss7, 3}};
  for (const Case& c : cases) {
    sim().pump();  // the previous slot's channel is given back
    sim().clearLog();
    ctltest::Capture log(std::clog);
    auto slot = Make(c.type, c.mode);
    ASSERT_TRUE(slot);
    EXPECT_EQ(log.text(), "mcc: MCC_ALLOCATE type=" + std::to_string(c.channelMode) + "\n");
    const auto& entries = sim().log();
    ASSERT_GE(entries.size(), 2u) << requestLog();
    EXPECT_EQ(entries[0].request, kAllocate);
    EXPECT_EQ(entries[0].in, Sim::Bytes({0, 0, 0, uint8_t(c.channelMode), 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(entries[1].request, kTimeslot);
    EXPECT_EQ(slot->IGetTransmitChannel(), slot->GetChannel());
    EXPECT_EQ(slot->IGetReceiveChannel(), slot->GetChannel());
    EXPECT_EQ(Channels(), std::to_string(slot->GetChannel()) + " type " + std::to_string(c.channelMode) +
                              " rx 0 tx 0 dropped 0\n");
  }
  // Every slot above was deleted: no channel is left held.
  sim().pump();
  EXPECT_EQ(Channels(), "");
}

TEST_F(MccSlotTest, OtherCreatesAndFailuresMakeNoSlot) {
  LGCP::CreateParams trunk;
  trunk.select_trunk().set_trunk(0);
  EXPECT_EQ(MccFactory::instance().INewSlot(trunk), nullptr);
  EXPECT_TRUE(sim().log().empty()) << requestLog();

  {
    ctltest::Capture err(std::cerr);
    sim().setPresent("/dev/mcc/ctl", false);
    EXPECT_FALSE(Make());
    sim().setPresent("/dev/mcc/ctl", true);
    EXPECT_EQ(err.text(), "mcc: fail to open MCC device: No such file or directory\n");
  }
  {
    ctltest::Capture err(std::cerr), log(std::clog);
    sim().failNext("/dev/mcc/ctl", kAllocate, EBUSY);
    EXPECT_FALSE(Make(LGCP::MccType::bri));
    EXPECT_EQ(log.text(), "mcc: MCC_ALLOCATE type=1\n");
    EXPECT_EQ(err.text(), "mcc: MCC_ALLOCATE fail: Device or resource busy\n");
  }
  {
    // A channel number the controller refuses would leave a slot that can
    // neither be switched nor carry data: no slot.
    ctltest::Capture err(std::cerr), log(std::clog);
    sim().failNext("/dev/mcc/ctl", kTimeslot, EIO);
    EXPECT_FALSE(Make());
    EXPECT_NE(err.text().find("mcc: MCC_TIMESLOT fail"), std::string::npos) << err.text();
  }
  sim().pump();
  EXPECT_EQ(Channels(), "");
  EXPECT_TRUE(sim().sessions("/dev/mcc/ctl").empty());
}

TEST_F(MccSlotTest, UserDataIsWrittenAsItComesEvenEmpty) {
  auto slot = Make();
  ASSERT_TRUE(slot);
  sim().tdm().connect(kOutput, slot->GetChannel());
  EXPECT_TRUE(slot->IUserData({'a', 'b', 'c'}));
  EXPECT_TRUE(slot->IUserData(std::vector<char>(2000, 'x')));
  EXPECT_EQ(Transmitted(), Strings({"abc", std::string(2000, 'x')}));
  // A write of nothing is still answered with success.
  EXPECT_TRUE(slot->IUserData({}));
}

// A slot on a channel the test allocates, whose input handler the test
// calls itself.
class Probe : public MccSlot {
 public:
  using MccSlot::MccSlot;
  using MccSlot::OnEvent;
};

std::unique_ptr<Probe> MakeProbe() {
  Fd dev(Board::open("/dev/mcc/ctl", O_RDWR | O_NONBLOCK));
  Board::WordRecord block{0, 512, 0, 1, 1};
  if (!dev || Board::ioctl(dev.lowlevel_fd(), kAllocate, block.data()) < 0) return nullptr;
  return std::unique_ptr<Probe>(new Probe(dev));
}

TEST_F(MccSlotTest, OneInputEventDrainsTheChannel) {
  auto probe = MakeProbe();
  ASSERT_TRUE(probe && probe->GetChannel() >= 0);
  Sim::Session* s = sim().mcc().channel(probe->GetChannel());
  ASSERT_TRUE(s);
  const std::string big(1500, 'z');
  for (const std::string& r : {std::string("one"), std::string(), std::string(), std::string("two"), big})
    sim().deliver(*s, Sim::Bytes(r.begin(), r.end()));
  ctltest::Capture quiet(std::cerr);  // signals of a slot without a number reach no controller
  probe->OnEvent(0, POLLIN);
  // In order, one signal per record, none longer than one read.
  EXPECT_EQ(Signals(), Strings({"one", "two", std::string(1024, 'z')}));
  probe->OnEvent(0, 0);  // no input reported: nothing read
  sim().deliver(*s, Sim::Bytes{'4'});
  probe->OnEvent(0, POLLOUT);
  EXPECT_EQ(Signals(), Strings());
  probe->OnEvent(0, POLLIN);
  EXPECT_EQ(Signals(), Strings({"4"}));
  // A channel at end of file answers 0 for ever: the drain still ends.
  sim().endSession(*s);
  probe->OnEvent(0, POLLIN);
  EXPECT_FALSE(probe->IsOpen()) << "a channel at end of file stays watched";
}

// The controller ends the channel: what was queued still arrives, then the
// channel is no longer watched (a hang-up would wake every poll) and is
// given back; user data is still answered.
TEST_F(MccSlotTest, AChannelEndedByTheControllerIsReleased) {
  auto slot = Make();
  ASSERT_TRUE(slot);
  sim().tdm().connect(slot->GetChannel(), 5);
  sim().tdm().send(5, Sim::Bytes{'b', 'y', 'e'});
  Sim::Session* s = sim().mcc().channel(slot->GetChannel());
  ASSERT_TRUE(s);
  ctltest::Capture err(std::cerr);
  sim().endSession(*s);
  ASSERT_TRUE(loop.RunUntil([&] { return !slot->IsOpen(); }));
  EXPECT_EQ(Signals(), Strings({"bye"}));
  EXPECT_EQ(err.count(": channel " + std::to_string(slot->GetChannel()) + " ended by the controller\n"), 1u)
      << err.text();
  EXPECT_TRUE(slot->IUserData({'x'}));
  sim().pump();
  EXPECT_EQ(Channels(), "");
}

TEST_F(MccSlotTest, QueryReportsFreeChannelsOrZeros) {
  auto& dev = static_cast<Sim::MccResourcesDevice&>(sim().mcc());
  dev.setCapacity(10, 4, 6);
  auto d = Make(LGCP::MccType::data);
  auto ss7 = Make(LGCP::MccType::transparent, LGCP::MccMode::ss7);
  auto b = Make(LGCP::MccType::bri);
  ASSERT_TRUE(d && ss7 && b);
  auto query = [] {
    LGCP::Resources r;
    r.set_mcc_data(-1), r.set_mcc_bri(-1), r.set_mcc_trans(-1);
    MccFactory::instance().Query(r);
    return std::to_string(r.get_mcc_data().getValue()) + " " + std::to_string(r.get_mcc_bri().getValue()) + " " +
           std::to_string(r.get_mcc_trans().getValue());
  };
  EXPECT_EQ(query(), "8 3 6");
  b.reset();
  sim().pump();
  EXPECT_EQ(query(), "8 4 6");
  sim().failNext("/dev/mcc/ctl", Mcc::kResources, EIO);
  EXPECT_EQ(query(), "0 0 0");
  sim().setPresent("/dev/mcc/ctl", false);
  EXPECT_EQ(query(), "0 0 0");
  sim().setPresent("/dev/mcc/ctl", true);
  EXPECT_EQ(query(), "8 4 6");
}

}  // namespace
