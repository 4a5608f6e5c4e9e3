// Our link against libpri as an independent far end, over a socket pair.
// libpri is loaded at run time; it is a test dependency, so its absence
// fails the tests.
#include <dlfcn.h>
#include <gtest/gtest.h>
#if __has_include(<libpri.h>)
#include <libpri.h>
#define TSD_HAVE_LIBPRI 1
#endif
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "links/lapd.h"
#include "test_lapd_harness.h"

using namespace LapdTest;

#ifndef TSD_HAVE_LIBPRI
TEST(LapdLibpri, FarEndEstablishesAndAnswersACall) { FAIL() << "libpri-dev missing (scripts/deps.sh installs it)"; }
#else
namespace {

// libpri's functions, found at run time.
struct Pri {
  decltype(&::pri_new) create = nullptr;
  decltype(&::pri_check_event) check_event = nullptr;
  decltype(&::pri_hangup) hangup = nullptr;
  decltype(&::pri_proceeding) proceeding = nullptr;
  decltype(&::pri_set_message) set_message = nullptr;
  decltype(&::pri_set_error) set_error = nullptr;

  bool load() {
    void* lib = nullptr;
    for (const char* n : {"libpri.so.1.4", "/usr/lib/libpri.so.1.4", "libpri.so"})
      if (!lib) lib = ::dlopen(n, RTLD_NOW | RTLD_LOCAL);
    if (!lib) return false;
#define TSD_PRI(f, name) f = reinterpret_cast<decltype(f)>(::dlsym(lib, name))
    TSD_PRI(create, "pri_new");
    TSD_PRI(check_event, "pri_check_event");
    TSD_PRI(hangup, "pri_hangup");
    TSD_PRI(proceeding, "pri_proceeding");
    TSD_PRI(set_message, "pri_set_message");
    TSD_PRI(set_error, "pri_set_error");
#undef TSD_PRI
    return create && check_event && hangup && proceeding && set_message && set_error;
  }
};

void quiet(struct pri*, char*) {}

// libpri offers no way to free a controller: keep them reachable so the
// leak checker does not count them.
struct pri* controllers[16];
unsigned controllerCount = 0;

bool readable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, ms) > 0 && (p.revents & POLLIN);
}

class LapdLibpri : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pri_.load()) << "libpri missing (scripts/deps.sh installs it)";
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sv_), 0);
    pri_.set_message(quiet);
    pri_.set_error(quiet);
  }
  // A fresh line and owner for the next row.
  void restart() {
    TearDown();
    sv_[0] = sv_[1] = -1;
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sv_), 0);
    owner_ = std::make_unique<Owner>();
    events_.clear();
    wire_.clear();
    ch_.sent.clear();
    callednum_.clear();
  }
  // Our link on one side, libpri on the other.
  void start(ISDN::Side::type side) {
    user_ = new ISDN::LAPD(side, 0);
    owner_->add_protocol_tail(user_);
    user_->hdlc(&ch_);
    far_ = pri_.create(sv_[1], side == ISDN::Side::user ? PRI_NETWORK : PRI_CPE, PRI_SWITCH_EUROISDN_E1);
    ASSERT_NE(far_, nullptr);
    if (controllerCount < 16) controllers[controllerCount++] = far_;
  }
  void TearDown() override {
    if (sv_[0] >= 0) ::close(sv_[0]);
    if (sv_[1] >= 0) ::close(sv_[1]);
  }

  // Moves frames both ways until the line is quiet. libpri's frames carry
  // two checksum octets after the frame, as on its HDLC devices.
  void exchange() {
    for (int round = 0; round < 50; ++round) {
      bool moved = false;
      while (!ch_.sent.empty()) {
        Bytes f = ch_.pop();
        wire_.push_back(f);
        f.push_back(0);
        f.push_back(0);
        ASSERT_EQ(::write(sv_[0], f.data(), f.size()), ssize_t(f.size()));
        moved = true;
      }
      while (readable(sv_[1], moved ? 20 : 0)) {
        if (pri_event* e = pri_.check_event(far_)) onEvent(e);
        moved = true;
      }
      while (readable(sv_[0], 0)) {
        unsigned char buf[1024];
        ssize_t n = ::read(sv_[0], buf, sizeof buf);
        if (n <= 2) continue;
        Packet p = packet(Bytes(buf, buf + n - 2));
        fromFar_.push_back(bytes(p));
        user_->receive(p);
        moved = true;
      }
      if (!moved && ch_.sent.empty()) break;
    }
  }
  void onEvent(pri_event* e) {
    events_.push_back(e->e);
    if (e->e == PRI_EVENT_RING) {
      callednum_ = e->ring.callednum;
      pri_.proceeding(far_, e->ring.call, e->ring.channel, 0);
      pri_.hangup(far_, e->ring.call, 17);  // user busy
    }
  }
  bool saw(int ev) const {
    for (int e : events_)
      if (e == ev) return true;
    return false;
  }

  Pri pri_;
  int sv_[2] = {-1, -1};
  struct pri* far_ = nullptr;
  Channel ch_;
  std::unique_ptr<Owner> owner_ = std::make_unique<Owner>();
  ISDN::LAPD* user_ = nullptr;
  std::vector<int> events_;
  std::vector<Bytes> wire_, fromFar_;
  std::string callednum_;
};

