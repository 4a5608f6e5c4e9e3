// Voice players and recorders on the simulated multichannel controller:
// allocation records and refused creates, prompt files in order and rounds
// (missing, unsafe and no playable names), network playback, failing peers,
// and destroy closing everything.
#include <climits>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "control/control_test_support.h"
#include "hardware/board/record.h"
#include "hardware/board/requests.h"
#include "hardware/sim/mcc.h"
#include "hardware/sim_env.h"
#include "runtime/os/clock.h"
#include "slots/voice_slot.h"
#include "slots_test_support.h"
#include "support/loopback.h"

namespace {

using Strings = std::vector<std::string>;
constexpr int kOutput = 77;  // the fabric output a player is connected to
constexpr int kSource = 12;  // the fabric source a recorder's channel listens to

class VoiceTest : public SimTest::Fixture {
 protected:
  void SetUp() override {
    SimTest::Fixture::SetUp();
    ::signal(SIGPIPE, SIG_IGN);  // as the daemon: a closed peer is a write error
    std::string dir = SimTest::root() + "/usr/local/voice";
    ::mkdir((SimTest::root() + "/usr").c_str(), 0755);
    ::mkdir((SimTest::root() + "/usr/local").c_str(), 0755);
    ::mkdir(dir.c_str(), 0755);
    for (const char* n : {"a", "b", "c"}) ::unlink((dir + "/" + n).c_str());
    Signals();
  }
  static void Prompt(const std::string& name, const std::string& text) {
    std::ofstream(SimTest::root() + "/usr/local/voice/" + name) << text;
  }
  static LGCP::CreateParams FileParams(const Strings& names, int repeat) {
    LGCP::CreateParams p;
    LGCP::PlayerParams_file& f = p.select_voice().select_player().select_file();
    for (const auto& n : names) f.set_name().push_back(ASN1::IA5String(n));
    f.set_repeat(repeat);
    return p;
  }
  static LGCP::CreateParams NetParams(unsigned short port, int id) {
    LGCP::CreateParams p;
    LGCP::PlayerParams_network& n = p.select_voice().select_player().select_network();
    n.set_host().set_iaddr("127.0.0.1");
    n.set_host().set_port(port);
    n.set_id(id);
    return p;
  }
  static LGCP::CreateParams RecordParams(unsigned short port) {
    LGCP::CreateParams p;
    TERM::HostAddress& h = p.select_voice().select_record();
    h.set_iaddr("127.0.0.1");
    h.set_port(port);
    return p;
  }
  template <class T = Slot>
  std::unique_ptr<T> Make(const LGCP::CreateParams& p) {
    Slot* s = VoiceFactory::instance().INewSlot(p);
    return std::unique_ptr<T>(s ? &dynamic_cast<T&>(*s) : nullptr);
  }
  // Slots a test deleted without a destroy leave the factory's lists.
  void TearDown() override {
    VoiceFactory& f = VoiceFactory::instance();
    for (RecordSlot* r : std::list<RecordSlot*>(f.Recorders())) f.OnDestroy(r);
    for (PlaySlotGeneric* p : std::list<PlaySlotGeneric*>(f.Players())) f.OnDestroy(p);
  }
  // The words of the last MCC_ALLOCATE record.
  std::vector<int32_t> AllocRecord() {
    std::vector<int32_t> w;
    for (const auto& e : sim().log())
      if (e.device == "/dev/mcc/ctl" && e.request == Board::Req::MccAllocate) {
        w.clear();
        for (std::size_t i = 0; i + 4 <= e.in.size(); i += 4)
          w.push_back(static_cast<int32_t>(Board::getBE32(&e.in[i])));
      }
    return w;
  }
  // Destroys as Slots does: the hook, then delete.
  static void Destroy(std::unique_ptr<Slot>& s) {
    EXPECT_TRUE(s->IBeforeDestroy());
    s.reset();
  }
  static Strings Signals() { return slottest::TakeSignals(); }
  // Runs the loop (serving the simulator) until cond holds.
  bool Run(const std::function<bool()>& cond, unsigned ms = 5000) {
    return loop.RunUntil([&] {
      sim().pump();
      played += Take();
      return cond();
    }, ms);
  }
  // What reached the player's output since the last call.
  std::string Take() {
    std::string s;
    for (const auto& f : sim().tdm().takeFarEnd(kOutput)) s.append(f.begin(), f.end());
    return s;
  }
  // True once the last signal sent is an abort.
  static bool Ended() {
    const auto& v = slottest::BoundSpy().signals;
    return !v.empty() && v.back().abort_isSelected();
  }
  // A player made, connected to the output and asked for its stream.
  template <class T = Slot>
  std::unique_ptr<T> Started(const LGCP::CreateParams& p, bool started = true) {
    auto slot = Make<T>(p);
    EXPECT_TRUE(slot);
    if (!slot) return slot;
    sim().tdm().connect(kOutput, slot->IGetTransmitChannel());
    EXPECT_EQ(slot->IOnOutputStream(), started);
    return slot;
  }
  // Runs the loop for ms whatever happens.
  void Idle(unsigned ms) { Run([] { return false; }, ms); }
  // Runs the loop until a connection waits on the listener; accepts it.
  int Accept(int server) {
    if (!Run([&] {
          pollfd p{server, POLLIN, 0};
          return ::poll(&p, 1, 0) == 1;
        }))
      return -1;
    return ::accept(server, nullptr, nullptr);
  }
  static std::string ReadAll(int fd, std::size_t atLeast, int ms = 3000) {
    std::string s;
    char buf[4096];
    for (int waited = 0; s.size() < atLeast && waited < ms; waited += 10) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      ssize_t n = ::read(fd, buf, sizeof buf);
      if (n <= 0) break;
      s.append(buf, static_cast<std::size_t>(n));
    }
    return s;
  }

