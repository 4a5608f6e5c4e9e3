// E1 trunk control against the simulated maintenance driver, with a test
// controller: trunk reports at connect and every second, the status record
// offsets, a missing device, a failing trunk, and the TCLK mask.

#include "hardware/e1_ctl.h"
#include "sim_env.h"

using e1test::Answer;
using e1test::Trunk;
using e1test::Trunks;

namespace {

class E1CtlTest : public SimTest::BenchFixture<E1Ctl> {
 protected:
  void SetUp() override {
    SimTest::Fixture::SetUp();
    Start(false);
  }
  Sim::MaintenanceDevice& maint() { return *static_cast<Sim::MaintenanceDevice*>(sim().device("/dev/maintenance")); }
  int TrunkCfg(int trunk, bool slave) { return Answer(bench->Exchange(HwCmd::trunkCfg(trunk, slave))); }
  std::vector<Trunk> Tick(std::size_t n = 4) {
    Mux::advanceClock(1000);
    return Trunks(bench->Receive(n), 0);
  }
};

TEST_F(E1CtlTest, EachCounterComesFromItsOwnWordOfTheStatusRecord) {
  maint().trunk(1) = {Sim::MaintenanceDevice::Ais, 11, 22, 33, 44, 55};
  ASSERT_TRUE(bench->Connect());
  std::vector<Trunk> t = Trunks(bench->Receive(4), 0);
  ASSERT_EQ(4u, t.size());
  // The next report comes a second later.
  EXPECT_LE(svc->statusRemaining(), 1000u);
  EXPECT_GT(svc->statusRemaining(), 900u);
  const Trunk& k = t[1];
  EXPECT_EQ((std::vector<int>{1, int(ACP::TrunkState::ais), 11, 22, 33, 44, 55, 0}),
            (std::vector<int>{k.trunk, k.state, k.slips, k.lossBF, k.lossCarrier, k.lossAIS, k.lossRAI, k.type}));
  EXPECT_FALSE(k.clockMaster);
}

TEST_F(E1CtlTest, AFailingTrunkIsLoggedAndLeftOut) {
  maint().setFailing(2, EIO);
  ctltest::Capture err(std::cerr);
  ASSERT_TRUE(bench->Connect());
  std::vector<Trunk> t = Trunks(bench->Receive(3), 0);
  ASSERT_EQ(3u, t.size());
  EXPECT_EQ(3, t[2].trunk);
  EXPECT_EQ(1u, err.count("E1: synchronization status read fail, trunk = 2 cause = Input/output error\n"));
  EXPECT_EQ(1u, err.count("synchronization status"));
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
  sim().setPresent("/dev/maintenance", true);
  EXPECT_EQ(4u, Tick().size());
  ASSERT_GE(svc->maintenanceFd(), 0);
  EXPECT_TRUE(::fcntl(svc->maintenanceFd(), F_GETFD) & FD_CLOEXEC);
  EXPECT_TRUE(::fcntl(svc->maintenanceFd(), F_GETFL) & O_NONBLOCK);
}

// A failed write keeps the mask for the next one; a reconnect clears it.
TEST_F(E1CtlTest, TrunkCfgDrivesTheTclkMaskAndAReconnectResetsIt) {
  ASSERT_TRUE(bench->Connect());
  sim().failNext("/dev/maintenance", R::E1SetTclk, EIO);
  ctltest::Capture err(std::cerr), log(std::clog);
  EXPECT_EQ(-1, TrunkCfg(1, true));
  EXPECT_EQ(1u, err.count("E1: fail to set TCLK [cause=Input/output error]\n"));
  EXPECT_EQ(0u, maint().tclk());
  for (auto [trunk, slave, mask] : {std::tuple{3, true, "0xa"}, {1, false, "0x8"}, {1, true, "0xa"}}) {
    EXPECT_EQ(-1, TrunkCfg(trunk, slave));
    EXPECT_EQ(std::string(mask) + "\nok\n", sim().execute("tclk")) << trunk;
  }
  EXPECT_EQ(2u, log.count("E1: TCLT = 0xa\n"));
  ASSERT_TRUE(bench->Disconnect() && bench->Connect());
  EXPECT_EQ("0x0\nok\n", sim().execute("tclk"));
}

}  // namespace
