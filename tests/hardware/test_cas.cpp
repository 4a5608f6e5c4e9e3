// CAS signalling of the E1 trunks against the simulated "/dev/e1-cas": the
// signals each command produces in wire order before its answer, the
// records the driver receives, failures, and the driver's change reports.

#include "hardware/e1_ctl.h"
#include "descriptor_squeeze.h"
#include "sim_env.h"

using Lines = std::vector<std::string>;

namespace {

using namespace HwCmd;

class CasTest : public SimTest::BenchFixture<E1Ctl> {
 protected:
  void SetUp() override {
    SimTest::Fixture::SetUp();
    sim().setPresent("/dev/maintenance", false);  // no trunk reports in the way
    Start(true);
  }
  Sim::E1CasDevice& cas() { return *static_cast<Sim::E1CasDevice*>(sim().device("/dev/e1-cas")); }
  // Runs one CAS command: the cas signals and the answer it produced.
  Lines Run(CasOp op, int path, int ts, int v = 0) { return e1test::CasTrace(bench->Exchange(HwCmd::cas(op, path, ts, v))); }
};

TEST_F(CasTest, CloseReportsTimeslotsAndTrunksAndTheFlagsOutliveTheController) {
  EXPECT_EQ((Lines{"cas 1 0 0 0", "cas 1 5 9 9", "success"}), Run(Open, 1, 5, 9));
  EXPECT_NE(std::string::npos, sim().execute("cas").find("1 5 open rx 9 tx 9"));
  EXPECT_EQ((Lines{"cas 1 5 -1 1", "success"}), Run(Close, 1, 5));
  EXPECT_FALSE(cas().slot(1, 5).open);
  EXPECT_EQ((Lines{"success"}), Run(Close, 1, 16));
  ASSERT_TRUE(bench->Disconnect());
  ASSERT_TRUE(bench->Connect());
  EXPECT_EQ((Lines{"cas 1 0 1 0", "success"}), Run(Close, 1, 0));
  EXPECT_FALSE(svc->casOpen(1) || cas().trunkOpen(1));
  EXPECT_EQ((Lines{"success"}), Run(Get, 1, 5));
  EXPECT_EQ((Lines{"success"}), Run(Close, 1, 0));
  EXPECT_EQ(1u, requestCount(R::CasCloseTrunk));
}

TEST_F(CasTest, WithoutTheDeviceCommandsAreAnsweredAndTheOpenIsRetried) {
  sim().setPresent("/dev/e1-cas", false);
  Start(true);
  EXPECT_EQ((Lines{"success"}), Run(Open, 1, 5, 9));
  EXPECT_EQ(-1, svc->casFd());
  sim().setPresent("/dev/e1-cas", true);
  EXPECT_EQ((Lines{"cas 1 0 0 0", "cas 1 5 9 9", "success"}), Run(Open, 1, 5, 9));
  EXPECT_TRUE(::fcntl(svc->casFd(), F_GETFD) & FD_CLOEXEC);
}

// A device whose watch cannot be had would never deliver a change report:
// it is let go (and opened again by the next command).
TEST_F(CasTest, ADeviceThatCannotBeWatchedIsNotKept) {
  sim().setPresent("/dev/e1-cas", false);
  Start(true);
  sim().setPresent("/dev/e1-cas", true);
  ctltest::Capture err(std::cerr);
  Lines shortOne, enough;
  int fd;
  {
    SimTest::DescriptorSqueeze squeeze;
    squeeze.Free(2);  // the device only
    shortOne = Run(Open, 1, 5, 9);
    fd = svc->casFd();
    squeeze.Free(1);
    enough = Run(Open, 1, 5, 9);
  }
  EXPECT_EQ((Lines{"success"}), shortOne);
  EXPECT_EQ(-1, fd);
  EXPECT_EQ(1u, err.count("E1: cas interface dup fail: Too many open files\n")) << err.text();
  EXPECT_EQ((Lines{"cas 1 0 0 0", "cas 1 5 9 9", "success"}), enough);
}

TEST_F(CasTest, FailuresTravelAsTheResultInRx) {
  sim().failNext("/dev/e1-cas", R::CasOpenTrunk, EBUSY);
  ctltest::Capture log(std::clog);
  EXPECT_EQ((Lines{"cas 1 0 -1 0", "success"}), Run(Open, 1, 5, 9));
  EXPECT_EQ(1u, log.count("E1: open cas signalling on trunk(1) - fail(-1)\n"));
  EXPECT_FALSE(svc->casOpen(1));
  EXPECT_EQ(0u, requestCount(R::CasSetup));
  Run(Open, 1, 0);
  // {failing request, command}: the first signal carries -1.
  const struct { uint32_t code; CasOp op; int ts, v; const char* first; } rows[] = {
      {R::CasSetup, Open, 5, 9, "cas 1 5 -1 0"}, {R::CasGet, Open, 5, 9, "cas 1 5 -1 0"},
      {R::CasSetTx, Set, 5, 1, "cas 1 5 -1 0"},  {R::CasSetup, Close, 5, 0, "cas 1 5 -1 0"},
      {R::CasCloseTrunk, Close, 0, 0, "cas 1 0 -1 0"}};
  for (const auto& r : rows) {
    sim().failNext("/dev/e1-cas", r.code, EIO);
    EXPECT_EQ((Lines{r.first, "success"}), Run(r.op, 1, r.ts, r.v)) << r.code;
  }
  EXPECT_TRUE(svc->casOpen(1));  // still open
}

TEST_F(CasTest, DriverReportsAreReadARecordAtATimeAndAHangUpLetsTheDeviceGo) {
  EXPECT_EQ("1\nok\n", sim().execute("cas 2 7 0x0D 0x05"));
  EXPECT_EQ((Lines{"cas 2 7 13 5"}), e1test::CasTrace(bench->Receive(1)));
  cas().deliverRaw(Sim::Bytes{0, 0, 0, 2, 0, 0, 0, 7, 0x0D});             // short: dropped
  cas().deliverRaw(Sim::Bytes{0, 0, 0, 1, 0, 0, 0, 9, 3, 4, 0, 0, 0xEE});  // one read takes 12 bytes
  cas().inject(3, 30, 0xF0, 0x81);                                          // bits are unsigned bytes
  EXPECT_EQ((Lines{"cas 1 9 3 4", "cas 3 30 240 129"}), e1test::CasTrace(bench->Receive(2)));

  sim().endSession(*sim().sessionOf(svc->casFd()));
  EXPECT_TRUE(bench->loop.RunUntil([&] { return svc->casFd() < 0; }));
  EXPECT_EQ((Lines{"success"}), Run(Get, 2, 7));  // opens it again
  ASSERT_GE(svc->casFd(), 0);
  EXPECT_EQ(1, cas().inject(2, 7, 1, 2));
  EXPECT_EQ((Lines{"cas 2 7 1 2"}), e1test::CasTrace(bench->Receive(1)));
}

TEST_F(CasTest, SetSendsFourBitsAndGetReportsWhatTheDriverHolds) {
  Run(Open, 0, 3, 0);
  EXPECT_EQ((Lines{"cas 0 3 9 15", "success"}), Run(Set, 0, 3, 31));
  cas().inject(0, 3, 0x0C);
  bench->Take();
  EXPECT_EQ((Lines{"cas 0 3 12 15", "success"}), Run(Get, 0, 3));
  EXPECT_EQ((Lines{"cas 0 16 9 2", "success"}), Run(Set, 0, 16, 2));  // 16 too
  // A closed trunk, or a path outside 0..3, is ignored.
  sim().clearLog();
  ctltest::Capture log(std::clog);
  EXPECT_EQ((Lines{"success"}), Run(Set, 2, 3, 1));
  EXPECT_EQ((Lines{"success"}), Run(Get, 2, 3));
  EXPECT_EQ((Lines{"success"}), Run(Open, 4, 5, 1));
  EXPECT_EQ((Lines{"success"}), Run(Open, -1, 5, 1));
  EXPECT_TRUE(sim().log().empty());
  EXPECT_EQ(0u, log.count("E1: "));
}

}  // namespace
