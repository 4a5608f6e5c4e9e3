// DTMF detector service on the simulated board: detector ids, event
// routing, the device's requests and records, partial reads, read errors
// and a missing device.
#include <gtest/gtest.h>
#include <poll.h>

#include <cerrno>
#include <vector>

#include "hardware/board/record.h"
#include "hardware/board/requests.h"
#include "hardware/dsp_ids.h"
#include "hardware/dtmf.h"
#include "hardware/sim/dtmf.h"
#include "hardware/tonec.h"
#include "sim_env.h"

namespace {

namespace R = Board::Req;
using Hardware::TonecReceiver;
using Hardware::TonecReceiverService;

class Receiver : public TonecReceiver {
 public:
  explicit Receiver(unsigned ts) : ts_(ts) {}
  void tonec_event(Params const& p) override { events.push_back(p); }
  unsigned tonec_timeslot() const override { return ts_; }
  std::vector<Params> events;

 private:
  unsigned ts_;
};

class TonecService : public SimTest::Fixture {
 protected:
  Sim::DtmfDevice& dev() { return static_cast<Sim::DtmfDevice&>(*sim().device("/dev/dtmf")); }
  Sim::Session& session(const TonecReceiverService& svc) { return *sim().sessionOf(svc.lowlevel_fd()); }
  // One readiness pass as the loop would run it.
  void serve(TonecReceiverService& svc) { svc.OnEvent(svc.lowlevel_fd(), SimTest::pollNow(svc.lowlevel_fd())); }
};

TEST(DetectorIds, CountUpAndSkipZeroWhenTheyWrap) {
  const uint32_t rows[][2] = {{0, 1}, {1, 2}, {0x7FFFFFFF, 0x80000000}, {0xFFFFFFFE, 0xFFFFFFFF}, {0xFFFFFFFF, 1}};
  for (const auto& r : rows) EXPECT_EQ(Hardware::NextDetectorId(r[0]), r[1]) << r[0];
}

TEST_F(TonecService, EnableOnTimeslot12GivesId1AndItsDigitArrives) {
  TonecReceiverService svc;
  Receiver r(12);
  SimTest::LogCapture cap;
  ASSERT_TRUE(svc.enableDTMF(r, true));
  EXPECT_EQ(r.detectorId(), 1u);
  EXPECT_TRUE(cap.errHas("DTMF_ENABLE_DETECTOR done: timeslot=12 id=1\n"));
  ASSERT_NE(dev().timeslot(12), nullptr);
  EXPECT_TRUE(dev().timeslot(12)->detecting);
  EXPECT_EQ(dev().timeslot(12)->id, 1u);

  // Injected from outside, as a test of the running daemon would.
  EXPECT_NE(sim().execute("dtmf-event 12 5 1 777").find("ok"), std::string::npos);
  serve(svc);
  ASSERT_EQ(r.events.size(), 1u);
  EXPECT_EQ(r.events[0].code, 5);
  EXPECT_EQ(r.events[0].timestamp, 777);
  EXPECT_TRUE(cap.logHas("dtmf event:  timestamp=777 timeslot=12 code=5 id=1\n"));
}

TEST_F(TonecService, StaleDisabledAndUnknownEventsAreLoggedAndDropped) {
  TonecReceiverService svc;
  Receiver first(7), second(7);
  SimTest::LogCapture cap;
  ASSERT_TRUE(svc.enableDTMF(first, true));   // id 1
  ASSERT_TRUE(svc.enableDTMF(first, false));
  ASSERT_TRUE(svc.enableDTMF(first, true));   // id 2
  ASSERT_TRUE(svc.enableDTMF(second, true));  // id 3, same timeslot: never considered

  dev().inject(7, 4, 1, 100);  // of the earlier enable
  dev().inject(7, 4, 3, 101);  // the second receiver's id
  dev().inject(55, 1, 1, 102);
  dev().inject(7, Sim::DtmfDevice::kCodeCNG, 2, 103);
  serve(svc);
  EXPECT_TRUE(cap.logHas("ignore spurious dtmf event:  timestamp=100 timeslot=7 code=4 id=1 rid=2\n"));
  EXPECT_TRUE(cap.logHas("ignore spurious dtmf event:  timestamp=101 timeslot=7 code=4 id=3 rid=2\n"));
  EXPECT_EQ(cap.err().substr(cap.err().rfind("receive")), "receive tonec event from unknown timeslot 55\n");
  EXPECT_TRUE(second.events.empty());
  ASSERT_EQ(first.events.size(), 1u);
  EXPECT_EQ(first.events[0].code, 18);

  ASSERT_TRUE(svc.enableDTMF(first, false));
  cap.clear();
  dev().inject(7, 4, 2, 104);
  serve(svc);
  EXPECT_EQ(first.events.size(), 1u);
  EXPECT_EQ(cap.log(), "dtmf event:  timestamp=104 timeslot=7 code=4 id=2\n"
                       "ignore spurious dtmf event (DTMF disabled):  timestamp=104 timeslot=7 code=4 id=2\n");
}

TEST_F(TonecService, MissingDeviceFailsEveryRequestAndConfigureRetriesTheOpen) {
  sim().setPresent("/dev/dtmf", false);
  SimTest::LogCapture cap;
  TonecReceiverService svc;
  EXPECT_FALSE(svc.isOpen());
  EXPECT_EQ(cap.err(), "open tonec fail, DTMF proceeding disabled: No such file or directory\n");
  Receiver r(2);
  cap.clear();
  EXPECT_FALSE(svc.enableDTMF(r, true));
  EXPECT_EQ(cap.err(), "DTMF_ENABLE_DETECTOR fail: timeslot=2 id=1 errno=\"Bad file descriptor\"\n");
  cap.clear();
  EXPECT_FALSE(svc.configureDTMF(2, LGCP::DTMFParams()));
  EXPECT_EQ(cap.err(), "open tonec fail, DTMF proceeding disabled: No such file or directory\n"
                       "configure DTMF fail: (interface not opened) timeslot=2\n");
  sim().setPresent("/dev/dtmf", true);
  EXPECT_TRUE(svc.configureDTMF(2, LGCP::DTMFParams()));
  EXPECT_TRUE(svc.enableDTMF(r, true));
  EXPECT_EQ(r.detectorId(), 2u);
}

}  // namespace
