// A test controller against the real daemon over TCP: fixed message bytes,
// the one-controller rule, the heartbeat (the loop clock is driven through
// the simulated board's control socket), TPKT framing seen by tshark, and
// robustness against floods, garbage, stalled readers and broken frames.
#include <gtest/gtest.h>

#include <dirent.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "control/lgcp_codec.h"
#include "control_test_support.h"
#include "support/startup_harness.h"

using ctltest::Bytes;
using ctltest::Client;
using ctltest::Hex;
using ctltest::Tpkt;

namespace {

const Bytes kPing = {0x80, 0x01, 0x01, 0x18};
const Bytes kPingAnswer = {0x80, 0x01, 0x01, 0x40};

bool IsSignal(const Bytes& payload) {
  LGCP::Message m;
  return LgcpCodec::Decode(reinterpret_cast<const char*>(payload.data()),
                           reinterpret_cast<const char*>(payload.data() + payload.size()), m) &&
         m.get_pdu().signal_isSelected();
}

// Waits for the next frame from the daemon that is not a signal (the board
// services report trunk states on their own); every frame taken, signals
// included, is appended to `all` when given.
bool WaitFrame(Client& c, Bytes& payload, int ms = 5000, std::vector<Bytes>* all = nullptr) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    while (c.TakeFrame(payload)) {
      if (all) all->push_back(Tpkt(payload));
      if (!IsSignal(payload)) return true;
    }
    if (c.eof() || std::chrono::steady_clock::now() > deadline) return false;
    pollfd p{c.fd(), POLLIN, 0};
    ::poll(&p, 1, 20);
  }
}

// True when the daemon closes the connection within ms (data is discarded).
bool WaitEof(Client& c, int ms = 5000) {
  return startup_test::waitFor(
      [&] {
        pollfd p{c.fd(), POLLIN, 0};
        ::poll(&p, 1, 20);
        bool e = c.eof();
        c.input().clear();
        return e;
      },
      ms);
}

Bytes Ping(int seq) {
  LGCP::Message m;
  m.set_seq(seq);
  m.set_pdu().select_command().select_ping();
  std::vector<char> out;
  LgcpCodec::Encode(m, out);
  return Bytes(out.begin(), out.end());
}

class ControllerE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    port = static_cast<unsigned short>(startup_test::freePort());
    // Under the sanitizers freed memory is reused at once (no quarantine),
    // so that the daemon's resident size shows real growth only.
    daemon.reset(new startup_test::Daemon(
        root, {"--port", std::to_string(port)}, true,
        "detect_leaks=0:quarantine_size_mb=0:thread_local_quarantine_size_kb=0"));
    ASSERT_TRUE(startup_test::waitFor([&] { return Probe(); }, 20000)) << daemon->err();
  }
  void TearDown() override {
    EXPECT_EQ(0, daemon->stop()) << daemon->err();
  }
  // Connects, checks a ping is answered, leaves.
  bool Probe() {
    Client c;
    if (!c.Connect(port)) return false;
    c.SendFrame(kPing);
    Bytes r;
    return WaitFrame(c, r, 2000) && r == kPingAnswer;
  }
  // Connects as the controller; a previous controller's connection may
  // still be winding down in the daemon, so a refusal is retried.
  bool Attach(Client& c) {
    return startup_test::waitFor(
        [&] {
          if (!c.Connect(port)) return false;
          c.SendFrame(kPing);
          Bytes r;
          return WaitFrame(c, r, 2000) && r == kPingAnswer;
        },
        5000);
  }
  // A command line to the simulated board ("clock 120000").
  std::string Sim(const std::string& line) { return startup_test::simCommand(root, line); }
  size_t ErrCount(const std::string& needle) { return startup_test::countOf(daemon->err(), needle); }
  bool ErrHas(const std::string& needle, int ms = 5000) {
    return startup_test::waitFor([&] { return ErrCount(needle) > 0; }, ms);
  }
  int FdCount() {
    int n = 0;
    if (DIR* d = ::opendir(("/proc/" + std::to_string(daemon->pid()) + "/fd").c_str())) {
      while (dirent* e = ::readdir(d))
        if (e->d_name[0] != '.') ++n;
      ::closedir(d);
    }
    return n;
  }
  long RssKb() {
    std::string s = startup_test::readFile("/proc/" + std::to_string(daemon->pid()) + "/status");
    size_t p = s.find("VmRSS:");
    return p == std::string::npos ? -1 : std::atol(s.c_str() + p + 6);
  }

  startup_test::TempRoot root;
  unsigned short port = 0;
  std::unique_ptr<startup_test::Daemon> daemon;
};

