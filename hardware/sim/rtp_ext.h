#pragma once
// Simulated RTP-extension driver ("/dev/rtp_ext"). Every open is one
// extension session: initialised with its extension type, attached to an
// RTP session (descriptor number and process), detached, and given a sender
// filter. Radio packets for the daemon are injected with their sender
// (address and synchronisation source): each becomes one record on the
// session, and the receive-information request reports the sender of the
// oldest record not yet announced. The packets the daemon writes are kept.
#include <cstdint>
#include <deque>
#include <map>
#include <vector>

#include "hardware/sim/sim.h"

namespace Sim {

class RtpExtDevice : public Device {
 public:
  static constexpr std::size_t kKeptPackets = 4096;

  struct Ext {
    int session = 0;
    bool inited = false;
    uint16_t etype = 0;
    bool attached = false;
    int32_t fd_rtp = -1, pid_rtp = -1;
    unsigned attaches = 0, detaches = 0;
    bool filtered = false;
    uint32_t filter_addr = 0;  // network order
    unsigned filterSets = 0, filterResets = 0;
    std::deque<Bytes> written;  // packets the daemon wrote, in order (the most recent kKeptPackets)
    struct Sender {
      uint32_t addr;  // network order
      uint32_t ssrc;
    };
    std::deque<Sender> senders;  // senders of delivered records not yet announced
  };

  RtpExtDevice();

  int onOpen(Session& s) override;
  void onClose(Session& s) override;
  int onIoctl(Session& s, Request& r) override;
  void onWrite(Session& s, const Bytes& record) override;
  bool command(const std::string& verb, std::istream& args, std::ostream& out) override;
  void help(std::ostream& out) const override;
  void reset() override;

  // Live sessions in opening order.
  std::vector<const Ext*> sessions() const;
  // A packet from `addr` (dotted, or network-order number) with `ssrc`
  // reaches the n-th live session; false when there is none.
  bool inject(std::size_t n, const Bytes& packet, uint32_t addr, uint32_t ssrc);

 private:
  Ext* nth(std::size_t n);
  std::map<int, Ext> exts_;  // by session id
};

}  // namespace Sim
