#pragma once
// Simulated "/dev/mcc/ctl": the multichannel HDLC controller. Each open may
// allocate one controller channel; the channel's number is both a source of
// the TDM fabric (what the daemon writes leaves there, one frame per write)
// and an output (frames reaching it are read by the daemon, one per read).
#include <map>
#include <memory>

#include "hardware/sim/sim.h"

namespace Sim {

class MccDevice : public Device {
 public:
  // Controller channels are numbered from here unless a test asks otherwise.
  static constexpr int kFirstChannel = 1024;
  static constexpr long kMaxChannel = 65535;  // the highest a test may ask for

  MccDevice();
  ~MccDevice() override;

  int onIoctl(Session& s, Request& r) override;
  void onWrite(Session& s, const Bytes& frame) override;
  void onClose(Session& s) override;
  bool command(const std::string& verb, std::istream& args, std::ostream& out) override;
  void help(std::ostream& out) const override;
  void reset() override;

  // The next channel allocated gets this number (when free).
  void setNextChannel(int ch) { next_ = ch; }
  // The session holding a controller channel, or nullptr.
  Session* channel(int ch) { return board->sessionByChannel(path(), ch); }

 private:
  class Receiver;
  int allocate();
  int next_ = -1;
  std::map<int, std::unique_ptr<Receiver>> receivers_;  // by channel
};

}  // namespace Sim
