// A test controller against the real daemon over TCP: fixed message bytes,
// the one-controller rule (with the garbage test), the heartbeat and the frame timer (the loop clock
// is driven through the simulated board's control socket), TPKT framing
// seen by tshark, and robustness against floods, garbage, stalled readers
// and broken frames. Time limits below only bound a failure; no check
// depends on how fast the machine is.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "control_test_support.h"
#include "support/startup_harness.h"

using ctltest::Bytes;
using ctltest::Client;
using ctltest::Decode;
using ctltest::Frames;
using ctltest::H;
using ctltest::Hex;
using ctltest::Tpkt;

namespace {

const Bytes kPing = H("80 01 01 18"), kPingAnswer = H("80 01 01 40");
const int kLimit = 60000;  // ms: how long a sanitizer daemon on a loaded machine may take

// Waits for the next frame that is not a signal (the board services report
// trunk states on their own); every frame taken is appended to `all`.
bool WaitFrame(Client& c, Bytes& payload, std::vector<Bytes>* all = nullptr) {
  return startup_test::waitFor(
             [&] {
               while (c.TakeFrame(payload)) {
                 if (all) all->push_back(Tpkt(payload));
                 if (!Decode(payload).get_pdu().signal_isSelected()) return true;
               }
               pollfd p{c.fd(), POLLIN, 0};
               return c.eof() || ::poll(&p, 1, 20) < 0;
             },
             kLimit) &&
         !c.eof();
}

// True when the daemon closes the connection (data is discarded).
bool WaitEof(Client& c) {
  return startup_test::waitFor(
      [&] {
        pollfd p{c.fd(), POLLIN, 0};
        ::poll(&p, 1, 20);
        bool e = c.eof();
        c.input().clear();
        return e;
      },
      kLimit);
}

Bytes Ping(int seq) {
  LGCP::Message m;
  m.set_seq(seq);
  m.set_pdu().select_command().select_ping();
  return ctltest::Encode(m);
}

class ControllerE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    // Under the sanitizers freed memory is reused at once (no quarantine),
    // so that the daemon's resident size shows real growth only.
    daemon.reset(new startup_test::Daemon(root, {"--port", std::to_string(port)}, true,
                                          "detect_leaks=0:quarantine_size_mb=0:thread_local_quarantine_size_kb=0"));
    Client c;
    ASSERT_TRUE(startup_test::waitFor([&] { return Attach(c); }, kLimit)) << daemon->err();
  }
  void TearDown() override { EXPECT_EQ(0, daemon->stop()) << daemon->err(); }
  // Connects as the controller and checks a ping is answered; a previous
  // controller's connection may still be winding down, so a refusal is
  // retried.
  bool Attach(Client& c) {
    return startup_test::waitFor(
        [&] {
          Bytes r;
          return c.Connect(port) && c.SendFrame(kPing) && WaitFrame(c, r) && r == kPingAnswer;
        },
        kLimit);
  }
  // A command line to the simulated board; Clock moves the daemon's loop clock.
  std::string Sim(const std::string& line) { return startup_test::simCommand(root, line); }
  bool Clock(int ms) { return Sim("clock " + std::to_string(ms)).find("ok") != std::string::npos; }
  size_t ErrCount(const std::string& needle) { return startup_test::countOf(daemon->err(), needle); }
  bool ErrHas(const std::string& needle, size_t n = 1) {
    return startup_test::waitFor([&] { return ErrCount(needle) >= n; }, kLimit);
  }
  int FdCount() { return ctltest::FdCount(daemon->pid()); }
  long RssKb() { return ctltest::RssKb(daemon->pid()); }

  startup_test::TempRoot root;
  unsigned short port = static_cast<unsigned short>(startup_test::freePort());
  std::unique_ptr<startup_test::Daemon> daemon;
};

