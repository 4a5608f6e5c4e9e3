// fuzz-links: control
// The controller's receive path on arbitrary bytes: the stream is cut into
// chunks (sizes taken from the input), reassembled by the TPKT layer and
// each payload handed to the control server, which decodes and dispatches
// it to the heartbeat service. Nothing may crash, leak or overrun a packet
// buffer, and every packet taken from the pool is given back.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <sstream>

#include "control/ctrl_server.h"
#include "control/heartbeat.h"
#include "control/tpkt_protocol.h"
#include "runtime/packet/packet.h"

namespace {

class Wire : public Protocol {
 public:
  void feed(const uint8_t* b, size_t n) {
    Packet p;
    p.reserve_head(0);
    if (n) std::memcpy(p.put(static_cast<unsigned int>(n)), b, n);
    on_message(p);
  }
};

class Stack : public ProtocolsFamily {
 public:
  explicit Stack(CtrlSrv::Server& s) : server(s) {
    wire = static_cast<Wire*>(add_protocol_tail(new Wire));
    add_protocol_tail(new Tpkt_protocol);
  }
  void on_message(Packet& p) override {
    server.OnMessage(reinterpret_cast<const char*>(p.null() ? nullptr : p.data()), static_cast<int>(p.length()));
  }
  CtrlSrv::Server& server;
  Wire* wire;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Log lines go nowhere: a stream without a buffer drops what it is given.
  static bool quiet = [] {
    std::clog.rdbuf(nullptr);
    std::cerr.rdbuf(nullptr);
    return true;
  }();
  (void)quiet;
  static CtrlSrv::Server server;
  static bool bound = [] {
    server.Bind(&HeartBeatCtl::instance());
    return true;
  }();
  (void)bound;

  unsigned int free_before = PacketPool::free_count();
  {
    Stack stack(server);
    size_t pos = 0;
    while (pos < size) {
      size_t chunk = 1 + (data[pos] % 64) * 64;  // 1 .. 4033 bytes
      ++pos;
      if (chunk > size - pos) chunk = size - pos;
      stack.wire->feed(data + pos, chunk);
      pos += chunk;
    }
  }
  if (PacketPool::free_count() != free_before) __builtin_trap();
  return 0;
}
