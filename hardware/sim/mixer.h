#pragma once
// Simulated "/dev/mixer": a set of mixer units, each with its TDM channel
// count, mixer inputs and the first TDM timeslot its channels are bound to,
// and per receiving channel the sum of (source channel, gain) routes the
// daemon programmed. Power-on: units 0 and 1 with 32 channels and 64 mixer
// inputs each, bound from timeslots 512 and 576.
#include <cstdint>
#include <map>
#include <vector>

#include "hardware/sim/sim.h"

namespace Sim {

class MixerDevice : public Device {
 public:
  // The driver's request numbers.
  static constexpr uint32_t kRxClear = 0x800C4D02;
  static constexpr uint32_t kRxAdd = 0x801C4D03;
  static constexpr uint32_t kRxRemove = 0x801C4D04;
  static constexpr uint32_t kTdm = 0x800C4D06;
  static constexpr uint32_t kUnitInfo = 0x80104D07;

  struct Unit {
    int32_t channels = 32;
    int32_t inputs = 64;
    int32_t firstTimeslot = 512;
    // Sum of each receiving channel: source channel -> gain.
    std::map<int32_t, std::map<int32_t, int32_t>> sums;
  };

  // Bounds of what the control socket may ask for.
  static constexpr long kMaxUnit = 255;
  static constexpr long kMaxChannels = 4096;
  static constexpr long kMaxTimeslot = 65535;

  MixerDevice();

  int onIoctl(Session& s, Request& r) override;
  bool command(const std::string& verb, std::istream& args, std::ostream& out) override;
  void help(std::ostream& out) const override;
  void reset() override;

  // Adds a unit or changes its counts (its routes stay).
  void setUnit(int32_t unit, int32_t channels, int32_t inputs, int32_t firstTimeslot);
  void removeUnit(int32_t unit);
  void clearUnits() { units_.clear(); }
  const std::map<int32_t, Unit>& units() const { return units_; }
  // The sum of a receiving channel: {source, gain} in source order.
  std::vector<std::pair<int32_t, int32_t>> sum(int32_t unit, int32_t channel) const;

 private:
  Unit* channelOf(const Request& r, std::size_t first, int32_t& channel);
  std::map<int32_t, Unit> units_;
};

}  // namespace Sim