TEST_F(ControllerE2E, AnswersTheFixedMessages) {
  Client c;
  ASSERT_TRUE(Attach(c));
  Bytes r;
  // A response sent by the controller.
  c.SendFrame(Bytes{0x80, 0x01, 0x01, 0x40});
  ASSERT_TRUE(WaitFrame(c, r));
  EXPECT_EQ("80 01 01 64", Hex(r));
  // ping, seq 1, slot 1500: invalidSlot with the seq and no slot.
  c.SendFrame(Bytes{0xC0, 0x01, 0x01, 0x05, 0xDC, 0x18});
  ASSERT_TRUE(WaitFrame(c, r));
  EXPECT_EQ("80 01 01 62", Hex(r));
  // disconnect without slot: nobody takes it.
  c.SendFrame(Bytes{0x80, 0x01, 0x02, 0x06});
  ASSERT_TRUE(WaitFrame(c, r));
  EXPECT_EQ("80 01 02 64", Hex(r));
  // Undecodable: no answer, two log lines, and the next ping is answered.
  c.SendFrame(Bytes{0xC0, 0x05});
  c.SendFrame(kPing);
  ASSERT_TRUE(WaitFrame(c, r));
  EXPECT_EQ(kPingAnswer, r);
  ASSERT_TRUE(ErrHas("]: receive fail: decode error!\n msg: C0 05 \n")) << daemon->err();
}

TEST_F(ControllerE2E, ServesOneControllerAtATime) {
  Client first;
  ASSERT_TRUE(Attach(first));
  Client second(port);
  EXPECT_TRUE(WaitEof(second, 3000));
  EXPECT_TRUE(ErrHas("refuse connection from 127.0.0.1:"));
  Bytes r;
  first.SendFrame(kPing);
  ASSERT_TRUE(WaitFrame(first, r));
  first.Close();
  Client third;
  ASSERT_TRUE(startup_test::waitFor([&] { return Attach(third); }, 5000));
}

TEST_F(ControllerE2E, HeartbeatDropsASilentControllerOnly) {
  ASSERT_NE(std::string::npos, Sim("help").find("clock"));
  Client c;
  ASSERT_TRUE(Attach(c));
  Bytes r;
  for (int i = 0; i < 2; ++i) {
    ASSERT_NE(std::string::npos, Sim("clock 119000").find("ok"));
    c.SendFrame(Ping(10 + i));
    ASSERT_TRUE(WaitFrame(c, r)) << "dropped before 120 s of silence";
  }
  ASSERT_NE(std::string::npos, Sim("clock 120000").find("ok"));
  EXPECT_TRUE(WaitEof(c, 5000));
  startup_test::waitFor([&] { return ErrCount("heartbeat timeout!!!") > 0; }, 3000);
  EXPECT_EQ(1u, ErrCount("heartbeat timeout!!!\n"));

  // A controller that never sends a command is not timed out.
  Client quiet;
  ASSERT_TRUE(quiet.Connect(port));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_NE(std::string::npos, Sim("clock 600000").find("ok"));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(quiet.eof());
  EXPECT_EQ(1u, ErrCount("heartbeat timeout!!!"));
}

