#include "hardware/sim/mcc_resources.h"

#include <cerrno>
#include <istream>
#include <ostream>
#include <stdexcept>
#include <string>

namespace Sim {

int MccResourcesDevice::freeChannels(int mode) {
  int used = 0;
  for (Session* s : board->sessions(path())) {
    int m = s->kind - 1;  // the allocated channel mode; -1 when none
    if (m == 3) m = 0;
    if (m == mode) ++used;
  }
  int left = capacity_[mode] - used;
  return left > 0 ? left : 0;
}

int MccResourcesDevice::onIoctl(Session& s, Request& r) {
  if (r.code != kResources) return MccDevice::onIoctl(s, r);
  if (r.byValue || !r.record || r.size < 16) return -EFAULT;
  for (int mode = 0; mode < 3; ++mode) r.setWord(mode, freeChannels(mode));
  r.setWord(3, capacity_[0] + capacity_[1] + capacity_[2]);
  return 0;
}

void MccResourcesDevice::reset() {
  MccDevice::reset();
  setCapacity(kDataChannels, kBriChannels, kTransparentChannels);
}

void MccResourcesDevice::help(std::ostream& out) const {
  MccDevice::help(out);
  out << "mcc-capacity [<d> <b> <t>]   controller channels of each mode (data, BRI, transparent)\n";
}

bool MccResourcesDevice::command(const std::string& verb, std::istream& args, std::ostream& out) {
  if (verb != "mcc-capacity") return MccDevice::command(verb, args, out);
  long d, b, t;
  if (readNumber(args, "data", 0, kMaxCapacity, d)) {
    if (!readNumber(args, "bri", 0, kMaxCapacity, b) || !readNumber(args, "transparent", 0, kMaxCapacity, t))
      throw std::invalid_argument("usage: mcc-capacity <data> <bri> <transparent>");
    setCapacity(int(d), int(b), int(t));
  } else {
    out << capacity_[0] << ' ' << capacity_[1] << ' ' << capacity_[2] << '\n';
  }
  return true;
}

}  // namespace Sim
