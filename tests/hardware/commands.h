#pragma once
// Controller commands the hardware services answer, built from their fields.
#include <functional>

#include "support/e1board_harness.h"

namespace HwCmd {

using Fill = std::function<void(LGCP::Command&)>;
enum CasOp { Open, Close, Set, Get };
enum BusMode { Read, Write, Disconnect };

inline Fill cas(CasOp op, int path, int ts, int v = 0) {
  return [=](LGCP::Command& c) {
    LGCP::CasCommand& k = c.select_ioctl().select_cas();
    k.set_channel().set_path(path);
    k.set_channel().set_timeslot(ts);
    if (op == Open) k.set_cmd().select_open(v);
    if (op == Close) k.set_cmd().select_close();
    if (op == Set) k.set_cmd().select_set(v);
    if (op == Get) k.set_cmd().select_get();
  };
}
inline Fill trunkCfg(int trunk, bool slave) {
  return [=](LGCP::Command& c) {
    LGCP::TrunkCfg& t = c.select_trunkCfg();
    t.set_trunk(trunk);
    t.set_mode(slave ? LGCP::TrunkMode::slave : LGCP::TrunkMode::master);
  };
}
inline Fill clockCfg(bool internal, bool bextEnabled, int source) {
  return [=](LGCP::Command& c) {
    LGCP::ClockCfg& k = c.select_clockCfg();
    k.set_clkSel0(internal ? LGCP::ClkSel0::internal : LGCP::ClkSel0::external);
    k.set_bextEn(bextEnabled ? LGCP::BExtEn::enabled : LGCP::BExtEn::disabled);
    k.set_source(source);
  };
}
inline Fill busTest(BusMode mode, int seed, int bus, int start, int length) {
  return [=](LGCP::Command& c) {
    LGCP::BpcTestParams& p = c.select_testBpc();
    p.set_bus(unsigned(bus));
    p.set_seed(seed);
    if (mode == Read) p.set_mode().select_read();
    if (mode == Write) p.set_mode().select_write();
    if (mode == Disconnect) p.set_mode().select_disconnect();
    p.set_timeslot_start(unsigned(start));
    p.set_timeslot_length(unsigned(length));
  };
}

}  // namespace HwCmd
