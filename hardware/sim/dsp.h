#pragma once
// Simulated "/dev/dsp": per timeslot the VAD and SD detector
// configurations, the switched functions (VAD, SD, receive and transmit
// muting) with the id of the enable that switched each on, and injection
// of the driver's 24-byte VAD and SD event records.
#include <cstdint>
#include <array>
#include <map>

#include "hardware/sim/sim.h"

namespace Sim {

class DspDevice : public Device {
 public:
  enum { MaskVAD = 1, MaskSD = 2, MaskMuteRx = 4, MaskMuteTx = 8 };

  struct Timeslot {
    std::map<uint32_t, std::array<int32_t, 3>> config;  // by detector type
    uint32_t functions = 0;                             // mask bits switched on
    std::map<uint32_t, uint32_t> ids;                   // enable id by mask bit
  };

  DspDevice();

  int onIoctl(Session& s, Request& r) override;
  bool command(const std::string& verb, std::istream& args, std::ostream& out) override;
  void help(std::ostream& out) const override;
  void reset() override;

  const Timeslot* timeslot(unsigned ts) const;
  // The id of the enable that switched `bit` on for the timeslot (0: none).
  uint32_t idOf(unsigned ts, uint32_t bit) const;

  // Sends one event record to every open descriptor; returns how many took it.
  int inject(uint32_t ts, uint32_t id, uint32_t type, int32_t w3, int32_t w4, int32_t w5);
  // A VAD event {dir_mask, rx, tx} / an SD event {rx} with the current ids.
  int injectVAD(uint32_t ts, uint32_t dirMask, int32_t rx, int32_t tx);
  int injectSD(uint32_t ts, int32_t rx);

 private:
  std::map<unsigned, Timeslot> slots_;
};

}  // namespace Sim
