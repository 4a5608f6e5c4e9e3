// Clock bus control against the simulated HAL: the free-running default at
// connect and disconnect, the mapping of clockCfg to the source passed to
// the driver, the log names (numbers past the table), "--disable-clock",
// a missing HAL and a failing request.
#include <fcntl.h>

#include <memory>

#include "hardware/board/requests.h"
#include "hardware/bus_ctl.h"
#include "hardware/sim/hal.h"
#include "hardware/spi_ctrl.h"
#include "sim_env.h"
#include "support/e1board_harness.h"

using e1test::Bench;
using e1test::CommandMsg;

namespace {

namespace R = Board::Req;

class ClockTest : public SimTest::Fixture {
 protected:
  void SetUp() override {
    SimTest::Fixture::SetUp();
    spiCtrl::instance();  // the SPI lines are up before the clock service runs
    clk = std::make_unique<BusCtl>();
    bench = std::make_unique<Bench>();
    bench->Bind(clk.get());
    ASSERT_TRUE(bench->Start());
  }
  void TearDown() override {
    bench.reset();
    clk.reset();
  }
  // Sends clockCfg; the cause of an error answer, or -1 for success.
  int Cfg(bool internal, bool bextEnabled, int source) {
    auto r = bench->Exchange(CommandMsg(++seq, [&](LGCP::Command& c) {
      LGCP::ClockCfg& k = c.select_clockCfg();
      k.set_clkSel0(internal ? LGCP::ClkSel0::internal : LGCP::ClkSel0::external);
      k.set_bextEn(bextEnabled ? LGCP::BExtEn::enabled : LGCP::BExtEn::disabled);
      k.set_source(source);
    }));
    return e1test::IsSuccess(r.back()) ? -1 : e1test::ErrorOf(r.back());
  }
  std::vector<int32_t> Selects() { return sim().firstWords("/dev/hal", R::HwClockSelect); }
  void Connect() {
    ASSERT_TRUE(bench->Connect());
    bench->Take();
  }

  std::unique_ptr<BusCtl> clk;
  std::unique_ptr<Bench> bench;
  int seq = 0;
};

TEST_F(ClockTest, ConnectAndDisconnectFallBackToTheFreeRunningClock) {
  ctltest::Capture err(std::cerr);
  Connect();
  EXPECT_EQ(4, sim().hal().clockSource());
  EXPECT_EQ(1u, err.count("clkctl: set clock source cmd: "));
  EXPECT_EQ(1u, err.count("clkctl: clock source = freerun\n"));
  ASSERT_EQ(-1, Cfg(false, true, 2));
  EXPECT_EQ(2, sim().hal().clockSource());
  ASSERT_TRUE(bench->Disconnect());
  EXPECT_EQ(4, sim().hal().clockSource());
  EXPECT_EQ(2u, err.count("clkctl: clock source = freerun\n"));
  ASSERT_GE(clk->device(), 0);
  EXPECT_TRUE(::fcntl(clk->device(), F_GETFD) & FD_CLOEXEC);
}

TEST_F(ClockTest, ClockCfgSelectsTheSourceItNames) {
  Connect();
  ctltest::Capture err(std::cerr);
  sim().clearLog();
  EXPECT_EQ(-1, Cfg(false, true, 2));
  EXPECT_EQ(-1, Cfg(false, false, 2));
  EXPECT_EQ(-1, Cfg(true, true, 2));
  EXPECT_EQ(-1, Cfg(true, false, -1));
  EXPECT_EQ(-1, Cfg(false, true, 0));
  EXPECT_EQ((std::vector<int32_t>{2, 5, 4, 4, 0}), Selects());
  EXPECT_EQ(1u, err.count("clkctl: clock source = f2\n"));
  EXPECT_EQ(1u, err.count("clkctl: clock source = X3\n"));
  EXPECT_EQ(2u, err.count("clkctl: clock source = freerun\n"));
  EXPECT_EQ(1u, err.count("clkctl: clock source = f0\n"));
  EXPECT_EQ(5u, err.count("clkctl: set clock source cmd: "));
}

TEST_F(ClockTest, AnExternalSourceBelowZeroSelectsNothingButIsAnswered) {
  Connect();
  ctltest::Capture err(std::cerr);
  sim().clearLog();
  EXPECT_EQ(-1, Cfg(false, true, -1));
  EXPECT_TRUE(Selects().empty());
  EXPECT_EQ(1u, err.count("clkctl: set clock source cmd: "));
  EXPECT_EQ(0u, err.count("clock source = "));
}

TEST_F(ClockTest, SourcesPastTheNameTableAreLoggedAsTheirNumber) {
  Connect();
  ctltest::Capture err(std::cerr);
  EXPECT_EQ(-1, Cfg(false, true, 7));
  EXPECT_EQ(-1, Cfg(false, true, 8));
  EXPECT_EQ(-1, Cfg(false, true, 1000000));
  EXPECT_EQ(1u, err.count("clkctl: clock source = ?2\n"));
  EXPECT_EQ(1u, err.count("clkctl: clock source = 8\n"));
  EXPECT_EQ(1u, err.count("clkctl: clock source = 1000000\n"));
  EXPECT_EQ(1000000, sim().hal().clockSource());  // passed on unchanged
  EXPECT_EQ("?1", BusCtl::SourceName(6));
  EXPECT_EQ("-3", BusCtl::SourceName(-3));
}

TEST_F(ClockTest, ADisabledControlLeavesTheClockAloneAndRefusesClockCfg) {
  ctltest::Capture log(std::clog);
  clk->DisableControl();
  EXPECT_EQ(1u, log.count("clock control disabled.\n"));
  EXPECT_EQ(0u, log.count("clkctl: "));
  sim().clearLog();
  Connect();
  EXPECT_EQ(int(LGCP::ErrorCause::unsupported), Cfg(false, true, 2));
  ASSERT_TRUE(bench->Disconnect());
  EXPECT_TRUE(Selects().empty());
  EXPECT_EQ(-1, clk->device());
}

TEST_F(ClockTest, WithoutTheHalTheSpiLinesGiveUpTheClockMaster) {
  sim().setPresent("/dev/hal", false);
  ctltest::Capture err(std::cerr);
  sim().clearLog();
  Connect();
  EXPECT_EQ(1u, err.count("clkctl: set clock source fail: code 1.\n"));
  EXPECT_EQ(-1, Cfg(false, true, 2));
  EXPECT_EQ(2u, err.count("clkctl: set clock source fail: code 1.\n"));
  // Each time the SPI control wrote "not clock master" on all eight channels.
  std::size_t masterWrites = 0;
  for (const auto& e : sim().log())
    if (e.request == R::SpiWrite && e.in[1] == spiCtrl::RegClock && e.in[2] == spiCtrl::NotClockMaster)
      ++masterWrites;
  EXPECT_EQ(16u, masterWrites);
  EXPECT_TRUE(Selects().empty());
  // Once the device is back it is opened at the next use.
  sim().setPresent("/dev/hal", true);
  EXPECT_EQ(-1, Cfg(false, true, 3));
  EXPECT_EQ(3, sim().hal().clockSource());
}

TEST_F(ClockTest, AFailingSelectionIsLoggedAndStillAnsweredWithSuccess) {
  Connect();
  sim().failNext("/dev/hal", R::HwClockSelect, EIO);
  ctltest::Capture err(std::cerr);
  EXPECT_EQ(-1, Cfg(false, true, 1));
  EXPECT_EQ(1u, err.count("clkctl: HW_CLOCK_SELECT fail.\n"));
  EXPECT_EQ(0u, err.count("clock source = "));
}

}  // namespace