// The answers a controller sees, byte for byte, and their TPKT headers as
// tshark dissects them.
TEST_F(ControllerE2E, AnswersTheFixedMessagesInWellFormedTpktFrames) {
  ASSERT_EQ(0, ::system("command -v tshark >/dev/null 2>&1 && command -v text2pcap >/dev/null 2>&1"))
      << "tshark and text2pcap are needed (scripts/deps.sh installs them)";
  Client c;
  ASSERT_TRUE(Attach(c));
  struct Row {
    std::vector<const char*> commands;  // sent in one segment
    const char* answer;
  } rows[] = {
      {{"80 01 01 40"}, "80 01 01 64"},                 // a response: unexpectedMsgType
      {{"C0 01 01 05 DC 18"}, "80 01 01 62"},           // ping on slot 1500: invalidSlot
      {{"40 00 07 18"}, "40 00 07 40"},                 // ping on slot 7, no seq
      {{"80 01 02 06"}, "80 01 02 64"},                 // disconnect nobody takes
      {{"80 00 18"}, "80 01 00 40"},                    // ping with a seq of no octets: seq 0
      {{"C0 01 22 00 12 08 5E"}, "C0 01 22 00 12 61"},  // mcc create of type 3: insufficientResources
      {{"C0 05", "80 01 01 18"}, "80 01 01 40"},        // undecodable: no answer; the next ping is
  };
  std::vector<Bytes> frames;
  for (const Row& row : rows) {
    Bytes r;
    std::vector<Bytes> in;
    for (const char* h : row.commands) in.push_back(H(h));
    c.Send(Frames(in));
    ASSERT_TRUE(WaitFrame(c, r, &frames));
    EXPECT_EQ(row.answer, Hex(r)) << row.commands[0];
  }
  ASSERT_TRUE(ErrHas("]: receive fail: decode error!\n msg: C0 05 \n")) << daemon->err();
  EXPECT_EQ(1u, ErrCount("receive fail: decode error!")) << daemon->err();
  // The daemon's byte stream as one TCP segment per frame, dissected as TPKT.
  std::string dump;
  for (const Bytes& f : frames) dump += "0000 " + Hex(f) + "\n\n";
  std::string txt = root / "/session.txt", pcap = root / "/session.pcap", fields = root / "/fields.txt";
  startup_test::writeFile(txt, dump);
  std::string cmd = "text2pcap -q -T " + std::to_string(port) + ",40000 " + txt + " " + pcap + " && tshark -r " +
                    pcap + " -d tcp.port==" + std::to_string(port) +
                    ",tpkt -T fields -e tpkt.version -e tpkt.reserved -e tpkt.length > " + fields + " 2>/dev/null";
  ASSERT_EQ(0, ::system(cmd.c_str()));
  std::string want;
  for (const Bytes& f : frames) want += "3\t0\t" + std::to_string(f.size()) + "\n";
  EXPECT_EQ(want, startup_test::readFile(fields));
}

// The frame timer and the heartbeat, on the loop clock; frames broken off
// or too long.
TEST_F(ControllerE2E, FramesAndControllersAreTimedOnTheLoopClock) {
  Client c, h;
  ASSERT_TRUE(Attach(c));
  Bytes r;
  // A ping and half a frame in one segment; once the ping is answered the
  // half frame has been read too. 3.5 s later it is dropped.
  Bytes half = Frames({kPing, kPing});
  half.resize(half.size() - 3);
  c.Send(half);
  ASSERT_TRUE(WaitFrame(c, r));
  ASSERT_TRUE(Clock(3500));
  ASSERT_TRUE(ErrHas(" TPKT packet timeout.\n"));
  // Payload 4096 is delivered (and is no message); 4097 is refused.
  c.Send(Frames({Bytes(4096, 0xFF), Bytes(4097, 0xFF), kPing}));
  ASSERT_TRUE(WaitFrame(c, r));
  EXPECT_EQ(kPingAnswer, r);
  EXPECT_EQ(1u, ErrCount("]: receive fail: decode error!"));
  EXPECT_EQ(1u, ErrCount("TPKT length too big, received = 4097 max = 4096\n"));
  c.Close();
  // A controller that breaks off mid-frame (FIN, then RST) does not spoil
  // the next controller's first frame.
  for (bool rst : {false, true}) {
    Client broken, next;
    ASSERT_TRUE(Attach(broken));
    broken.Send(half);
    ASSERT_TRUE(WaitFrame(broken, r));
    rst ? broken.Reset() : broken.Close();
    ASSERT_TRUE(Attach(next)) << "rst=" << rst;
  }
  // Heartbeat: a controller silent for 120 s is dropped.
  ASSERT_TRUE(Attach(h));
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(Clock(119000));
    h.SendFrame(Ping(10 + i));
    ASSERT_TRUE(WaitFrame(h, r)) << "dropped before 120 s of silence";
  }
  // An undecodable message does not restart the timer.
  ASSERT_TRUE(Clock(119000));
  h.SendFrame({0xFF});
  ASSERT_TRUE(ErrHas("msg: FF \n"));
  EXPECT_EQ(0u, ErrCount("heartbeat timeout!!!"));
  ASSERT_TRUE(Clock(1000));
  EXPECT_TRUE(WaitEof(h));
  ASSERT_TRUE(ErrHas("heartbeat timeout!!!\n"));

  // A controller that never sends a command is not timed out: once the
  // daemon has taken it, ten minutes pass and two more loop passes.
  size_t taken = startup_test::countOf(daemon->out(), "new connection from");
  Client quiet;
  ASSERT_TRUE(quiet.Connect(port));
  ASSERT_TRUE(startup_test::waitFor(
      [&] { return startup_test::countOf(daemon->out(), "new connection from") > taken; }, kLimit));
  ASSERT_TRUE(Clock(600000));
  Sim("help");
  Sim("help");
  EXPECT_FALSE(quiet.eof());
  EXPECT_EQ(1u, ErrCount("heartbeat timeout!!!"));
}

