// Modem slots on the simulated modem controller with stand-in helper
// programs: the DSP modem set-up and its failures, the PPP daemon's and the
// fax programs' command lines, child ends reported as aborts, the hang-up
// on destroy with its 5 s deadline, and HDLC modem slots on fake
// generic-HDLC interfaces chosen by the factory.
#include <signal.h>

#include <fstream>

#include "control/control_test_support.h"
#include "runtime/os/clock.h"
#include "test_modem_support.h"

namespace {

using namespace modemtest;

class ModemSlots : public modemtest::Bench {};

TEST_F(ModemSlots, AnsweredDataCallProgramsTheModemAndStartsPppdOnce) {
  ctltest::Capture err(std::cerr);
  ASSERT_EQ(Create(3, Modem([](TERM::ModemParams& p) {
              p.set_ddm().push_back(TERM::DigitalDataModeEnum(TERM::DigitalDataModeEnum::ddmV110));
              p.set_ddm().push_back(TERM::DigitalDataModeEnum(TERM::DigitalDataModeEnum::ddm7BIT));
              p.set_ddm().push_back(TERM::DigitalDataModeEnum(TERM::DigitalDataModeEnum::ddmV120));
              for (int i = 1; i <= 2; ++i) {
                TERM::DDModemParam d;
                d.set_offset(10 * i);
                d.set_value(i);
                p.set_dmp().push_back(d);
              }
            })),
            Strings({"3: success"}));
  auto* slot = At<DspModemSlot>(3);
  ASSERT_TRUE(slot);  // no interface: a DSP modem also for a digital call
  EXPECT_EQ(slot->modem_id(), -1);
  EXPECT_EQ(modems().allocated(), 0);  // allocated only when a stream is asked for

  // The first parameter fails: logged, the others still go.
  sim().failNext("/dev/mctl", 0xBB38, EIO, 1);
  EXPECT_TRUE(slot->IOnOutputStream());
  EXPECT_EQ(Await(2), Strings({"3: transmitter active 96", "3: receiver active 96"}));
  EXPECT_NE(err.text().find("03:dsp-modem: set dmp parameter index=10 value=1 failed : "), std::string::npos)
      << err.text();
  const Sim::ModemDevice::Modem& m = modems().modems().at(0);
  EXPECT_EQ(m.ddm, 5);
  EXPECT_EQ(m.params, (std::vector<std::pair<int32_t, int32_t>>{{20, 2}}));
  EXPECT_EQ(m.call, Sim::ModemDevice::kAnswer);
  EXPECT_EQ(ArgsOf("pppd"), Strings({"file", "/usr/local/etc/ppp/aoptions", "/dev/mdm0", "remotenumber", "5551234"}));
  EXPECT_EQ(slot->modem_id(), 0);
  EXPECT_EQ(slot->IGetTransmitChannel(), 96);
  const int pid = slot->pid();
  EXPECT_GT(pid, 0);

  // A second stream request changes nothing.
  EXPECT_TRUE(slot->IOnInputStream());
  EXPECT_EQ(modems().allocated(), 1);
  EXPECT_EQ(slot->pid(), pid);
  EXPECT_TRUE(Await(1, 50).empty());

  // Destroy hangs the daemon up and completes when it has ended; the
  // modem goes back to the driver.
  EXPECT_EQ(Request(3, Destroy), Strings({"3: success"}));
  EXPECT_NE(err.text().find("03:dsp-modem: sent HUP to pppd."), std::string::npos);
  EXPECT_EQ(Slots::instance().at(3), nullptr);
  sim().pump();
  EXPECT_EQ(modems().allocated(), 0);
  EXPECT_TRUE(factory().modemSlots().empty());
}

TEST_F(ModemSlots, FailedSetUpAbortsAndIsRetriedOnTheNextStreamRequest) {
  modems().setModems(0);
  ctltest::Capture err(std::cerr);
  ASSERT_EQ(Create(4, Modem([](TERM::ModemParams& p) { p.set_originate(); })), Strings({"4: success"}));
  auto* slot = At<DspModemSlot>(4);
  ASSERT_TRUE(slot);
  EXPECT_TRUE(slot->IOnOutputStream());
  EXPECT_EQ(Await(1), Strings({"4: abort " + std::to_string(EBUSY)}));
  EXPECT_NE(err.text().find("04:dsp-modem: insufficient resources : "), std::string::npos) << err.text();
  EXPECT_EQ(slot->modem_id(), -1);

  modems().setModems(2, 200);
  EXPECT_TRUE(slot->IOnInputStream());
  EXPECT_EQ(Await(2), Strings({"4: transmitter active 200", "4: receiver active 200"}));
  EXPECT_EQ(modems().modems().at(0).call, Sim::ModemDevice::kOriginate);
  EXPECT_EQ(ArgsOf("pppd"), Strings({"file", "/usr/local/etc/ppp/coptions", "/dev/mdm0", "remotenumber", "5551234"}));
}

TEST_F(ModemSlots, FailedAnswerAbortsWithoutStartingPppd) {
  sim().failNext("/dev/mctl", 0xBB03, EPERM, 1);
  ASSERT_EQ(Create(5, Modem()), Strings({"5: success"}));
  At<DspModemSlot>(5)->IOnOutputStream();
  EXPECT_EQ(Await(3), Strings({"5: transmitter active 96", "5: receiver active 96", "5: abort " + std::to_string(EPERM)}));
  EXPECT_FALSE(At<DspModemSlot>(5)->pppd_executing());
}

TEST(ModemArgs, ExecargsReplaceOptionsDeviceAndNumberExecfileOnlyTheProgram) {
  DspModemSlot plain(Modem([](TERM::ModemParams& p) { p.set_cid(""); }).get_modem());
  EXPECT_EQ(plain.PppdArgs("/dev/mdm2", "/o"), Strings({"/usr/local/sbin/pppd", "file", "/o", "/dev/mdm2"}));

  DspModemSlot file(Modem([](TERM::ModemParams& p) { p.set_execfile("/opt/pppd"); }).get_modem());
  EXPECT_EQ(file.PppdArgs("/dev/mdm2", "/o"),
            Strings({"/opt/pppd", "file", "/o", "/dev/mdm2", "remotenumber", "5551234"}));

  DspModemSlot args(Modem([](TERM::ModemParams& p) {
                      for (int i = 0; i < 70; ++i) p.set_execargs().push_back(ASN1::IA5String("x" + std::to_string(i)));
                    }).get_modem());
  Strings v = args.PppdArgs("/dev/mdm2", "/o");
  ASSERT_EQ(v.size(), 63u);  // with the null, 64
  EXPECT_EQ(v[0], "/usr/local/sbin/pppd");
  EXPECT_EQ(v[1], "x0");
  EXPECT_EQ(v.back(), "x61");

  Strings fax = args.FaxArgs();
  ASSERT_EQ(fax.size(), 63u);  // program, "-m", the modem and 60 strings
  EXPECT_EQ(fax[0], "/usr/local/sbin/fax");
  EXPECT_EQ(fax[1], "-m");
  EXPECT_EQ(fax.back(), "x59");
}

TEST_F(ModemSlots, ExecfileMustNameAnExecutableUnderTheRoot) {
  const std::string root = SimTest::root();
  std::ofstream(root + "/usr/local/sbin/notes") << "x";
  ::unlink("/tmp/tessarod-escaped");
  const struct {
    const char* execfile;
    bool created;
  } rows[] = {{"/usr/local/sbin/pppd", true},
              {"/../../../../../../../../usr/bin/touch", false},
              {"/usr/local/../../../../../../../../../usr/bin/touch", false},
              {"usr/local/sbin/pppd", false},
              {"./usr/local/sbin/pppd", false},
              {"/usr/local/sbin/./pppd", false},
              {"/usr/local/sbin", false},
              {"/usr/local/sbin/notes", false},
              {"/usr/local/sbin/none", false},
              {"", false}};
  for (const auto& r : rows) {
    slottest::LogCapture log;
    const Strings answer = Create(4, Modem([&](TERM::ModemParams& p) {
                                    p.set_execfile(r.execfile);
                                    p.set_execargs().push_back(ASN1::IA5String("/tmp/tessarod-escaped"));
                                  }));
    EXPECT_EQ(answer, Strings({r.created ? "4: success" : "4: error 1"})) << r.execfile;
    EXPECT_EQ(log.has("execfile refused: \"" + std::string(r.execfile) + "\""), !r.created) << log.text.str();
    if (!r.created) continue;
    At<DspModemSlot>(4)->IOnOutputStream();
    EXPECT_EQ(ArgsOf("pppd"), Strings({"/tmp/tessarod-escaped"}));
    Request(4, Destroy);
  }
  EXPECT_NE(::access("/tmp/tessarod-escaped", F_OK), 0);
}

TEST_F(ModemSlots, UnexpectedPppdEndIsAnAbortWithTheRawStatus) {
  SetMode(SimTest::root(), "pppd", "exit 3");
  ASSERT_EQ(Create(6, Modem()), Strings({"6: success"}));
  At<DspModemSlot>(6)->IOnOutputStream();
  EXPECT_EQ(Await(3), Strings({"6: transmitter active 96", "6: receiver active 96", "6: abort 768"}));
  // The slot stays, without a child, and goes at once.
  EXPECT_FALSE(At<DspModemSlot>(6)->pppd_executing());
  EXPECT_EQ(Request(6, Destroy), Strings({"6: success"}));
  EXPECT_TRUE(factory().modemSlots().empty());
}

TEST_F(ModemSlots, PppdIgnoringHangUpIsKilledAfterFiveSeconds) {
  SetMode(SimTest::root(), "pppd", "ignore-hup");
  ASSERT_EQ(Create(7, Modem()), Strings({"7: success"}));
  At<DspModemSlot>(7)->IOnOutputStream();
  Await(2);
  ASSERT_FALSE(ArgsOf("pppd").empty());  // the stand-in ignores SIGHUP from here
  const int pid = At<DspModemSlot>(7)->pid();

  ctltest::Capture err(std::cerr);
  EXPECT_TRUE(Request(7, Destroy, 300).empty());  // no answer while it waits
  EXPECT_EQ(::kill(pid, 0), 0);
  Mux::advanceClock(ModemSlot::kTerminateTimeoutMs);
  EXPECT_EQ(Await(1), Strings({"7: success"}));
  EXPECT_NE(err.text().find("07:dsp-modem: pppd terminate timeout!\n07:dsp-modem: pppd isn't terminated, killing ..."),
            std::string::npos)
      << err.text();
  EXPECT_EQ(Slots::instance().at(7), nullptr);
  bench().loop.RunUntil([&] { return ::kill(pid, 0) != 0; });
  EXPECT_NE(::kill(pid, 0), 0);
}

TEST_F(ModemSlots, FaxOriginateWithoutProgramOnlyIssuesTheFaxRequest) {
  ASSERT_EQ(Create(8, Modem([](TERM::ModemParams& p) {
              p.set_fax();
              p.set_originate();
            })),
            Strings({"8: success"}));
  At<DspModemSlot>(8)->IOnOutputStream();
  EXPECT_EQ(Await(2), Strings({"8: transmitter active 96", "8: receiver active 96"}));
  EXPECT_EQ(modems().modems().at(0).call, Sim::ModemDevice::kFaxOriginate);
  EXPECT_FALSE(At<DspModemSlot>(8)->pppd_executing());
  bench().loop.RunFor(100);
  EXPECT_TRUE(Args(SimTest::root(), "fax-transfer").empty());
  EXPECT_TRUE(Args(SimTest::root(), "pppd").empty());
}

TEST_F(ModemSlots, FaxTransferEndReportsPagesThenAbort) {
  SetMode(SimTest::root(), "fax-transfer", "exit 3");
  ASSERT_EQ(Create(9, Modem([](TERM::ModemParams& p) {
              p.set_fax();
              p.set_execargs().push_back(ASN1::IA5String("send"));
              p.set_execargs().push_back(ASN1::IA5String("/tmp/doc.g3"));
            })),
            Strings({"9: success"}));
  At<DspModemSlot>(9)->IOnOutputStream();
  EXPECT_EQ(Await(4), Strings({"9: transmitter active 96", "9: receiver active 96", "9: acct 0 3 0 0 0", "9: abort 768"}));
  EXPECT_EQ(Args(SimTest::root(), "fax-transfer"), Strings({"-m", "0", "send", "/tmp/doc.g3"}));
  sim().pump();
  EXPECT_EQ(modems().allocated(), 0);  // the program has the modem, not the slot
}

TEST_F(ModemSlots, FaxReceiverIsWatchedAndHungUpOnDestroy) {
  ASSERT_EQ(Create(10, Modem([](TERM::ModemParams& p) { p.set_fax(); })), Strings({"10: success"}));
  At<DspModemSlot>(10)->IOnOutputStream();
  Await(2);
  Strings args = ArgsOf("fax-receiver");  // after its one-second pause
  ASSERT_EQ(args.size(), 4u);
  EXPECT_EQ(args[0], "-m");
  EXPECT_EQ(args[2], "receive");
  EXPECT_EQ(args[3].rfind("/var/fax-", 0), 0u);
  EXPECT_EQ(args[3].size(), std::string("/var/fax-12-34-56.g3").size());
  EXPECT_TRUE(At<DspModemSlot>(10)->pppd_executing());
  // Hung up, it reports what it has (no pages) and the destroy completes.
  EXPECT_EQ(Request(10, Destroy), Strings({"10: acct 0 0 0 0 0", "10: success"}));
}

TEST_F(ModemSlots, ActivationNeedsModemParameters) {
  ASSERT_EQ(Create(11, Modem()), Strings({"11: success"}));
  ctltest::Capture err(std::cerr);
  EXPECT_EQ(Request(11, [](LGCP::Command& c) { c.select_activate().select_empty(); }).size(), 1u);
  EXPECT_NE(err.text().find("11:dsp-modem: modem's activation requests parameter."), std::string::npos);
}

// ---- the factory and HDLC modem slots ----------------------------------------

TEST_F(ModemSlots, InterfaceScanStopsAtTheFirstMissingIndex) {
  ifaces()["hdlc0"] = {};
  ifaces()["hdlc2"] = {};
  ifaces()["hdlc3"] = {};
  factory().IQuery();
  EXPECT_EQ(factory().freeInterfaces(), std::list<std::string>({"hdlc0"}));

  ifaces()["hdlc1"].pointToPoint = false;  // present, but not point-to-point
  ctltest::Capture log(std::clog);
  LGCP::Resources r;
  factory().Query(r);
  EXPECT_EQ(factory().freeInterfaces(), std::list<std::string>({"hdlc0", "hdlc2", "hdlc3"}));
  EXPECT_EQ(r.get_modem().getValue(), 4);
  EXPECT_EQ(r.get_digital_modems().getValue(), 3);
  EXPECT_NE(log.text().find("found point-o-point devices: hdlc0 hdlc2 hdlc3\n"), std::string::npos) << log.text();
}

TEST_F(ModemSlots, DigitalCallsTakeFreeInterfacesWhichComeBackLast) {
  ifaces()["hdlc0"].channel = 33;
  ifaces()["hdlc1"] = {};
  factory().IQuery();
  auto digital = Modem([](TERM::ModemParams& p) {
    p.set_ddm().push_back(TERM::DigitalDataModeEnum(TERM::DigitalDataModeEnum::ddm8BIT));
  });
  // An empty mode list is no digital call.
  ASSERT_EQ(Create(1, Modem([](TERM::ModemParams& p) { p.set_ddm(); })), Strings({"1: success"}));
  EXPECT_TRUE(At<DspModemSlot>(1));
  ASSERT_EQ(Create(2, digital), Strings({"2: success"}));
  auto* h = At<HdlcModemSlot>(2);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->deviceName(), "hdlc0");
  EXPECT_EQ(h->modem_id(), -1);
  EXPECT_EQ(std::string(h->GetName()), "digital-modem");

