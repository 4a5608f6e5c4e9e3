// The detector services on the simulated board (DTMF; voice activity, SD
// and mute): detector ids, the requests and their records, event routing
// and dropping, partial reads, read errors and a missing device.

#include "hardware/dsp.h"
#include "hardware/dsp_ids.h"
#include "hardware/dtmf.h"
#include "sim_env.h"

namespace {

using SimTest::Digits;

using Hardware::DSProcReceiver;
using Hardware::DSProcReceiverService;
using Hardware::TonecReceiverService;

class Receiver : public DSProcReceiver {
 public:
  explicit Receiver(unsigned ts) : ts_(ts) {}
  void dsproc_vad_event(Hardware::DSProcVADEvent const& e) override { vad.push_back(e); }
  void dsproc_sd_event(Hardware::DSProcSDEvent const& e) override { sd.push_back(e); }
  unsigned dsproc_timeslot() const override { return ts_; }
  // The VAD events as "rx/tx " each.
  std::string vads() const {
    std::string s;
    for (const auto& e : vad) s += std::to_string(e.rx) + "/" + std::to_string(e.tx) + " ";
    return s;
  }
  std::vector<Hardware::DSProcVADEvent> vad;
  std::vector<Hardware::DSProcSDEvent> sd;

 private:
  unsigned ts_;
};

class DsprocService : public SimTest::Fixture {
 protected:
  Sim::DspDevice& dev() { return static_cast<Sim::DspDevice&>(*sim().device("/dev/dsp")); }
  Sim::DtmfDevice& dtmf() { return static_cast<Sim::DtmfDevice&>(*sim().device("/dev/dtmf")); }
  // One readiness pass as the loop would run it.
  template <class S>
  void serve(S& svc) {
    svc.OnEvent(svc.lowlevel_fd(), SimTest::pollNow(svc.lowlevel_fd()));
  }
};
using TonecService = DsprocService;

TEST(DetectorIds, CountUpAndSkipZeroWhenTheyWrap) {
  const uint32_t rows[][2] = {{0, 1}, {1, 2}, {0x7FFFFFFF, 0x80000000}, {0xFFFFFFFE, 0xFFFFFFFF}, {0xFFFFFFFF, 1}};
  for (const auto& r : rows) EXPECT_EQ(Hardware::NextDetectorId(r[0]), r[1]) << r[0];
}

TEST_F(DsprocService, VadSdAndMuteTakeIds123FromOneCounterAndTheirEventsArrive) {
  DSProcReceiverService svc;
  Receiver a(10), b(11);
  SimTest::LogCapture cap;
  ASSERT_TRUE(svc.enableVAD(a, true));
  ASSERT_TRUE(svc.enableSD(b, true));
  ASSERT_TRUE(svc.enableMute(a, true, false));
  EXPECT_EQ(a.vadId(), 1u);
  EXPECT_EQ(b.sdId(), 2u);
  EXPECT_EQ(a.muteId(), 3u);
  EXPECT_EQ(requestLog(), "/dev/dsp 0x400c6402 10 1 1 -> 0\n"
                        "/dev/dsp 0x400c6402 11 2 2 -> 0\n"
                        "/dev/dsp 0x400c6402 10 3 4 -> 0\n");
  EXPECT_EQ(cap.err(), "DSPROC_ENABLE VAD done: timeslot=10 id=1\n"
                       "DSPROC_ENABLE SD done: timeslot=11 id=2\n"
                       "DSPROC_ENABLE MUTE done: timeslot=10 id=3\n");
  EXPECT_EQ(sim().execute("dsp-state"), "10 functions vad=1 mute-rx=3\n11 functions sd=2\nok\n");
  ASSERT_TRUE(svc.enableMute(a, false, false));  // both directions off, id 0
  EXPECT_EQ(sim().log().back().text(), "/dev/dsp 0x400c6403 10 0 12 -> 0");

  // Injected from outside, with the ids the simulator saw.
  EXPECT_EQ(sim().execute("dsp-vad 10 1 1 0"), "delivered 1\nok\n");
  EXPECT_EQ(sim().execute("dsp-sd 11 -4"), "delivered 1\nok\n");
  serve(svc);
  EXPECT_EQ(a.vads(), "1/-1 ");
  ASSERT_EQ(b.sd.size(), 1u);
  EXPECT_EQ(b.sd[0].rx, -4);
  EXPECT_TRUE(cap.logHas("dsproc event:  timeslot=10 id=1 type=1\ndsproc vad event:  dir_mask=1 vad_rx=1 vad_tx=0\n"));
  EXPECT_TRUE(cap.logHas("dsproc event:  timeslot=11 id=2 type=2\ndsproc sd event:  sd_rx=-4\n"));

  // Directions not in the mask are delivered as -1.
  for (uint32_t mask : {0u, 3u, 2u}) dev().injectVAD(10, mask, 5, 6);
  serve(svc);
  EXPECT_EQ(a.vads(), "1/-1 -1/-1 5/6 -1/6 ");
}

TEST_F(DsprocService, OffOutdatedUnknownAndOtherEventsAreDropped) {
  DSProcReceiverService svc;
  Receiver r(8), later(8);
  SimTest::LogCapture cap;
  ASSERT_TRUE(svc.enableSD(r, true));   // id 1
  ASSERT_TRUE(svc.enableSD(r, false));
  ASSERT_TRUE(svc.enableVAD(later, true));  // id 2; only the first on a timeslot is considered
  cap.clear();
  dev().inject(8, 1, 2, 7, 0, 0);
  serve(svc);
  EXPECT_TRUE(r.sd.empty());
  EXPECT_EQ(cap.log(), "dsproc event:  timeslot=8 id=1 type=2\ndsproc sd event:  sd_rx=7\n"
                       "ignore spurious dsproc vad event (dsproc disabled):  timeslot=8 id=1 type=2\n");

  ASSERT_TRUE(svc.enableSD(r, true));  // id 3
  cap.clear();
  dev().inject(8, 1, 2, 7, 0, 0);
  serve(svc);
  EXPECT_TRUE(cap.logHas("ignore spurious dsproc vad event:  timeslot=8 id=1 type=2 rid=3\n"));

  // VAD never switched on the first receiver: tested by id, which is 0.
  dev().inject(8, 2, 1, 1, 1, 0);
  serve(svc);
  EXPECT_TRUE(later.vad.empty());
  EXPECT_TRUE(cap.logHas("ignore spurious dsproc vad event:  timeslot=8 id=2 type=1 rid=0\n"));
  dev().inject(8, 0, 1, 1, 1, 0);
  serve(svc);
  EXPECT_EQ(r.vad.size(), 1u);

  cap.clear();
  dev().inject(8, 3, 3, 1, 2, 3);
  serve(svc);
  EXPECT_EQ(cap.log(), "dsproc event:  timeslot=8 id=3 type=3\n");
  EXPECT_EQ(cap.err(), "");

  cap.clear();
  dev().inject(99, 1, 1, 1, 1, 1);
  serve(svc);
  EXPECT_EQ(cap.err(), "receive dsproc event from unknown timeslot 99\n");
}

TEST_F(TonecService, EnableOnTimeslot12GivesId1AndItsDigitArrives) {
  TonecReceiverService svc;
  Digits r(12);
  SimTest::LogCapture cap;
  ASSERT_TRUE(svc.enableDTMF(r, true));
  EXPECT_EQ(r.detectorId(), 1u);
  EXPECT_TRUE(cap.errHas("DTMF_ENABLE_DETECTOR done: timeslot=12 id=1\n"));
  ASSERT_NE(dtmf().timeslot(12), nullptr);
  EXPECT_TRUE(dtmf().timeslot(12)->detecting && dtmf().timeslot(12)->id == 1u);

  // Injected from outside, as a test of the running daemon would.
  EXPECT_NE(sim().execute("dtmf-event 12 5 1 777").find("ok"), std::string::npos);
  serve(svc);
  ASSERT_EQ(r.events.size(), 1u);
  EXPECT_EQ(std::pair(r.events[0].code, r.events[0].timestamp), std::pair(5, 777));
  EXPECT_TRUE(cap.logHas("dtmf event:  timestamp=777 timeslot=12 code=5 id=1\n"));
}

TEST_F(TonecService, StaleDisabledAndUnknownEventsAreLoggedAndDropped) {
  TonecReceiverService svc;
  Digits first(7), second(7);
  SimTest::LogCapture cap;
  ASSERT_TRUE(svc.enableDTMF(first, true));   // id 1
  ASSERT_TRUE(svc.enableDTMF(first, false));
  ASSERT_TRUE(svc.enableDTMF(first, true));   // id 2
  ASSERT_TRUE(svc.enableDTMF(second, true));  // id 3, same timeslot: never considered

  dtmf().inject(7, 4, 1, 100);  // of the earlier enable
  dtmf().inject(7, 4, 3, 101);  // the second receiver's id
  dtmf().inject(55, 1, 1, 102);
  dtmf().inject(7, Sim::DtmfDevice::kCodeCNG, 2, 103);
  serve(svc);
  EXPECT_TRUE(cap.logHas("ignore spurious dtmf event:  timestamp=100 timeslot=7 code=4 id=1 rid=2\n"));
  EXPECT_TRUE(cap.logHas("ignore spurious dtmf event:  timestamp=101 timeslot=7 code=4 id=3 rid=2\n"));
  EXPECT_EQ(cap.err().substr(cap.err().rfind("receive")), "receive tonec event from unknown timeslot 55\n");
  EXPECT_TRUE(second.events.empty());
  ASSERT_EQ(first.events.size(), 1u);
  EXPECT_EQ(first.events[0].code, 18);

  ASSERT_TRUE(svc.enableDTMF(first, false));
  cap.clear();
  dtmf().inject(7, 4, 2, 104);
  serve(svc);
  EXPECT_EQ(first.events.size(), 1u);
  EXPECT_EQ(cap.log(), "dtmf event:  timestamp=104 timeslot=7 code=4 id=2\n"
                       "ignore spurious dtmf event (DTMF disabled):  timestamp=104 timeslot=7 code=4 id=2\n");
}

// Without the device every switch fails and says why; configure tries the
// open again, and the ids go on from where they were.
TEST_F(DsprocService, MissingDeviceFailsEverySwitchAndConfigureRetriesTheOpen) {
  sim().setPresent("/dev/dsp", false);
  sim().setPresent("/dev/dtmf", false);
  SimTest::LogCapture cap;
  DSProcReceiverService dsp;
  Hardware::TonecReceiverService tonec;
  EXPECT_FALSE(dsp.isOpen() || tonec.isOpen());
  EXPECT_EQ(cap.err(), "open dsproc fail, VAD proceeding disabled: No such file or directory\n"
                       "open tonec fail, DTMF proceeding disabled: No such file or directory\n");
  Receiver r(2);
  Digits digits(2);
  cap.clear();
  EXPECT_FALSE(dsp.enableVAD(r, true));
  EXPECT_FALSE(dsp.enableMute(r, false, false));
  EXPECT_FALSE(tonec.enableDTMF(digits, true));
  EXPECT_EQ(cap.err(), "DSPROC_ENABLE VAD fail: timeslot=2 id=1 errno=\"Bad file descriptor\"\n"
                       "DSPROC_DISABLE MUTE fail: timeslot=2 errno=\"Bad file descriptor\"\n"
                       "DTMF_ENABLE_DETECTOR fail: timeslot=2 id=1 errno=\"Bad file descriptor\"\n");
  cap.clear();
  EXPECT_FALSE(dsp.configureSD(2));
  EXPECT_FALSE(tonec.configureDTMF(2, LGCP::DTMFParams()));
  EXPECT_EQ(cap.err(), "open dsproc fail, VAD proceeding disabled: No such file or directory\n"
                       "configure SD fail: (interface not opened) timeslot=2\n"
                       "open tonec fail, DTMF proceeding disabled: No such file or directory\n"
                       "configure DTMF fail: (interface not opened) timeslot=2\n");
  sim().setPresent("/dev/dsp", true);
  sim().setPresent("/dev/dtmf", true);
  EXPECT_TRUE(dsp.configureVAD(2) && tonec.configureDTMF(2, LGCP::DTMFParams()));
  EXPECT_TRUE(dsp.enableVAD(r, true) && tonec.enableDTMF(digits, true));
  EXPECT_EQ(r.vadId(), 2u);  // each service counts its own ids
  EXPECT_EQ(digits.detectorId(), 2u);
}

// The read path both detector services share: whole records only; a short
// one is logged and an empty one skipped, each ending the pass; a read error
// ends the pass; end of file lets the device go and the next configure opens
// it again.
template <class S>
void readPath(Sim::Board& sim, S& svc, const Sim::Bytes& record, const std::function<std::size_t()>& events,
              const std::function<bool()>& configure, const std::string& name) {
  SCOPED_TRACE(name);
  auto serve = [&] { svc.OnEvent(svc.lowlevel_fd(), SimTest::pollNow(svc.lowlevel_fd())); };
  Sim::Session& s = *sim.sessionOf(svc.lowlevel_fd());
  const std::string fail = "fail to read from " + name + ": ";
  SimTest::LogCapture cap;
  for (std::size_t cut : {7u, 0u}) {
    const std::size_t before = events();
    ASSERT_TRUE(sim.deliver(s, Sim::Bytes(record.begin(), record.begin() + long(cut))));
    ASSERT_TRUE(sim.deliver(s, record));
    serve();
    EXPECT_EQ(events(), before) << cut;
    EXPECT_EQ(cap.err(), cut ? fail + "short record of 7 bytes\n" : "") << cut;
    serve();
    EXPECT_EQ(events(), before + 1) << cut;
    cap.clear();
  }
  sim.failRead(s, EIO);
  sim.deliver(s, record);
  serve();
  EXPECT_EQ(cap.err(), fail + "Input/output error\n");
  serve();
  EXPECT_EQ(events(), 3u);  // still registered
  cap.clear();
  sim.endSession(s);
  serve();
  EXPECT_FALSE(svc.isOpen());
  EXPECT_EQ(cap.err(), fail + "end of file\n");
  EXPECT_TRUE(configure());
  EXPECT_TRUE(svc.isOpen());
}

TEST_F(DsprocService, BothDetectorServicesReadWholeRecordsAndLetAHungUpDeviceGo) {
  Hardware::TonecReceiverService tonec;
  Digits digits(6);
  ASSERT_TRUE(tonec.enableDTMF(digits, true));
  DSProcReceiverService dsproc;
  Receiver sd(9);
  ASSERT_TRUE(dsproc.enableSD(sd, true));
  Sim::Bytes dtmf(16), event(24);
  Board::putBE32(&dtmf[0], 8);
  Board::putBE32(&dtmf[4], 6);
  Board::putBE32(&dtmf[12], digits.detectorId());
  Board::putBE32(&event[0], 9);
  Board::putBE32(&event[4], sd.sdId());
  Board::putBE32(&event[8], 2);
  readPath(sim(), tonec, dtmf, [&] { return digits.events.size(); },
           [&] { return tonec.configureDTMF(6, LGCP::DTMFParams()); }, "tonec");
  readPath(sim(), dsproc, event, [&] { return sd.sd.size(); }, [&] { return dsproc.configureSD(9); }, "dsproc");
}

}  // namespace
