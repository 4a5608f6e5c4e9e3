// SPI line control against the simulated HAL: the channel initialisation
// and clock-master sequences, the status decoding and slip edges, the poll
// while a controller is connected, interrupted transfers, a board without
// SPI, and the descriptor's close-on-exec.
#include <fcntl.h>

#include <memory>
#include <tuple>

#include "hardware/board/requests.h"
#include "hardware/sim/hal.h"
#include "hardware/spi_ctrl.h"
#include "runtime/os/clock.h"
#include "sim_env.h"
#include "support/e1board_harness.h"

using e1test::Bench;
using e1test::Trunk;
using e1test::Trunks;

namespace {

namespace R = Board::Req;
using Write = std::tuple<int, int, int>;  // channel, register, value

class SpiTest : public SimTest::Fixture {
 protected:
  void TearDown() override {
    bench.reset();
    spi.reset();
  }
  void Make() { spi = std::make_unique<spiCtrl>(); }
  void MakeBench() {
    bench = std::make_unique<Bench>();
    bench->Bind(spi.get());
    ASSERT_TRUE(bench->Start());
  }
  std::vector<Write> Writes() {
    std::vector<Write> v;
    for (const auto& e : sim().log())
      if (e.request == R::SpiWrite && e.result >= 0) v.emplace_back(e.in[0], e.in[1], e.in[2]);
    return v;
  }
  std::size_t SpiRequests() {
    std::size_t n = 0;
    for (const auto& e : sim().log())
      if (e.request == R::SpiWrite || e.request == R::SpiRead) ++n;
    return n;
  }
  std::vector<Trunk> Tick(std::size_t n) {
    Mux::advanceClock(1000);
    return Trunks(bench->Receive(n), 1);
  }
  void SetStatus(int channel, int value) { sim().hal().setSpiRegister(channel, spiCtrl::RegStatus, value); }

