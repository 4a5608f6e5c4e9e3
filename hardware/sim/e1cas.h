#pragma once
// Simulated "/dev/e1-cas": the CAS signalling of the four E1 trunks. It keeps
// which trunks and timeslots are open and each timeslot's received and
// transmitted bits, answers the daemon's requests, and reports received-bit
// changes that a test or the control socket injects ("cas 2 7 0x0d 0x05")
// as 12-byte records on every open descriptor.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "hardware/sim/sim.h"

namespace Sim {

class E1CasDevice : public Device {
 public:
  static constexpr int kTrunks = 4;
  static constexpr int kTimeslots = 32;
  // What a timeslot receives until something else is injected (a, b, c, d
  // = 1, 0, 0, 1: an idle line).
  static constexpr uint8_t kIdleRx = 0x09;

  struct Slot {
    bool open = false;
    uint8_t rx = kIdleRx;
    uint8_t tx = 0;
  };

  E1CasDevice() : Device("/dev/e1-cas") {}

  int onIoctl(Session& s, Request& r) override;
  bool command(const std::string& verb, std::istream& args, std::ostream& out) override;
  void help(std::ostream& out) const override;
  void reset() override;

  bool trunkOpen(int trunk) const { return openTrunks_.count(trunk) != 0; }
  Slot slot(int trunk, int timeslot) const;
  // The far end changes a timeslot's received bits (tx < 0 keeps the
  // transmitted ones); the change is reported to every open descriptor.
  // Returns how many descriptors took the record.
  int inject(int trunk, int timeslot, int rx, int tx = -1);
  // Hands raw bytes to every open descriptor as one record.
  int deliverRaw(const Bytes& record);

 private:
  static bool valid(int trunk, int timeslot) {
    return trunk >= 0 && trunk < kTrunks && timeslot >= 0 && timeslot < kTimeslots;
  }
  std::set<int> openTrunks_;
  std::map<std::pair<int, int>, Slot> slots_;
};

}  // namespace Sim
