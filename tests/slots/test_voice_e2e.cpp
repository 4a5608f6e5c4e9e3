// The real daemon on the simulated board: a file player created over the
// control link plays a prompt onto trunk 0 timeslot 5 (what leaves towards
// the far end is read from the simulator), a recorder streams what arrives
// on the timeslot to a loopback TCP peer, and destroying both frees their
// controller channels and closes the peer's connection.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "support/e1board_harness.h"
#include "support/loopback.h"

namespace {

using e1test::Answer;
using e1test::Msgs;
using Fill = std::function<void(LGCP::Command&)>;

constexpr int kOk = -1;

// The daemon with a root folder the test fills (prompt files).
class VoiceDaemon : public ::testing::Test {
 protected:
  VoiceDaemon() : port_(startup_test::freePort()), daemon_(root_, {"--port", std::to_string(port_)}) {}
  ~VoiceDaemon() override { daemon_.stop(); }
  void SetUp() override {
    ASSERT_TRUE(root_.loopRunning(20000) &&
                startup_test::waitFor([&] { return startup_test::exists(startup_test::simSocketPath(root_)); }))
        << log();
    ASSERT_TRUE(startup_test::waitFor(
        [&] {
          return ctl.Connect(static_cast<unsigned short>(port_)) &&
                 Ask(0, [](LGCP::Command& c) { c.select_ping(); }) == kOk;
        },
        10000))
        << log();
  }
  int Ask(unsigned slot, const Fill& fill) {
    LGCP::Message m = e1test::CommandMsg(++seq_, fill);
    m.set_slot(slot);
    received_.clear();
    if (!e1test::Send(ctl, m)) return -3;
    Wait([](const Msgs& ms) { return Answer(ms) != -2; });
    return Answer(received_);
  }
  bool Wait(const std::function<bool(const Msgs&)>& done, int ms = 5000) {
    startup_test::waitFor(
        [&] {
          pollfd p{ctl.fd(), POLLIN, 0};
          ::poll(&p, 1, 10);
          for (auto& m : e1test::TakeAll(ctl)) received_.push_back(m);
          return ctl.eof() || done(received_);
        },
        ms);
    return done(received_);
  }
  // The signals of one slot received so far, in short form.
  std::vector<std::string> Signals(unsigned slot) const {
    std::vector<std::string> v;
    for (const auto& m : received_) {
      if (!m.get_pdu().signal_isSelected() || m.get_slot().getValue() != slot) continue;
      const LGCP::Signal& s = m.get_pdu().get_signal();
      if (s.transmitter_isSelected())
        v.push_back(s.get_transmitter().active_isSelected() ? "transmitter active" : "transmitter inactive");
      else if (s.receiver_isSelected())
        v.push_back(s.get_receiver().active_isSelected() ? "receiver active" : "receiver inactive");
      else if (s.abort_isSelected())
        v.push_back("abort");
      else if (s.ioctl_isSelected() && s.get_ioctl().stopRecording_isSelected())
        v.push_back("stopRecording " + std::to_string(s.get_ioctl().get_stopRecording().asInt()));
    }
    return v;
  }
  std::string Sim(const std::string& line) { return startup_test::simCommand(root_, line); }
  std::string log() { return daemon_.out() + daemon_.err(); }
  // Controller channels the board holds.
  std::size_t Channels() {
    std::istringstream in(Sim("channels"));
    std::string line;
    std::size_t n = 0;
    while (std::getline(in, line)) n += line != "ok";
    return n;
  }

  startup_test::TempRoot root_;
  int port_;
  startup_test::Daemon daemon_;
  ctltest::Client ctl;
  Msgs received_;
  int seq_ = 0;
};

TEST_F(VoiceDaemon, PlayerReachesTheTimeslotRecorderReachesThePeerDestroyStopsBoth) {
  std::ofstream(root_.path() + "/usr/local/voice/hello") << "hello";
  unsigned short peerPort = 0;
  int server = looptest::listenLoopback(peerPort);
  ASSERT_GE(server, 0);

  ASSERT_EQ(Ask(2, [](LGCP::Command& c) {
              LGCP::TrunkParams& p = c.select_create().select_trunk();
              p.set_trunk(0);
              p.set_timeslot(5);
            }), kOk);
  // A file player: the first name is missing, the second plays once.
  ASSERT_EQ(Ask(1, [](LGCP::Command& c) {
              LGCP::PlayerParams_file& f = c.select_create().select_voice().select_player().select_file();
              f.set_name().push_back(ASN1::IA5String("absent"));
              f.set_name().push_back(ASN1::IA5String("hello"));
              f.set_repeat(1);
            }), kOk);
  ASSERT_EQ(Ask(3, [&](LGCP::Command& c) {
              TERM::HostAddress& h = c.select_create().select_voice().select_record();
              h.set_iaddr("127.0.0.1");
              h.set_port(peerPort);
            }), kOk);
  Wait([&](const Msgs&) { return !Signals(3).empty(); });
  EXPECT_EQ(Signals(3), std::vector<std::string>{"receiver active"});
  EXPECT_EQ(Channels(), 2u) << Sim("channels");

  ASSERT_EQ(Ask(1, [](LGCP::Command& c) { c.select_connect(2); }), kOk);
  Wait([&](const Msgs&) { return Signals(1).size() >= 2; });
  EXPECT_TRUE(startup_test::waitFor([&] { return Sim("frames 5") == "68656c6c6f\nok\n"; })) << Sim("frames 5");
  Wait([&](const Msgs&) { return Signals(1).size() >= 3; });
  EXPECT_EQ(Signals(1), (std::vector<std::string>{"transmitter active", "transmitter inactive", "abort"})) << log();

  // The trunk timeslot feeds the recorder, which connects to the peer.
  ASSERT_EQ(Ask(2, [](LGCP::Command& c) { c.select_connect(3); }), kOk);
  int peer = -1;
  ASSERT_TRUE(startup_test::waitFor([&] {
    pollfd p{server, POLLIN, 0};
    return ::poll(&p, 1, 10) == 1;
  }));
  peer = ::accept(server, nullptr, nullptr);
  ASSERT_TRUE(startup_test::waitFor([&] { return log().find("]: connected to 127.0.0.1:") != std::string::npos; }))
      << log();
  EXPECT_EQ(Sim("inject 5 766f696365"), "outputs 1\nok\n");
  std::string got;
  startup_test::waitFor([&] {
    char buf[64];
    pollfd p{peer, POLLIN, 0};
    if (::poll(&p, 1, 10) == 1) {
      ssize_t n = ::read(peer, buf, sizeof buf);
      if (n > 0) got.append(buf, static_cast<std::size_t>(n));
    }
    return got.size() >= 5;
  });
  EXPECT_EQ(got, "voice");

  // Destroy: synchronous, channels freed, the peer sees the end.
  ASSERT_EQ(Ask(3, [](LGCP::Command& c) { c.select_destroy(); }), kOk);
  ASSERT_EQ(Ask(1, [](LGCP::Command& c) { c.select_destroy(); }), kOk);
  EXPECT_TRUE(startup_test::waitFor([&] { return Channels() == 0; })) << Sim("channels");
  char c;
  pollfd p{peer, POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 3000), 1);
  EXPECT_EQ(::read(peer, &c, 1), 0);
  ::close(peer);
  ::close(server);
}

}  // namespace
