#pragma once
// Requests and parameter blocks of the board's RTP-extension driver
// ("/dev/rtp_ext") and the RTP driver's attach request. Blocks travel in the
// board's big-endian order; addresses are kept as in in_addr.s_addr
// (network order in memory) and copied byte for byte.
#include <cstdint>
#include <cstring>

#include "hardware/devices.h"  // the init and attach blocks

namespace RtpExtReq {
constexpr uint32_t Init = 0xc0024500;         // rtp_ext_init_params
constexpr uint32_t Attach = 0xc0084501;       // rtp_ext_attach_session_params
constexpr uint32_t Detach = 0x20004502;       // no data
constexpr uint32_t RecvInfo = 0xc00c4503;     // rtp_ext_recv_info
constexpr uint32_t SetFilter = 0xc0084504;    // rtp_ext_filter
constexpr uint32_t ResetFilter = 0x20004505;  // no data
// On "/dev/rtp": attach this descriptor to another process's session.
constexpr uint32_t RtpAttachSession = 0xc0085209;  // rtp_attach_session_params
}  // namespace RtpExtReq

namespace rtpext_detail {
inline void put32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
}
inline uint32_t get32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
}  // namespace rtpext_detail

// Sender of the packet about to be read.
struct rtp_ext_recv_info {
  static constexpr std::size_t kSize = 12;
  uint32_t ssrc = 0;
  uint32_t addr = 0;  // network order
  uint32_t unused = 0;
  void encode(uint8_t* p) const {
    rtpext_detail::put32(p, ssrc);
    std::memcpy(p + 4, &addr, 4);
    rtpext_detail::put32(p + 8, unused);
  }
  void decode(const uint8_t* p) {
    ssrc = rtpext_detail::get32(p);
    std::memcpy(&addr, p + 4, 4);
    unused = rtpext_detail::get32(p + 8);
  }
};

// Only packets of this sender pass (the second word is always 0).
struct rtp_ext_filter {
  static constexpr std::size_t kSize = 8;
  uint32_t addr = 0;  // network order
  uint32_t zero = 0;
  void encode(uint8_t* p) const {
    std::memcpy(p, &addr, 4);
    rtpext_detail::put32(p + 4, zero);
  }
  void decode(const uint8_t* p) {
    std::memcpy(&addr, p, 4);
    zero = rtpext_detail::get32(p + 4);
  }
};
