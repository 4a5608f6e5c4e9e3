// E1 trunk control against the simulated maintenance driver, with a test
// controller: the trunk reports at connect and every second, the record
// offsets, missing device and failing trunks, and the TCLK mask.
#include <fcntl.h>

#include <memory>

#include "hardware/board/record.h"
#include "hardware/board/requests.h"
#include "hardware/e1_ctl.h"
#include "hardware/sim/maintenance.h"
#include "runtime/os/clock.h"
#include "sim_env.h"
#include "support/e1board_harness.h"

using e1test::Bench;
using e1test::CommandMsg;
using e1test::Trunk;
using e1test::Trunks;

namespace {

namespace R = Board::Req;

class E1CtlTest : public SimTest::Fixture {
 protected:
  void SetUp() override {
    SimTest::Fixture::SetUp();
    e1 = std::make_unique<E1Ctl>();
    bench = std::make_unique<Bench>();
    bench->Bind(e1.get());
    ASSERT_TRUE(bench->Start());
  }
  void TearDown() override {
    bench.reset();
    e1.reset();
  }
  Sim::MaintenanceDevice& maint() {
    return *static_cast<Sim::MaintenanceDevice*>(sim().device("/dev/maintenance"));
  }
  LGCP::Message TrunkCfg(int seq, int trunk, bool slave) {
    return CommandMsg(seq, [&](LGCP::Command& c) {
      LGCP::TrunkCfg& t = c.select_trunkCfg();
      t.set_trunk(trunk);
      t.set_mode(slave ? LGCP::TrunkMode::slave : LGCP::TrunkMode::master);
    });
  }
  // Advances the loop clock by one status period and collects n signals.
  std::vector<LGCP::Message> Tick(std::size_t n) {
    Mux::advanceClock(E1Ctl::kStatusPeriod);
    return bench->Receive(n);
  }
  std::size_t StatusRequests() { return sim().firstWords("/dev/maintenance", R::E1Status).size(); }

  std::unique_ptr<E1Ctl> e1;
  std::unique_ptr<Bench> bench;
};

TEST_F(E1CtlTest, ConnectReportsTheFourTrunksInOrderThenEverySecond) {
  ASSERT_TRUE(bench->Connect());
  std::vector<Trunk> t = Trunks(bench->Receive(4), 0);
  ASSERT_EQ(4u, t.size());
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(i, t[i].trunk);
    EXPECT_EQ(int(ACP::TrunkState::normal), t[i].state);
    EXPECT_FALSE(t[i].clockMaster);
    EXPECT_EQ("", t[i].name);
  }
  EXPECT_TRUE(e1->polling());
  EXPECT_TRUE(bench->Take().empty());  // nothing more before the period ends

  t = Trunks(Tick(4), 0);
  ASSERT_EQ(4u, t.size());
  EXPECT_EQ(3, t[3].trunk);
  t = Trunks(Tick(4), 0);
  EXPECT_EQ(4u, t.size());
}

TEST_F(E1CtlTest, EveryCounterAndTheStateComeFromTheirOwnRecordWord) {
  Sim::MaintenanceDevice::Trunk& k = maint().trunk(1);
  k.slips = 7;
  k.lossBF = 3;
  k.lossCarrier = 5;
  k.lossAIS = 11;
  k.lossRAI = 13;
  k.state = Sim::MaintenanceDevice::Rai;
  ASSERT_TRUE(bench->Connect());
  std::vector<Trunk> t = Trunks(bench->Receive(4), 0);
  ASSERT_EQ(4u, t.size());
  EXPECT_EQ(7, t[1].slips);
  EXPECT_EQ(3, t[1].lossBF);
  EXPECT_EQ(5, t[1].lossCarrier);
  EXPECT_EQ(11, t[1].lossAIS);
  EXPECT_EQ(13, t[1].lossRAI);
  EXPECT_EQ(int(ACP::TrunkState::rai), t[1].state);
  EXPECT_EQ(0, t[0].slips);

  // Each request carried its trunk number in an otherwise zeroed record.
  std::vector<int32_t> trunks = sim().firstWords("/dev/maintenance", R::E1Status);
  EXPECT_EQ((std::vector<int32_t>{0, 1, 2, 3}), trunks);
  for (const auto& e : sim().log()) {
    if (e.request != R::E1Status) continue;
    ASSERT_EQ(E1Ctl::kStatusSize, e.in.size());
    for (std::size_t i = 4; i < e.in.size(); ++i) ASSERT_EQ(0, e.in[i]);
  }
}