TEST_F(ControllerE2E, FramesSplitAnywhereOrBrokenOffAreHandled) {
  Client c;
  ASSERT_TRUE(Attach(c));
  Bytes r;
  // Three pings cut at every byte boundary.
  Bytes stream;
  for (int i = 0; i < 3; ++i) {
    Bytes f = Tpkt(Ping(100 + i));
    stream.insert(stream.end(), f.begin(), f.end());
  }
  for (unsigned char b : stream) {
    c.Send(Bytes{b});
    std::this_thread::sleep_for(std::chrono::microseconds(300));
  }
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(WaitFrame(c, r));
    LGCP::Message m;
    ASSERT_TRUE(LgcpCodec::Decode(reinterpret_cast<const char*>(r.data()),
                                  reinterpret_cast<const char*>(r.data() + r.size()), m));
    EXPECT_EQ(100 + i, m.get_seq().getValue());
  }
  // Half a frame, then 3.5 s of silence: the frame is dropped.
  Bytes f = Tpkt(kPing);
  c.Send(Bytes(f.begin(), f.begin() + 5));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_NE(std::string::npos, Sim("clock 3500").find("ok"));
  ASSERT_TRUE(ErrHas(" TPKT packet timeout.\n"));
  c.SendFrame(kPing);
  ASSERT_TRUE(WaitFrame(c, r));
  EXPECT_EQ(kPingAnswer, r);
  // Payload 4096 is delivered (and is no message); 4097 is refused.
  c.SendFrame(Bytes(4096, 0xFF));
  ASSERT_TRUE(ErrHas("receive fail: decode error!"));
  c.SendFrame(Bytes(4097, 0xFF));
  ASSERT_TRUE(ErrHas("TPKT length too big, received = 4097 max = 4096\n"));
  c.SendFrame(kPing);
  ASSERT_TRUE(WaitFrame(c, r));
  EXPECT_EQ(kPingAnswer, r);
  c.Close();
  // A controller that breaks off mid-frame (FIN, then RST) does not spoil
  // the next controller's first frame.
  for (bool rst : {false, true}) {
    Client broken;
    ASSERT_TRUE(startup_test::waitFor([&] { return Attach(broken); }, 5000));
    broken.Send(Bytes(f.begin(), f.begin() + 6));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (rst)
      broken.Reset();
    else
      broken.Close();
    Client next;
    ASSERT_TRUE(startup_test::waitFor([&] { return Attach(next); }, 5000)) << "rst=" << rst;
  }
}

