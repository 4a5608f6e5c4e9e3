#pragma once
// Shared helpers of the radio-link tests: bytes as hex text, frames from
// their fields, an open channel, records, dumps, direct converter calls and
// packets.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "radiolink/proto_asn.h"
#include "radiolink/proto_vork.h"

using Bytes = std::vector<unsigned char>;

// Bytes from hex text: "FC FF 03 0F".
inline Bytes H(const char* text) {
  Bytes b;
  for (char* end = nullptr;; text = end) {
    unsigned long v = std::strtoul(text, &end, 16);
    if (end == text) return b;
    b.push_back(static_cast<unsigned char>(v));
  }
}

// The bytes as hex text; a byte shown "??" in `like` (a pad byte, whose value
// does not matter) is shown "??" too.
inline std::string Hex(const Bytes& b, const std::string& like = "") {
  static const char* d = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < b.size(); ++i) {
    if (i) s += ' ';
    bool any = like.size() >= 3 * i + 2 && like.compare(3 * i, 2, "??") == 0;
    s += any ? '?' : d[b[i] >> 4];
    s += any ? '?' : d[b[i] & 15];
  }
  return s;
}
#define EXPECT_HEX(bytes, text) EXPECT_EQ(Hex(bytes, text), text)

// A complete frame from its fields, the checksum computed over it.
inline Bytes MakeFrame(uint16_t id, uint32_t seq, uint16_t flags, uint8_t src, uint8_t dst, const Bytes& payload) {
  uint16_t words = static_cast<uint16_t>(payload.size() / 2);
  Bytes f = {0x2D, 0xAB, 0xE5, 0xE4, uint8_t(words), uint8_t(words >> 8), uint8_t(seq), uint8_t(seq >> 8),
             uint8_t(seq >> 16), uint8_t(seq >> 24), uint8_t(id), uint8_t(id >> 8), uint8_t(flags), uint8_t(flags >> 8),
             src, dst};
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
  // The one record a frame gives.
  s_data_cmd One(const Bytes& frame) {
    Feed(frame);
    std::vector<s_data_cmd> got = Received();
    EXPECT_EQ(got.size(), 1u);
    return got.empty() ? s_data_cmd{} : got[0];
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

inline s_data_cmd Record(uint16_t id, uint8_t protocol = 0, uint8_t mode = 0, uint8_t dst = 0) {
  s_data_cmd r;
  std::memset(&r, 0, sizeof r);
  r.msgID = id;
  r.stateProtocol = protocol;
  r.stateMode = mode;
  r.dstAddr = dst;
  return r;
}

// The text dump of a record (flags as sprintf_data_cmd takes them).
inline std::string Dump(s_data_cmd r, int flags = 0) {
  static char buf[16384];
  sprintf_data_cmd(buf, sizeof buf, &r, flags);
  return buf;
}
// The part of a dump after its header lines.
inline std::string Body(s_data_cmd r) {
  std::string d = Dump(r);
  size_t at = d.find("dstChannel   : ");
  return at == std::string::npos ? d : d.substr(d.find('\n', at) + 1);
}
// Numbers side by side, to check several fields in one comparison.
template <class... T>
std::vector<double> V(T... v) {
  return {static_cast<double>(v)...};
}
inline bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Flags word of a frame: protocol version (0 = v1, 1 = v2) and mode.
inline uint16_t Flags(int protocol, int mode = 0) { return static_cast<uint16_t>((protocol << 12) | (mode << 8)); }

// The payload of a frame.
inline Bytes PayloadOf(const Bytes& frame) {
  return frame.size() < PROTO_FRAME_OVERHEAD ? Bytes() : Bytes(frame.begin() + PROTO_FRAME_HEADER, frame.end() - 2);
}
// The payload of the one frame that sending the record makes, and its status.
inline Bytes PayloadOf(int chan_mode, const s_data_cmd& r, int* status = nullptr) {
  Channel ch(chan_mode);
  Bytes f = ch.Send({r});
  std::vector<s_data_cmd> w = ch.Written();
  if (status) *status = w.empty() ? 1 : w[0].cmdStatus;
  return PayloadOf(f);
}

// The record a channel of the given mode decodes from one frame; the
// destination by default is the channel's own (a mask in v1, a number in v2).
inline s_data_cmd Receive(int chan_mode, uint16_t id, uint16_t flags, const Bytes& payload, int dst = -1) {
  static const uint8_t v1[] = {PROTO_ADDR_LGW, PROTO_ADDR_ALI, PROTO_ADDR_DLI};
  static const uint8_t v2[] = {0, 3, 2};
  if (dst < 0) dst = get_protocol_version(flags) == 1 ? v2[chan_mode] : v1[chan_mode];
  Channel ch(chan_mode);
  return ch.One(MakeFrame(id, 0, flags, 0x02, static_cast<uint8_t>(dst), payload));
}

// One payload both ways: the record the receiving end (`to`) decodes from
// it is sent by the sending end (`from`) as the same bytes ("??" marks a pad
// byte, sent with any value). The decoded record.
inline s_data_cmd RoundTrip(int from, int to, uint16_t id, uint16_t flags, const std::string& hex) {
  std::string zeroed = hex;
  for (size_t at; (at = zeroed.find("??")) != std::string::npos;) zeroed.replace(at, 2, "00");
  s_data_cmd r = Receive(to, id, flags, H(zeroed.c_str()));
  EXPECT_EQ(r.cmdStatus, 0) << hex;
  EXPECT_EQ(Hex(PayloadOf(from, r), hex), hex);
  return r;
}

// A converter called directly: receiving a payload into r (header fields
// from protocol and mode; a byte past the payload is never read) ...
inline int Recv(proto_convert_fn fn, const Bytes& payload, s_data_cmd* r, int protocol = 0, int mode = 0) {
  s_proto_transiver_event row{0, 1, 0, fn};
  unsigned short flags = Flags(protocol, mode);
  unsigned char src = 0x01, dst = protocol == 1 ? 0x00 : 0x01;
  Bytes copy = payload;
  copy.push_back(0xEE);
  return fn(&row, &flags, &src, &dst, copy.data(), static_cast<int>(payload.size()), r);
}
// ... and sending r into at most `size` bytes; out holds the bytes written.
inline int Trans(proto_convert_fn fn, s_data_cmd r, int size, Bytes* out = nullptr) {
  s_proto_transiver_event row{0, 1, 0, fn};
  unsigned short flags = 0;
  unsigned char src = 0, dst = 0;
  Bytes buf(static_cast<size_t>(size > 0 ? size : 0) + 1, 0xCC);
  int n = fn(&row, &flags, &src, &dst, buf.data(), size, &r);
  if (out) *out = n > 0 ? Bytes(buf.begin(), buf.begin() + n) : Bytes();
  return n;
}

inline VORKGW::ProtoVorkPacket Encode(const s_data_cmd& r) {
  VORKGW::ProtoVorkPacket p;
  EXPECT_TRUE(ProtoVorkEncodeASN(r, p));
  return p;
}

// A packet the gateway's user sends, with the given payload.
inline VORKGW::ProtoVorkPacket GwPacket(VORKGW::ProtoVorkMsgID::NamedNumber id, int protocol,
                                        const VORKGW::ProtoVorkPacketPayload& payload,
                                        VORKGW::ProtoVorkAddress::NamedNumber dst = VORKGW::ProtoVorkAddress::dli) {
  VORKGW::ProtoVorkPacket p;
  p.set_msgID(id);
  p.set_msgSeqNum(0);
  p.set_msgLength(0);
  p.set_stateProtocol().setFromInt(protocol);
  p.set_stateMode(VORKGW::ProtoVorkMode::radio);
  p.set_stateMaster(0);
  p.set_srcAddr(VORKGW::ProtoVorkAddress::lgw);
  p.set_srcChannel(0);
  p.set_dstAddr(dst);
  p.set_dstChannel(0);
  p.set_payload(payload);
  return p;
}

inline std::vector<int> Ints(const ASN1::SEQUENCE_OF<ASN1::INTEGER, ASN1::EmptyConstraint>& list) {
  std::vector<int> out;
  for (auto it = list.begin(); it != list.end(); ++it) out.push_back((*it).getValue());
  return out;
}
inline ASN1::SEQUENCE_OF<ASN1::INTEGER, ASN1::EmptyConstraint> IntList(int count, int first) {
  ASN1::SEQUENCE_OF<ASN1::INTEGER, ASN1::EmptyConstraint> list;
  for (int i = 0; i < count; ++i) list.push_back(ASN1::INTEGER(first + i, &ASN1::INTEGER::theInfo));
  return list;
}

// The payload of a set-configuration record carried to an interface as the
// gateway's packet: the record's header, msgID GW_SET_CONFIG and the given
// set-configuration value; decoded back into a record.
inline bool DecodeGatewayConfig(const s_data_cmd& header, const VORKGW::ProtoVorkPacketPayloadGWSetConfig& value,
                                s_data_cmd& out) {
  s_data_cmd h = header;
  h.msgID = GW_SET_CONFIG;
  h.stateProtocol = 0;  // the packet's address field keeps the interface only in version 1 form
  VORKGW::ProtoVorkPacket p;
  ProtoVorkEncodeASN(h, p);
  p.set_stateProtocol().setFromInt(header.stateProtocol);
  p.set_payload().select_gw_set_config(value);
  std::memset(&out, 0, sizeof out);
  return ProtoVorkDecodeASN(p, out);
}

// The record goes up as an interface's packet (msgID id); `pick` moves the
// packet's set-configuration value into the gateway's one (false when the
// expected alternative is not selected). Decoded for destination dst into
// dec, the gateway's record must be sent by `trans` as `wire` again.
template <class Pick>
VORKGW::ProtoVorkPacket ThroughPacket(s_data_cmd r, uint16_t id, uint8_t dst, Pick pick, proto_convert_fn trans,
                                      const Bytes& wire, s_data_cmd& dec) {
  r.msgID = id;
  VORKGW::ProtoVorkPacket p = Encode(r);
  VORKGW::ProtoVorkPacketPayloadGWSetConfig g;
  EXPECT_TRUE(pick(p.get_payload(), g));
  r.dstAddr = dst;
  EXPECT_TRUE(DecodeGatewayConfig(r, g, dec));
  Bytes sent;
  EXPECT_EQ(Trans(trans, dec, 256, &sent), static_cast<int>(wire.size()));
  EXPECT_EQ(sent, wire);
  return p;
}
