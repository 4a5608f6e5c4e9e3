#pragma once
// Simulated RTP offload driver ("/dev/rtp") and voice driver ("/dev/voice").
//
// "/dev/rtp": every open is one driver session. A session is begun with its
// 36-byte parameter block, then given a TDM channel from the driver's pool
// (the one asked for, or the lowest free one); the argument-less requests
// switch its input and take it down. A channel stays taken until the
// session frees it or every copy of its descriptor is closed. A packet
// from the peer is a record delivered on the session, which makes the
// descriptor readable.
//
// "/dev/voice": answers the capacity request with the channel count set
// for each codec selector.
#include <cstdint>
#include <map>
#include <vector>

#include "hardware/devices.h"
#include "hardware/sim/sim.h"

namespace Sim {

class RtpDevice : public Device {
 public:
  static constexpr int kFirstChannel = 256;
  static constexpr int kChannels = 64;

  struct Stream {
    int session = 0;        // the simulator's session id
    int driverFd = -1;      // the simulator's end: tells whether the daemon still holds it
    bool begun = false;
    unsigned begins = 0;    // begin-session requests on this session
    rtp_connection_params params;
    int channel = -1;       // -1 until a channel was added (or after it was freed)
    bool input = false;     // between input on and input off
    std::vector<uint32_t> requests;  // the argument-less requests, in order
  };

  RtpDevice();

  int onOpen(Session& s) override;
  void onClose(Session& s) override;
  int onIoctl(Session& s, Request& r) override;
  bool command(const std::string& verb, std::istream& args, std::ostream& out) override;
  void help(std::ostream& out) const override;
  void reset() override;

  // The session holding the channel (null when none does).
  const Stream* byChannel(int channel) const;
  // Every session that is still open, in opening order.
  std::vector<Stream> streams() const;
  // A packet from the peer reaches the channel's session; false when no
  // session holds the channel.
  bool packet(int channel);

 private:
  bool holds(const Stream& s) const;  // the channel is taken by a live session
  int pickChannel(int wanted, int self) const;

  std::map<int, Stream> streams_;  // by session id
};

class VoiceDevice : public Device {
 public:
  VoiceDevice();

  int onIoctl(Session& s, Request& r) override;
  bool command(const std::string& verb, std::istream& args, std::ostream& out) override;
  void help(std::ostream& out) const override;
  void reset() override;

  // Channel count reported for a selector (1 G.711, 2 G.723, 4 G.729,
  // 8 G.711mcc); 0 or less makes the request report that.
  void setCapacity(uint32_t selector, int channels) { caps_[selector] = channels; }

 private:
  std::map<uint32_t, int> caps_;
};

}  // namespace Sim
