#pragma once
// Frame building and channel helpers shared by the radio-link tests.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "radiolink/proto_vork.h"

using Bytes = std::vector<unsigned char>;

// A complete frame from its fields, the checksum computed over it.
inline Bytes MakeFrame(uint16_t id, uint32_t seq, uint16_t flags, uint8_t src, uint8_t dst, const Bytes& payload) {
  Bytes f = {0x2D, 0xAB, 0xE5, 0xE4};
  uint16_t words = static_cast<uint16_t>(payload.size() / 2);
  f.push_back(words & 0xFF);
  f.push_back(words >> 8);
  for (int i = 0; i < 4; ++i) f.push_back((seq >> (8 * i)) & 0xFF);
  f.push_back(id & 0xFF);
  f.push_back(id >> 8);
  f.push_back(flags & 0xFF);
  f.push_back(flags >> 8);
  f.push_back(src);
  f.push_back(dst);
  f.insert(f.end(), payload.begin(), payload.end());
  uint16_t crc = calc_crc16(f.data(), static_cast<int>(f.size()));
  f.push_back(crc & 0xFF);
  f.push_back(crc >> 8);
  return f;
}

// An open channel, closed at the end of the scope.
struct Channel {
  explicit Channel(int mode = PROTO_MODE_GATEWAY, int seq_mode = 2) {
    proto_chan_open(&c, seq_mode);
    c.mode = mode;
  }
  ~Channel() { proto_chan_close(&c); }
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  void Feed(const Bytes& b) { proto_chan_write_input(&c, b.data(), static_cast<int>(b.size())); }
  std::vector<s_data_cmd> Received() {
    std::vector<s_data_cmd> out;
    s_data_cmd r;
    while (proto_chan_read_output(&c, &r, 1) == 1) out.push_back(r);
    return out;
  }
  // Queues the records and returns all frame bytes they made.
  Bytes Send(const std::vector<s_data_cmd>& records) {
    proto_chan_write_output(&c, records.data(), static_cast<int>(records.size()));
    Bytes out(8192);
    int n = proto_chan_read_input(&c, out.data(), static_cast<int>(out.size()));
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
  }
  std::vector<s_data_cmd> Written() {
    std::vector<s_data_cmd> out;
    s_data_cmd r;
    while (proto_chan_read_written_output(&c, &r, 1) == 1) out.push_back(r);
    return out;
  }

  s_proto_ctrl c;
};

inline s_data_cmd Record(uint16_t id, uint8_t protocol = 0, uint8_t mode = 0) {
  s_data_cmd r;
  std::memset(&r, 0, sizeof r);
  r.msgID = id;
  r.stateProtocol = protocol;
  r.stateMode = mode;
  return r;
}

// The text dump of a record (flags as sprintf_data_cmd takes them).
inline std::string Dump(s_data_cmd r, int flags = 0) {
  static char buf[16384];
  sprintf_data_cmd(buf, sizeof buf, &r, flags);
  return buf;
}
