#pragma once
// Simulated modem controller "/dev/mctl": a bank of DSP modems, each with
// its TDM timeslot. An open that allocates (0xBB0B) holds its modem until
// every copy of the descriptor is closed. The controller keeps per modem the
// digital data mode mask, the DSP parameters set since the last reset and
// the last call request (answer, originate, fax originate), so tests can see
// what the daemon programmed. Power-on: four modems, 0 to 3, on timeslots
// 96 to 99.
//
// The data devices "/dev/mdm%u" that the PPP daemon opens are the driver's
// business and are not simulated.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "hardware/sim/sim.h"

namespace Sim {

class ModemDevice : public Device {
 public:
  // The controller's plain 16-bit requests.
  static constexpr uint32_t kAnswer = 0xBB03;
  static constexpr uint32_t kOriginate = 0xBB04;
  static constexpr uint32_t kAllocate = 0xBB0B;
  static constexpr uint32_t kEnumerate = 0xBB0C;
  static constexpr uint32_t kTimeslot = 0xBB15;
  static constexpr uint32_t kSetDdm = 0xBB16;
  static constexpr uint32_t kSetParam = 0xBB38;
  static constexpr uint32_t kResetParams = 0xBB3A;
  static constexpr uint32_t kFaxOriginate = 0xBB40;

  struct Modem {
    int32_t timeslot = 0;
    int owner = 0;         // the session holding it, 0 when free
    int32_t ddm = -1;      // the mode mask last set, -1 for none
    std::vector<std::pair<int32_t, int32_t>> params;  // (offset, value) since the last reset
    uint32_t call = 0;     // the last call request, 0 for none
  };

  // Bounds of what the control socket may ask for.
  static constexpr long kMaxModems = 256;
  static constexpr long kMaxTimeslot = 65535;

  ModemDevice();

  int onIoctl(Session& s, Request& r) override;
  void onClose(Session& s) override;
  bool command(const std::string& verb, std::istream& args, std::ostream& out) override;
  void help(std::ostream& out) const override;
  void reset() override;

  // Replaces the bank with `count` modems on timeslots from `firstTimeslot`.
  void setModems(int count, int32_t firstTimeslot = 96);
  const std::map<int32_t, Modem>& modems() const { return modems_; }
  // The modems held by open descriptors.
  int allocated() const;

 private:
  Modem* held(Session& s);
  std::map<int32_t, Modem> modems_;
};

}  // namespace Sim
