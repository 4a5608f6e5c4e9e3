#pragma once
// Helpers of the signalling-link slot tests: the simulated board with the
// loop run in short passes, the kinds of the signals slots send, and slots
// made through a factory and destroyed after the test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hardware/hwmux.h"
#include "hardware/sim/mcc.h"
#include "hardware/sim_env.h"
#include "runtime/loop/multiplexer.h"
#include "runtime/os/clock.h"
#include "runtime/test_loop_support.h"
#include "slots_test_support.h"

namespace linktest {

// Moves the loop clock on (or not) and runs one short pass of the loop.
inline void advance(unsigned ms = 0) {
  Mux::advanceClock(ms);
  LoopDeadline d(2);
  multiplexer.run(false, true);
}

// The kinds of the signals sent since the last call: "activated",
// "userData", "hdlcLinkInfo", "ss7LinkInfo <state>", "isdnLinkStatus", ...
inline std::vector<std::string> Signals() {
  std::vector<std::string> v;
  for (const auto& s : slottest::BoundSpy().signals) {
    if (!s.ioctl_isSelected()) {
      v.push_back(s.currentSelection() >= 0 ? LGCP::Signal::selectionNames[s.currentSelection()] : "?");
      continue;
    }
    const LGCP::IoctlResponse& r = s.get_ioctl();
    std::string d = LGCP::IoctlResponse::selectionNames[r.currentSelection()];
    if (r.ss7LinkInfo_isSelected()) d += " " + std::to_string(r.get_ss7LinkInfo().get_ss7state().asInt());
    if (r.ss7BSN_isSelected()) d += " " + std::to_string(r.get_ss7BSN().getValue());
    v.push_back(d);
  }
  slottest::BoundSpy().signals.clear();
  return v;
}

// Each test's slots are disconnected and destroyed after it.
class Fixture : public SimTest::Fixture {
 protected:
  void SetUp() override {
    SimTest::Fixture::SetUp();
    HwMux::instance();
    Signals();
  }
  void TearDown() override {
    for (Slot* s : made_) Disconnect(*s);
    for (Slot* s : made_) {
      if (s->GetSlotFactory()) s->BeforeDestroy();
      delete s;
    }
    made_.clear();
    sim().pump();
    Signals();
  }
  template <class T>
  T* Keep(T* s) {
    if (s) made_.push_back(s);
    return s;
  }
  template <class T>
  T* Make(SlotFactory& f, const LGCP::CreateParams& p) {
    return Keep(dynamic_cast<T*>(f.NewSlot(p)));
  }

  std::vector<Slot*> made_;
};

}  // namespace linktest