// Started with 64 descriptors: an HDLC slot, then mcc creates until one
// finds no descriptor. That one is refused, the daemon goes on answering
// (a destroy under the same squeeze, a ping) and reports nothing else.
TEST_F(ControllerE2E, OutOfDescriptorsACreateIsRefusedAndTheRestAnswered) {
  ASSERT_EQ(0, daemon->stop());
  rlimit was{};
  ASSERT_EQ(0, ::getrlimit(RLIMIT_NOFILE, &was));
  rlimit low = was;
  low.rlim_cur = 64;
  ASSERT_EQ(0, ::setrlimit(RLIMIT_NOFILE, &low));
  daemon.reset(new startup_test::Daemon(root, {"--port", std::to_string(port)}));
  ::setrlimit(RLIMIT_NOFILE, &was);
  Client c;
  ASSERT_TRUE(Attach(c)) << daemon->err();
  auto ask = [&](const std::string& command) {
    Bytes r;
    c.SendFrame(H(command));
    return WaitFrame(c, r) ? Hex(r) : "none";
  };
  ASSERT_EQ("C0 01 65 00 01 40", ask("C0 01 65 00 01 08 78 01 00 01 00 01 05"));
  // A message on slot n with seq n, then the given PDU bytes.
  auto onSlot = [](int n, const char* pdu) {
    char head[16];
    std::snprintf(head, sizeof head, "C0 01 %02X 00 %02X ", n, n);
    return head + std::string(pdu);
  };
  int slot = 2;
  std::string answer;
  while (slot < 64 && (answer = ask(onSlot(slot, "08 58"))) == onSlot(slot, "40")) ++slot;
  EXPECT_GT(slot, 2) << "no mcc slot made at all";
  EXPECT_EQ(onSlot(slot, "61"), answer);  // insufficientResources
  // Short of the device's pair or of the watch's copy, as the count left falls.
  EXPECT_EQ(1u, ErrCount("mcc: fail to open MCC device: Too many open files\n") +
                    ErrCount("mcc: dup fail: Too many open files\n"))
      << daemon->err();
  EXPECT_EQ("C0 01 70 00 01 40", ask("C0 01 70 00 01 0A"));
  EXPECT_EQ("80 01 71 40", ask("80 01 71 18"));
  EXPECT_TRUE(daemon->running());
  for (const char* report : {"runtime error", "Sanitizer", "invalid vptr"})
    EXPECT_EQ(0u, ErrCount(report)) << daemon->err();
}

