#include "hardware/sim/maintenance.h"

#include <cerrno>
#include <iostream>
#include <stdexcept>

#include "hardware/board/requests.h"

namespace Sim {

namespace R = ::Board::Req;

namespace {

const char* const kStateNames[] = {"normal", "lossBF", "lossCarrier", "ais", "rai", "unknown", "disabled"};
constexpr int kStates = 7;

}  // namespace

int MaintenanceDevice::parseState(const std::string& text) {
  for (int i = 0; i < kStates; ++i)
    if (text == kStateNames[i]) return i;
  try {
    std::size_t used = 0;
    int v = std::stoi(text, &used, 0);
    if (used == text.size()) return v;
  } catch (const std::exception&) {
  }
  return -1;
}

const char* MaintenanceDevice::stateName(int state) {
  return state >= 0 && state < kStates ? kStateNames[state] : "?";
}

int MaintenanceDevice::onIoctl(Session&, Request& r) {
  switch (r.code) {
    case R::E1Status: {
      if (r.size < 80) return -EFAULT;
      int t = r.word(0);
      if (t < 0 || t >= kTrunks) return -EINVAL;
      if (failing_[std::size_t(t)]) return -failing_[std::size_t(t)];
      const Trunk& k = trunks_[std::size_t(t)];
      r.setWord(9, k.slips);         // offset 36
      r.setWord(10, k.lossBF);       // 40
      r.setWord(11, k.lossCarrier);  // 44
      r.setWord(12, k.lossAIS);      // 48
      r.setWord(13, k.lossRAI);      // 52
      r.setWord(19, k.state);        // 76
      return 0;
    }
    case R::E1SetTclk:
      tclk_ = uint32_t(r.byValue ? r.value : uint32_t(r.word(0)));
      return 0;
    case R::E1SelectSource:
      clockSource_ = int(r.byValue ? int32_t(r.value) : r.word(0));
      return 0;
    default:
      return -ENOTTY;
  }
}

void MaintenanceDevice::setState(int t, int state) {
  Trunk& k = trunks_.at(std::size_t(t));
  if (k.state != state) {
    switch (state) {
      case LossBF: ++k.lossBF; break;
      case LossCarrier: ++k.lossCarrier; break;
      case Ais: ++k.lossAIS; break;
      case Rai: ++k.lossRAI; break;
      default: break;
    }
  }
  k.state = state;
}

void MaintenanceDevice::reset() {
  trunks_ = {};
  failing_ = {};
  tclk_ = 0;
  clockSource_ = -1;
}

void MaintenanceDevice::help(std::ostream& out) const {
  out << "e1                           trunk states, TCLK mask and E1 clock source\n"
      << "e1 <trunk> <state>           trunk state: normal lossBF lossCarrier ais rai unknown disabled\n"
      << "e1 <trunk> counters <slips> <lossBF> <lossCarrier> <lossAIS> <lossRAI>\n"
      << "e1 <trunk> fail <errno>|off  status requests for the trunk fail\n"
      << "tclk                         the TCLK mask written by the daemon\n";
}

bool MaintenanceDevice::command(const std::string& verb, std::istream& args, std::ostream& out) {
  if (verb == "tclk") {
    out << "0x" << std::hex << tclk_ << std::dec << '\n';
    return true;
  }
  if (verb != "e1") return false;
  int t;
  if (!(args >> t)) {
    for (int i = 0; i < kTrunks; ++i) {
      const Trunk& k = trunks_[std::size_t(i)];
      out << "trunk " << i << ' ' << stateName(k.state) << " slips " << k.slips << " lossBF " << k.lossBF
          << " lossCarrier " << k.lossCarrier << " lossAIS " << k.lossAIS << " lossRAI " << k.lossRAI << '\n';
    }
    out << "tclk 0x" << std::hex << tclk_ << std::dec << " source " << clockSource_ << '\n';
    return true;
  }
  if (t < 0 || t >= kTrunks) throw std::invalid_argument("trunk 0..3");
  std::string what;
  if (!(args >> what)) throw std::invalid_argument("usage: e1 <trunk> <state>|counters ...");
  if (what == "fail") {
    std::string e;
    if (!(args >> e)) throw std::invalid_argument("usage: e1 <trunk> fail <errno>|off");
    setFailing(t, e == "off" ? 0 : std::stoi(e, nullptr, 0));
    return true;
  }
  if (what == "counters") {
    Trunk& k = trunks_[std::size_t(t)];
    if (!(args >> k.slips >> k.lossBF >> k.lossCarrier >> k.lossAIS >> k.lossRAI))
      throw std::invalid_argument("usage: e1 <trunk> counters <slips> <lossBF> <lossCarrier> <lossAIS> <lossRAI>");
    return true;
  }
  int state = parseState(what);
  if (state < 0) throw std::invalid_argument("unknown trunk state " + what);
  setState(t, state);
  return true;
}

}  // namespace Sim
