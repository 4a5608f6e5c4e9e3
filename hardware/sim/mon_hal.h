#pragma once
// Simulated "/dev/hal" with the monitoring registers besides the multiplexer,
// clock and SPI: the DIP switch byte, the raw power supply byte and the E1
// status LED byte (each a one-byte request).
#include <cstdint>
#include <deque>

#include "hardware/sim/hal.h"

namespace Sim {

class MonHalDevice : public HalDevice {
 public:
  static constexpr uint32_t kGetDip = 0xC0014205;
  static constexpr uint32_t kGetPower = 0xC0014206;
  static constexpr uint32_t kSetLed = 0xC0014207;

  int onIoctl(Session& s, Request& r) override;
  bool command(const std::string& verb, std::istream& args, std::ostream& out) override;
  void help(std::ostream& out) const override;
  void reset() override;

  void setDip(uint8_t v) { dip_ = v; }
  void setPower(uint8_t v) { power_ = v; }
  uint8_t leds() const { return leds_; }
  // The LED bytes written (the most recent kKeptWrites), oldest first.
  static constexpr std::size_t kKeptWrites = 4096;
  const std::deque<uint8_t>& ledWrites() const { return ledWrites_; }

 private:
  uint8_t dip_ = 0;
  uint8_t power_ = 2;
  uint8_t leds_ = 0;
  std::deque<uint8_t> ledWrites_;
};

}  // namespace Sim
