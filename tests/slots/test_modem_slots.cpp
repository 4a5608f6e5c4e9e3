// Modem slots on the simulated modem controller with stand-in helper
// programs: the DSP modem set-up and its failures, the PPP daemon's and the
// fax programs' command lines, child ends reported as aborts, the hang-up
// on destroy with its 5 s deadline, and HDLC modem slots on fake
// generic-HDLC interfaces chosen by the factory. Then the auth record link
// of the PPP daemon's plug-in: framing of the length-prefixed records
// (complete, split, joined, out of range), routing by session to the modem
// slots and their signals, the records activation sends back, and
// connections closed and deleted on failure (the plug-in over loopback TCP
// is the end-to-end test's).
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <net/if.h>
#include <signal.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <vector>

#include "control/control_test_support.h"
#include "hardware/board/record.h"
#include "hardware/descriptor_squeeze.h"
#include "hardware/sim/modem.h"
#include "hardware/sim_env.h"
#include "modem_standin.h"
#include "runtime/loop/child_wait.h"
#include "runtime/os/clock.h"
#include "slot_bench_fixture.h"
#include "slots/modem_factory.h"
#include "slots/slots.h"
#include "support/e1board_harness.h"

// A read or send on `interruptedFd` fails once with EINTR, as a signal
// arriving in it makes it.
int interruptedFd = -1;
extern "C" ssize_t read(int fd, void* buf, size_t n) {
  if (fd == interruptedFd) return interruptedFd = -1, errno = EINTR, -1;
  return ::syscall(SYS_read, fd, buf, n);
}
extern "C" ssize_t send(int fd, const void* buf, size_t n, int flags) {
  if (fd == interruptedFd) return interruptedFd = -1, errno = EINTR, -1;
  return ::syscall(SYS_sendto, fd, buf, n, flags, nullptr, 0);
}

// The Slots service behind an in-process control server on the simulated
// board, the stand-in helper programs, and fake generic-HDLC interfaces in
// place of the kernel's.
namespace modemtest {

using namespace slottest::fills;

using Strings = std::vector<std::string>;
using Fill = std::function<void(LGCP::Command&)>;

struct FakeIface {
  bool pointToPoint = true;
  bool up = true;
  int channel = 0;
  unsigned proto = ModemNet::kIfProtoHdlc;
  bool failWan = false;
};
inline std::map<std::string, FakeIface>& ifaces() {
  static std::map<std::string, FakeIface> m;
  return m;
}
// "<name> <request>" per request that reached an existing interface.
inline Strings& ifaceLog() {
  static Strings v;
  return v;
}

inline int FakeIoctl(int, unsigned long request, void* p) {
  auto* ifr = static_cast<struct ifreq*>(p);
  auto it = ifaces().find(ifr->ifr_name);
  if (it == ifaces().end()) {
    errno = ENODEV;
    return -1;
  }
  FakeIface& f = it->second;
  const std::string name = ifr->ifr_name;
  switch (request) {
    case SIOCGIFINDEX:
      return 0;
    case SIOCGIFFLAGS:
      ifr->ifr_flags = short((f.pointToPoint ? IFF_POINTOPOINT : IFF_BROADCAST) | (f.up ? IFF_UP : 0));
      return 0;
    case SIOCSIFFLAGS:
      f.up = ifr->ifr_flags & IFF_UP;
      ifaceLog().push_back(name + (f.up ? " up" : " down"));
      return 0;
    case ModemNet::kSiocWanDev: {
      ModemNet::WanSettings s;
      std::memcpy(&s, &ifr->ifr_ifru, sizeof s);
      char hex[16];
      std::snprintf(hex, sizeof hex, "%#x", s.type);
      ifaceLog().push_back(name + " wan " + hex + " size " + std::to_string(s.size));
      if (f.failWan) return errno = EIO, -1;
      if (s.type == ModemNet::kIfGetIface) {
        uint32_t words[32] = {};
        words[3] = uint32_t(f.channel);
        std::memcpy(s.buffer, words, std::min<std::size_t>(s.size, sizeof words));
      } else {
        f.proto = s.type;
      }
      return 0;
    }
  }
  errno = EINVAL;
  return -1;
}

// A digital call in the one data mode given.
inline LGCP::CreateParams Digital(TERM::DigitalDataModeEnum::NamedNumber mode) {
  return Modem([=](TERM::ModemParams& p) { p.set_ddm().push_back(mode); });
}

class Bench : public slottest::SlotBenchTest {
 protected:
  void Prepare() override {
    ModemNet::ioctlFn = &FakeIoctl;
    ifaces().clear();
    ifaceLog().clear();
    ChildWait::Activate();
    InstallAll(SimTest::root());
    Clear(SimTest::root());
    factory().IQuery();
  }
  void SetUp() override {
    SlotBenchTest::SetUp();
    bench().Take(0);
  }
  void TearDown() override {
    SlotBenchTest::TearDown();
    ModemNet::ioctlFn = nullptr;
  }
  static ModemFactory& factory() { return ModemFactory::instance(); }
  Sim::ModemDevice& modems() { return *static_cast<Sim::ModemDevice*>(sim().device("/dev/mctl")); }

