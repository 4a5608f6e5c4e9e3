// A LAPD link on an HDLC channel of the simulated board: frames cross the
// multiplexer to a far end attached to the line timeslot.
#include <gtest/gtest.h>
#include <poll.h>

#include "hardware/hdlc.h"
#include "hardware/hwmux.h"
#include "hardware/sim_env.h"
#include "links/lapd.h"
#include "test_lapd_harness.h"

using namespace LapdTest;

namespace {

class LapdBoard : public SimTest::Fixture {
 protected:
  void SetUp() override {
    SimTest::Fixture::SetUp();
    HwMux::instance();
    link_ = new ISDN::LAPD(ISDN::Side::user, 0);
    owner_.add_protocol_tail(link_);
    link_->hdlc(&ch_);
    ch_.bind(link_);
    HDLC::Params p;
    p.trunk = 0;
    p.timeslot = 16;
    p.tdm = 16;
    p.type = 1;
    ch_.params(p);
    ASSERT_TRUE(ch_.activate());
    serve(POLLOUT);
  }
  void TearDown() override {
    ch_.unbind();
    ch_.deactivate();
    sim().pump();
  }
  void serve(short ev) { ch_.on_event(-1, ev); }
  std::vector<Bytes> farEnd() {
    sim().pump();
    return sim().tdm().takeFarEnd(16);
  }
  void fromFar(const Bytes& b) {
    sim().tdm().send(16, b);
    serve(POLLIN);
  }

  HDLC ch_;
  Owner owner_;
  ISDN::LAPD* link_ = nullptr;
};

TEST_F(LapdBoard, LinkComesUpAndCarriesMessagesOverTheChannel) {
  EXPECT_TRUE(ch_.is_ready());
  link_->activate();
  EXPECT_EQ(farEnd(), (std::vector<Bytes>{{0x00, 0x01, 0x7F}}));
  fromFar({0x00, 0x01, 0x73});  // UA from the network
  EXPECT_EQ(link_->fullState().state, ISDN::LAPDFullState::MultipleFrameEstablished);
  EXPECT_EQ(owner_.activated, 1);

  Packet m = packet({0x08, 0x01, 0x01, 0x05});
  link_->message(m);
  EXPECT_EQ(farEnd(), (std::vector<Bytes>{{0x00, 0x01, 0x00, 0x00, 0x08, 0x01, 0x01, 0x05}}));
  fromFar({0x02, 0x01, 0x00, 0x03, 0x08, 0x01, 0x81, 0x02});  // I frame N(R)=1, P 1
  ASSERT_EQ(owner_.up.size(), 1u);
  EXPECT_EQ(hex(owner_.up[0]), "08 01 81 02");
  EXPECT_EQ(farEnd(), (std::vector<Bytes>{{0x02, 0x01, 0x01, 0x03}}));  // RR response F 1
  EXPECT_EQ(link_->ackQueued(), 0u);
  EXPECT_EQ(ch_.statistics().txSU, 3u);
  EXPECT_EQ(ch_.statistics().rxSU, 2u);
}

TEST_F(LapdBoard, ClosedChannelKeepsFramesQueued) {
  link_->activate();
  farEnd();
  fromFar({0x00, 0x01, 0x73});
  ch_.deactivate();
  Packet m = packet({0x08, 0x01, 0x01, 0x05});
  link_->message(m);
  EXPECT_EQ(link_->outQueued(), 1u);
  EXPECT_TRUE(farEnd().empty());
}

}  // namespace