TEST_F(E1CtlTest, AnAlarmOnOneTrunkShowsAtTheNextTick) {
  ASSERT_TRUE(bench->Connect());
  bench->Receive(4);
  maint().setState(2, Sim::MaintenanceDevice::LossCarrier);
  std::vector<Trunk> t = Trunks(Tick(4), 0);
  ASSERT_EQ(4u, t.size());
  EXPECT_EQ(int(ACP::TrunkState::lossCarrier), t[2].state);
  EXPECT_EQ(1, t[2].lossCarrier);
  EXPECT_EQ(int(ACP::TrunkState::normal), t[1].state);
}

TEST_F(E1CtlTest, AFailingTrunkIsLoggedAndLeftOutWhileTheOthersAreReported) {
  maint().setFailing(2, EIO);
  ctltest::Capture err(std::cerr);
  ASSERT_TRUE(bench->Connect());
  std::vector<Trunk> t = Trunks(bench->Receive(3), 0);
  bench->Take();
  ASSERT_EQ(3u, t.size());
  EXPECT_EQ(0, t[0].trunk);
  EXPECT_EQ(1, t[1].trunk);
  EXPECT_EQ(3, t[2].trunk);
  EXPECT_EQ(1u, err.count("E1: synchronization status read fail, trunk = 2 cause = Input/output error\n"));
  EXPECT_EQ(1u, err.count("synchronization status read fail"));
}

TEST_F(E1CtlTest, AMissingDeviceIsSilentUntilItAppears) {
  sim().setPresent("/dev/maintenance", false);
  {
    ctltest::Capture err(std::cerr), log(std::clog);
    ASSERT_TRUE(bench->Connect());
    EXPECT_TRUE(Trunks(bench->Take(50), 0).empty());
    EXPECT_EQ("", err.text());
    EXPECT_EQ(0u, log.count("TCLT"));
  }
  EXPECT_EQ(-1, e1->maintenanceFd());
  EXPECT_TRUE(e1->polling());
  sim().setPresent("/dev/maintenance", true);
  EXPECT_EQ(4u, Trunks(Tick(4), 0).size());
  int fd = e1->maintenanceFd();
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
  EXPECT_TRUE(::fcntl(fd, F_GETFL) & O_NONBLOCK);
}

TEST_F(E1CtlTest, ThePollGoesOnAfterTheControllerLeaves) {
  ASSERT_TRUE(bench->Connect());
  bench->Receive(4);
  ASSERT_TRUE(bench->Disconnect());
  sim().clearLog();
  Mux::advanceClock(E1Ctl::kStatusPeriod);
  bench->loop.RunUntil([&] { return StatusRequests() >= 4; });
  EXPECT_EQ(4u, StatusRequests());
  EXPECT_TRUE(e1->polling());
}

