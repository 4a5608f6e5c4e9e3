#include "hardware/sim/dtmf.h"

#include <cerrno>
#include <cmath>
#include <iostream>
#include <stdexcept>
#include <string>

#include "hardware/board/record.h"
#include "hardware/board/requests.h"
#include "runtime/os/clock.h"

namespace Sim {

namespace R = ::Board::Req;

DtmfDevice::DtmfDevice() : Device("/dev/dtmf") {}

int DtmfDevice::onIoctl(Session&, Request& r) {
  switch (r.code) {
    case R::DtmfConfigureDetector: {
      if (r.byValue || r.size < 20) return -EFAULT;
      Timeslot& t = slots_[unsigned(r.word(0))];
      t.configured = true;
      t.twist = uint32_t(r.word(1));
      t.ratio = uint32_t(r.word(2));
      t.silence = uint32_t(r.word(3));
      t.noise = uint32_t(r.word(4));
      return 0;
    }
    case R::DtmfEnableDetector: {
      if (r.byValue || r.size < 8) return -EFAULT;
      Timeslot& t = slots_[unsigned(r.word(0))];
      t.detecting = true;
      t.id = uint32_t(r.word(1));
      return 0;
    }
    case R::DtmfDial: {
      if (r.byValue || r.size < 12) return -EFAULT;
      Setting s;
      s.ms = Mux::milliseconds();
      s.timeslot = ::Board::getBE32(r.record);
      s.freq1 = ::Board::getBE16(r.record + 4);
      s.freq2 = ::Board::getBE16(r.record + 6);
      s.amp1 = ::Board::getBE16(r.record + 8);
      s.amp2 = ::Board::getBE16(r.record + 10);
      Timeslot& t = slots_[s.timeslot];
      t.freq1 = s.freq1;
      t.freq2 = s.freq2;
      t.amp1 = s.amp1;
      t.amp2 = s.amp2;
      settings_.push_back(s);
      if (settings_.size() > kKeptSettings) settings_.pop_front();
      return 0;
    }
    case R::DtmfDisableDetector:
    case R::ChannelLmsOn:
    case R::ChannelLmsOff:
    case R::DtmfRejectionEnable:
    case R::DtmfRejectionDisable: {
      if (!r.byValue) return -EFAULT;
      Timeslot& t = slots_[unsigned(r.value)];
      if (r.code == R::DtmfDisableDetector) t.detecting = false;
      else if (r.code == R::ChannelLmsOn || r.code == R::ChannelLmsOff) t.lms = r.code == R::ChannelLmsOn;
      else t.reject = r.code == R::DtmfRejectionEnable;
      return 0;
    }
    default:
      return -ENOTTY;
  }
}

void DtmfDevice::reset() {
  slots_.clear();
  settings_.clear();
}

const DtmfDevice::Timeslot* DtmfDevice::timeslot(unsigned ts) const {
  auto it = slots_.find(ts);
  return it == slots_.end() ? nullptr : &it->second;
}

std::vector<DtmfDevice::Setting> DtmfDevice::settings(unsigned ts) const {
  std::vector<Setting> v;
  for (const Setting& s : settings_)
    if (s.timeslot == ts) v.push_back(s);
  return v;
}

int DtmfDevice::inject(uint32_t ts, uint32_t code, uint32_t id, uint32_t timestamp) {
  Bytes rec(16);
  ::Board::putBE32(&rec[0], code);
  ::Board::putBE32(&rec[4], ts);
  ::Board::putBE32(&rec[8], timestamp);
  ::Board::putBE32(&rec[12], id);
  int n = 0;
  for (Session* s : board->sessions(path()))
    if (board->deliver(*s, rec)) ++n;
  return n;
}

int DtmfDevice::inject(uint32_t ts, uint32_t code) {
  const Timeslot* t = timeslot(ts);
  return inject(ts, code, t ? t->id : 0, Mux::milliseconds());
}

std::vector<int16_t> DtmfDevice::render(unsigned ts, unsigned rate, unsigned tailMs) const {
  std::vector<int16_t> out;
  const std::vector<Setting> list = settings(ts);
  if (list.empty() || rate == 0) return out;
  const double pi = std::acos(-1.0);
  const unsigned start = list.front().ms;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const Setting& s = list[i];
    const unsigned end = i + 1 < list.size() ? list[i + 1].ms : s.ms + tailMs;
    const std::size_t from = std::size_t(uint64_t(s.ms - start) * rate / 1000);
    const std::size_t to = std::size_t(uint64_t(end - start) * rate / 1000);
    for (std::size_t n = from; n < to; ++n) {
      const double t = double(n) / rate;  // continuous phase over the whole rendering
      const double v = (s.amp1 * std::sin(2 * pi * s.freq1 * t) + s.amp2 * std::sin(2 * pi * s.freq2 * t)) / 2;
      out.push_back(int16_t(std::lround(std::fmax(-32768.0, std::fmin(32767.0, v)))));
    }
  }
  return out;
}

void DtmfDevice::help(std::ostream& out) const {
  out << "dtmf-event <ts> <code>|ced|cng [<id> [<timestamp>]]  a detector event (default: the enabled id)\n"
      << "dtmf-state                   per timeslot: detector, id, configuration, LMS, rejection, generator\n"
      << "dtmf-tones [<ts>]            the timed generator log: \"<ms> <ts> <f1> <f2> <a1> <a2>\"\n"
      << "dtmf-tones-clear             empties the timed generator log\n";
}

bool DtmfDevice::command(const std::string& verb, std::istream& args, std::ostream& out) {
  if (verb == "dtmf-event") {
    unsigned long ts;
    std::string code;
    if (!(args >> ts >> code)) throw std::invalid_argument("usage: dtmf-event <ts> <code>|ced|cng [<id> [<timestamp>]]");
    uint32_t c;
    if (code == "ced") c = kCodeCED;
    else if (code == "cng") c = kCodeCNG;
    else c = uint32_t(std::stoul(code, nullptr, 0));
    unsigned long id, stamp;
    int n;
    if (args >> id) {
      if (!(args >> stamp)) stamp = Mux::milliseconds();
      n = inject(uint32_t(ts), c, uint32_t(id), uint32_t(stamp));
    } else {
      n = inject(uint32_t(ts), c);
    }
    out << "delivered " << n << '\n';
    return true;
  }
  if (verb == "dtmf-state") {
    for (const auto& [ts, t] : slots_)
      out << ts << " detector " << (t.detecting ? "on" : "off") << " id " << t.id << " config "
          << (t.configured ? "" : "none ") << t.twist << ' ' << t.ratio << ' ' << t.silence << ' ' << t.noise
          << " lms " << (t.lms ? "on" : "off") << " reject " << (t.reject ? "on" : "off") << " gen " << t.freq1
          << ' ' << t.freq2 << ' ' << t.amp1 << ' ' << t.amp2 << '\n';
    return true;
  }
  if (verb == "dtmf-tones") {
    long ts = -1;
    args >> ts;
    for (const Setting& s : settings_)
      if (ts < 0 || s.timeslot == unsigned(ts))
        out << s.ms << ' ' << s.timeslot << ' ' << s.freq1 << ' ' << s.freq2 << ' ' << s.amp1 << ' ' << s.amp2
            << '\n';
    return true;
  }
  if (verb == "dtmf-tones-clear") {
    clearSettings();
    return true;
  }
  return false;
}

}  // namespace Sim
