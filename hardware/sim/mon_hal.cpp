#include "hardware/sim/mon_hal.h"

#include <cerrno>
#include <istream>
#include <ostream>
#include <stdexcept>
#include <string>

namespace Sim {

int MonHalDevice::onIoctl(Session& s, Request& r) {
  switch (r.code) {
    case kGetDip:
    case kGetPower:
    case kSetLed:
      if (r.byValue || !r.record || r.size < 1) return -EFAULT;
      if (r.code == kGetDip) r.record[0] = dip_;
      else if (r.code == kGetPower) r.record[0] = power_;
      else ledWrites_.push_back(leds_ = r.record[0]);
      if (ledWrites_.size() > kKeptWrites) ledWrites_.pop_front();
      return 0;
    default:
      return HalDevice::onIoctl(s, r);
  }
}

void MonHalDevice::reset() {
  HalDevice::reset();
  dip_ = 0;
  power_ = 2;
  leds_ = 0;
  ledWrites_.clear();
}

void MonHalDevice::help(std::ostream& out) const {
  HalDevice::help(out);
  out << "dip [<byte>]                 read or set the DIP switch byte\n"
      << "power [<byte>]               read or set the raw power supply byte\n"
      << "leds                         the E1 LED byte last written\n";
}

bool MonHalDevice::command(const std::string& verb, std::istream& args, std::ostream& out) {
  if (verb == "dip" || verb == "power") {
    uint8_t& reg = verb == "dip" ? dip_ : power_;
    std::string v;
    if (args >> v) reg = uint8_t(std::stoi(v, nullptr, 0) & 0xff);
    else out << int(reg) << '\n';
    return true;
  }
  if (verb == "leds") {
    out << int(leds_) << '\n';
    return true;
  }
  return HalDevice::command(verb, args, out);
}

}  // namespace Sim
