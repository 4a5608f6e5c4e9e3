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
#define TSD_PRI_FUNCTIONS(X) X(pri_new) X(pri_check_event) X(pri_hangup) X(pri_proceeding) X(pri_set_message) X(pri_set_error)
struct Pri {
#define TSD_PRI_MEMBER(f) decltype(&::f) f = nullptr;
  TSD_PRI_FUNCTIONS(TSD_PRI_MEMBER)
  bool load() {
    void* lib = nullptr;
    for (const char* n : {"libpri.so.1.4", "/usr/lib/libpri.so.1.4", "libpri.so"})
      if (!lib) lib = ::dlopen(n, RTLD_NOW | RTLD_LOCAL);
    bool all = lib != nullptr;
#define TSD_PRI_LOAD(f) all = all && (f = reinterpret_cast<decltype(f)>(::dlsym(lib, #f))) != nullptr;
    TSD_PRI_FUNCTIONS(TSD_PRI_LOAD)
    return all;
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
    pri_.pri_set_message(quiet);
    pri_.pri_set_error(quiet);
  }
  // A fresh line and owner for the next row.
  void restart() {
    TearDown();
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sv_), 0);
    owner_ = std::make_unique<Owner>();
    events_.clear();
    wire_.clear();
    ch_.sent.clear();
  }
  // Our link on one side, libpri on the other.
  void start(ISDN::Side::type side) {
    user_ = new ISDN::LAPD(side, 0);
    owner_->add_protocol_tail(user_);
    user_->hdlc(&ch_);
    far_ = pri_.pri_new(sv_[1], side == ISDN::Side::user ? PRI_NETWORK : PRI_CPE, PRI_SWITCH_EUROISDN_E1);
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
        if (pri_event* e = pri_.pri_check_event(far_)) onEvent(e);
        moved = true;
      }
      while (readable(sv_[0], 0)) {
        unsigned char buf[1024];
        ssize_t n = ::read(sv_[0], buf, sizeof buf);
        if (n <= 2) continue;
        Packet p = packet(Bytes(buf, buf + n - 2));
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
      pri_.pri_proceeding(far_, e->ring.call, e->ring.channel, 0);
      pri_.pri_hangup(far_, e->ring.call, 17);  // user busy
    }
  }
  bool saw(int ev) const { return std::count(events_.begin(), events_.end(), ev) > 0; }

  Pri pri_;
  int sv_[2] = {-1, -1};
  struct pri* far_ = nullptr;
  Channel ch_;
  std::unique_ptr<Owner> owner_ = std::make_unique<Owner>();
  ISDN::LAPD* user_ = nullptr;
  std::vector<int> events_;
  std::vector<Bytes> wire_;
  std::string callednum_;
};

// libpri starts the data link with SABME from either side; it answers our
// SETUP with CALL PROCEEDING and DISCONNECT (cause 17, two-octet call
// reference), each acknowledged; our release is confirmed by its UA.
TEST_F(LapdLibpri, FarEndEstablishesAndAnswersACall) {
  struct Row {
    ISDN::Side::type side;
    const char* setup;
    std::string called;
  };
  // SETUP, call reference 1 (one or two octets), speech A-law, B channel 1
  // or 2 exclusive, called number, sending complete.
  const Row rows[] = {
      {ISDN::Side::user, "08 01 01 05 04 03 80 90 A3 18 03 A9 83 81 70 04 81 31 32 33 A1", "123"},
      {ISDN::Side::network, "08 02 00 01 05 04 03 80 90 A3 18 03 A9 83 82 70 05 81 34 35 36 37 A1", "4567"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.called);
    restart();
    start(r.side);
    exchange();
    ASSERT_EQ(user_->fullState().state, ISDN::LAPDFullState::MultipleFrameEstablished);
    EXPECT_TRUE(saw(PRI_EVENT_DCHAN_UP));
    EXPECT_EQ(owner_->activated, 1);

    Packet setup = packet(H(r.setup));
    user_->message(setup);
    exchange();
    EXPECT_TRUE(saw(PRI_EVENT_RING));
    EXPECT_EQ(callednum_, r.called);
    ASSERT_EQ(owner_->up.size(), 2u);
    EXPECT_EQ(hex(owner_->up[0]).substr(0, 14) + " | " + hex(owner_->up[1]).substr(0, 14), "08 02 80 01 02 | 08 02 80 01 45");
    EXPECT_EQ(hex(wire_.back()), r.side == ISDN::Side::user ? "02 01 01 04" : "00 01 01 04");  // RR N(R)=2
    EXPECT_EQ(user_->ackQueued() + user_->stats().rejected + user_->stats().badConfirm, 0u);
    EXPECT_TRUE(owner_->statuses.empty()) << owner_->statuses.front();

    user_->deactivate();
    exchange();
    EXPECT_EQ(user_->fullState().state, ISDN::LAPDFullState::TeiAssigned);
    EXPECT_EQ(owner_->releases, std::vector<std::string>{"success (UA received)"});
  }
}

}  // namespace
#endif
