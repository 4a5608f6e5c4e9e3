#pragma once
// Simulated "/dev/dtmf": per timeslot a DTMF detector (configuration,
// enable with its id), a tone generator, an echo canceller and DTMF
// rejection. Every generator setting is kept with the loop-clock time it
// was made at, so a test can read the tone/silence cadence and render it to
// audio. Detector events (digits, CED and CNG tones) are injected to the
// daemon as the driver's 16-byte records.
#include <cstdint>
#include <deque>
#include <map>
#include <vector>

#include "hardware/sim/sim.h"

namespace Sim {

class DtmfDevice : public Device {
 public:
  // Tone codes of the fax tones as the detector reports them.
  static constexpr uint32_t kCodeCED = 17;
  static constexpr uint32_t kCodeCNG = 18;
  static constexpr std::size_t kKeptSettings = 4096;

  struct Timeslot {
    bool configured = false;
    uint32_t twist = 0, ratio = 0, silence = 0, noise = 0;
    bool detecting = false;
    uint32_t id = 0;  // id of the last enable
    bool lms = false;
    bool reject = false;
    uint16_t freq1 = 0, freq2 = 0, amp1 = 0, amp2 = 0;  // generator setting
  };
  // One generator setting and when it was made (loop clock, ms).
  struct Setting {
    unsigned ms = 0;
    unsigned timeslot = 0;
    uint16_t freq1 = 0, freq2 = 0, amp1 = 0, amp2 = 0;
    bool isOff() const { return freq1 == 0 && freq2 == 0 && amp1 == 0 && amp2 == 0; }
    bool isSilence() const { return amp1 == 0 && amp2 == 0; }
  };

  DtmfDevice();

  int onIoctl(Session& s, Request& r) override;
  bool command(const std::string& verb, std::istream& args, std::ostream& out) override;
  void help(std::ostream& out) const override;
  void reset() override;

  const Timeslot* timeslot(unsigned ts) const;
  // The generator settings of one timeslot in order.
  std::vector<Setting> settings(unsigned ts) const;
  void clearSettings() { settings_.clear(); }
  // Sends a detector event to every open descriptor of the device; returns
  // how many took it. Without an id the timeslot's current one is used.
  int inject(uint32_t timeslot, uint32_t code, uint32_t id, uint32_t timestamp);
  int inject(uint32_t timeslot, uint32_t code);

  // The timeslot's generator output as 16-bit samples at `rate` Hz, from
  // its first setting to `tailMs` after its last: each setting holds until
  // the next; a tone is the sum of its two sines, full scale at amplitude
  // 32768 each, halved.
  std::vector<int16_t> render(unsigned ts, unsigned rate, unsigned tailMs = 100) const;

 private:
  std::map<unsigned, Timeslot> slots_;
  std::deque<Setting> settings_;  // the most recent kKeptSettings
};

}  // namespace Sim
