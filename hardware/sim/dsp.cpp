#include "hardware/sim/dsp.h"

#include <cerrno>
#include <iostream>
#include <stdexcept>
#include <string>

#include "hardware/board/record.h"
#include "hardware/board/requests.h"

namespace Sim {

namespace R = ::Board::Req;

DspDevice::DspDevice() : Device("/dev/dsp") {}

int DspDevice::onIoctl(Session&, Request& r) {
  switch (r.code) {
    case R::DsprocConfigure: {
      if (r.byValue || r.size < 20) return -EFAULT;
      const uint32_t type = uint32_t(r.word(1));
      if (type != 1 && type != 2) return -EINVAL;
      slots_[unsigned(r.word(0))].config[type] = {r.word(2), r.word(3), r.word(4)};
      return 0;
    }
    case R::DsprocEnable:
    case R::DsprocDisable: {
      if (r.byValue || r.size < 12) return -EFAULT;
      Timeslot& t = slots_[unsigned(r.word(0))];
      const uint32_t mask = uint32_t(r.word(2)) & 15;
      if (r.code == R::DsprocDisable) {
        t.functions &= ~mask;
        return 0;
      }
      // A mute enable carries the whole set of muted directions.
      if (mask & (MaskMuteRx | MaskMuteTx)) t.functions &= ~uint32_t(MaskMuteRx | MaskMuteTx);
      t.functions |= mask;
      for (uint32_t bit = 1; bit <= 8; bit <<= 1)
        if (mask & bit) t.ids[bit] = uint32_t(r.word(1));
      return 0;
    }
    default:
      return -ENOTTY;
  }
}

void DspDevice::reset() { slots_.clear(); }

const DspDevice::Timeslot* DspDevice::timeslot(unsigned ts) const {
  auto it = slots_.find(ts);
  return it == slots_.end() ? nullptr : &it->second;
}

uint32_t DspDevice::idOf(unsigned ts, uint32_t bit) const {
  const Timeslot* t = timeslot(ts);
  if (!t) return 0;
  auto it = t->ids.find(bit);
  return it == t->ids.end() ? 0 : it->second;
}

int DspDevice::inject(uint32_t ts, uint32_t id, uint32_t type, int32_t w3, int32_t w4, int32_t w5) {
  Bytes rec(24);
  ::Board::putBE32(&rec[0], ts);
  ::Board::putBE32(&rec[4], id);
  ::Board::putBE32(&rec[8], type);
  ::Board::putBE32(&rec[12], uint32_t(w3));
  ::Board::putBE32(&rec[16], uint32_t(w4));
  ::Board::putBE32(&rec[20], uint32_t(w5));
  int n = 0;
  for (Session* s : board->sessions(path()))
    if (board->deliver(*s, rec)) ++n;
  return n;
}

int DspDevice::injectVAD(uint32_t ts, uint32_t dirMask, int32_t rx, int32_t tx) {
  return inject(ts, idOf(ts, MaskVAD), 1, int32_t(dirMask), rx, tx);
}

int DspDevice::injectSD(uint32_t ts, int32_t rx) { return inject(ts, idOf(ts, MaskSD), 2, rx, 0, 0); }

void DspDevice::help(std::ostream& out) const {
  out << "dsp-vad <ts> <dir_mask> <rx> <tx> [<id>]  a VAD event (default: the VAD enable's id)\n"
      << "dsp-sd <ts> <rx> [<id>]      an SD event (default: the SD enable's id)\n"
      << "dsp-event <ts> <id> <type> <w3> <w4> <w5>  any event record\n"
      << "dsp-state                    per timeslot: functions on, their ids, configurations\n";
}

bool DspDevice::command(const std::string& verb, std::istream& args, std::ostream& out) {
  int n;
  if (verb == "dsp-vad") {
    unsigned long ts, mask, id;
    long rx, tx;
    if (!(args >> ts >> mask >> rx >> tx)) throw std::invalid_argument("usage: dsp-vad <ts> <dir_mask> <rx> <tx> [<id>]");
    if (args >> id) n = inject(uint32_t(ts), uint32_t(id), 1, int32_t(mask), int32_t(rx), int32_t(tx));
    else n = injectVAD(uint32_t(ts), uint32_t(mask), int32_t(rx), int32_t(tx));
  } else if (verb == "dsp-sd") {
    unsigned long ts, id;
    long rx;
    if (!(args >> ts >> rx)) throw std::invalid_argument("usage: dsp-sd <ts> <rx> [<id>]");
    if (args >> id) n = inject(uint32_t(ts), uint32_t(id), 2, int32_t(rx), 0, 0);
    else n = injectSD(uint32_t(ts), int32_t(rx));
  } else if (verb == "dsp-event") {
    unsigned long ts, id, type;
    long w3, w4, w5;
    if (!(args >> ts >> id >> type >> w3 >> w4 >> w5))
      throw std::invalid_argument("usage: dsp-event <ts> <id> <type> <w3> <w4> <w5>");
    n = inject(uint32_t(ts), uint32_t(id), uint32_t(type), int32_t(w3), int32_t(w4), int32_t(w5));
  } else if (verb == "dsp-state") {
    static const char* const names[] = {"vad", "sd", "mute-rx", "mute-tx"};
    for (const auto& [ts, t] : slots_) {
      out << ts << " functions";
      for (uint32_t i = 0; i < 4; ++i)
        if (t.functions & (1u << i)) out << ' ' << names[i] << '=' << idOf(ts, 1u << i);
      for (const auto& [type, p] : t.config)
        out << " config " << (type == 1 ? "vad" : "sd") << ' ' << p[0] << ' ' << p[1] << ' ' << p[2];
      out << '\n';
    }
    return true;
  } else {
    return false;
  }
  out << "delivered " << n << '\n';
  return true;
}

}  // namespace Sim
