#include "hardware/sim/modem.h"

#include <cerrno>
#include <iostream>
#include <stdexcept>

#include "hardware/board/record.h"

namespace Sim {

namespace {
// The requests carry no size bits: the argument records are known per
// request (consecutive big-endian 32-bit words).
int32_t argWord(const Request& r, std::size_t i) { return int32_t(::Board::getBE32(r.record + i * 4)); }
}  // namespace

ModemDevice::ModemDevice() : Device("/dev/mctl") { reset(); }

void ModemDevice::reset() { setModems(4); }

void ModemDevice::setModems(int count, int32_t firstTimeslot) {
  modems_.clear();
  for (int i = 0; i < count; ++i) modems_[i].timeslot = firstTimeslot + i;
}

int ModemDevice::allocated() const {
  int n = 0;
  for (const auto& m : modems_) n += m.second.owner != 0;
  return n;
}

ModemDevice::Modem* ModemDevice::held(Session& s) {
  auto m = modems_.find(s.channel);
  return s.channel >= 0 && m != modems_.end() && m->second.owner == s.id ? &m->second : nullptr;
}

void ModemDevice::onClose(Session& s) {
  if (Modem* m = held(s)) {
    const int32_t ts = m->timeslot;
    *m = Modem();
    m->timeslot = ts;
  }
  s.channel = -1;
}

int ModemDevice::onIoctl(Session& s, Request& r) {
  switch (r.code) {
    case kEnumerate: {
      if (!r.byValue) return -EFAULT;
      auto next = modems_.upper_bound(int32_t(r.value));
      return next == modems_.end() ? -ENODEV : next->first;
    }
    case kAllocate: {
      if (held(s)) return s.channel;
      for (auto& [n, m] : modems_)
        if (!m.owner) {
          m.owner = s.id;
          s.channel = n;
          return n;
        }
      return -EBUSY;
    }
    case kTimeslot: {
      Modem* m = held(s);
      return m ? m->timeslot : -EINVAL;
    }
    case kSetDdm:
    case kResetParams:
    case kSetParam:
    case kAnswer:
    case kOriginate:
    case kFaxOriginate: {
      if (r.byValue || !r.record) return -EFAULT;
      Modem* m = held(s);
      if (!m || argWord(r, 0) != s.channel) return -EINVAL;
      if (r.code == kSetDdm) m->ddm = argWord(r, 1);
      else if (r.code == kResetParams) m->params.clear();
      else if (r.code == kSetParam) m->params.emplace_back(argWord(r, 1), argWord(r, 2));
      else m->call = r.code;
      return 0;
    }
  }
  return -ENOTTY;
}

bool ModemDevice::command(const std::string& verb, std::istream& args, std::ostream& out) {
  if (verb == "modems") {
    long count = 0, first = 96;
    if (readNumber(args, "count", 0, kMaxModems, count)) {
      readNumber(args, "timeslot", 0, kMaxTimeslot, first);
      setModems(int(count), int32_t(first));
    }
    for (const auto& [n, m] : modems_) {
      out << n << " ts " << m.timeslot << (m.owner ? " busy" : " free");
      if (m.owner) {
        out << " ddm " << m.ddm << " call 0x" << std::hex << m.call << std::dec;
        for (const auto& p : m.params) out << " p" << p.first << "=" << p.second;
      }
      out << "\n";
    }
    return true;
  }
  return false;
}

void ModemDevice::help(std::ostream& out) const {
  out << "modems [<count> [<first-ts>]]   list (or replace) the DSP modems of /dev/mctl\n";
}

}  // namespace Sim