TEST_F(ControllerE2E, FramesSentCarryAWellFormedTpktHeaderForTshark) {
  if (::system("command -v tshark >/dev/null 2>&1 && command -v text2pcap >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "tshark or text2pcap not installed";
  Client c;
  ASSERT_TRUE(Attach(c));
  std::vector<Bytes> frames;
  Bytes r;
  for (const Bytes& p : {Bytes{0x80, 0x01, 0x01, 0x40}, Bytes{0xC0, 0x01, 0x01, 0x05, 0xDC, 0x18}, Ping(300)}) {
    c.SendFrame(p);
    ASSERT_TRUE(WaitFrame(c, r, 5000, &frames));
  }
  // The daemon's byte stream as one TCP segment per frame, dissected as TPKT.
  std::string dump;
  for (const Bytes& f : frames) {
    char line[16];
    dump += "0000 ";
    for (unsigned char b : f) {
      std::snprintf(line, sizeof line, " %02x", b);
      dump += line;
    }
    dump += "\n\n";
  }
  std::string txt = root / "/session.txt", pcap = root / "/session.pcap", fields = root / "/fields.txt";
  startup_test::writeFile(txt, dump);
  std::string cmd = "text2pcap -q -T " + std::to_string(port) + ",40000 " + txt + " " + pcap +
                    " && tshark -r " + pcap + " -d tcp.port==" + std::to_string(port) +
                    ",tpkt -T fields -e tpkt.version -e tpkt.reserved -e tpkt.length > " + fields + " 2>/dev/null";
  ASSERT_EQ(0, ::system(cmd.c_str()));
  std::istringstream lines(startup_test::readFile(fields));
  std::string line;
  size_t n = 0;
  while (std::getline(lines, line)) {
    ASSERT_LT(n, frames.size());
    EXPECT_EQ("3\t0\t" + std::to_string(frames[n].size()), line);
    ++n;
  }
  EXPECT_EQ(frames.size(), n);
}

TEST_F(ControllerE2E, PipelinedPingsAreAnsweredInOrderWithFlatMemory) {
  Client c;
  ASSERT_TRUE(Attach(c));
  auto round = [&](int base, int count) {
    Bytes burst;
    for (int i = 0; i < count; ++i) {
      Bytes f = Tpkt(Ping(base + i));
      burst.insert(burst.end(), f.begin(), f.end());
    }
    std::thread writer([&] { c.Send(burst); });
    Bytes r;
    int got = 0;
    for (; got < count; ++got) {
      if (!WaitFrame(c, r, 20000)) break;
      LGCP::Message m;
      if (!LgcpCodec::Decode(reinterpret_cast<const char*>(r.data()),
                             reinterpret_cast<const char*>(r.data() + r.size()), m) ||
          !m.seq_isPresent() || m.get_seq().getValue() != base + got)
        break;
    }
    writer.join();
    return got;
  };
  ASSERT_EQ(1000, round(0, 1000));
  long before = RssKb();
  ASSERT_EQ(10000, round(100000, 10000));
  long after = RssKb();
  EXPECT_LT(after - before, 2048) << "RSS grew from " << before << " kB to " << after << " kB";
  std::printf("[ figures  ] 10000 pipelined pings; daemon RSS %ld kB -> %ld kB\n", before, after);
}

TEST_F(ControllerE2E, SurvivesGarbageAndStalledReadersAndLeaksNoDescriptors) {
  // 1 MB of random bytes.
  {
    Client c;
    ASSERT_TRUE(Attach(c));
    std::mt19937 rng(12345);
    Bytes junk(1 << 20);
    for (auto& b : junk) b = static_cast<unsigned char>(rng());
    std::thread reader([&] {
      auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (!c.eof() && std::chrono::steady_clock::now() < end) {
        c.input().clear();
        pollfd p{c.fd(), POLLIN, 0};
        ::poll(&p, 1, 20);
      }
    });
    c.Send(junk);
    c.Close();
    reader.join();
  }
  ASSERT_TRUE(daemon->running());
  Client after;
  ASSERT_TRUE(startup_test::waitFor([&] { return Attach(after); }, 5000));

  // 1,000 refused connections leave the descriptor count unchanged.
  int before = FdCount();
  for (int i = 0; i < 1000; ++i) {
    Client refused(port);
    ASSERT_TRUE(WaitEof(refused, 3000)) << i;
  }
  EXPECT_TRUE(startup_test::waitFor([&] { return FdCount() == before; }, 3000))
      << before << " -> " << FdCount();
  Bytes r;
  after.SendFrame(kPing);
  ASSERT_TRUE(WaitFrame(after, r));
  after.Close();

  // A controller that stops reading is dropped after the write time-out,
  // and the loop keeps feeding the watchdog.
  Client stalled;
  stalled.rcvbuf = 2048;
  ASSERT_TRUE(startup_test::waitFor([&] { return Attach(stalled); }, 5000));
  Bytes burst;
  for (int i = 0; i < 4096; ++i) {
    Bytes f = Tpkt(kPing);
    burst.insert(burst.end(), f.begin(), f.end());
  }
  auto start = std::chrono::steady_clock::now();
  size_t pushed = 0;
  bool dropped = false;
  while (!dropped && std::chrono::steady_clock::now() - start < std::chrono::seconds(60)) {
    ssize_t n = ::send(stalled.fd(), burst.data(), burst.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) pushed += size_t(n);
    dropped = ErrCount("write timeout") > 0;
    if (!dropped) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(dropped) << "never dropped a controller that does not read";
  std::printf("[ figures  ] stalled controller dropped after %zu bytes of pings, %lld ms\n", pushed,
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - start)
                                         .count()));
  size_t pings = 0;
  startup_test::waitFor([&] {
    size_t n = startup_test::countOf(startup_test::readFile(root / "/dev/misc/gw-wd"), "PING");
    if (!pings) pings = n;
    return n > pings;
  });
  std::string wd = startup_test::readFile(root / "/dev/misc/gw-wd");
  EXPECT_NE(std::string::npos, wd.find("PING"));
  EXPECT_TRUE(WaitEof(stalled, 5000));
  Client later;
  ASSERT_TRUE(startup_test::waitFor([&] { return Attach(later); }, 5000));
}

}  // namespace
