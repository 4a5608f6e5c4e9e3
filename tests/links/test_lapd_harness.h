#pragma once
// Shared helpers of the LAPD tests: a transmit channel that records frames,
// a protocol stack owner that records what a link reports upward, and a
// way to let the loop's timers fire without waiting.
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <string>
#include <vector>

#include "control/protocol.h"
#include "hardware/hdlc.h"
#include "runtime/loop/multiplexer.h"
#include "runtime/loop/timer.h"
#include "runtime/os/clock.h"
#include "runtime/packet/packet.h"

namespace LapdTest {

typedef std::vector<uint8_t> Bytes;

inline Packet packet(const Bytes& b) {
  Packet p;
  p.reserve_head(b.size() + 8 <= packet_max_size ? 8 : 0);
  for (uint8_t x : b) p.put8(x);
  return p;
}

inline Bytes bytes(const Packet& p) { return Bytes(p.data(), p.data() + p.length()); }

inline std::string hex(const Bytes& b) {
  static const char* d = "0123456789ABCDEF";
  std::string s;
  for (uint8_t x : b) {
    if (!s.empty()) s += ' ';
    s += d[x >> 4];
    s += d[x & 15];
  }
  return s;
}

// The link's HDLC channel: keeps every frame handed to it.
class Channel : public GenericHDLC {
 public:
  bool hdlc_transmit(Packet& p) override {
    if (refuse) return false;
    sent.push_back(bytes(p));
    return true;
  }
  bool is_open() const override { return true; }
  bool is_ready() const override { return !refuse; }
  Bytes pop() {
    Bytes b = sent.front();
    sent.pop_front();
    return b;
  }
  bool refuse = false;
  std::deque<Bytes> sent;
};

// Owner of one link: records activation, release, statuses and messages.
class Owner : public ProtocolsFamily {
 public:
  void on_activated(Protocol*) override { ++activated; }
  void on_deactivated(Protocol*, ProtocolStatus s) override {
    ++deactivated;
    releases.push_back(s->message());
    lastSuccess = s->success();
  }
  void on_message(Packet& p) override { up.push_back(bytes(p)); }
  void on_status(ProtocolStatus s) override { statuses.push_back(s->message()); }
  void transmit(Packet& p) override { down.push_back(bytes(p)); }

  bool hasStatus(const std::string& s) const {
    for (auto& x : statuses)
      if (x == s) return true;
    return false;
  }

  int activated = 0;
  int deactivated = 0;
  bool lastSuccess = false;
  std::vector<std::string> releases;
  std::vector<std::string> statuses;
  std::vector<Bytes> up;
  std::deque<Bytes> down;
};

// Moves the loop's clock forward and lets every timer that became due fire.
inline void elapse(unsigned ms) {
  struct Stop {
    void fire() { multiplexer.terminate(); }
  } stop;
  Mux::advanceClock(ms);
  Timer t;
  t.set(1, &Stop::fire, &stop);
  multiplexer.run(false, true);
}

}  // namespace LapdTest
