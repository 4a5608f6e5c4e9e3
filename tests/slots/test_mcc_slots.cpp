// Slots on channels of the simulated multichannel controller.
// Multichannel slots: the allocation block for each type and mode, refused
// creates, user data in both directions (draining, record size, empty data),
// a channel the controller ends, and the resource query. Voice players and
// recorders: allocation records and refused creates, prompt files in order
// and rounds (missing, unsafe and no playable names), network playback,
// failing peers, and destroy closing everything. The T.38 slot with a
// stand-in engine: the engine's command line, the channel block, how its end
// is reported, refused creates and the capacity query.
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#include "control/control_test_support.h"
#include "hardware/board/record.h"
#include "hardware/board/requests.h"
#include "hardware/descriptor_squeeze.h"
#include "hardware/sim/mcc.h"
#include "hardware/sim/mcc_resources.h"
#include "hardware/sim_env.h"
#include "runtime/loop/child_wait.h"
#include "runtime/loop/event.h"
#include "runtime/os/clock.h"
#include "slots/mcc_slot.h"
#include "slots/t38_slot.h"
#include "slots/voice_slot.h"
#include "slots_test_support.h"
#include "support/loopback.h"
#include "support/startup_harness.h"
#include "t38_standin.h"

// Armed, the next write fails with EINTR, as a signal arriving in it makes
// it; the writes from then on are counted.
struct {
  bool armed = false;
  int calls = 0;
} interruptedWrites;
extern "C" ssize_t write(int fd, const void* buf, size_t n) {
  ++interruptedWrites.calls;
  if (interruptedWrites.armed) return interruptedWrites.armed = false, errno = EINTR, -1;
  return ::syscall(SYS_write, fd, buf, n);
}

namespace {

namespace mcc {

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
  // A write a signal interrupts is not made again: one call, still true.
  interruptedWrites = {true, 0};
  EXPECT_TRUE(slot->IUserData({'d'}));
  EXPECT_EQ(interruptedWrites.calls, 1);
  EXPECT_TRUE(Transmitted().empty());
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

}  // namespace mcc

namespace voice {

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
    ::mkdir((dir + "/sub").c_str(), 0755);
    for (const char* n : {"a", "b", "c", "sub/b"}) ::unlink((dir + "/" + n).c_str());
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
  static LGCP::CreateParams RecordParams(unsigned short port) { return slottest::fills::Recorder(port); }
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
  Prompt("sub/b", "bravo-");
  Prompt("c", "charlie-");
  auto slot = Started(FileParams({"x", "y", "c", "sub/b"}, 2));
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
  ctltest::Capture err(std::cerr);
  const std::string nul("a\0x", 3);
  auto slot = Started(FileParams({"missing", "../secret", "/etc/hostname", "", "..", "folder", "fifo", nul}, 1), false);
  EXPECT_NE(err.text().find("player[1024]: prompt name refused: ../secret\n"), std::string::npos) << err.text();
  EXPECT_NE(err.text().find("player[1024]: prompt name refused: " + nul + "\n"), std::string::npos) << err.text();
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
  Mux::advanceClock(3500);  // short of 5000 ms by more than the real time a loaded machine adds
  Idle(50);
  EXPECT_EQ(Signals(), Strings{});
  Mux::advanceClock(1500);
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

}  // namespace voice

namespace t38 {

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
  std::unique_ptr<T38SoftSlot> Make(const std::string& mode = "", const LGCP::CreateParams& params = Params()) {
    t38test::Set(SimTest::root(), "mode", mode);
    return std::unique_ptr<T38SoftSlot>(static_cast<T38SoftSlot*>(T38SoftFactory::instance().INewSlot(params)));
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
  // The remote address is read up to a NUL it holds.
  LGCP::T38Soft t38 = Params().get_t38soft();
  t38.set_dhost().set_iaddr().assign(std::string("10.1.2.3\0x", 10));
  LGCP::CreateParams params;
  params.select_t38soft(t38);
  auto slot = Make("", params);
  ASSERT_TRUE(slot);
  std::string block;
  for (const auto& e : sim().log())
    if (e.request == Board::Req::MccAllocate) block = e.text();
  EXPECT_EQ(block, "/dev/mcc/ctl 0x40144d00 2 160 0 3 4 -> 0");
  EXPECT_EQ(slot->IGetTransmitChannel(), 600);
  EXPECT_EQ(slot->IGetReceiveChannel(), 600);
  EXPECT_EQ(std::string(slot->GetName()), "t38 soft");
  EXPECT_NE(log.text().find("t38soft: args for run t38 daemon:\nt38soft: arg[0]=/usr/local/sbin/t38\n"
                            "t38soft: arg[1]=--child\nt38soft: arg[2]=--remote\nt38soft: arg[3]=10.1.2.3/4000/5002\n"
                            "t38soft: t38 daemon[" + std::to_string(slot->GetPid()) + "] successfully started\n"),
            std::string::npos)
      << log.text();

  // Arguments, streams and the channel's release are followed through the
  // daemon; here the engine is only seen to stop.
  ASSERT_TRUE(EngineStarted());
  EXPECT_EQ(t38test::Args(SimTest::root()), Strings({"--child", "--remote", "10.1.2.3/4000/5002"}));
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
            "t38soft: T38SoftFactory::INewSlot - FAIL to open </dev/mcc/ctl> [2]\n"
            "t38soft: T38SoftFactory::INewSlot - FAIL to ioctl MCC_ALLOCATE [16]\n"
            "t38soft: T38SoftFactory::INewSlot - FAIL to ioctl MCC_TIMESLOT [5]\n");
  EXPECT_EQ(log.text(), "");
  EXPECT_EQ(Channels(), "");
}

// The engine is asked through a shell: a missing engine starts one all the
// same (it only complains), which gives no line; only a shell that cannot
// be started at all (here: no descriptor for its pipe) is "not found". One
// line of at most 31 characters is read.
TEST_F(T38SlotTest, QueryAsksTheEngineForItsCapacity) {
  const struct {
    const char* printed;
    bool engine, pipe;
    int instances;
    const char* line;
  } rows[] = {{"12\n", true, true, 12, ""},
              {"000000000000000000000000000000456\n", true, true, 4, ""},
              {"", true, true, 0, "t38soft: t38: can't detect T38 resources\n"},
              {"12\n", false, true, 0, "t38soft: t38: can't detect T38 resources\n"},
              {"12\n", true, false, 0, "t38soft: t38 daemon not found!\n"}};
  for (const auto& r : rows) {
    t38test::InstallEngine(SimTest::root());
    t38test::Set(SimTest::root(), "instances", r.printed);
    if (!r.engine) t38test::RemoveEngine(SimTest::root());
    ctltest::Capture log(std::clog);
    LGCP::Resources res;
    res.set_t38_instances(-1);
    {
      std::unique_ptr<SimTest::DescriptorSqueeze> squeeze(r.pipe ? nullptr : new SimTest::DescriptorSqueeze);
      T38SoftFactory::instance().Query(res);
    }
    EXPECT_EQ(res.get_t38_instances().getValue(), r.instances) << r.printed << r.engine << r.pipe;
    EXPECT_EQ(log.text(), r.line) << r.printed << r.engine << r.pipe;
  }
}

}  // namespace t38

}  // namespace
