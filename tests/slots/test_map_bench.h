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

using slottest::Describe;
using slottest::Hex;

using slottest::Trace;

using namespace slottest::fills;

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