// libpri starts the data link with SABME from either side; it answers our
// SETUP with CALL PROCEEDING and DISCONNECT (cause 17, two-octet call
// reference), each acknowledged; our release is confirmed by its UA.
TEST_F(LapdLibpri, FarEndEstablishesAndAnswersACall) {
  struct Row {
    ISDN::Side::type side;
    Bytes setup;
    std::string called;
  };
  const Row rows[] = {
      {ISDN::Side::user,
       {0x08, 0x01, 0x01, 0x05,                 // SETUP, call reference 1
        0x04, 0x03, 0x80, 0x90, 0xA3,           // speech, A-law
        0x18, 0x03, 0xA9, 0x83, 0x81,           // B channel 1, exclusive
        0x70, 0x04, 0x81, '1', '2', '3', 0xA1},  // called number, sending complete
       "123"},
      {ISDN::Side::network,
       {0x08, 0x02, 0x00, 0x01, 0x05,  // two-octet call reference 1
        0x04, 0x03, 0x80, 0x90, 0xA3, 0x18, 0x03, 0xA9, 0x83, 0x82, 0x70, 0x05, 0x81, '4', '5', '6', '7', 0xA1},
       "4567"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.called);
    restart();
    start(r.side);
    exchange();
    ASSERT_EQ(user_->fullState().state, ISDN::LAPDFullState::MultipleFrameEstablished);
    EXPECT_TRUE(saw(PRI_EVENT_DCHAN_UP));
    EXPECT_EQ(owner_->activated, 1);

    Packet setup = packet(r.setup);
    user_->message(setup);
    exchange();
    EXPECT_TRUE(saw(PRI_EVENT_RING));
    EXPECT_EQ(callednum_, r.called);
    ASSERT_EQ(owner_->up.size(), 2u);
    EXPECT_EQ(hex(Bytes(owner_->up[0].begin(), owner_->up[0].begin() + 5)), "08 02 80 01 02");
    EXPECT_EQ(hex(Bytes(owner_->up[1].begin(), owner_->up[1].begin() + 5)), "08 02 80 01 45");
    EXPECT_EQ(hex(wire_.back()), r.side == ISDN::Side::user ? "02 01 01 04" : "00 01 01 04");  // RR N(R)=2
    EXPECT_EQ(user_->ackQueued(), 0u);
    EXPECT_EQ(user_->stats().rejected, 0u);
    EXPECT_EQ(user_->stats().badConfirm, 0u);
    EXPECT_TRUE(owner_->statuses.empty()) << owner_->statuses.front();

    user_->deactivate();
    exchange();
    EXPECT_EQ(user_->fullState().state, ISDN::LAPDFullState::TeiAssigned);
    EXPECT_EQ(owner_->releases, std::vector<std::string>{"success (UA received)"});
  }
}

}  // namespace
#endif
