// fuzz-links: links hardware control messages asn1 runtime
// fuzz-max-len: 1024
// The SS7 level 2 link on arbitrary signal units from the wire, mixed with
// MSUs from above, channel refusals and local requests chosen by the input.
// Nothing may crash or overrun a packet buffer, the buffers keep their
// bounds, and every packet taken from the pool is given back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>

#include "links/mtp2.h"
#include "runtime/packet/packet.h"

namespace {

class Channel : public HDLC {
 public:
  bool hdlc_transmit(Packet& p) override {
    if (p.length() < 3) std::abort();  // every unit carries its header
    return accept;
  }
  bool is_open() const override { return true; }
  bool is_ready() const override { return accept; }
  bool accept = true;
};

class Owner : public ProtocolsFamily {
 public:
  void on_message(Packet& p) override {
    if (p.length() < 3) std::abort();  // only MSUs go up
  }
  void on_activated(Protocol*) override {}
  void on_deactivated(Protocol*, ProtocolStatus) override {}
};

Packet make(const uint8_t* b, size_t n, unsigned head) {
  Packet p;
  p.reserve_head(head);
  if (n) std::memcpy(p.put(static_cast<unsigned int>(n)), b, n);
  return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Log lines go nowhere: a stream without a buffer drops what it is given.
  static bool quiet = [] {
    std::clog.rdbuf(nullptr);
    std::cerr.rdbuf(nullptr);
    return true;
  }();
  (void)quiet;
  if (size == 0) return 0;

  const unsigned free_before = PacketPool::free_count();
  {
    Channel chan;
    Owner owner;
    SS7::SLC* slc = new SS7::SLC;
    owner.add_protocol_tail(slc);
    uint8_t flags = data[0];
    if (!(flags & 0x80)) slc->hdlc(&chan);
    slc->set_emergency(flags & 1);
    slc->trace.state = slc->trace.raw_receive = slc->trace.raw_transmit = (flags & 2) != 0;
    slc->trace.mtp_transmit = slc->trace.mtp_receive = slc->trace.msu_processing = (flags & 2) != 0;
    if (flags & 4) slc->activate();
    if (flags & 8) {  // straight into service
      static const uint8_t sin[] = {0xFF, 0xFF, 0x01, 0x01};
      static const uint8_t fisu[] = {0xFF, 0xFF, 0x00};
      Packet a = make(sin, sizeof sin, 0);
      slc->on_hdlc_receive(a);
      Packet b = make(fisu, sizeof fisu, 0);
      slc->on_hdlc_receive(b);
    }

    size_t i = 1;
    while (i < size) {
      uint8_t op = data[i++];
      size_t n = 0;
      switch (op & 7) {
        case 0:
        case 1:
        case 2:  // a unit from the wire
          n = op >> 3;
          if (op & 4) n += 60;
          if (n > size - i) n = size - i;
          {
            Packet p = make(data + i, n, op & 1 ? 0 : 16);
            slc->on_hdlc_receive(p);
          }
          i += n;
          break;
        case 3:  // an MSU from above, possibly without head room
          n = op >> 3;
          if (n > size - i) n = size - i;
          {
            Packet p = make(data + i, n, (op & 0x80) ? 3 : 0);
            slc->message(p);
          }
          i += n;
          break;
        case 4:  // the same MSU many times
          for (unsigned k = 0; k < (op >> 3) * 8u; ++k) {
            static const uint8_t msu[] = {0x83, 0x01, 0x02, 0x03};
            Packet p = make(msu, sizeof msu, 3);
            slc->message(p);
          }
          break;
        case 5:
          chan.accept = !chan.accept;
          if (chan.accept) slc->on_hdlc_ready();
          break;
        case 6:
          if (op & 8)
            slc->deactivate();
          else if (op & 16)
            slc->OnTrunkHardStatus(false);
          else
            slc->activate();
          break;
        case 7:
          slc->on_hdlc_error(HDLC::Notify::Cause::ReadError);
          (void)slc->statistics();
          break;
      }
      if (slc->rtb_count() > SS7::SLC::kRtbLimit) std::abort();
      if (slc->tb_count() > 327) std::abort();
    }
  }
  if (PacketPool::free_count() != free_before) std::abort();
  return 0;
}
