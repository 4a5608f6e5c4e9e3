#pragma once
// A fixture for slot tests driven by a controller over loopback TCP on the
// simulated board, and a capture of the log streams.
#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "hardware/sim_env.h"
#include "slots/slots.h"
#include "slots_test_support.h"
#include "support/e1board_harness.h"

namespace slottest {

// Collects what the log and error streams receive while alive.
struct LogCapture {
  LogCapture() : log(std::clog.rdbuf(text.rdbuf())), err(std::cerr.rdbuf(text.rdbuf())) {}
  ~LogCapture() {
    std::clog.rdbuf(log);
    std::cerr.rdbuf(err);
  }
  bool has(const std::string& s) const { return text.str().find(s) != std::string::npos; }
  std::ostringstream text;
  std::streambuf *log, *err;
};

// "<slot>: success", "<slot>: error 6", "<slot>: transmitter active 8325".
inline std::vector<std::string> Trace(const e1test::Msgs& ms) {
  std::vector<std::string> v;
  for (const auto& m : ms) {
    std::string head = m.slot_isPresent() ? std::to_string(m.get_slot().getValue()) + ": " : "-: ";
    int a = e1test::Answer({m});
    if (m.get_pdu().signal_isSelected())
      v.push_back(head + Describe(m.get_pdu().get_signal()));
    else
      v.push_back(head + (a == -1 ? "success" : "error " + std::to_string(a)));
  }
  return v;
}

// One controller connection for the whole test program; Slots and the
// services listed in extraServices() (filled before the first test) are
// bound to it.
class SlotBenchTest : public SimTest::Fixture {
 protected:
  using Fill = std::function<void(LGCP::Command&)>;
  using Strings = std::vector<std::string>;

  static std::vector<CtrlSrv::Service*>& extraServices() {
    static std::vector<CtrlSrv::Service*> v;
    return v;
  }
  static e1test::Bench& bench() {
    static e1test::Bench* b = [] {
      auto* bench = new e1test::Bench;  // kept for the run, as Slots is
      bench->Bind(&Slots::instance());
      for (CtrlSrv::Service* s : extraServices()) bench->Bind(s);
      EXPECT_TRUE(bench->Start() && bench->Connect());
      return bench;
    }();
    return *b;
  }
  // Runs before the bench is first made: factories and their drivers.
  virtual void Prepare() {}
  void SetUp() override {
    SimTest::Fixture::SetUp();
    Slots::releaseWaitMs = 10;
    Prepare();
    bench();
  }
  void TearDown() override {
    if (!Slots::instance().live().empty()) Slots::instance().OnDisconnect();
    bench().Take(0);
  }
  // Sends a command (with a slot number unless -1); keeps in `last` what
  // came until the answer and shortly after it, and its signals described
  // in `signals`.
  const e1test::Msgs& Exchange(int slot, const Fill& fill, unsigned waitMs = 3000) {
    LGCP::Message m = e1test::CommandMsg(++seq, fill);
    if (slot >= 0) m.set_slot(unsigned(slot));
    EXPECT_TRUE(e1test::Send(bench().ctl, m));
    last.clear();
    bench().loop.RunUntil([&] {
      for (auto& x : e1test::TakeAll(bench().ctl)) last.push_back(x);
      return e1test::Answer(last) != -2;
    }, waitMs);
    for (auto& x : bench().Take(5)) last.push_back(x);
    signals.clear();
    for (const auto& x : last)
      if (x.get_pdu().signal_isSelected()) signals.push_back(Describe(x.get_pdu().get_signal()));
    return last;
  }
  // The answer: -1 success, else the cause.
  int Ask(int slot, const Fill& fill, unsigned waitMs = 3000) { return e1test::Answer(Exchange(slot, fill, waitMs)); }
  // Answers and signals as Trace shows them.
  Strings Request(int slot, const Fill& fill, unsigned waitMs = 3000) { return Trace(Exchange(slot, fill, waitMs)); }
  static Strings Trace(const e1test::Msgs& ms) { return slottest::Trace(ms); }
  static Fill Ioctl(std::function<void(LGCP::IoctlParams&)> set) {
    return [=](LGCP::Command& c) { set(c.select_ioctl()); };
  }
  // What came without a command, after running the loop for ms.
  Strings Pending(unsigned ms = 20) { return Trace(bench().Take(ms)); }

  e1test::Msgs last;
  int seq = 0;
  Strings signals;
};

}  // namespace slottest
