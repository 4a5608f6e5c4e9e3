// Clock bus control against the simulated HAL: the free-running default at
// connect and disconnect, the source each clockCfg selects, the log names
// (numbers past the table), "--disable-clock", a missing HAL and a failing
// request.

#include "hardware/bus_ctl.h"
#include "hardware/spi_ctrl.h"
#include "sim_env.h"

namespace {

class ClockTest : public SimTest::BenchFixture<BusCtl> {
 protected:
  void SetUp() override {
    SimTest::Fixture::SetUp();
    spiCtrl::instance();  // the SPI lines are up before the clock service runs
    Start(false);
  }
  // Sends clockCfg: -1 for success, else the error cause.
  int Cfg(bool internal, bool bext, int source) {
    return e1test::Answer(bench->Exchange(HwCmd::clockCfg(internal, bext, source)));
  }
  std::vector<int32_t> Selects() { return sim().firstWords("/dev/hal", R::HwClockSelect); }
};

TEST_F(ClockTest, ConnectAndDisconnectFallBackToTheFreeRunningClock) {
  ctltest::Capture err(std::cerr);
  ASSERT_TRUE(bench->Connect());
  EXPECT_EQ("4\nok\n", sim().execute("clocksrc"));
  ASSERT_EQ(-1, Cfg(false, true, 2));
  ASSERT_TRUE(bench->Disconnect());
  EXPECT_EQ((std::vector<int32_t>{4, 2, 4}), Selects());
  EXPECT_EQ(3u, err.count("clkctl: set clock source cmd: {"));
  EXPECT_EQ(2u, err.count("clkctl: clock source = freerun\n"));
  EXPECT_TRUE(::fcntl(svc->device(), F_GETFD) & FD_CLOEXEC);
}

TEST_F(ClockTest, ClockCfgSelectsTheSourceAndLogsItsName) {
  ASSERT_TRUE(bench->Connect());
  ctltest::Capture err(std::cerr);
  sim().clearLog();
  for (auto [internal, bext, source] : {std::tuple{false, true, 2}, {false, false, 2}, {true, true, 2},
                                        {false, true, -1}, {false, true, 7}, {false, true, 8}, {false, true, 99999}})
    EXPECT_EQ(-1, Cfg(internal, bext, source));
  EXPECT_EQ((std::vector<int32_t>{2, 5, 4, 7, 8, 99999}), Selects());  // -1 selects nothing
  EXPECT_EQ(7u, err.count("clkctl: set clock source cmd: "));
  for (const char* name : {"f2", "X3", "freerun", "?2", "8", "99999"})
    EXPECT_EQ(1u, err.count(std::string("clkctl: clock source = ") + name + "\n")) << name;
}

TEST_F(ClockTest, ADisabledControlLeavesTheClockAloneAndRefusesClockCfg) {
  ctltest::Capture log(std::clog);
  svc->DisableControl();
  EXPECT_EQ("clock control disabled.\n", log.text());
  sim().clearLog();
  ASSERT_TRUE(bench->Connect());
  EXPECT_EQ(int(LGCP::ErrorCause::unsupported), Cfg(false, true, 2));
  ASSERT_TRUE(bench->Disconnect());
  EXPECT_TRUE(Selects().empty());
  EXPECT_EQ(-1, svc->device());
}

TEST_F(ClockTest, WithoutTheHalTheSpiLinesGiveUpTheClockMaster) {
  sim().setPresent("/dev/hal", false);
  ctltest::Capture err(std::cerr);
  sim().clearLog();
  ASSERT_TRUE(bench->Connect());
  EXPECT_EQ(-1, Cfg(false, true, 2));
  EXPECT_EQ(2u, err.count("clkctl: set clock source fail: code 1.\n"));
  std::size_t released = 0;  // "not clock master" on the eight channels, twice
  for (const auto& e : sim().log())
    released += e.request == R::SpiWrite && e.in[1] == spiCtrl::RegClock && e.in[2] == spiCtrl::NotClockMaster;
  EXPECT_EQ(16u, released);
  EXPECT_TRUE(Selects().empty());
  sim().setPresent("/dev/hal", true);
  EXPECT_EQ(-1, Cfg(false, true, 3));  // opened at the next use
  EXPECT_EQ(3, sim().hal().clockSource());
  sim().failNext("/dev/hal", R::HwClockSelect, EIO);
  EXPECT_EQ(-1, Cfg(false, true, 1));
  EXPECT_EQ(1u, err.count("clkctl: HW_CLOCK_SELECT fail.\n"));
  EXPECT_EQ(3, sim().hal().clockSource());
}

}  // namespace