TEST_F(ControllerE2E, PipelinedPingsAreAnsweredInOrderWithFlatMemory) {
  Client c;
  ASSERT_TRUE(Attach(c));
  auto round = [&](int base, int count) {
    std::vector<Bytes> pings;
    for (int i = 0; i < count; ++i) pings.push_back(Ping(base + i));
    Bytes burst = Frames(pings);
    std::thread writer([&] { c.Send(burst); });
    Bytes r;
    int got = 0;
    while (got < count && WaitFrame(c, r) && Decode(r).get_seq().getValue() == base + got) ++got;
    writer.join();
    return got;
  };
  ASSERT_EQ(1000, round(0, 1000));
  long before = RssKb();
  ASSERT_EQ(10000, round(100000, 10000));
  long after = RssKb();
  EXPECT_LT(after - before, 2048) << "RSS grew from " << before << " kB to " << after << " kB";
}

TEST_F(ControllerE2E, SurvivesGarbageAndStalledReadersAndLeaksNoDescriptors) {
  {  // 1 MB of random bytes.
    Client c;
    ASSERT_TRUE(Attach(c));
    std::mt19937 rng(12345);
    Bytes junk(1 << 20);
    for (auto& b : junk) b = static_cast<unsigned char>(rng());
    std::thread reader([&] { WaitEof(c); });
    c.Send(junk);
    ::shutdown(c.fd(), SHUT_WR);
    reader.join();
  }
  ASSERT_TRUE(daemon->running());
  Client after;
  ASSERT_TRUE(Attach(after));

  // One controller at a time: 1,000 newcomers are accepted and closed at
  // once, and leave the descriptor count unchanged.
  int before = FdCount();
  size_t refusals = ErrCount("refuse connection from 127.0.0.1:");
  for (int i = 0; i < 1000; ++i) {
    Client refused(port);
    ASSERT_TRUE(WaitEof(refused)) << i;
  }
  EXPECT_EQ(refusals + 1000, ErrCount("refuse connection from 127.0.0.1:"));
  EXPECT_TRUE(startup_test::waitFor([&] { return FdCount() == before; }, kLimit)) << before << " -> " << FdCount();
  Bytes r;
  after.SendFrame(kPing);
  ASSERT_TRUE(WaitFrame(after, r));
  after.Close();

  // A controller that stops reading is dropped after the write time-out,
  // and the loop keeps feeding the watchdog. The test's network namespace
  // keeps socket buffers small, so that a few kB of answers fill them.
  std::string wmem = startup_test::readFile("/proc/sys/net/ipv4/tcp_wmem");
  std::string rmem = startup_test::readFile("/proc/sys/net/ipv4/tcp_rmem");
  startup_test::writeFile("/proc/sys/net/ipv4/tcp_wmem", "4096 4096 4096");
  startup_test::writeFile("/proc/sys/net/ipv4/tcp_rmem", "4096 4096 4096");
  Client stalled;
  stalled.rcvbuf = 2048;
  bool attached = Attach(stalled);
  Bytes burst = Frames(std::vector<Bytes>(512, kPing));
  size_t pushed = 0;
  startup_test::waitFor(
      [&] {
        ssize_t n = ::send(stalled.fd(), burst.data(), burst.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        pushed += n > 0 ? size_t(n) : 0;
        return ErrCount("write timeout") > 0;
      },
      kLimit);
  startup_test::writeFile("/proc/sys/net/ipv4/tcp_wmem", wmem);
  startup_test::writeFile("/proc/sys/net/ipv4/tcp_rmem", rmem);
  ASSERT_TRUE(attached);
  ASSERT_EQ(1u, ErrCount("SockStream[server]: write timeout, sendbuf=")) << "never dropped a controller that does not read";
  std::printf("[ figures  ] stalled controller dropped after %zu bytes of pings\n", pushed);
  std::string wd = startup_test::readFile(root / "/dev/misc/gw-wd");
  ASSERT_TRUE(startup_test::waitFor(
      [&] { return startup_test::readFile(root / "/dev/misc/gw-wd").size() > wd.size(); }, kLimit));
  EXPECT_NE(std::string::npos, startup_test::readFile(root / "/dev/misc/gw-wd").find("PING"));
  EXPECT_TRUE(WaitEof(stalled));
  Client later;
  ASSERT_TRUE(Attach(later));
}

}  // namespace