  std::unique_ptr<spiCtrl> spi;
  std::unique_ptr<Bench> bench;
};

TEST_F(SpiTest, StartUpInitialisesAndEnablesEveryChannelInOrder) {
  ctltest::Capture log(std::clog);
  Make();
  std::vector<Write> expected;
  for (int n = 0; n < 8; ++n) {
    for (Write w : {Write{n, 50, 128}, Write{n, 48, 8}, Write{n, 87, 48}, Write{n, 52, 96}, Write{n, 53, 0},
                    Write{n, 54, 0}, Write{n, 55, 0}, Write{n, 50, 0}})
      expected.push_back(w);
  }
  EXPECT_EQ(expected, Writes());
  EXPECT_EQ(1u, log.count("spi: try init\n"));
  EXPECT_EQ(1u, log.count("spi: init channel 7\n"));
  EXPECT_EQ(1u, log.count("spi: enable channel 0\n"));
  EXPECT_EQ(0, sim().hal().spiRegister(3, 50));
}

TEST_F(SpiTest, TheHalDescriptorIsNotInheritedByChildPrograms) {
  Make();
  ASSERT_GE(spi->device(), 0);
  EXPECT_TRUE(::fcntl(spi->device(), F_GETFD) & FD_CLOEXEC);
}

TEST_F(SpiTest, StatusRegisterDecoding) {
  EXPECT_EQ(int(ACP::TrunkState::rai), spiCtrl::DecodeState(0x85));
  EXPECT_EQ(int(ACP::TrunkState::normal), spiCtrl::DecodeState(0xC5));
  EXPECT_EQ(int(ACP::TrunkState::normal), spiCtrl::DecodeState(0xE5));  // slip bit aside
  EXPECT_EQ(int(ACP::TrunkState::ais), spiCtrl::DecodeState(0x45));
  EXPECT_EQ(int(ACP::TrunkState::ais), spiCtrl::DecodeState(0x05));
  EXPECT_EQ(int(ACP::TrunkState::lossBF), spiCtrl::DecodeState(0x01));
  EXPECT_EQ(int(ACP::TrunkState::lossBF), spiCtrl::DecodeState(0xC1));
  EXPECT_EQ(int(ACP::TrunkState::lossCarrier), spiCtrl::DecodeState(0x04));
  EXPECT_EQ(int(ACP::TrunkState::lossCarrier), spiCtrl::DecodeState(0x00));
  EXPECT_EQ(int(ACP::TrunkState::lossCarrier), spiCtrl::DecodeState(0xC4));
}

TEST_F(SpiTest, TheConnectStartsTheOneSecondPollAndTheDisconnectStopsIt) {
  Make();
  MakeBench();
  SetStatus(3, 0x85);
  SetStatus(5, 0xC5);
  ASSERT_TRUE(bench->Connect());
  EXPECT_TRUE(Trunks(bench->Take(30), 1).empty());  // nothing at once
  EXPECT_TRUE(spi->polling());
  std::vector<Trunk> t = Tick(8);
  ASSERT_EQ(8u, t.size());
  for (int c = 0; c < 8; ++c) {
    EXPECT_EQ(c, t[c].trunk);
    EXPECT_EQ(0, t[c].lossBF + t[c].lossCarrier + t[c].lossAIS + t[c].lossRAI);
    EXPECT_FALSE(t[c].clockMaster);
    EXPECT_EQ("", t[c].name);
  }
  EXPECT_EQ(int(ACP::TrunkState::rai), t[3].state);
  EXPECT_EQ(int(ACP::TrunkState::normal), t[5].state);
  EXPECT_EQ(int(ACP::TrunkState::lossCarrier), t[0].state);
  EXPECT_EQ(8u, Tick(8).size());

  ASSERT_TRUE(bench->Disconnect());
  EXPECT_FALSE(spi->polling());
}

TEST_F(SpiTest, EachChannelHasItsOwnSlipEdge) {
  Make();
  MakeBench();
  ASSERT_TRUE(bench->Connect());
  // Channels 0 and 1 both slip in the same pass: both count it.
  SetStatus(0, 0xE5);
  SetStatus(1, 0xE5);
  // Channel 3 sees set, set, clear, set: 1, 0, 0, 1.
  std::vector<int> slips3;
  std::vector<Trunk> t = Tick(8);
  ASSERT_EQ(8u, t.size());
  EXPECT_EQ(1, t[0].slips);
  EXPECT_EQ(1, t[1].slips);
  EXPECT_EQ(0, t[2].slips);
  for (int v : {0xE5, 0xE5, 0xC5, 0xE5}) {
    SetStatus(3, v);
    t = Tick(8);
    ASSERT_EQ(8u, t.size());
    slips3.push_back(t[3].slips);
    EXPECT_EQ(0, t[0].slips);  // channel 0 stays set: no new edge
  }
  EXPECT_EQ((std::vector<int>{1, 0, 0, 1}), slips3);
}

TEST_F(SpiTest, ClockMasterSelection) {
  Make();
  sim().clearLog();
  ctltest::Capture log(std::clog);
  spi->clock(3);
  std::vector<Write> expected;
  for (int c = 0; c < 8; ++c) expected.emplace_back(c, 87, 48);
  expected.emplace_back(3, 87, 56);
  EXPECT_EQ(expected, Writes());
  EXPECT_EQ(1u, log.count("spi: set clock master on channel 3\n"));

  sim().clearLog();
  spi->clock(-1);
  expected.pop_back();
  EXPECT_EQ(expected, Writes());
  EXPECT_EQ(1u, log.count("spi: clock master disabled\n"));

  sim().clearLog();
  spi->clock(8);
  spi->clock(-2);
  spi->init_channel(9);
  spi->enable_channel(-1);
  spi->disable_channel(8);
  EXPECT_TRUE(sim().log().empty());
  EXPECT_EQ(1u, log.count("spi: bad channel for set clock master 8\n"));
  EXPECT_EQ(1u, log.count("spi: bad channel for set clock master -2\n"));
  EXPECT_EQ(1u, log.count("spi: bad channel for init 9\n"));
  EXPECT_EQ(1u, log.count("spi: bad channel for enable -1\n"));
  EXPECT_EQ(1u, log.count("spi: bad channel for disable 8\n"));
}

TEST_F(SpiTest, AnInterruptedTransferIsTriedAgain) {
  Make();
  SetStatus(2, 0x85);
  sim().failNext("/dev/hal", R::SpiRead, EINTR, 2);
  ctltest::Capture log(std::clog);
  EXPECT_EQ(0x85u, spi->read(2, spiCtrl::RegStatus));
  EXPECT_TRUE(spi->spiPresent());
  EXPECT_EQ(0x85u, spi->read(2, spiCtrl::RegStatus));

  sim().failNext("/dev/hal", R::SpiWrite, EINTR, 1);
  spi->write(4, 60, 7);
  EXPECT_EQ(7, sim().hal().spiRegister(4, 60));
  EXPECT_TRUE(spi->spiPresent());
  EXPECT_EQ(0u, log.count("spi: "));
}

TEST_F(SpiTest, ReadAndWriteErrorsAreLoggedWithoutRetry) {
  Make();
  SetStatus(3, 0xC5);
  sim().failNext("/dev/hal", R::SpiRead, EIO);
  ctltest::Capture log(std::clog);
  EXPECT_EQ(0u, spi->read(3, 51));
  EXPECT_EQ(1u, log.count("spi: read error: channel=3 addr=51\n"));
  sim().failNext("/dev/hal", R::SpiWrite, EIO);
  sim().clearLog();
  spi->disable_channel(6);
  EXPECT_EQ(1u, log.count("spi: write error: channel=6 addr=50 data=128\n"));
  EXPECT_EQ(1u, log.count("spi: disable channel 6\n"));  // logged all the same
  EXPECT_EQ(1u, SpiRequests());
  EXPECT_TRUE(spi->spiPresent());
}

TEST_F(SpiTest, ABoardWithoutSpiFallsSilentForGood) {
  sim().hal().setSpiPresent(false);
  ctltest::Capture log(std::clog);
  Make();  // the first write meets ENODEV
  EXPECT_FALSE(spi->spiPresent());
  EXPECT_EQ(1u, log.count("spi: hal without spi\n"));
  EXPECT_EQ(1u, SpiRequests());
  std::size_t lines = log.count("spi: ");
  sim().clearLog();
  MakeBench();
  spi->clock(-1);
  spi->init_channel(2);
  ASSERT_TRUE(bench->Connect());
  EXPECT_FALSE(spi->polling());
  EXPECT_EQ(0u, SpiRequests());
  EXPECT_EQ(lines, log.count("spi: "));
}

TEST_F(SpiTest, LosingSpiDuringAPassFinishesItAndEndsThePoll) {
  Make();
  MakeBench();
  ASSERT_TRUE(bench->Connect());
  SetStatus(1, 0xC5);
  sim().hal().setSpiPresent(false);  // reads are interrupted every time
  ctltest::Capture log(std::clog);
  std::vector<Trunk> t = Tick(8);
  ASSERT_EQ(8u, t.size());
  for (const Trunk& k : t) EXPECT_EQ(int(ACP::TrunkState::lossCarrier), k.state);
  EXPECT_EQ(1u, log.count("spi: hal without spi\n"));
  EXPECT_FALSE(spi->spiPresent());
  EXPECT_TRUE(spi->polling());  // re-armed once
  Mux::advanceClock(1000);
  EXPECT_TRUE(Trunks(bench->Take(50), 1).empty());
  EXPECT_FALSE(spi->polling());
}

TEST_F(SpiTest, AMissingHalIsTriedAgainAtTheNextChannelOperation) {
  sim().setPresent("/dev/hal", false);
  ctltest::Capture log(std::clog);
  Make();
  EXPECT_EQ(-1, spi->device());
  EXPECT_EQ(1u, log.count("spi: /dev/hal open fail\n"));
  MakeBench();
  ASSERT_TRUE(bench->Connect());
  EXPECT_FALSE(spi->polling());
  spi->clock(-1);
  EXPECT_EQ(2u, log.count("spi: try init\n"));
  EXPECT_EQ(1u, log.count("spi: clock master disabled\n"));
  sim().setPresent("/dev/hal", true);
  sim().clearLog();
  spi->clock(2);
  ASSERT_GE(spi->device(), 0);
  // Opening initialised the channels before the clock selection.
  std::vector<Write> w = Writes();
  ASSERT_EQ(8u * 8u + 9u, w.size());
  EXPECT_EQ(Write(0, 50, 128), w.front());
  EXPECT_EQ(Write(2, 87, 56), w.back());
}

TEST_F(SpiTest, TheEndDisablesEveryChannelAndReleasesTheClockMaster) {
  Make();
  sim().clearLog();
  spi.reset();
  std::vector<Write> expected;
  for (int c = 0; c < 8; ++c) expected.emplace_back(c, 50, 128);
  for (int c = 0; c < 8; ++c) expected.emplace_back(c, 87, 48);
  EXPECT_EQ(expected, Writes());
}

}  // namespace
