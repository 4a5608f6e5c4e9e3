#pragma once
// Simulated "/dev/hal": the TDM multiplexer (on the board's fabric), the
// clock source selection and the SPI registers of the BRI line transceivers.
#include <map>
#include <utility>

#include "hardware/sim/sim.h"

namespace Sim {

class HalDevice : public Device {
 public:
  // The highest fabric channel the control socket may name.
  static constexpr long kMaxChannel = 65535;

  HalDevice() : Device("/dev/hal") {}

  int onIoctl(Session& s, Request& r) override;
  bool command(const std::string& verb, std::istream& args, std::ostream& out) override;
  void help(std::ostream& out) const override;
  void reset() override;

  int clockSource() const { return clockSource_; }
  // Register contents; unknown registers read 0.
  int spiRegister(int channel, int reg) const;
  void setSpiRegister(int channel, int reg, int value) { spi_[{channel, reg}] = value & 0xff; }
  // A board without SPI: reads fail with EINTR, writes with ENODEV.
  void setSpiPresent(bool on) { spiPresent_ = on; }

 private:
  int clockSource_ = -1;
  bool spiPresent_ = true;
  std::map<std::pair<int, int>, int> spi_;
};

}  // namespace Sim
