#pragma once
// Bench of the modem slot tests: the Slots service behind an in-process
// control server on the simulated board, the stand-in helper programs, and
// fake generic-HDLC interfaces in place of the kernel's.
#include <gtest/gtest.h>
#include <net/if.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "hardware/sim/modem.h"
#include "hardware/sim_env.h"
#include "runtime/loop/child_wait.h"
#include "slots/modem_factory.h"
#include "slots/slots.h"
#include "slot_bench_fixture.h"
#include "support/e1board_harness.h"
#include "modem_standin.h"

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

inline LGCP::CreateParams Modem(const std::function<void(TERM::ModemParams&)>& fill = {}) {
  LGCP::CreateParams c;
  TERM::ModemParams& p = c.select_modem();
  p.set_cid("5551234");
  p.set_cdid("100");
  if (fill) fill(p);
  return c;
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
