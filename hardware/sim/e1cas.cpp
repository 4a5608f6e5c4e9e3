#include "hardware/sim/e1cas.h"

#include <cerrno>
#include <iostream>
#include <stdexcept>

#include "hardware/board/record.h"
#include "hardware/board/requests.h"

namespace Sim {

namespace R = ::Board::Req;

E1CasDevice::Slot E1CasDevice::slot(int trunk, int timeslot) const {
  auto it = slots_.find({trunk, timeslot});
  return it == slots_.end() ? Slot{} : it->second;
}

int E1CasDevice::onIoctl(Session&, Request& r) {
  switch (r.code) {
    case R::CasOpenTrunk: {
      int t = int(r.byValue ? int32_t(r.value) : r.word(0));
      if (t < 0 || t >= kTrunks) return -EINVAL;
      openTrunks_.insert(t);
      return 0;
    }
    case R::CasCloseTrunk: {
      int t = int(r.byValue ? int32_t(r.value) : r.word(0));
      if (t < 0 || t >= kTrunks) return -EINVAL;
      openTrunks_.erase(t);
      for (auto& [key, s] : slots_)
        if (key.first == t) s.open = false;
      return 0;
    }
    case R::CasSetup: {
      if (r.size < 16) return -EFAULT;
      int t = r.word(0), ts = r.word(1);
      if (!valid(t, ts) || ts == 0 || ts == 16) return -EINVAL;
      if (!trunkOpen(t)) return -ENXIO;
      Slot& s = slots_[{t, ts}];
      if (r.word(3) == 0) {
        s.open = true;
        s.tx = r.record[9] & 15;
      } else {
        s.open = false;
      }
      return 0;
    }
    case R::CasSetTx: {
      if (r.size < 12) return -EFAULT;
      int t = r.word(0), ts = r.word(1);
      if (!valid(t, ts)) return -EINVAL;
      if (!trunkOpen(t)) return -ENXIO;
      slots_[{t, ts}].tx = r.record[9];
      return 0;
    }
    case R::CasGet: {
      if (r.size < 12) return -EFAULT;
      int t = r.word(0), ts = r.word(1);
      if (!valid(t, ts)) return -EINVAL;
      Slot s = slot(t, ts);
      r.record[8] = s.rx;
      r.record[9] = s.tx;
      return 0;
    }
    default:
      return -ENOTTY;
  }
}

int E1CasDevice::inject(int trunk, int timeslot, int rx, int tx) {
  Slot& s = slots_[{trunk, timeslot}];
  s.rx = uint8_t(rx);
  if (tx >= 0) s.tx = uint8_t(tx);
  Bytes rec(12, 0);
  ::Board::putBE32(&rec[0], uint32_t(trunk));
  ::Board::putBE32(&rec[4], uint32_t(timeslot));
  rec[8] = s.rx;
  rec[9] = s.tx;
  return deliverRaw(rec);
}

int E1CasDevice::deliverRaw(const Bytes& record) {
  int n = 0;
  for (Session* s : board->sessions(path()))
    if (board->deliver(*s, record)) ++n;
  return n;
}

void E1CasDevice::reset() {
  openTrunks_.clear();
  slots_.clear();
}

void E1CasDevice::help(std::ostream& out) const {
  out << "cas                          open trunks and timeslots with their rx/tx bits\n"
      << "cas <trunk> <ts> <rx> [<tx>] the far end changes a timeslot's bits (reported to the daemon)\n"
      << "cas-raw <hex>                hands raw bytes to the daemon as one CAS record\n";
}

bool E1CasDevice::command(const std::string& verb, std::istream& args, std::ostream& out) {
  if (verb == "cas-raw") {
    std::string rest, part;
    while (args >> part) rest += part;
    Bytes rec;
    if (!parseHex(rest, rec) || rec.empty()) throw std::invalid_argument("usage: cas-raw <hex>");
    out << deliverRaw(rec) << '\n';
    return true;
  }
  if (verb != "cas") return false;
  std::string a;
  if (!(args >> a)) {
    for (int t : openTrunks_) out << "trunk " << t << " open\n";
    for (const auto& [key, s] : slots_)
      out << key.first << ' ' << key.second << (s.open ? " open" : " closed") << " rx " << int(s.rx) << " tx "
          << int(s.tx) << '\n';
    return true;
  }
  std::string b, c, d;
  if (!(args >> b >> c)) throw std::invalid_argument("usage: cas <trunk> <ts> <rx> [<tx>]");
  int tx = -1;
  if (args >> d) tx = std::stoi(d, nullptr, 0) & 0xff;
  int trunk = std::stoi(a, nullptr, 0), ts = std::stoi(b, nullptr, 0), rx = std::stoi(c, nullptr, 0) & 0xff;
  out << inject(trunk, ts, rx, tx) << '\n';
  return true;
}

}  // namespace Sim
