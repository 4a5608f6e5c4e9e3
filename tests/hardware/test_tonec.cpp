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
#include "test_dsp_support.h"

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
  void serve(TonecReceiverService& svc) { svc.OnEvent(svc.lowlevel_fd(), DspTest::pollNow(svc.lowlevel_fd())); }
};

TEST(TonecTables, DigitPairsAndIdWrap) {
  using Pair = std::pair<unsigned short, unsigned short>;
  ASSERT_EQ(Dtmf::tonesValidator.size(), 16u);
  EXPECT_EQ(Dtmf::tonesValidator.at('1'), Pair(697, 1209));
  EXPECT_EQ(Dtmf::tonesValidator.at('0'), Pair(941, 1336));
  EXPECT_EQ(Dtmf::tonesValidator.at('#'), Pair(941, 1477));
  EXPECT_EQ(Dtmf::tonesValidator.at('D'), Pair(941, 1633));
  EXPECT_EQ(Hardware::NextDetectorId(41), 42u);
  EXPECT_EQ(Hardware::NextDetectorId(4294967295u), 1u);
}

TEST_F(TonecService, EnableOnTimeslot12GivesId1AndItsDigitArrives) {
  TonecReceiverService svc;
  Receiver r(12);
  DspTest::LogCapture cap;
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

TEST_F(TonecService, SwitchesSendOnlyChangesAndFailuresKeepTheState) {
  TonecReceiverService svc;
  Receiver r(3);
  DspTest::LogCapture cap;
  ASSERT_TRUE(svc.enableDTMF(r, false));  // never enabled: nothing to do
  EXPECT_TRUE(sim().log().empty());
  sim().failNext("/dev/dtmf", R::DtmfEnableDetector, EIO);
  EXPECT_FALSE(svc.enableDTMF(r, true));
  EXPECT_FALSE(r.detectionEnabled());
  EXPECT_EQ(r.detectorId(), 0u);
  EXPECT_TRUE(cap.errHas("DTMF_ENABLE_DETECTOR fail: timeslot=3 id=1 errno=\"Input/output error\"\n"));
  ASSERT_TRUE(svc.enableDTMF(r, true));
  ASSERT_TRUE(svc.enableDTMF(r, true));
  EXPECT_EQ(r.detectorId(), 2u);  // the failed enable used id 1
  EXPECT_EQ(svc.lastId(), 2u);
  EXPECT_EQ(sim().log().size(), 2u);

  sim().failNext("/dev/dtmf", R::DtmfDisableDetector, EBUSY);
  EXPECT_FALSE(svc.enableDTMF(r, false));
  EXPECT_TRUE(r.detectionEnabled());
  EXPECT_TRUE(cap.errHas("DTMF_DISABLE_DETECTOR fail: timeslot=3 errno=\"Device or resource busy\"\n"));
  ASSERT_TRUE(svc.enableDTMF(r, false));
  EXPECT_FALSE(r.detectionEnabled());
  EXPECT_EQ(r.detectorId(), 2u);  // the id stays
  EXPECT_TRUE(sim().log().back().byValue);
  EXPECT_EQ(sim().log().back().value, 3u);
  EXPECT_TRUE(cap.errHas("DTMF_DISABLE_DETECTOR done: timeslot=3\n"));
}

TEST_F(TonecService, StaleDisabledAndUnknownEventsAreLoggedAndDropped) {
  TonecReceiverService svc;
  Receiver first(7), second(7);
  DspTest::LogCapture cap;
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

TEST_F(TonecService, OnlyWholeRecordsAreEvents) {
  TonecReceiverService svc;
  Receiver r(6);
  ASSERT_TRUE(svc.enableDTMF(r, true));
  Sim::Session& s = session(svc);
  Sim::Bytes whole(16);
  Board::putBE32(&whole[0], 8);
  Board::putBE32(&whole[4], 6);
  Board::putBE32(&whole[12], r.detectorId());
  DspTest::LogCapture cap;

  // A short record ends the pass unparsed; the whole one behind it comes on
  // the next pass. So does an empty read (it used to be taken as a record).
  for (std::size_t cut : {7u, 0u}) {
    const std::size_t before = r.events.size();
    ASSERT_TRUE(sim().deliver(s, Sim::Bytes(whole.begin(), whole.begin() + long(cut))));
    ASSERT_TRUE(sim().deliver(s, whole));
    serve(svc);
    EXPECT_EQ(r.events.size(), before) << cut;
    EXPECT_FALSE(cap.logHas("dtmf event:")) << cut;
    EXPECT_TRUE(svc.isOpen());
    cap.clear();
    serve(svc);
    EXPECT_EQ(r.events.size(), before + 1) << cut;
    cap.clear();
  }
  ASSERT_TRUE(sim().deliver(s, Sim::Bytes(whole.begin(), whole.begin() + 7)));
  serve(svc);
  EXPECT_EQ(cap.err(), "fail to read from tonec: short record of 7 bytes\n");
}

TEST_F(TonecService, ReadErrorsEndThePassAndEndOfFileReleasesTheDevice) {
  TonecReceiverService svc;
  Receiver r(6);
  ASSERT_TRUE(svc.enableDTMF(r, true));
  DspTest::LogCapture cap;
  sim().failRead(session(svc), EIO);
  serve(svc);
  EXPECT_EQ(cap.err(), "fail to read from tonec: Input/output error\n");
  dev().inject(6, 2, r.detectorId(), 1);  // still registered
  serve(svc);
  EXPECT_EQ(r.events.size(), 1u);

  cap.clear();
  sim().endSession(session(svc));
  const int fd = svc.lowlevel_fd();
  const short revents = DspTest::pollNow(fd);
  ASSERT_TRUE(revents & POLLHUP);
  svc.OnEvent(fd, revents);
  EXPECT_FALSE(svc.isOpen());
  EXPECT_EQ(cap.err(), "fail to read from tonec: end of file\n");
  EXPECT_TRUE(svc.configureDTMF(6, LGCP::DTMFParams()));  // opens it again
  EXPECT_TRUE(svc.isOpen());
}

TEST_F(TonecService, RequestsCarryTheirRecordsAndLogLines) {
  TonecReceiverService svc;
  LGCP::DTMFParams p;
  p.set_threshold().set_twist(11);
  p.set_threshold().set_ratio(22);
  p.set_threshold().set_noise(33);
  p.set_level().set_silence(44);
  DspTest::LogCapture cap;
  ASSERT_TRUE(svc.configureDTMF(12, p));  // silence before noise, but logged after
  EXPECT_TRUE(svc.echoCancel(5, true));
  EXPECT_TRUE(svc.enableDTMFReject(5, true));
  EXPECT_TRUE(svc.echoCancel(5, false));
  EXPECT_TRUE(svc.enableDTMFReject(5, false));
  ASSERT_TRUE(svc.enableToneGenerator(0x01020304, 697, 1209, 16384, 0xFFFF));
  EXPECT_EQ(cap.log(), "DTMF_CONFIGURE_DETECTOR ts=12 twist=11 ratio=22 noise=33 silence=44\n"
                       "CHANNEL_LMS_ON[5] ok\nDTMF_REJECTION_ENABLE[5] ok\n"
                       "CHANNEL_LMS_OFF[5] ok\nDTMF_REJECTION_DISABLE[5] ok\n");
  EXPECT_EQ(requestLog(), "/dev/dtmf 0x40144202 12 11 22 44 33 -> 0\n"
                  "/dev/dtmf 0x40044206 =5 -> 0\n/dev/dtmf 0x40044209 =5 -> 0\n"
                  "/dev/dtmf 0x40044207 =5 -> 0\n/dev/dtmf 0x4004420a =5 -> 0\n"
                  "/dev/dtmf 0x400c4205 16909060 45679801 1073807359 -> 0\n");
  EXPECT_EQ(Sim::hex(sim().log().back().in), "0102030402b904b94000ffff");

  sim().failNext("/dev/dtmf", 0, EIO, 3);
  EXPECT_FALSE(svc.configureDTMF(12, p));
  EXPECT_FALSE(svc.enableDTMFReject(5, true));
  EXPECT_FALSE(svc.enableToneGenerator(5, 0, 0, 0, 0));
  EXPECT_EQ(cap.err(), "DTMF_CONFIGURE_DETECTOR fail: timeslot=12 errno=\"Input/output error\"\n"
                       "DTMF_REJECTION_ENABLE fail: timeslot=5 errno=\"Input/output error\"\n"
                       "DTMF_DIAL fail: timeslot=5 errno=\"Input/output error\"\n");
}

TEST_F(TonecService, MissingDeviceFailsEveryRequestAndConfigureRetriesTheOpen) {
  sim().setPresent("/dev/dtmf", false);
  DspTest::LogCapture cap;
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

TEST_F(TonecService, ReceiverOperationsGoThroughTheProcessService) {
  Receiver r(30);
  ASSERT_TRUE(r.configureDTMF(LGCP::DTMFParams()));
  ASSERT_TRUE(r.echoCancel(true));
  ASSERT_TRUE(r.enableDTMFReject(true));
  ASSERT_TRUE(r.enableDTMF(true));
  EXPECT_EQ(r.detectorId(), TonecReceiverService::instance().lastId());
  const Sim::DtmfDevice::Timeslot* t = dev().timeslot(30);
  ASSERT_NE(t, nullptr);
  EXPECT_TRUE(t->configured && t->lms && t->reject && t->detecting);

  EXPECT_EQ(sim().execute("dtmf-event 30 ced"), "delivered 1\nok\n");
  serve(TonecReceiverService::instance());
  ASSERT_EQ(r.events.size(), 1u);
  EXPECT_EQ(r.events[0].code, 17);

  ASSERT_TRUE(r.disableDTMF());
  ASSERT_TRUE(r.enableSilence());
  EXPECT_NE(sim().execute("dtmf-state").find("30 detector off id " + std::to_string(r.detectorId()) +
                                             " config 0 0 0 0 lms on reject on gen 1000 1000 0 0\n"),
            std::string::npos);
  EXPECT_EQ(sim().execute("dtmf-event 30"), "error: usage: dtmf-event <ts> <code>|ced|cng [<id> [<timestamp>]]\n");
}

}  // namespace