  // Runs the loop until `n` messages arrived (or 5 s), as Request shows them.
  Strings Await(std::size_t n, unsigned waitMs = 5000) {
    e1test::Msgs got;
    bench().loop.RunUntil([&] {
      for (auto& x : e1test::TakeAll(bench().ctl)) got.push_back(x);
      return got.size() >= n;
    }, waitMs);
    return Trace(got);
  }
  Strings Create(int slot, const LGCP::CreateParams& p) {
    return Request(slot, [&](LGCP::Command& c) { c.select_create(p); });
  }
  template <class T>
  static T* At(unsigned n) { return dynamic_cast<T*>(Slots::instance().at(n)); }
  // Runs the loop until the program has recorded its arguments.
  Strings ArgsOf(const std::string& name) {
    bench().loop.RunUntil([&] { return !Args(SimTest::root(), name).empty(); });
    return Args(SimTest::root(), name);
  }
};

}  // namespace modemtest

namespace {

using namespace modemtest;

using ModemSlots = modemtest::Bench;

TEST_F(ModemSlots, AnsweredDataCallProgramsTheModemAndStartsPppdOnce) {
  ctltest::Capture err(std::cerr);
  ASSERT_EQ(Create(3, Modem([](TERM::ModemParams& p) {
              p.set_ddm().push_back(TERM::DigitalDataModeEnum::ddmV110);
              p.set_ddm().push_back(TERM::DigitalDataModeEnum::ddm7BIT);
              p.set_ddm().push_back(TERM::DigitalDataModeEnum::ddmV120);
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
  EXPECT_EQ(slot->modem_id() * 10 + modems().allocated(), -10);  // allocated only when a stream is asked for

  // The first parameter fails: logged, the others still go.
  sim().failNext("/dev/mctl", 0xBB38, EIO, 1);
  EXPECT_TRUE(slot->IOnOutputStream());
  EXPECT_EQ(Await(2), Strings({"3: transmitter active 96", "3: receiver active 96"}));
  EXPECT_NE(err.text().find("03:dsp-modem: set dmp parameter index=10 value=1 failed : "), std::string::npos)
      << err.text();
  const Sim::ModemDevice::Modem& m = modems().modems().at(0);
  EXPECT_EQ(m.params, (std::vector<std::pair<int32_t, int32_t>>{{20, 2}}));
  EXPECT_EQ(std::vector<int>({m.ddm, int(m.call), slot->modem_id(), slot->IGetTransmitChannel()}),
            std::vector<int>({5, int(Sim::ModemDevice::kAnswer), 0, 96}));
  EXPECT_EQ(ArgsOf("pppd"), Strings({"file", "/usr/local/etc/ppp/aoptions", "/dev/mdm0", "remotenumber", "5551234"}));
  const int pid = slot->pid();
  EXPECT_GT(pid, 0);

  // A second stream request changes nothing.
  EXPECT_TRUE(slot->IOnInputStream());
  EXPECT_EQ(modems().allocated() * 10 + (slot->pid() == pid), 11);
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

// Out of descriptors: a modem set up on the last two keeps its modem (the
// slot holds the very descriptor it was allocated on), and a plug-in
// connection that cannot be watched is refused, not kept unread.
TEST_F(ModemSlots, WithoutDescriptorsToSpareNothingIsKeptHalfMade) {
  ASSERT_EQ(Create(3, Modem()), Strings({"3: success"}));
  int sv[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, sv), 0);
  ctltest::Capture err(std::cerr);
  AuthClient* client;
  {
    SimTest::DescriptorSqueeze squeeze;
    client = factory().AcceptClient(Fd(sv[0]), INet4::Addr("127.0.0.1:40000"));
    squeeze.Free(2);
    At<DspModemSlot>(3)->IOnOutputStream();
  }
  EXPECT_EQ(client, nullptr);
  EXPECT_TRUE(factory().authClients().empty());
  EXPECT_NE(err.text().find("auth connection from 127.0.0.1:40000 refused: dup: Too many open files\n"),
            std::string::npos)
      << err.text();
  char c;
  EXPECT_EQ(::read(sv[1], &c, 1), 0);  // the plug-in sees its connection end
  ::close(sv[1]);
  EXPECT_EQ(Await(2), Strings({"3: transmitter active 96", "3: receiver active 96"}));
  EXPECT_FALSE(ArgsOf("pppd").empty());  // no copy of the device left in the child either
  sim().pump();
  EXPECT_EQ(modems().allocated(), 1);
  EXPECT_EQ(Request(3, Destroy), Strings({"3: success"}));
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
  EXPECT_EQ(Strings({v[0], v[1], v.back()}), Strings({"/usr/local/sbin/pppd", "x0", "x61"}));
  Strings fax = args.FaxArgs();
  ASSERT_EQ(fax.size(), 63u);  // program, "-m", the modem and 60 strings
  EXPECT_EQ(Strings({fax[0], fax[1], fax.back()}), Strings({"/usr/local/sbin/fax", "-m", "x59"}));
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
  Mux::advanceClock(3500);  // short of 5000 ms by more than the real time a loaded machine adds
  EXPECT_TRUE(Await(1, 50).empty());
  Mux::advanceClock(1500);
  EXPECT_EQ(Await(1, 1000), Strings({"7: success"}));
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
  EXPECT_EQ(Strings({args[0], args[2], args[3].substr(0, 9)}), Strings({"-m", "receive", "/var/fax-"}));
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
  EXPECT_EQ(r.get_modem().getValue() * 10 + r.get_digital_modems().getValue(), 43);
  EXPECT_NE(log.text().find("found point-o-point devices: hdlc0 hdlc2 hdlc3\n"), std::string::npos) << log.text();
  sim().setPresent("/dev/mctl", false);  // the enumeration runs all the same
  ctltest::Capture err(std::cerr);
  factory().Query(r);
  EXPECT_EQ(err.text(), "modem[0,0]: fail to open \"/dev/mctl\" : No such file or directory\n"
                        "modem[0,0]: enum fail: Bad file descriptor\n");
}

TEST_F(ModemSlots, DigitalCallsTakeFreeInterfacesWhichComeBackLast) {
  ifaces()["hdlc0"].channel = 33;
  ifaces()["hdlc1"] = {};
  factory().IQuery();
  auto digital = Digital(TERM::DigitalDataModeEnum::ddm8BIT);
  // An empty mode list is no digital call.
  ASSERT_EQ(Create(1, Modem([](TERM::ModemParams& p) { p.set_ddm(); })), Strings({"1: success"}));
  EXPECT_TRUE(At<DspModemSlot>(1));
  ASSERT_EQ(Create(2, digital), Strings({"2: success"}));
  auto* h = At<HdlcModemSlot>(2);
  ASSERT_TRUE(h);
  EXPECT_EQ(Strings({h->deviceName(), h->GetName(), std::to_string(h->modem_id())}),
            Strings({"hdlc0", "digital-modem", "-1"}));

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
  ASSERT_EQ(Create(2, Digital(TERM::DigitalDataModeEnum::ddmV110)), Strings({"2: success"}));
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
  ASSERT_EQ(Create(2, Digital(TERM::DigitalDataModeEnum::ddmV110)), Strings({"2: success"}));
  At<DspModemSlot>(1)->IOnOutputStream();
  At<HdlcModemSlot>(2)->IOnOutputStream();
  ASSERT_FALSE(ArgsOf("pppd").empty());
  Slots::instance().OnDisconnect();
  EXPECT_TRUE(Slots::instance().live().empty());
  EXPECT_TRUE(factory().modemSlots().empty());
  EXPECT_EQ(factory().freeInterfaces(), std::list<std::string>({"hdlc0"}));
}

// ---- the auth record link ----

attr Record(uint32_t length, uint32_t type, int32_t session) { return attr(length, type, session); }

class AuthLink : public modemtest::Bench {
 protected:
  void TearDown() override {
    for (int fd : peers) ::close(fd);
    bench().loop.RunUntil([] { return factory().authClients().empty(); }, 1000);
    modemtest::Bench::TearDown();
  }
  // A plug-in connection taken by the factory; the test holds the peer
  // (and learns the factory's side in `gateway`).
  int Connect(int* gateway = nullptr) {
    int sv[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
    if (gateway) *gateway = sv[0];
    ::fcntl(sv[0], F_SETFL, O_NONBLOCK);
    ::fcntl(sv[1], F_SETFL, O_NONBLOCK);
    factory().AcceptClient(Fd(sv[0]), INet4::Addr("127.0.0.1:40000"));
    peers.push_back(sv[1]);
    return sv[1];
  }
  static void Write(int fd, const void* data, std::size_t n) {
    ASSERT_EQ(::write(fd, data, n), ssize_t(n));
  }
  static void Write(int fd, const attr& a) { Write(fd, a.data(), a.length()); }
  // The records the gateway sent to a peer so far, as their words.
  std::vector<std::vector<uint32_t>> Received(int fd, std::size_t n) {
    std::vector<uint8_t> bytes;
    std::vector<std::vector<uint32_t>> out;
    bench().loop.RunUntil([&] {
      uint8_t buf[1024];
      ssize_t got;
      while ((got = ::read(fd, buf, sizeof buf)) > 0) bytes.insert(bytes.end(), buf, buf + got);
      out.clear();
      for (std::size_t at = 0; at + 4 <= bytes.size();) {
        uint32_t len = Board::getBE32(&bytes[at]);
        if (len < 4 || at + len > bytes.size()) break;
        std::vector<uint32_t> words;
        for (std::size_t i = 0; i < len; i += 4) words.push_back(Board::getBE32(&bytes[at + i]));
        out.push_back(words);
        at += len;
      }
      return out.size() >= n;
    }, n ? 3000 : 50);
    return out;
  }
  // A DSP modem slot at `slot` with its modem (the first free one).
  void ModemSlot(unsigned slot) {
    ASSERT_EQ(Create(int(slot), Modem()), Strings({std::to_string(slot) + ": success"}));
    At<DspModemSlot>(slot)->IOnOutputStream();
    Await(2);
  }
  static Fill Activate(const std::string& remote) { return slottest::fills::ModemActivate(remote, "bogus"); }
  std::vector<int> peers;
};

TEST_F(AuthLink, PluginRecordsBecomeModemSignalsOfTheirSlot) {
  ModemSlot(3);
  ModemSlot(4);  // modem 1
  int fd = Connect();
  ctltest::Capture err(std::cerr);

  attr auth = Record(attr::kAuthRequestSize, attr::AuthRequest, 1);
  auth.setText(attr::kUserOffset, attr::kTextField, "alice");
  auth.setText(attr::kPasswordOffset, attr::kTextField, "s3cret");
  Write(fd, auth);
  EXPECT_EQ(Await(1), Strings({"4: auth alice s3cret"}));

  // A name filling its whole field without a terminator ends at the field.
  std::memset(auth.data() + attr::kUserOffset, 'u', attr::kTextField);
  Write(fd, auth);
  EXPECT_EQ(Await(1), Strings({"4: auth " + std::string(64, 'u') + " s3cret"}));

  attr acct = Record(attr::kAccountingSize, attr::Accounting, 0);
  const uint32_t words[] = {0x1, 0x2, 0, 300, 5, 6, 0, 7, 99};  // from offset 24
  for (std::size_t i = 0; i < 9; ++i) acct.setWord(24 + 4 * i, words[i]);
  Write(fd, acct);
  EXPECT_EQ(Await(1), Strings({"3: acct 4294967298 300 21474836486 7 99"}));

  // Wrong sizes, ignored and unknown types, unknown sessions: logged only.
  Write(fd, Record(139, attr::AuthRequest, 0));
  Write(fd, Record(60, attr::Accounting, 0));
  Write(fd, Record(16, attr::Accept, 0));
  Write(fd, Record(36, attr::IpParams, 0));
  for (uint32_t type : {0x1fu, 0u, 5u, 0xabcdu}) Write(fd, Record(12, type, 0));
  Write(fd, Record(140, attr::AuthRequest, 7));
  EXPECT_TRUE(Await(1, 200).empty());
  EXPECT_NE(err.text().find("03:dsp-modem: auth request, invalid size: 139\n"
                            "03:dsp-modem: auth accounting, invalid size: 60\n"
                            "03:dsp-modem: auth accept, ignored.\n"
                            "03:dsp-modem: auth ip, ignored.\n"
                            "03:dsp-modem: unknown request from portslave: 0x1f\n"
                            "03:dsp-modem: unknown request from portslave: 0x0\n"
                            "03:dsp-modem: unknown request from portslave: 0x5\n"
                            "03:dsp-modem: unknown request from portslave: 0xabcd\n"
                            "modem[4,2]: receive auth request for unknown session 7\n"),
            std::string::npos)
      << err.text();
  EXPECT_EQ(factory().authClients().size(), 1u);
}

// Out of descriptors a plug-in's connection waits in the listener's queue:
// accepting pauses 1000 ms at a time (the listener is not polled meanwhile)
// with one line for the spell, and the connection is taken at the first
// look after a descriptor is free.
TEST_F(AuthLink, OutOfDescriptorsAcceptingPausesForASecondAndLogsOnce) {
  // The children of the tests before are reaped first: their pipes would
  // free descriptors inside the squeeze.
  ASSERT_TRUE(bench().loop.RunUntil([] {
    siginfo_t child{};
    return ::waitid(P_ALL, 0, &child, WEXITED | WNOHANG | WNOWAIT) != 0;
  }));
  const INet4::Addr listener("127.0.0.1:52000");
  peers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  ASSERT_EQ(::connect(peers.back(), listener, listener.size()), 0);
  ctltest::Capture err(std::cerr);
  std::vector<unsigned> pauses;
  {
    SimTest::DescriptorSqueeze squeeze;
    EXPECT_TRUE(bench().loop.RunUntil([] { return !factory().accepting(); }, 1000)) << "spins on its listener";
    pauses.push_back(factory().acceptRetryRemaining());
    Mux::advanceClock(1000);  // the look finds none again: the same spell
    EXPECT_TRUE(bench().loop.RunUntil([] { return factory().acceptRetryRemaining() > 0; }, 1000));
    pauses.push_back(factory().acceptRetryRemaining());
    squeeze.Free(2);
    bench().loop.RunFor(5);
    EXPECT_EQ(factory().authClients().size(), 0u) << "polled a paused listener";
    EXPECT_FALSE(factory().accepting());
  }
  Mux::advanceClock(1000);
  EXPECT_TRUE(bench().loop.RunUntil([] { return factory().authClients().size() == 1; }));
  for (unsigned ms : pauses) EXPECT_TRUE(ms > 900 && ms <= 1000) << ms;
  EXPECT_EQ(err.count("modem[" + std::to_string(factory().modemCount()) +
                      ",0]: fail to accept auth connection: Too many open files, retrying every 1000 ms\n"),
            1u)
      << err.text();
}

TEST_F(AuthLink, RecordsAreFramedByTheirLengthField) {
  EXPECT_TRUE(factory().listening());  // on port 52000 of the test's own network
  ModemSlot(5);
  int fd = Connect();
  AuthClient* client = factory().authClients().back();

  // A bare length field is a whole record: too short for a session, it
  // is dropped and the connection keeps its session.
  Write(fd, Record(4, 0, 0).data(), 4);
  bench().loop.RunFor(20);
  EXPECT_EQ(client->GetSessionId(), -1);

  // Two records in one segment, then one in two pieces.
  attr a = Record(140, attr::AuthRequest, 0);
  a.setText(attr::kUserOffset, 64, "one");
  attr b = a;
  b.setText(attr::kUserOffset, 64, "two");
  std::vector<uint8_t> both(a.data(), a.data() + 140);
  both.insert(both.end(), b.data(), b.data() + 140);
  Write(fd, both.data(), both.size());
  EXPECT_EQ(Await(2), Strings({"5: auth one ", "5: auth two "}));
  EXPECT_EQ(client->GetSessionId(), 0);
  a.setText(attr::kUserOffset, 64, "three");
  Write(fd, a.data(), 7);
  bench().loop.RunFor(20);
  Write(fd, a.data() + 7, 133);
  EXPECT_EQ(Await(1), Strings({"5: auth three "}));

  // A last record written right before the plug-in hangs up still counts.
  attr acct = Record(attr::kAccountingSize, attr::Accounting, 0);
  acct.setWord(56, 42);
  Write(fd, acct);
  ::close(fd);
  peers.clear();
  EXPECT_EQ(Await(1), Strings({"5: acct 0 0 0 0 42"}));
  EXPECT_TRUE(bench().loop.RunUntil([] { return factory().authClients().empty(); }));
}

// A length out of range closes the connection; so does a read that fails
// with EINTR (the row of length 0, whose whole record is never read).
TEST_F(AuthLink, LengthOutOfRangeClosesTheConnection) {
  for (uint32_t bad : {513u, 3u, 0u}) {
    int gateway = -1;
    int fd = Connect(&gateway);
    ctltest::Capture log(std::clog), err(std::cerr);
    attr record = Record(12, attr::AuthRequest, 8);
    if (bad) record.setWord(0, bad);
    interruptedFd = bad ? -1 : gateway;
    Write(fd, record.data(), bad ? 4 : 12);
    EXPECT_TRUE(bench().loop.RunUntil([] { return factory().authClients().empty(); })) << bad;
    EXPECT_NE(log.text().find("auth client 127.0.0.1:40000 disconnected."), std::string::npos) << log.text();
    EXPECT_EQ(err.text().find("unknown session 8"), std::string::npos) << err.text();
    char c;
    // Closed by the gateway; with the record left unread, by a reset.
    const ssize_t r = ::read(fd, &c, 1);
    EXPECT_TRUE(r == 0 || (!bad && errno == ECONNRESET)) << bad;
  }
}

TEST_F(AuthLink, ActivationSendsAcceptAndIpParametersToTheSessionsConnection) {
  ModemSlot(6);  // modem 0
  int first = Connect(), second = Connect(), idle = Connect();
  // Both connections say they serve modem 0; the first accepted gets it.
  Write(first, Record(16, attr::Accept, 0));
  Write(second, Record(16, attr::Accept, 0));
  bench().loop.RunUntil([&] {
    int n = 0;
    for (AuthClient* c : factory().authClients()) n += c->GetSessionId() == 0;
    return n == 2;
  });

  EXPECT_EQ(Request(6, Activate("10.0.0.7")), Strings({"6: success"}));
  auto got = Received(first, 2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], (std::vector<uint32_t>{16, 2, 0, 1}));
  EXPECT_EQ(got[1], (std::vector<uint32_t>{36, 3, 0, 0, 0x0A000007, 0xFFFFFF00, 0x0A000001, 0xFFFFFFFF, 1500}));
  EXPECT_TRUE(Received(second, 0).empty());
  EXPECT_TRUE(Received(idle, 0).empty());

  // A slot whose session no connection serves: logged, still a success.
  ModemSlot(7);  // modem 1
  ctltest::Capture log(std::clog);
  EXPECT_EQ(Request(7, Activate("10.0.0.8")), Strings({"7: success"}));
  EXPECT_NE(log.text().find("send error: unknown auth 1 session."), std::string::npos) << log.text();
}

TEST_F(AuthLink, HdlcModemRecordsGoToAConnectionThatSentNothingYet) {
  ifaces()["hdlc0"] = {};
  factory().IQuery();
  // A DSP modem slot without its modem, created first, has no session: it
  // neither sends nor takes the records of session -1.
  ASSERT_EQ(Create(7, Modem()), Strings({"7: success"}));
  ASSERT_EQ(Create(8, Digital(TERM::DigitalDataModeEnum::ddm8BIT)), Strings({"8: success"}));
  int fd = Connect();
  EXPECT_EQ(Request(7, Activate("10.0.0.3")), Strings({"7: success"}));
  EXPECT_TRUE(Received(fd, 0).empty());
  EXPECT_EQ(Request(8, Activate("10.0.0.9")), Strings({"8: success"}));
  auto got = Received(fd, 2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], (std::vector<uint32_t>{16, 2, 0xFFFFFFFF, 1}));

  attr auth = Record(140, attr::AuthRequest, -1);
  auth.setText(attr::kUserOffset, 64, "bob");
  Write(fd, auth);
  EXPECT_EQ(Await(1), Strings({"8: auth bob "}));
}

TEST_F(AuthLink, AFailedSendClosesAndDeletesTheConnection) {
  ModemSlot(9);
  // The plug-in goes before the gateway has noticed, or (the second row) a
  // signal interrupts the send: the send fails and the connection is gone
  // once the send has returned.
  for (bool interrupted : {false, true}) {
    int gateway = -1;
    int fd = Connect(&gateway);
    Write(fd, Record(16, attr::Accept, 0));
    bench().loop.RunUntil([] { return factory().authClients().back()->GetSessionId() == 0; });
    if (interrupted) {
      interruptedFd = gateway;
    } else {
      ::close(fd);
      peers.clear();
    }
    attr accept = Record(16, attr::Accept, 0);
    ctltest::Capture log(std::clog);
    EXPECT_FALSE(factory().SendAuth(&accept)) << interrupted;
    EXPECT_TRUE(factory().authClients().empty());
    EXPECT_NE(log.text().find("auth client 127.0.0.1:40000 disconnected."), std::string::npos) << log.text();
    // Later records for the session find no connection.
    EXPECT_FALSE(factory().SendAuth(&accept));
  }
}

}  // namespace
