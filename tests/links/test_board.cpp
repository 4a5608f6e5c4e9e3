// The links on a real HDLC channel of the simulated board: frames cross
// the multiplexer to a far end that the test plays on the line timeslot.
#include <gtest/gtest.h>
#include <poll.h>

#include <cstring>

#include "hardware/hdlc.h"
#include "hardware/hwmux.h"
#include "hardware/sim/mcc.h"
#include "hardware/sim_env.h"
#include "links/lapd.h"
#include "links/mtp2.h"
#include "runtime/test_loop_support.h"
#include "test_lapd_harness.h"

using namespace LapdTest;
typedef SS7::SLC::State S;

namespace {

class OnBoard : public SimTest::Fixture {
 protected:
  // The link (owned by `owner`) on timeslot 16 of a trunk; type 1 is LAPD.
  template <class Link>
  void attach(Link* link, unsigned trunk, unsigned type) {
    HwMux::instance();
    owner.add_protocol_tail(link);
    link->hdlc(&ch);
    ch.bind(link);
    HDLC::Params p;
    p.trunk = trunk;
    p.timeslot = 16;
    p.tdm = 16;
    p.type = type;
    ch.params(p);
    ASSERT_TRUE(ch.activate());
    ch.on_event(-1, POLLOUT);  // the channel reports itself ready
  }
  void TearDown() override {
    ch.unbind();
    ch.deactivate();
    sim().pump();
  }
  std::vector<Bytes> farEnd() {
    sim().pump();
    return sim().tdm().takeFarEnd(16);
  }
  void fromFar(const Bytes& b) {
    sim().tdm().send(16, b);
    ch.on_event(-1, POLLIN);
  }

  HDLC ch;
  Owner owner;
};

TEST_F(OnBoard, LapdComesUpAndCarriesMessagesOverTheChannel) {
  ISDN::LAPD* lapd = new ISDN::LAPD(ISDN::Side::user, 0);
  attach(lapd, 0, 1);
  EXPECT_TRUE(ch.is_ready());
  lapd->activate();
  EXPECT_EQ(farEnd(), (std::vector<Bytes>{H("00 01 7F")}));
  fromFar(H("00 01 73"));  // UA from the network
  EXPECT_EQ(lapd->fullState().state, ISDN::LAPDFullState::MultipleFrameEstablished);
  EXPECT_EQ(owner.activated, 1);

  Packet m = packet(H("08 01 01 05"));
  lapd->message(m);
  EXPECT_EQ(farEnd(), (std::vector<Bytes>{H("00 01 00 00 08 01 01 05")}));
  fromFar(H("02 01 00 03 08 01 81 02"));  // I frame N(R)=1, P 1
  EXPECT_EQ(owner.up, (std::vector<Bytes>{H("08 01 81 02")}));
  EXPECT_EQ(farEnd(), (std::vector<Bytes>{H("02 01 01 03")}));  // RR response F 1
  EXPECT_EQ(lapd->ackQueued(), 0u);
  EXPECT_EQ(ch.statistics().txSU, 3u);
  EXPECT_EQ(ch.statistics().rxSU, 2u);

  ch.deactivate();  // a closed channel keeps the frames queued
  lapd->message(m);
  EXPECT_EQ(lapd->outQueued(), 1u);
  EXPECT_TRUE(farEnd().empty());
}

TEST_F(OnBoard, Mtp2AlignsAndCarriesMessagesOverTheChannel) {
  SS7::SLC* slc = new SS7::SLC;
  sim().mcc().setNextChannel(60);
  attach(slc, 1, 0);
  slc->activate();
  EXPECT_EQ((std::vector<Bytes>{lssu(SS7::SLC::SIO)}), farEnd());
  fromFar(lssu(SS7::SLC::SIN));
  elapse(8200);
  fromFar(kFisu0);
  ASSERT_EQ(S::worked, slc->get_state_id());
  EXPECT_EQ((std::vector<Bytes>{lssu(SS7::SLC::SIN), kFisu0, kFisu0, kFisu0}), farEnd());

  Packet p;
  slc->prepare_head(p);
  std::memcpy(p.put(4), payload(4, 0x83).data(), 4);
  slc->message(p);
  fromFar(su(0, true, 0, true, payload(5, 0x03)));
  EXPECT_EQ((std::vector<Bytes>{su(127, true, 0, true, payload(4, 0x83)), su(0, true, 0, true)}), farEnd());
  EXPECT_EQ((std::vector<Bytes>{payload(5, 0x03)}), owner.up);
  EXPECT_EQ(0u, slc->rtb_count());

  // A stalled controller: MSUs wait in the TB until the channel is ready
  // again. Long ones fill the controller's queue sooner.
  sim().hold(*sim().mcc().channel(60), true);
  const unsigned len = 3000;
  unsigned n = 0;
  while (n < 100 && slc->tb_count() < 3) {
    Packet m;
    slc->prepare_head(m);
    std::memcpy(m.put(len), payload(len, static_cast<std::uint8_t>(n)).data(), len);
    slc->message(m);
    ++n;
  }
  ASSERT_EQ(3u, slc->tb_count());
  EXPECT_FALSE(ch.is_ready());
  sim().hold(*sim().mcc().channel(60), false);
  for (int i = 0; i < 50 && slc->tb_count(); ++i) {
    LoopDeadline spin(20);  // the loop polls the channel until it is ready
    multiplexer.run(false, true);
  }
  EXPECT_EQ(0u, slc->tb_count());
  EXPECT_EQ(n, slc->rtb_count());
  std::vector<Bytes> msus;
  for (const Bytes& f : farEnd())
    if (f.size() > 3) msus.push_back(f);
  ASSERT_EQ(n, msus.size());
  EXPECT_EQ(su(0, true, n, true, payload(len, static_cast<std::uint8_t>(n - 1))), msus.back());
}

}  // namespace
