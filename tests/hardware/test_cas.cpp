// CAS signalling of the E1 trunks against the simulated "/dev/e1-cas": the
// signals each command produces, in wire order before its success, the
// records the driver receives, failures, and the driver's change reports.
#include <fcntl.h>

#include <memory>

#include "hardware/board/record.h"
#include "hardware/board/requests.h"
#include "hardware/e1_ctl.h"
#include "hardware/sim/e1cas.h"
#include "sim_env.h"
#include "support/e1board_harness.h"

using e1test::Bench;
using e1test::CasTrace;
using e1test::CommandMsg;
using Lines = std::vector<std::string>;

namespace {

namespace R = Board::Req;

class CasTest : public SimTest::Fixture {
 protected:
  void SetUp() override {
    SimTest::Fixture::SetUp();
    // The trunk reports are not what these tests look at.
    sim().setPresent("/dev/maintenance", false);
    e1 = std::make_unique<E1Ctl>();
    bench = std::make_unique<Bench>();
    bench->Bind(e1.get());
    ASSERT_TRUE(bench->Start());
  }
  void TearDown() override {
    bench.reset();
    e1.reset();
  }
  Sim::E1CasDevice& cas() { return *static_cast<Sim::E1CasDevice*>(sim().device("/dev/e1-cas")); }

  // Runs one CAS command; the cas signals and the answer it produced.
  Lines Run(int path, int ts, const std::function<void(LGCP::CasCommandSignal&)>& cmd) {
    auto r = bench->Exchange(CommandMsg(++seq, [&](LGCP::Command& c) {
      LGCP::CasCommand& k = c.select_ioctl().select_cas();
      k.set_channel().set_path(path);
      k.set_channel().set_timeslot(ts);
      cmd(k.set_cmd());
    }));
    return CasTrace(r);
  }
  Lines Open(int path, int ts, int v) {
    return Run(path, ts, [v](LGCP::CasCommandSignal& s) { s.select_open(v); });
  }
  Lines Close(int path, int ts) {
    return Run(path, ts, [](LGCP::CasCommandSignal& s) { s.select_close(); });
  }
  Lines Set(int path, int ts, int v) {
    return Run(path, ts, [v](LGCP::CasCommandSignal& s) { s.select_set(v); });
  }
  Lines Get(int path, int ts) {
    return Run(path, ts, [](LGCP::CasCommandSignal& s) { s.select_get(); });
  }
  std::size_t Requests(uint32_t code) {
    std::size_t n = 0;
    for (const auto& e : sim().log())
      if (e.request == code) ++n;
    return n;
  }
  void Connect() {
    ASSERT_TRUE(bench->Connect());
    bench->Take();
  }

