#pragma once
// Bench of the shared-bus, external, echo and HDLC slot tests: the Slots
// service behind a control server of its own with the factories of these
// kinds in the chain, on the simulated board, driven by a controller over
// loopback TCP. Answers and signals come back as short text lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "hardware/hwmux.h"
#include "hardware/sim_env.h"
#include "runtime/log/traces.h"
#include "slots/echo_slot.h"
#include "slots/ext_slot.h"
#include "slots/hdlc_slot.h"
#include "slots/map_slot.h"
#include "slot_bench_fixture.h"
#include "support/e1board_harness.h"

namespace kindtest {

using Strings = std::vector<std::string>;
using Fill = std::function<void(LGCP::Command&)>;
constexpr int kOk = -1;

inline std::string Hex(const std::vector<char>& bytes) {
  std::string s;
  char b[3];
  for (char c : bytes) {
    std::snprintf(b, sizeof b, "%02x", static_cast<unsigned char>(c));
    s += b;
  }
  return s;
}

// Describes a signal: ioctl responses of the HDLC slot in full, the rest
// as the slot tests do.
inline std::string Describe(const LGCP::Signal& s) {
  if (s.activated_isSelected()) return "activated";
  if (s.deactivated_isSelected()) return "deactivated";
  if (!s.ioctl_isSelected()) return slottest::Describe(s);
  const LGCP::IoctlResponse& r = s.get_ioctl();
  if (r.hdlcPackages_isSelected()) {
    std::string t = "packages";
    for (const auto& p : r.get_hdlcPackages()) t += " " + Hex(p.get_body());
    return t;
  }
  if (r.hdlcLinkInfo_isSelected()) {
    const LGCP::HdlcLinkInfo& i = r.get_hdlcLinkInfo();
    return "linkinfo " + std::to_string(i.get_txSU().getValue()) + " " + std::to_string(i.get_txDiscard().getValue()) +
           " " + std::to_string(i.get_txError().getValue()) + " " + std::to_string(i.get_txOverflow().getValue()) +
           " " + std::to_string(i.get_rxSU().getValue());
  }
  return "ioctl " + std::to_string(r.currentSelection());
}

inline Strings Trace(const e1test::Msgs& ms) { return slottest::Trace(ms, Describe); }

inline Fill Timeslot(unsigned trunk, unsigned ts) {
  return [=](LGCP::Command& c) {
    LGCP::TrunkParams& p = c.select_create().select_trunk();
    p.set_trunk(trunk);
    p.set_timeslot(ts);
  };
}
inline Fill ConnectTo(unsigned target) {
  return [=](LGCP::Command& c) { c.select_connect(target); };
}
inline void Destroy(LGCP::Command& c) { c.select_destroy(); }
inline void Activate(LGCP::Command& c) { c.select_activate().select_empty(); }
inline void Deactivate(LGCP::Command& c) { c.select_deactivate(); }
inline void Unlink(LGCP::Command& c) { c.select_disconnect(); }

inline Fill Map(int txBus, int txChannel, int rxBus, int rxChannel) {
  return [=](LGCP::Command& c) {
    LGCP::MapParams& p = c.select_create().select_map();
    if (txBus >= 0) {
      p.set_transmitter().set_bus(unsigned(txBus));
      p.set_transmitter().set_channel(unsigned(txChannel));
    }
    if (rxBus >= 0) {
      p.set_receiver().set_bus(unsigned(rxBus));
      p.set_receiver().set_channel(unsigned(rxChannel));
    }
  };
}

inline Fill Ext(int transmitter, int receiver) {
  return [=](LGCP::Command& c) {
    LGCP::ExtParams& p = c.select_create().select_ext();
    p.set_transmitter(transmitter);
    p.set_receiver(receiver);
  };
}

inline Fill Hdlc(int trunk, int address, int log = 0) {
  return [=](LGCP::Command& c) {
    LGCP::HdlcParams& p = c.select_create().select_hdlcParams();
    p.set_trunk(trunk);
    p.set_log(log);
    p.set_address(address);
  };
}

inline Fill Packages(const std::vector<std::string>& bodies) {
  return [=](LGCP::Command& c) {
    auto& list = c.select_ioctl().select_hdlcPackages();
    for (const std::string& b : bodies) {
      LGCP::HdlcPackage p;
      p.set_body(std::vector<char>(b.begin(), b.end()));
      list.push_back(p);
    }
  };
}

// The real daemon's answer to a command for a slot: -1 success, else the
// cause.
inline int DaemonAsk(e1test::DaemonBench& d, unsigned slot, const Fill& fill) {
  static int seq = 0;
  LGCP::Message m = e1test::CommandMsg(++seq, fill);
  m.set_slot(slot);
  d.Clear();
  EXPECT_TRUE(e1test::Send(d.ctl, m));
  d.Wait([](const e1test::Msgs& ms) { return e1test::Answer(ms) != -2; });
  return e1test::Answer(d.Received());
}

// The simulated multiplexer of the daemon switches the source to the output.
inline bool Xpoint(e1test::DaemonBench& d, int output, int source) {
  std::string line = "\n" + std::to_string(output) + " " + std::to_string(source) + "\n";
  return ("\n" + d.Sim("xpoints")).find(line) != std::string::npos;
}

class Bench : public slottest::SlotBenchTest {
 protected:
  void Prepare() override {
    MapFactory::instance();
    ExtFactory::instance();
    EchoFactory::instance();
    HdlcSlotFactory::instance();
    HwMux::instance();
  }
  void SetUp() override {
    SlotBenchTest::SetUp();
    traces.reset();
  }
  void TearDown() override {
    SlotBenchTest::TearDown();
    traces.reset();
  }
  std::string DescribeSignal(const LGCP::Signal& s) const override { return Describe(s); }
  int sourceOf(int output) { return sim().tdm().sourceOf(output); }
  // The multiplexer holds the output (8192 and up) switched off.
  bool Disabled(int output) {
    return HwMux::instance()->entry(output - HwMux::kFirstOutput) == HwMux::kDisabled && sourceOf(output) == -1;
  }
  // The output carries the idle byte instead of any source.
  bool Idle(int output) {
    auto c = sim().tdm().constants().find(output);
    return HwMux::instance()->entry(output - HwMux::kFirstOutput) == HwMux::kConstant && sourceOf(output) == -1 &&
           c != sim().tdm().constants().end() && c->second == 0xD5;
  }
  template <class T>
  static T* At(unsigned n) {
    return dynamic_cast<T*>(Slots::instance().at(n));
  }

};

}  // namespace kindtest
