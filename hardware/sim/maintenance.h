#pragma once
// Simulated "/dev/maintenance": the E1 framers of the four trunks. It answers
// the status request with each trunk's state and alarm counters, and keeps
// the TCLK mask and the clock source the daemon writes. Tests and the
// control socket set the trunk states ("e1 2 lossCarrier").
#include <array>
#include <cstdint>
#include <string>

#include "hardware/sim/sim.h"

namespace Sim {

class MaintenanceDevice : public Device {
 public:
  static constexpr int kTrunks = 4;
  // The trunk states as the driver numbers them.
  enum State { Normal = 0, LossBF = 1, LossCarrier = 2, Ais = 3, Rai = 4, Unknown = 5, Disabled = 6 };

  struct Trunk {
    int state = Normal;
    int slips = 0;
    int lossBF = 0;
    int lossCarrier = 0;
    int lossAIS = 0;
    int lossRAI = 0;
  };

  MaintenanceDevice() : Device("/dev/maintenance") {}

  int onIoctl(Session& s, Request& r) override;
  bool command(const std::string& verb, std::istream& args, std::ostream& out) override;
  void help(std::ostream& out) const override;
  void reset() override;

  // An alarm on a trunk: the state changes and, when it enters an alarm
  // state, that alarm's counter goes up by one.
  void setState(int trunk, int state);
  Trunk& trunk(int t) { return trunks_.at(std::size_t(t)); }
  // Status requests for the trunk fail with `err` (0: answered again).
  void setFailing(int t, int err) { failing_.at(std::size_t(t)) = err; }
  uint32_t tclk() const { return tclk_; }
  int clockSource() const { return clockSource_; }

  // "lossCarrier" or "2" -> 2; -1 when unknown.
  static int parseState(const std::string& text);
  static const char* stateName(int state);

 private:
  std::array<Trunk, kTrunks> trunks_{};
  std::array<int, kTrunks> failing_{};
  uint32_t tclk_ = 0;
  int clockSource_ = -1;
};

}  // namespace Sim
