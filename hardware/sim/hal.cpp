#include "hardware/sim/hal.h"

#include <cerrno>
#include <iostream>
#include <stdexcept>
#include <string>

#include "hardware/board/requests.h"

namespace Sim {

namespace R = ::Board::Req;

int HalDevice::onIoctl(Session&, Request& r) {
  Tdm& tdm = board->tdm();
  switch (r.code) {
    case R::MuxConnect:
      if (r.size < 8) return -EFAULT;
      tdm.connect(r.word(0), r.word(1));
      return 0;
    case R::MuxDisable:
      if (r.size < 4) return -EFAULT;
      tdm.disable(r.word(0));
      return 0;
    case R::MuxWrite:
      if (r.size < 8) return -EFAULT;
      tdm.write(r.word(0), uint8_t(r.word(1)));
      return 0;
    case R::MuxRead:
      if (r.size < 8) return -EFAULT;
      r.setWord(1, tdm.read(r.word(0)));
      return 0;
    case R::HwClockSelect:
      if (r.byValue) clockSource_ = int(r.value);
      else if (r.size >= 4) clockSource_ = r.word(0);
      else return -EFAULT;
      return 0;
    case R::SpiRead:
      if (r.size < 3) return -EFAULT;
      if (!spiPresent_) return -EINTR;
      return spiRegister(r.record[0], r.record[1]);
    case R::SpiWrite:
      if (r.size < 3) return -EFAULT;
      if (!spiPresent_) return -ENODEV;
      setSpiRegister(r.record[0], r.record[1], r.record[2]);
      return 0;
    default:
      return -ENOTTY;
  }
}

int HalDevice::spiRegister(int channel, int reg) const {
  auto it = spi_.find({channel, reg});
  return it == spi_.end() ? 0 : it->second;
}

void HalDevice::reset() {
  clockSource_ = -1;
  spiPresent_ = true;
  spi_.clear();
}

void HalDevice::help(std::ostream& out) const {
  out << "xpoints                      crosspoints, one \"<output> <source>\" a line\n"
      << "consts                       constant bytes, one \"<channel> <byte>\" a line\n"
      << "drive <channel> <byte>|off   the far end drives a byte on a channel\n"
      << "clocksrc                     the selected clock source\n"
      << "spi <chan> <reg> [<value>]   read or set an SPI register\n"
      << "nospi on|off                 a board without SPI\n";
}

bool HalDevice::command(const std::string& verb, std::istream& args, std::ostream& out) {
  Tdm& tdm = board->tdm();
  if (verb == "xpoints") {
    for (const auto& [o, s] : tdm.crosspoints()) out << o << ' ' << s << '\n';
  } else if (verb == "consts") {
    for (const auto& [c, b] : tdm.constants()) out << c << ' ' << int(b) << '\n';
  } else if (verb == "drive") {
    long ch;
    std::string v;
    if (!readNumber(args, "channel", 0, kMaxChannel, ch) || !(args >> v))
      throw std::invalid_argument("usage: drive <channel> <byte>|off");
    tdm.drive(int(ch), v == "off" ? -1 : std::stoi(v, nullptr, 0) & 0xff);
  } else if (verb == "clocksrc") {
    out << clockSource_ << '\n';
  } else if (verb == "spi") {
    long ch, reg;
    if (!readNumber(args, "channel", 0, 255, ch) || !readNumber(args, "register", 0, 255, reg))
      throw std::invalid_argument("usage: spi <chan> <reg> [<value>]");
    std::string v;
    if (args >> v) setSpiRegister(int(ch), int(reg), std::stoi(v, nullptr, 0));
    else out << spiRegister(int(ch), int(reg)) << '\n';
  } else if (verb == "nospi") {
    std::string v;
    args >> v;
    setSpiPresent(v == "off");
  } else {
    return false;
  }
  return true;
}

}  // namespace Sim