TEST_F(E1CtlTest, TrunkCfgSetsAndClearsTheTclkBitsAndAReconnectResetsThem) {
  ASSERT_TRUE(bench->Connect());
  bench->Receive(4);
  ctltest::Capture log(std::clog);
  EXPECT_TRUE(e1test::IsSuccess(bench->Exchange(TrunkCfg(1, 1, true)).back()));
  EXPECT_EQ(0x2u, maint().tclk());
  EXPECT_TRUE(e1test::IsSuccess(bench->Exchange(TrunkCfg(2, 3, true)).back()));
  EXPECT_EQ(0xau, maint().tclk());
  EXPECT_TRUE(e1test::IsSuccess(bench->Exchange(TrunkCfg(3, 1, false)).back()));
  EXPECT_EQ(0x8u, maint().tclk());
  EXPECT_EQ(1u, log.count("E1: TCLT = 0x2\n"));
  EXPECT_EQ(1u, log.count("E1: TCLT = 0xa\n"));
  EXPECT_EQ(1u, log.count("E1: TCLT = 0x8\n"));

  // A trunk beyond the mask's bits changes nothing but still writes it.
  EXPECT_TRUE(e1test::IsSuccess(bench->Exchange(TrunkCfg(4, 40, true)).back()));
  EXPECT_EQ(2u, log.count("E1: TCLT = 0x8\n"));
  // A negative trunk writes nothing and is still answered with success.
  sim().clearLog();
  EXPECT_TRUE(e1test::IsSuccess(bench->Exchange(TrunkCfg(5, -1, true)).back()));
  EXPECT_TRUE(sim().log().empty());
  EXPECT_EQ(0x8u, e1->tclkMask());

  ASSERT_TRUE(bench->Disconnect());
  ASSERT_TRUE(bench->Connect());
  bench->Receive(4);
  EXPECT_EQ(0u, maint().tclk());
  EXPECT_EQ(1u, log.count("E1: TCLT = 0x0\n"));
}

TEST_F(E1CtlTest, TheTclkMaskIsWrittenByValue) {
  ASSERT_TRUE(bench->Connect());
  bench->Receive(4);
  sim().clearLog();
  bench->Exchange(TrunkCfg(1, 31, true));
  ASSERT_EQ(1u, sim().log().size());
  const auto& e = sim().log().back();
  EXPECT_EQ(R::E1SetTclk, e.request);
  EXPECT_TRUE(e.byValue);
  EXPECT_EQ(0x80000000ul, e.value);
}

TEST_F(E1CtlTest, AFailedTclkWriteIsLoggedAndTheMaskKeptForTheNextWrite) {
  ASSERT_TRUE(bench->Connect());
  bench->Receive(4);
  sim().failNext("/dev/maintenance", R::E1SetTclk, EIO);
  {
    ctltest::Capture err(std::cerr);
    EXPECT_TRUE(e1test::IsSuccess(bench->Exchange(TrunkCfg(1, 1, true)).back()));
    EXPECT_EQ(1u, err.count("E1: fail to set TCLK [cause=Input/output error]\n"));
  }
  EXPECT_EQ(0u, maint().tclk());
  EXPECT_EQ(0x2u, e1->tclkMask());
  bench->Exchange(TrunkCfg(2, 3, true));
  EXPECT_EQ(0xau, maint().tclk());
}

TEST_F(E1CtlTest, TheClockSourceGoesByValueAndAFailureIsLogged) {
  e1->select_source(3);
  EXPECT_EQ(3, maint().clockSource());
  sim().failNext("/dev/maintenance", R::E1SelectSource, EIO);
  ctltest::Capture err(std::cerr);
  e1->select_source(1);
  EXPECT_EQ(1u, err.count("E1: fail to set clock source\n"));
  EXPECT_EQ(3, maint().clockSource());
}

TEST_F(E1CtlTest, SlotlessIoctlsAreAnsweredWithSuccessAndOtherCommandsAreNotTaken) {
  ASSERT_TRUE(bench->Connect());
  bench->Receive(4);
  auto r = bench->Exchange(CommandMsg(7, [](LGCP::Command& c) { c.select_ioctl().select_activateWaitTone(); }));
  EXPECT_TRUE(e1test::IsSuccess(r.back()));
  r = bench->Exchange(CommandMsg(8, [](LGCP::Command& c) {
    LGCP::ClockCfg& k = c.select_clockCfg();
    k.set_clkSel0(LGCP::ClkSel0::internal);
    k.set_bextEn(LGCP::BExtEn::enabled);
    k.set_source(0);
  }));
  EXPECT_EQ(int(LGCP::ErrorCause::unexpectedMsgType), e1test::ErrorOf(r.back()));
}

}  // namespace