  ctltest::Loop loop;
  std::string played;
};

TEST_F(VoiceTest, AllocationRecordsAndRefusedCreates) {
  auto player = Make<PlaySlotGeneric>(FileParams({"a"}, 1));
  ASSERT_TRUE(player);
  EXPECT_EQ(AllocRecord(), (std::vector<int32_t>{2, 1024, 0, 0, 5}));
  EXPECT_EQ(player->IGetTransmitChannel(), 1024);
  EXPECT_EQ(VoiceFactory::instance().Players().size(), 1u);
  sim().clearLog();
  auto rec = Make<RecordSlot>(RecordParams(1));
  ASSERT_TRUE(rec);
  EXPECT_EQ(AllocRecord(), (std::vector<int32_t>{2, 1024, 0, 5, 0}));
  EXPECT_EQ(rec->IGetReceiveChannel(), 1025);
  EXPECT_EQ(rec->IGetTransmitChannel(), -1);
  EXPECT_EQ(player->IGetReceiveChannel(), -1);
  std::unique_ptr<Slot> r(rec.release()), p(player.release());
  Destroy(r);
  Destroy(p);
  EXPECT_TRUE(VoiceFactory::instance().Players().empty());
  EXPECT_TRUE(VoiceFactory::instance().Recorders().empty());

  // Other create alternatives are not voice.
  LGCP::CreateParams trunk;
  trunk.select_trunk().set_trunk(0);
  EXPECT_EQ(VoiceFactory::instance().INewSlot(trunk), nullptr);

  // A missing device, a refused allocation and no timeslot decline; no
  // channel stays held.
  sim().setPresent("/dev/mcc/ctl", false);
  EXPECT_FALSE(Make(RecordParams(1)));
  sim().setPresent("/dev/mcc/ctl", true);
  sim().failNext("/dev/mcc/ctl", Board::Req::MccAllocate, EBUSY, 1);
  EXPECT_FALSE(Make(FileParams({"a"}, 1)));
  sim().failNext("/dev/mcc/ctl", Board::Req::MccTimeslot, ENOSPC, 1);
  EXPECT_FALSE(Make(NetParams(1, 1)));
  // A peer address that is not dotted IPv4 would reach this board itself.
  LGCP::CreateParams named = RecordParams(1);
  named.select_voice().select_record().set_iaddr("localhost");
  EXPECT_FALSE(Make(named));
  LGCP::CreateParams withPort = NetParams(1, 1);
  withPort.select_voice().select_player().select_network().set_host().set_iaddr("127.0.0.1:80");
  EXPECT_FALSE(Make(withPort));
  sim().pump();
  EXPECT_EQ(sim().sessions("/dev/mcc/ctl").size(), 0u);
  EXPECT_TRUE(VoiceFactory::instance().Players().empty());
}

TEST_F(VoiceTest, FilePlayerSkipsMissingNamesAndEndsAfterItsRounds) {
  Prompt("b", "bravo-");
  Prompt("c", "charlie-");
  auto slot = Started(FileParams({"x", "y", "c", "b"}, 2));
  EXPECT_TRUE(slot->IOnOutputStream());  // started once: no second round begins
  ASSERT_TRUE(Run([&] { return Ended(); }));
  EXPECT_EQ(played, "charlie-bravo-charlie-bravo-");
  EXPECT_EQ(Signals(), (Strings{"transmitter active 1024", "transmitter inactive", "abort 0"}));
}

