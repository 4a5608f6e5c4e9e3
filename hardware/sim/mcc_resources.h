#pragma once
// Simulated "/dev/mcc/ctl" with the controller's resource request besides
// channel allocation: it reports how many data, BRI and transparent
// channels are still free, out of a capacity a test may set.
#include <cstdint>

#include "hardware/sim/mcc.h"

namespace Sim {

class MccResourcesDevice : public MccDevice {
 public:
  static constexpr uint32_t kResources = 0x80104d03;  // out: 4 words
  static constexpr int kDataChannels = 32;
  static constexpr int kBriChannels = 16;
  static constexpr int kTransparentChannels = 32;
  static constexpr long kMaxCapacity = 4096;  // per mode, from the control socket

  int onIoctl(Session& s, Request& r) override;
  bool command(const std::string& verb, std::istream& args, std::ostream& out) override;
  void help(std::ostream& out) const override;
  void reset() override;

  void setCapacity(int data, int bri, int transparent) { capacity_[0] = data, capacity_[1] = bri, capacity_[2] = transparent; }
  // Free channels of mode 0 (data; ss7 channels count as data), 1 (BRI)
  // and 2 (transparent).
  int freeChannels(int mode);

 private:
  int capacity_[3] = {kDataChannels, kBriChannels, kTransparentChannels};
};

}  // namespace Sim
