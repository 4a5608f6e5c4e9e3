// fuzz-links: links hardware control messages asn1 runtime
// fuzz-max-len: 2048
// Frames from the line are untrusted: the frame renderer and the receive
// paths of the user-side, network-side and BRI network-side links must
// handle any octets. Input: one selector octet, then frames each preceded
// by a length octet.
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <vector>

#include "control/protocol.h"
#include "hardware/hdlc.h"
#include "links/lapd.h"
#include "links/lapd_nt.h"
#include "links/q931_print.h"

namespace {

class Sink : public GenericHDLC {
 public:
  bool hdlc_transmit(Packet&) override { return ok = !ok; }  // alternately refuse
  bool is_open() const override { return true; }
  bool is_ready() const override { return true; }
  bool ok = false;
};

class Owner : public ProtocolsFamily {
 public:
  void on_message(Packet&) override {}
  void on_status(ProtocolStatus) override {}
  void transmit(Packet&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool quiet = [] {
    std::clog.rdbuf(nullptr);
    std::cout.rdbuf(nullptr);
    std::cerr.rdbuf(nullptr);
    return true;
  }();
  (void)quiet;
  if (size == 0) return 0;

  // The renderer over the whole input, into a small and a full buffer.
  std::vector<unsigned char> whole(data + 1, data + size);
  char small[40];
  ISDN::dlogframe(whole.data(), unsigned(whole.size()), data[0] & 1, small, sizeof small);
  ISDN::dlogframe(whole.data(), unsigned(whole.size()), data[0] & 1, ISDN::logbuf);

  uint8_t sel = data[0];
  Sink sink;
  Owner userOwner, netOwner, ntOwner;
  auto* user = new ISDN::LAPD(ISDN::Side::user, sel & 0x06 ? 3 : 0);
  auto* net = new ISDN::LAPD(ISDN::Side::network, 0);
  auto* nt = new ISDN::LAPD_NT;
  nt->set_log(sel & 0x08 ? 2 : 0);
  userOwner.add_protocol_tail(user);
  netOwner.add_protocol_tail(net);
  ntOwner.add_protocol_tail(nt);
  user->hdlc(&sink);
  net->hdlc(&sink);
  if (sel & 0x10) user->change_to_bri();
  if (sel & 0x20) {
    user->activate();
    net->activate();
    nt->activate();
  }
  size_t pos = 1;
  while (pos < size) {
    size_t len = data[pos++];
    if (len > size - pos) len = size - pos;
    Packet p;
    p.reserve_head(8);
    for (size_t i = 0; i < len; ++i) p.put8(data[pos + i]);
    pos += len;
    Packet a = p, b = p, c = p;
    user->receive(a);
    net->receive(b);
    nt->receive(c);
    if (sel & 0x40) {
      Packet m = p;
      user->message(m);
      nt->message(m);
    }
  }
  return 0;
}
