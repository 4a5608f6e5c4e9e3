// SPI line control against the simulated HAL: the initialisation and
// clock-master sequences, status decoding and per-channel slip edges, the
// poll while a controller is connected, interrupted transfers, a board
// without SPI, a missing HAL and the descriptor's close-on-exec.

#include "hardware/spi_ctrl.h"
#include "sim_env.h"

using e1test::Trunk;
using e1test::Trunks;

namespace {

using Write = std::tuple<int, int, int>;  // channel, register, value

class SpiTest : public SimTest::BenchFixture<spiCtrl> {
 protected:
  std::vector<Write> Writes() {
    std::vector<Write> v;
    for (const auto& e : sim().log())
      if (e.request == R::SpiWrite && e.result >= 0) v.emplace_back(e.in[0], e.in[1], e.in[2]);
    return v;
  }
  std::size_t SpiRequests() { return requestCount(R::SpiWrite) + requestCount(R::SpiRead); }
  std::vector<Trunk> Tick() {
    Mux::advanceClock(1000);
    return Trunks(bench->Receive(8, 500), 1);
  }
  void Status(int channel, int value) { sim().hal().setSpiRegister(channel, spiCtrl::RegStatus, value); }
};

TEST_F(SpiTest, ThePollRunsWhileConnectedAndEachChannelHasItsOwnSlipEdge) {
  Start(true);
  EXPECT_TRUE(Trunks(bench->Take(30), 1).empty());  // nothing at once
  Status(3, 0x85);
  Status(0, 0xE5);  // channels 0 and 1 slip in the same pass: both count it
  Status(1, 0xE5);
  std::vector<Trunk> t = Tick();
  ASSERT_EQ(8u, t.size());
  for (int c = 0; c < 8; ++c) EXPECT_EQ(c, t[c].trunk);
  EXPECT_EQ(int(ACP::TrunkState::rai), t[3].state);
  EXPECT_EQ(int(ACP::TrunkState::lossCarrier), t[7].state);
  EXPECT_EQ(1, t[0].slips);
  EXPECT_EQ(1, t[1].slips);
  std::vector<int> slips3;  // set, set, clear, set: 1, 0, 0, 1
  for (int v : {0xE5, 0xE5, 0xC5, 0xE5}) {
    Status(3, v);
    t = Tick();
    ASSERT_EQ(8u, t.size());
    slips3.push_back(t[3].slips);
    EXPECT_EQ(0, t[0].slips);
  }
  EXPECT_EQ((std::vector<int>{1, 0, 0, 1}), slips3);
  ASSERT_TRUE(bench->Disconnect());
  EXPECT_FALSE(svc->polling());
}

TEST_F(SpiTest, InterruptedReadsAreTriedAgainAndErrorsAreLogged) {
  Start(false);
  Status(2, 0x85);
  ctltest::Capture log(std::clog);
  sim().failNext("/dev/hal", R::SpiRead, EINTR, 2);
  EXPECT_EQ(0x85u, svc->read(2, spiCtrl::RegStatus));
  sim().clearLog();  // an interrupted write is an error like any other: one request, one line
  sim().failNext("/dev/hal", R::SpiWrite, EINTR, 1);
  svc->write(3, 52, 96);
  EXPECT_EQ(1u, requestCount(R::SpiWrite));
  EXPECT_TRUE(svc->spiPresent());

  sim().failNext("/dev/hal", R::SpiRead, EIO);
  EXPECT_EQ(0u, svc->read(2, 51));
  sim().failNext("/dev/hal", R::SpiWrite, EIO);
  svc->disable_channel(6);
  EXPECT_EQ(
      "spi: write error: channel=3 addr=52 data=96\nspi: read error: channel=2 addr=51\n"
      "spi: write error: channel=6 addr=50 data=128\nspi: disable channel 6\n",
      log.text());
  EXPECT_TRUE(svc->spiPresent());
}

TEST_F(SpiTest, ABoardWithoutSpiFallsSilentForGood) {
  sim().hal().setSpiPresent(false);
  ctltest::Capture log(std::clog);
  Start(true);  // the first write meets ENODEV
  EXPECT_FALSE(svc->spiPresent());
  EXPECT_EQ(1u, log.count("spi: hal without spi\n"));
  EXPECT_EQ(1u, SpiRequests());
  std::size_t lines = log.count("spi: ");
  svc->clock(-1);
  svc->init_channel(2);
  EXPECT_FALSE(svc->polling());
  EXPECT_EQ(1u, SpiRequests());
  EXPECT_EQ(lines, log.count("spi: "));
}

TEST_F(SpiTest, LosingSpiInAPassFinishesItAndEndsThePoll) {
  Start(true);
  Status(1, 0xC5);
  sim().hal().setSpiPresent(false);  // reads are interrupted every time
  ctltest::Capture log(std::clog);
  std::vector<Trunk> t = Tick();
  ASSERT_EQ(8u, t.size());
  for (const Trunk& k : t) EXPECT_EQ(int(ACP::TrunkState::lossCarrier), k.state);
  EXPECT_EQ(1u, log.count("spi: hal without spi\n"));
  EXPECT_EQ(1u, log.count("spi: "));
  EXPECT_TRUE(svc->polling());  // re-armed once
  Mux::advanceClock(1000);
  EXPECT_TRUE(Trunks(bench->Take(50), 1).empty());
  EXPECT_FALSE(svc->polling());
}

TEST_F(SpiTest, AMissingHalIsTriedAgainAtTheNextChannelOperation) {
  sim().setPresent("/dev/hal", false);
  ctltest::Capture log(std::clog);
  Start(true);
  EXPECT_EQ(-1, svc->device());
  EXPECT_EQ(1u, log.count("spi: /dev/hal open fail\n"));
  EXPECT_FALSE(svc->polling());
  svc->clock(-1);
  EXPECT_EQ(2u, log.count("spi: try init\n"));
  sim().setPresent("/dev/hal", true);
  sim().clearLog();
  svc->clock(2);
  std::vector<Write> w = Writes();  // the channels come up before the clock selection
  ASSERT_EQ(8u * 8u + 9u, w.size());
  EXPECT_EQ(Write(0, 50, 128), w.front());
  EXPECT_EQ(Write(2, 87, 56), w.back());
}

TEST_F(SpiTest, StartUpInitialisesAndEnablesEveryChannelAndTheEndDisablesThem) {
  Start(false);
  std::vector<Write> expected;
  for (int n = 0; n < 8; ++n)
    for (auto [r, v] : {std::pair{50, 128}, {48, 8}, {87, 48}, {52, 96}, {53, 0}, {54, 0}, {55, 0}, {50, 0}})
      expected.emplace_back(n, r, v);
  EXPECT_EQ(expected, Writes());
  EXPECT_TRUE(::fcntl(svc->device(), F_GETFD) & FD_CLOEXEC);

  sim().clearLog();
  bench.reset();
  svc.reset();
  expected.clear();
  for (int c = 0; c < 8; ++c) expected.emplace_back(c, 50, 128);
  for (int c = 0; c < 8; ++c) expected.emplace_back(c, 87, 48);
  EXPECT_EQ(expected, Writes());
}

}  // namespace