  std::unique_ptr<E1Ctl> e1;
  std::unique_ptr<Bench> bench;
  int seq = 0;
};

TEST_F(CasTest, OpenOnAClosedTrunkOpensTheTrunkThenTheTimeslot) {
  Connect();
  ctltest::Capture log(std::clog);
  EXPECT_EQ((Lines{"cas 1 0 0 0", "cas 1 5 9 5", "success"}), Open(1, 5, 0x15));
  EXPECT_EQ(1u, log.count("E1: open cas signalling on trunk(1) - ok\n"));
  EXPECT_TRUE(e1->casOpen(1));
  EXPECT_TRUE(cas().trunkOpen(1));
  EXPECT_TRUE(cas().slot(1, 5).open);
  EXPECT_EQ(5, cas().slot(1, 5).tx);  // only the low four bits are sent

  // The trunk goes by value; the setup record is {1, 5, rx 0, tx 5, open}.
  const Sim::Board::LogEntry* setup = nullptr;
  for (const auto& e : sim().log()) {
    if (e.request == R::CasOpenTrunk) {
      EXPECT_TRUE(e.byValue);
      EXPECT_EQ(1ul, e.value);
    }
    if (e.request == R::CasSetup) setup = &e;
  }
  ASSERT_NE(nullptr, setup);
  EXPECT_EQ((Sim::Bytes{0, 0, 0, 1, 0, 0, 0, 5, 0, 5, 0, 0, 0, 0, 0, 0}), setup->in);
}

TEST_F(CasTest, ASecondOpenOnTheTrunkOnlyOpensTheTimeslot) {
  Connect();
  Open(1, 5, 9);
  EXPECT_EQ((Lines{"cas 1 6 9 3", "success"}), Open(1, 6, 3));
  EXPECT_EQ(1u, Requests(R::CasOpenTrunk));
}

TEST_F(CasTest, OpeningTimeslotZeroOrSixteenOpensOnlyTheTrunk) {
  Connect();
  EXPECT_EQ((Lines{"cas 2 0 0 0", "success"}), Open(2, 16, 1));
  EXPECT_EQ((Lines{"cas 3 0 0 0", "success"}), Open(3, 0, 1));
  EXPECT_EQ(0u, Requests(R::CasSetup));
}

TEST_F(CasTest, ClosingTheTrunkReportsOneAndForgetsIt) {
  Connect();
  Open(1, 5, 9);
  EXPECT_EQ((Lines{"cas 1 0 1 0", "success"}), Close(1, 0));
  EXPECT_FALSE(e1->casOpen(1));
  EXPECT_FALSE(cas().trunkOpen(1));
  EXPECT_EQ((Lines{"success"}), Get(1, 5));
  EXPECT_EQ((Lines{"success"}), Close(1, 0));  // already closed: no request
  EXPECT_EQ(1u, Requests(R::CasCloseTrunk));
}

TEST_F(CasTest, ClosingATimeslotReportsMinusOneAndOneButSixteenIsLeftAlone) {
  Connect();
  Open(1, 5, 9);
  EXPECT_EQ((Lines{"cas 1 5 -1 1", "success"}), Close(1, 5));
  EXPECT_FALSE(cas().slot(1, 5).open);
  EXPECT_EQ((Lines{"success"}), Close(1, 16));
  EXPECT_EQ(2u, Requests(R::CasSetup));
}

TEST_F(CasTest, SetSendsTheLowFourBitsAndReportsWhatTheDriverHolds) {
  Connect();
  Open(0, 3, 0);
  EXPECT_EQ((Lines{"cas 0 3 9 15", "success"}), Set(0, 3, 31));
  EXPECT_EQ(15, cas().slot(0, 3).tx);
  cas().inject(0, 3, 0x0C);
  bench->Take();
  EXPECT_EQ((Lines{"cas 0 3 12 15", "success"}), Get(0, 3));
  // Set and get reach timeslot 16 too.
  EXPECT_EQ((Lines{"cas 0 16 9 2", "success"}), Set(0, 16, 2));
}

TEST_F(CasTest, SetAndGetOnAClosedTrunkDoNothing) {
  Connect();
  EXPECT_EQ((Lines{"success"}), Set(2, 3, 1));
  EXPECT_EQ((Lines{"success"}), Get(2, 3));
  EXPECT_EQ(0u, Requests(R::CasSetTx) + Requests(R::CasGet));
}

TEST_F(CasTest, PathsOutsideTheFourTrunksAreIgnored) {
  Connect();
  ctltest::Capture log(std::clog);
  EXPECT_EQ((Lines{"success"}), Open(4, 5, 1));
  EXPECT_EQ((Lines{"success"}), Open(-1, 5, 1));
  EXPECT_EQ(0u, log.count("E1: "));
  EXPECT_EQ(0u, Requests(R::CasOpenTrunk));
}

TEST_F(CasTest, WithoutTheDeviceEveryCommandIsStillASuccess) {
  sim().setPresent("/dev/e1-cas", false);
  Connect();
  EXPECT_EQ(-1, e1->casFd());
  EXPECT_EQ((Lines{"success"}), Open(1, 5, 9));
  EXPECT_FALSE(e1->casOpen(1));
  // Once the device is there the next command opens it.
  sim().setPresent("/dev/e1-cas", true);
  EXPECT_EQ((Lines{"cas 1 0 0 0", "cas 1 5 9 9", "success"}), Open(1, 5, 9));
}

TEST_F(CasTest, AFailedTrunkOpenIsReportedLoggedAndStopsThere) {
  Connect();
  sim().failNext("/dev/e1-cas", R::CasOpenTrunk, EBUSY);
  ctltest::Capture log(std::clog);
  EXPECT_EQ((Lines{"cas 1 0 -1 0", "success"}), Open(1, 5, 9));
  EXPECT_EQ(1u, log.count("E1: open cas signalling on trunk(1) - fail(-1)\n"));
  EXPECT_FALSE(e1->casOpen(1));
  EXPECT_EQ(0u, Requests(R::CasSetup));
  // The next open tries the trunk again.
  EXPECT_EQ((Lines{"cas 1 0 0 0", "cas 1 5 9 9", "success"}), Open(1, 5, 9));
}

TEST_F(CasTest, FailedTimeslotRequestsReportTheResultInRx) {
  Connect();
  Open(1, 0, 0);
  sim().failNext("/dev/e1-cas", R::CasSetup, EINVAL);
  EXPECT_EQ((Lines{"cas 1 5 -1 0", "success"}), Open(1, 5, 9));
  EXPECT_EQ(0u, Requests(R::CasGet));
  sim().failNext("/dev/e1-cas", R::CasGet, EIO);
  EXPECT_EQ((Lines{"cas 1 5 -1 0", "success"}), Open(1, 5, 9));
  sim().failNext("/dev/e1-cas", R::CasSetTx, EIO);
  EXPECT_EQ((Lines{"cas 1 5 -1 0", "success"}), Set(1, 5, 1));
  sim().failNext("/dev/e1-cas", R::CasSetup, EIO);
  EXPECT_EQ((Lines{"cas 1 5 -1 0", "success"}), Close(1, 5));
}

TEST_F(CasTest, AFailedTrunkCloseKeepsTheTrunkOpen) {
  Connect();
  Open(1, 0, 0);
  sim().failNext("/dev/e1-cas", R::CasCloseTrunk, EIO);
  EXPECT_EQ((Lines{"cas 1 0 -1 0", "success"}), Close(1, 0));
  EXPECT_TRUE(e1->casOpen(1));
  EXPECT_EQ((Lines{"cas 1 5 9 0", "success"}), Get(1, 5));
}

TEST_F(CasTest, DriverReportsBecomeSignalsOneWholeRecordAtATime) {
  Connect();
  ASSERT_GE(e1->casFd(), 0);
  EXPECT_TRUE(::fcntl(e1->casFd(), F_GETFD) & FD_CLOEXEC);
  EXPECT_EQ(1, cas().inject(2, 7, 0x0D, 0x05));
  auto got = bench->Receive(1);
  EXPECT_EQ((Lines{"cas 2 7 13 5"}), CasTrace(got));

  // Bits are unsigned bytes; a short or long record is dropped.
  cas().deliverRaw(Sim::Bytes{0, 0, 0, 2, 0, 0, 0, 7, 0x0D});
  cas().deliverRaw(Sim::Bytes(13, 1));
  cas().inject(3, 30, 0xF0, 0x81);
  got = bench->Receive(1);
  bench->Take();
  EXPECT_EQ((Lines{"cas 3 30 240 129"}), CasTrace(got));
}

TEST_F(CasTest, TheTrunkFlagsOutliveTheController) {
  Connect();
  Open(1, 5, 9);
  ASSERT_TRUE(bench->Disconnect());
  Connect();
  EXPECT_TRUE(e1->casOpen(1));
  EXPECT_EQ((Lines{"cas 1 6 9 1", "success"}), Open(1, 6, 1));
}

TEST_F(CasTest, TheChannelRecordIsBigEndianWithRxAndTxBytes) {
  cas_channel c;
  c.path = 2;
  c.timeslot = -3;
  c.rx = 0xAB;
  c.tx = 0x0C;
  uint8_t b[cas_channel::kSize];
  c.encode(b);
  EXPECT_EQ((Sim::Bytes{0, 0, 0, 2, 0xFF, 0xFF, 0xFF, 0xFD, 0xAB, 0x0C, 0, 0}), Sim::Bytes(b, b + sizeof b));
  cas_channel d;
  d.decode(b);
  EXPECT_EQ(2, d.path);
  EXPECT_EQ(-3, d.timeslot);
  EXPECT_EQ(0xAB, d.rx);
  EXPECT_EQ(0x0C, d.tx);
}

}  // namespace
