// ISDN slots on the simulated multichannel controller: the channel request,
// declined creates and a full device.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>

#include <cstring>

#include "hardware/board/board.h"
#include "hardware/board/record.h"
#include "hardware/board/requests.h"
#include "slots/isdn_slot.h"
#include "test_pstn_support.h"

namespace {

namespace R = ::Board::Req;
using slottest::fills::Isdn;

// Counts the channel's ready reports.
class CountingLink : public ISDN::LAPD {
 public:
  CountingLink() : ISDN::LAPD(ISDN::Side::user, 0) {}
  void on_hdlc_ready() override {
    ++readies;
    ISDN::LAPD::on_hdlc_ready();
  }
  int readies = 0;
};

class IsdnSlotTest : public linktest::Fixture {
 protected:
  IsdnSlot* Make(const LGCP::CreateParams& p) { return Fixture::Make<IsdnSlot>(IsdnFactory::instance(), p); }
  // The channel allocation records, word by word.
  std::vector<std::vector<int32_t>> Allocations() {
    std::vector<std::vector<int32_t>> v;
    for (const auto& e : sim().log()) {
      if (e.device != "/dev/mcc/ctl" || e.request != R::MccAllocate) continue;
      v.emplace_back();
      for (std::size_t i = 0; i + 4 <= e.in.size(); i += 4)
        v.back().push_back(static_cast<int32_t>(::Board::getBE32(e.in.data() + i)));
    }
    return v;
  }
  // A create the factory declines; what it logged.
  std::string Declined(const LGCP::CreateParams& p) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(nullptr, Make(p));
    return ::testing::internal::GetCapturedStderr();
  }
};

TEST_F(IsdnSlotTest, ChannelRequestFollowsTypeAndSide) {
  sim().mcc().setNextChannel(80);
  IsdnSlot* bri = Make(Isdn(true, true));
  ASSERT_NE(nullptr, bri);
  IsdnSlot* pri = Make(Isdn(false, false));
  ASSERT_NE(nullptr, pri);
  EXPECT_EQ((std::vector<std::vector<int32_t>>{{1, 512, 0, 1, 1}, {0, 512, 0, 1, 1}}), Allocations());
  EXPECT_EQ(ISDN::Side::network, bri->link()->side());
  EXPECT_EQ(ISDN::Side::user, pri->link()->side());
  EXPECT_EQ(80, bri->GetTransmitChannel());
  EXPECT_EQ(80, bri->GetReceiveChannel());

  // Every ioctl is unsupported; a flow-status change sends nothing.
  LGCP::IoctlParams rq;
  rq.select_ss7RqBSN();
  EXPECT_FALSE(pri->Ioctl(rq));
  rq.select_deactivateTonec();
  EXPECT_FALSE(pri->Ioctl(rq));
  pri->flow_status_changed(pri->link());
  EXPECT_TRUE(linktest::Signals().empty());
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(pri->IUserData(std::vector<char>(5000, 1)));
  EXPECT_NE(std::string::npos, ::testing::internal::GetCapturedStderr().find(":MCC: user data too long: 5000"));

  // Destruction gives the controller channel back.
  made_.erase(made_.begin());
  bri->BeforeDestroy();
  delete bri;
  sim().pump();
  EXPECT_EQ(nullptr, sim().mcc().channel(80));
}

TEST_F(IsdnSlotTest, CreatesTheDeviceRefusesAreDeclined) {
  sim().setPresent("/dev/mcc/ctl", false);
  std::string log = Declined(Isdn(false, false));
  sim().setPresent("/dev/mcc/ctl", true);
  EXPECT_NE(std::string::npos, log.find("mcc/isdn: fail to open MCC device: ")) << log;

  sim().failNext("/dev/mcc/ctl", R::MccAllocate, EBUSY);
  log = Declined(Isdn(true, false));
  EXPECT_NE(std::string::npos, log.find("mcc/isdn: MCC_ALLOCATE fail: ")) << log;

  // Without a channel the slot could not be connected.
  sim().failNext("/dev/mcc/ctl", R::MccTimeslot, EIO);
  log = Declined(Isdn(false, true));
  EXPECT_NE(std::string::npos, log.find("mcc/isdn: MCC_TIMESLOT fail: ")) << log;

  EXPECT_NE(nullptr, Make(Isdn(false, false)));
}

TEST_F(IsdnSlotTest, AFullDeviceRefusesFramesUntilItIsWritableAgain) {
  Fd dev(::Board::open("/dev/mcc/ctl", O_RDWR | O_NONBLOCK | O_CLOEXEC));
  ::Board::WordRecord alloc{0, 512, 0, 1, 1};
  ASSERT_EQ(0, ::Board::ioctl(dev.lowlevel_fd(), R::MccAllocate, alloc.data()));
  auto* link = new CountingLink;
  IsdnSlot* slot = Keep(new IsdnSlot(dev, link));
  dev.close();
  auto run = [this] {
    for (int i = 0; i < 5; ++i) {
      sim().pump();
      linktest::advance();
    }
  };
  EXPECT_FALSE(slot->is_ready());
  run();
  EXPECT_TRUE(slot->is_ready());
  EXPECT_EQ(1, link->readies);

  sim().hold(*sim().mcc().channel(slot->channel()), true);
  Packet frame;
  frame.reserve_head(0);
  std::memset(frame.put(200), 0x55, 200);
  int accepted = 0;
  while (accepted < 1000 && slot->hdlc_transmit(frame)) ++accepted;
  ASSERT_LT(accepted, 1000);
  EXPECT_FALSE(slot->is_ready());
  EXPECT_EQ(POLLIN | POLLOUT, slot->events());
  Packet empty;
  EXPECT_TRUE(slot->hdlc_transmit(empty));
  run();
  EXPECT_EQ(1, link->readies);

  sim().hold(*sim().mcc().channel(slot->channel()), false);
  run();
  EXPECT_EQ(2, link->readies);
  EXPECT_EQ(POLLIN, slot->events());
  EXPECT_TRUE(slot->hdlc_transmit(frame));

  // A device that ends is no longer watched (it would stay readable).
  ::testing::internal::CaptureStderr();
  sim().endSession(*sim().mcc().channel(slot->channel()));
  run();
  std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, log.find("na:MCC: read error: ")) << log;
  EXPECT_FALSE(slot->is_open());
  EXPECT_FALSE(slot->hdlc_transmit(frame));
}

}  // namespace