TEST_F(VoiceTest, RepeatZeroOrNegativePlaysUntilDestroyed) {
  Prompt("a", "A");
  for (int repeat : {0, -1, INT_MIN}) {
    played.clear();
    auto slot = Started(FileParams({"a"}, repeat));
    ASSERT_TRUE(Run([&] { return played.size() >= 5; })) << repeat;
    EXPECT_EQ(played.substr(0, 5), "AAAAA");
    Destroy(slot);
    Idle(50);
    played.clear();
    Idle(50);
    EXPECT_EQ(played, "");
    EXPECT_EQ(Signals(), (Strings{"transmitter active 1024"})) << repeat;  // no end reported by the slot itself
    EXPECT_EQ(sim().sessions("/dev/mcc/ctl").size(), 0u);
  }
}

TEST_F(VoiceTest, NoPlayableNameRefusesTheConnectAndAbortsOnce) {
  Prompt("a", "A");
  // Names leading out of the prompt folder are never opened; folders and
  // pipes are no prompts.
  std::ofstream(SimTest::root() + "/usr/local/secret") << "secret";
  ::mkdir((SimTest::root() + "/usr/local/voice/folder").c_str(), 0755);
  ::mkfifo((SimTest::root() + "/usr/local/voice/fifo").c_str(), 0644);
  auto slot = Started(FileParams({"missing", "../secret", "/etc/hostname", "", "..", "folder", "fifo"}, 1), false);
  EXPECT_EQ(Signals(), Strings{});  // no stream signal, the abort comes from the loop
  Idle(60);
  EXPECT_EQ(Signals(), Strings{"abort 0"});
  EXPECT_EQ(played, "");
}

TEST_F(VoiceTest, RoundThatFindsNothingLeftAbortsWithoutInactive) {
  Prompt("a", "first");
  auto slot = Started(FileParams({"a"}, 0));
  ::unlink((SimTest::root() + "/usr/local/voice/a").c_str());  // gone before the second round
  ASSERT_TRUE(Run([&] { return Ended(); }));
  EXPECT_EQ(played, "first");
  EXPECT_EQ(Signals(), (Strings{"transmitter active 1024", "abort 0"}));
}