  // A rescan does not offer the interface in use.
  factory().IQuery();
  EXPECT_EQ(factory().freeInterfaces(), std::list<std::string>({"hdlc1"}));

  EXPECT_TRUE(h->IOnOutputStream());
  EXPECT_EQ(h->IGetTransmitChannel(), 33);
  EXPECT_EQ(ArgsOf("pppd"), Strings({"file", "/usr/local/etc/ppp/ioptions", "hdlc0", "remotenumber", "5551234"}));
  EXPECT_TRUE(Await(1, 50).empty());  // no stream signals for an HDLC modem
  EXPECT_EQ(ifaces()["hdlc0"].proto, ModemNet::kIfProtoPpp);

  ifaceLog().clear();
  EXPECT_EQ(Request(2, Destroy), Strings({"2: success"}));
  EXPECT_EQ(ifaceLog(), Strings({"hdlc0 down", "hdlc0 wan 0x2000 size 4"}));
  EXPECT_EQ(factory().freeInterfaces(), std::list<std::string>({"hdlc1", "hdlc0"}));
  EXPECT_EQ(factory().modemSlots().size(), 1u);
}

TEST_F(ModemSlots, FailedInterfaceSetUpIsOnlyLogged) {
  ifaces()["hdlc0"].failWan = true;
  factory().IQuery();
  ASSERT_EQ(Create(2, Modem([](TERM::ModemParams& p) {
              p.set_ddm().push_back(TERM::DigitalDataModeEnum(TERM::DigitalDataModeEnum::ddmV110));
            })),
            Strings({"2: success"}));
  ctltest::Capture err(std::cerr);
  EXPECT_TRUE(At<HdlcModemSlot>(2)->IOnInputStream());
  EXPECT_NE(err.text().find("02:digital-modem: SIOCWANDEV/IF_GET_IFACE fail!"), std::string::npos);
  EXPECT_FALSE(At<HdlcModemSlot>(2)->pppd_executing());
  EXPECT_TRUE(Await(1, 50).empty());
}

TEST_F(ModemSlots, LinkLossDeletesWaitingSlotsAndFreesTheirResources) {
  SetMode(SimTest::root(), "pppd", "ignore-hup");
  ifaces()["hdlc0"] = {};
  factory().IQuery();
  ASSERT_EQ(Create(1, Modem()), Strings({"1: success"}));
  ASSERT_EQ(Create(2, Modem([](TERM::ModemParams& p) {
              p.set_ddm().push_back(TERM::DigitalDataModeEnum(TERM::DigitalDataModeEnum::ddmV110));
            })),
            Strings({"2: success"}));
  At<DspModemSlot>(1)->IOnOutputStream();
  At<HdlcModemSlot>(2)->IOnOutputStream();
  ASSERT_FALSE(ArgsOf("pppd").empty());
  Slots::instance().OnDisconnect();
  EXPECT_TRUE(Slots::instance().live().empty());
  EXPECT_TRUE(factory().modemSlots().empty());
  EXPECT_EQ(factory().freeInterfaces(), std::list<std::string>({"hdlc0"}));
}

}  // namespace
