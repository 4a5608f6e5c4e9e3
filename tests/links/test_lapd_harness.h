#pragma once
// Shared helpers of the link tests: frames as hex text, a transmit channel
// that records frames, a protocol stack owner that records what a link
// reports upward, a loop clock that only moves when the test moves it, the
// SS7 signal units, and tshark as an independent dissector.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "control/protocol.h"
#include "hardware/hdlc.h"
#include "runtime/loop/dpc.h"
#include "runtime/loop/multiplexer.h"
#include "runtime/loop/timer.h"
#include "runtime/os/clock.h"
#include "runtime/packet/packet.h"
#include "runtime/test_loop_support.h"

namespace LapdTest {

typedef std::vector<uint8_t> Bytes;

// Bytes from hex text: "FC FF 03 0F".
inline Bytes H(const char* text) {
  Bytes b;
  for (char* end = nullptr;; text = end) {
    unsigned long v = std::strtoul(text, &end, 16);
    if (end == text) return b;
    b.push_back(static_cast<uint8_t>(v));
  }
}

inline Bytes cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

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
// `accept` frames are taken before it refuses (negative: no limit).
class Channel : public GenericHDLC {
 public:
  bool hdlc_transmit(Packet& p) override {
    if (accept == 0) return false;
    if (accept > 0) --accept;
    sent.push_back(bytes(p));
    return true;
  }
  bool is_open() const override { return true; }
  bool is_ready() const override { return accept != 0; }
  Bytes pop() {
    if (sent.empty()) {
      ADD_FAILURE() << "no frame sent";
      return {};
    }
    Bytes b = sent.front();
    sent.pop_front();
    return b;
  }
  std::vector<Bytes> frames() const { return std::vector<Bytes>(sent.begin(), sent.end()); }
  int accept = -1;
  std::deque<Bytes> sent;
};

// Owner of one link: records activation, release, statuses and messages.
class Owner : public ProtocolsFamily {
 public:
  void on_activated(Protocol*) override { ++activated; }
  void on_deactivated(Protocol*, ProtocolStatus s) override {
    ++deactivated;
    releases.push_back(s->message());
  }
  void on_message(Packet& p) override { up.push_back(bytes(p)); if (onUp) onUp(); }
  void on_status(ProtocolStatus s) override { statuses.push_back(s->message()); }
  void transmit(Packet& p) override { down.push_back(bytes(p)); }
  bool hasStatus(const std::string& s) const { return std::count(statuses.begin(), statuses.end(), s) > 0; }

  int activated = 0;
  int deactivated = 0;
  std::vector<std::string> releases;
  std::vector<std::string> statuses;
  std::vector<Bytes> up;
  std::deque<Bytes> down;
  std::function<void()> onUp;  // runs as each message goes up
};

// Holds the loop's clock still while alive: timers fire only when elapse()
// moves it, however slowly the machine runs.
class FrozenClock {
 public:
  FrozenClock() { Mux::mux_settimeofday(); }
  ~FrozenClock() { Mux::mux_cleartimeofday(); }
};

// Moves the loop's clock forward and lets every timer that became due fire,
// in one pass of the loop.
inline void elapse(unsigned ms) {
  Mux::advanceClock(ms);
  runOnePass();
}

// SS7 signal units: an LSSU with its status field, the FISU right after a
// reset, and a unit from its header fields and body (the LI is the body's
// length capped at 63 unless given).
inline Bytes lssu(std::uint8_t sf) { return Bytes{0xFF, 0xFF, 0x01, sf}; }
const Bytes kFisu0{0xFF, 0xFF, 0x00};
inline Bytes su(unsigned bsn, bool bib, unsigned fsn, bool fib, const Bytes& body = {}, int li = -1) {
  Bytes b{static_cast<std::uint8_t>(bsn | (bib ? 0x80 : 0)), static_cast<std::uint8_t>(fsn | (fib ? 0x80 : 0)),
          static_cast<std::uint8_t>(li >= 0 ? li : body.size() > 63 ? 63 : body.size())};
  return cat(b, body);
}
inline Bytes payload(unsigned n, std::uint8_t seed = 0) {
  Bytes b(n);
  for (unsigned i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i);
  return b;
}

// Dissects frames with tshark (a capture of the given link type made by
// text2pcap): one line per frame, the fields separated by '|'. The tools are
// part of the test dependencies: their absence fails the test.
inline std::vector<std::string> dissect(const std::vector<Bytes>& frames, int linktype, const std::string& fields) {
  if (std::system("command -v tshark >/dev/null 2>&1 && command -v text2pcap >/dev/null 2>&1") != 0) {
    ADD_FAILURE() << "tshark or text2pcap missing (scripts/deps.sh installs them)";
    return {};
  }
  char tmpl[] = "/tmp/tsd-links-XXXXXX";
  const char* dir = ::mkdtemp(tmpl);
  if (!dir) return {};
  std::string d = dir;
  {
    std::ofstream txt(d + "/frames.txt");
    for (const Bytes& f : frames) txt << "0000 " << hex(f) << "\n\n";
  }
  std::string cmd = "text2pcap -q -l " + std::to_string(linktype) + " " + d + "/frames.txt " + d +
                    "/frames.pcap >/dev/null 2>&1 && tshark -r " + d + "/frames.pcap -T fields -E separator='|' " +
                    fields + " 2>/dev/null; rm -rf '" + d + "'";
  std::vector<std::string> rows;
  if (FILE* f = ::popen(cmd.c_str(), "r")) {
    char buf[512];
    while (std::fgets(buf, sizeof buf, f)) rows.push_back(std::string(buf, std::strcspn(buf, "\n")));
    ::pclose(f);
  }
  return rows;
}

}  // namespace LapdTest