TEST_F(VoiceTest, NetworkPlayerSendsIdPlaysOnceAndEndsWhenThePeerCloses) {
  unsigned short port = 0;
  int server = looptest::listenLoopback(port);
  ASSERT_GE(server, 0);
  auto slot = Started<PlaySlotNetwork>(NetParams(port, 0x01020304));
  ASSERT_TRUE(slot->IOnOutputStream());  // a second connection as transmitter: no second connect
  EXPECT_EQ(slot->state(), PlaySlotNetwork::kConnecting);
  ASSERT_TRUE(Run([&] { return slot->state() == PlaySlotNetwork::kPlaying; }));
  int peer = ::accept(server, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  EXPECT_EQ(ReadAll(peer, 4), std::string("\x01\x02\x03\x04", 4));
  ASSERT_EQ(::write(peer, "audio-bytes", 11), 11);
  ASSERT_TRUE(Run([&] { return played.size() >= 11; }));
  ::close(peer);
  ASSERT_TRUE(Run([&] { return slot->state() == PlaySlotNetwork::kFinished; }));
  EXPECT_EQ(played, "audio-bytes");
  EXPECT_EQ(Signals(), (Strings{"transmitter active 1024", "startPlaying",
                                "transmitter inactive", "abort 0"}));
  // No further connection attempt: nothing is pending on the listener.
  EXPECT_TRUE(slot->IOnOutputStream());
  pollfd p{server, POLLIN, 0};
  Idle(50);
  EXPECT_EQ(::poll(&p, 1, 0), 0);
  ::close(server);
}

TEST_F(VoiceTest, NetworkPlayerWithPeerDownOrClosingAtOnceEnds) {
  auto down = Make<PlaySlotNetwork>(NetParams(looptest::closedPort(), 7));
  ASSERT_TRUE(down);
  ASSERT_TRUE(down->IOnOutputStream());
  ASSERT_TRUE(Run([&] { return down->state() == PlaySlotNetwork::kFinished; }));
  EXPECT_EQ(Signals(), (Strings{"transmitter active 1024", "transmitter inactive", "abort 0"}));

  unsigned short port = 0;
  int server = looptest::listenLoopback(port);
  auto slot = Started<PlaySlotNetwork>(NetParams(port, -2));
  ASSERT_TRUE(Run([&] { return slot->state() == PlaySlotNetwork::kPlaying; }));
  int peer = ::accept(server, nullptr, nullptr);
  EXPECT_EQ(ReadAll(peer, 4), std::string("\xff\xff\xff\xfe", 4));
  ::close(peer);
  ASSERT_TRUE(Run([&] { return slot->state() == PlaySlotNetwork::kFinished; }));
  EXPECT_EQ(Signals(), (Strings{"transmitter active 1025", "startPlaying", "transmitter inactive", "abort 0"}));
  EXPECT_EQ(played, "");
  ::close(server);
}

// Streaming to the peer is followed through the daemon; here the end of
// the channel.
TEST_F(VoiceTest, RecorderEndsAsAUserRequestWhenTheChannelEnds) {
  unsigned short port = 0;
  int server = looptest::listenLoopback(port);
  ASSERT_GE(server, 0);
  auto rec = Make<RecordSlot>(RecordParams(port));
  ASSERT_TRUE(rec);
  rec->IAfterCreate();
  EXPECT_EQ(Signals(), Strings{"receiver active 1024"});
  sim().tdm().connect(rec->IGetReceiveChannel(), kSource);
  ASSERT_TRUE(rec->IOnInputStream());
  int peer = Accept(server);
  ASSERT_GE(peer, 0);
  Idle(30);  // the connect completes
  EXPECT_EQ(Signals(), Strings{});  // no signal on connect
  sim().endSession(*sim().mcc().channel(rec->IGetReceiveChannel()));
  ASSERT_TRUE(Run([&] { return !slottest::BoundSpy().signals.empty(); }));
  EXPECT_EQ(Signals(), Strings{"stopRecording 2"});
  EXPECT_EQ(ReadAll(peer, 1, 200), "");  // the peer sees the end
  ::close(peer);
  ::close(server);
}

TEST_F(VoiceTest, RecorderPeerDownOrGoneStopsRecording) {
  auto down = Make<RecordSlot>(RecordParams(looptest::closedPort()));
  ASSERT_TRUE(down);
  ASSERT_TRUE(down->IOnInputStream());
  ASSERT_TRUE(Run([&] { return !slottest::BoundSpy().signals.empty(); }));
  EXPECT_EQ(Signals(), Strings{"stopRecording 0"});

  // A peer that never answers: the attempt times out after 5000 ms. A
  // listener whose queue is full drops further connection requests.
  unsigned short silentPort = 0;
  int silent = looptest::listenLoopback(silentPort, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(silentPort);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int fillers[2];
  for (int& f : fillers) {
    f = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ::connect(f, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  Idle(30);
  auto waiting = Make<RecordSlot>(RecordParams(silentPort));
  ASSERT_TRUE(waiting && waiting->IOnInputStream());
  Idle(100);
  EXPECT_EQ(Signals(), Strings{});
  Mux::advanceClock(4000);  // short of 5000 ms by more than the real time a loaded machine adds
  Idle(50);
  EXPECT_EQ(Signals(), Strings{});
  Mux::advanceClock(1000);
  ASSERT_TRUE(Run([&] { return !slottest::BoundSpy().signals.empty(); }, 1000));
  EXPECT_EQ(Signals(), Strings{"stopRecording 0"});
  for (int f : fillers) ::close(f);
  ::close(silent);

  // A peer that goes away while recording: the next write fails.
  unsigned short port = 0;
  int server = looptest::listenLoopback(port);
  auto rec = Make<RecordSlot>(RecordParams(port));
  ASSERT_TRUE(rec);
  sim().tdm().connect(rec->IGetReceiveChannel(), kSource);
  ASSERT_TRUE(rec->IOnInputStream());
  int peer = Accept(server);
  ASSERT_GE(peer, 0);
  Idle(30);
  linger l{1, 0};
  ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &l, sizeof l);  // reset on close
  ::close(peer);
  Idle(30);
  ASSERT_TRUE(Run([&] {
    sim().tdm().send(kSource, Sim::Bytes{'x'});
    return !slottest::BoundSpy().signals.empty();
  }));
  EXPECT_EQ(Signals(), Strings{"stopRecording 1"});
  ::close(server);
}

TEST_F(VoiceTest, DestroyClosesThePeerAndTheChannel) {
  unsigned short port = 0;
  int server = looptest::listenLoopback(port);
  std::unique_ptr<Slot> player = Make(NetParams(port, 1));
  std::unique_ptr<Slot> rec = Make(RecordParams(port));
  ASSERT_TRUE(player && rec);
  ASSERT_TRUE(player->IOnOutputStream());
  ASSERT_TRUE(rec->IOnInputStream());
  int peers[2];
  for (int& p : peers) ASSERT_GE(p = Accept(server), 0);
  Idle(30);
  Destroy(player);
  Destroy(rec);
  for (int p : peers) {
    std::string rest = ReadAll(p, 100, 300);  // the id at most, then end of file
    EXPECT_LE(rest.size(), 4u);
    char c;
    EXPECT_EQ(::recv(p, &c, 1, MSG_DONTWAIT), 0);  // end of file
    ::close(p);
  }
  sim().pump();
  EXPECT_EQ(sim().sessions("/dev/mcc/ctl").size(), 0u);
  EXPECT_TRUE(VoiceFactory::instance().Players().empty());
  EXPECT_TRUE(VoiceFactory::instance().Recorders().empty());
  ::close(server);
}

}  // namespace
