#include "hardware/sim/mixer.h"

#include <cerrno>
#include <iostream>
#include <stdexcept>
#include <string>

namespace Sim {

MixerDevice::MixerDevice() : Device("/dev/mixer") { reset(); }

void MixerDevice::reset() {
  units_.clear();
  setUnit(0, 32, 64, 512);
  setUnit(1, 32, 64, 576);
}

void MixerDevice::setUnit(int32_t unit, int32_t channels, int32_t inputs, int32_t firstTimeslot) {
  Unit& u = units_[unit];
  u.channels = channels;
  u.inputs = inputs;
  u.firstTimeslot = firstTimeslot;
}

void MixerDevice::removeUnit(int32_t unit) { units_.erase(unit); }

std::vector<std::pair<int32_t, int32_t>> MixerDevice::sum(int32_t unit, int32_t channel) const {
  std::vector<std::pair<int32_t, int32_t>> v;
  auto u = units_.find(unit);
  if (u == units_.end()) return v;
  auto s = u->second.sums.find(channel);
  if (s == u->second.sums.end()) return v;
  for (const auto& [source, gain] : s->second) v.emplace_back(source, gain);
  return v;
}

// The mix_slot at word `first`: an existing unit, type TDM, a channel in range.
MixerDevice::Unit* MixerDevice::channelOf(const Request& r, std::size_t first, int32_t& channel) {
  auto u = units_.find(r.word(first));
  if (u == units_.end() || r.word(first + 1) != 0) return nullptr;
  channel = r.word(first + 2);
  if (channel < 0 || channel >= u->second.channels) return nullptr;
  return &u->second;
}

int MixerDevice::onIoctl(Session&, Request& r) {
  if (r.byValue) return -EFAULT;
  int32_t rx = 0, tx = 0;
  switch (r.code) {
    case kRxClear: {
      if (r.size < 12) return -EFAULT;
      Unit* u = channelOf(r, 0, rx);
      if (!u) return -EINVAL;
      u->sums.erase(rx);
      return 0;
    }
    case kRxAdd:
    case kRxRemove: {
      if (r.size < 28) return -EFAULT;
      Unit* u = channelOf(r, 0, rx);
      if (!u || r.word(3) != r.word(0) || !channelOf(r, 3, tx)) return -EINVAL;
      auto& sum = u->sums[rx];
      if (r.code == kRxAdd) {
        if (int(sum.size()) >= u->inputs && !sum.count(tx)) return -ENOSPC;
        sum[tx] = r.word(6);
        return 0;
      }
      if (!sum.erase(tx)) return -ENOENT;
      if (sum.empty()) u->sums.erase(rx);
      return 0;
    }
    case kTdm: {
      if (r.size < 12) return -EFAULT;
      Unit* u = channelOf(r, 0, rx);
      if (!u) return -EINVAL;
      return u->firstTimeslot + rx;
    }
    case kUnitInfo: {
      if (r.size < 16) return -EFAULT;
      auto next = units_.upper_bound(r.word(0));
      if (r.word(0) < 0) next = units_.lower_bound(0);
      if (next == units_.end()) return -ENODEV;
      r.setWord(0, next->first);
      r.setWord(1, next->second.channels);
      r.setWord(2, next->second.firstTimeslot);
      r.setWord(3, next->second.inputs);
      return 0;
    }
    default:
      return -ENOTTY;
  }
}

void MixerDevice::help(std::ostream& out) const {
  out << "mixer-units                          units: \"<unit> <channels> <inputs> <first timeslot>\"\n"
      << "mixer-unit <unit> <channels> <inputs> [<first ts>]  add or change a unit\n"
      << "mixer-unit-remove <unit>             the unit is no longer reported\n"
      << "mixer-routes                         sums: \"<unit> <rx> <tx> <gain>\"\n";
}

bool MixerDevice::command(const std::string& verb, std::istream& args, std::ostream& out) {
  if (verb == "mixer-units") {
    for (const auto& [id, u] : units_)
      out << id << ' ' << u.channels << ' ' << u.inputs << ' ' << u.firstTimeslot << '\n';
  } else if (verb == "mixer-unit") {
    long unit, channels, inputs, first;
    if (!readNumber(args, "unit", 0, kMaxUnit, unit) || !readNumber(args, "channels", 0, kMaxChannels, channels) ||
        !readNumber(args, "inputs", 0, kMaxChannels, inputs))
      throw std::invalid_argument("usage: mixer-unit <unit> <channels> <inputs> [<first timeslot>]");
    if (!readNumber(args, "timeslot", 0, kMaxTimeslot, first)) first = 512 + 64 * unit;
    setUnit(int32_t(unit), int32_t(channels), int32_t(inputs), int32_t(first));
  } else if (verb == "mixer-unit-remove") {
    long unit;
    if (!(args >> unit)) throw std::invalid_argument("usage: mixer-unit-remove <unit>");
    removeUnit(int32_t(unit));
  } else if (verb == "mixer-routes") {
    for (const auto& [id, u] : units_)
      for (const auto& [rx, sum] : u.sums)
        for (const auto& [tx, gain] : sum) out << id << ' ' << rx << ' ' << tx << ' ' << gain << '\n';
  } else {
    return false;
  }
  return true;
}

}  // namespace Sim
