#pragma once
// Direct calls of the configuration converters with a record's header
// fields, shared by the configuration tests.
#include <string>

#include "radiolink/proto_asn.h"
#include "tests/radiolink/radiolink_frames.h"

using ConvertFn = int (*)(s_proto_transiver_event*, unsigned short*, unsigned char*, unsigned char*, unsigned char*,
                          int, s_data_cmd*);

inline unsigned short ConfigFlags(int protocol, int mode) {
  return static_cast<unsigned short>((mode << 8) | (protocol << 12));
}

// Receives a payload into r (header fields from protocol and mode); returns the status.
inline int RecvConfig(ConvertFn fn, const Bytes& payload, int protocol, int mode, s_data_cmd& r) {
  s_proto_transiver_event row = {0, 1, 0, fn};
  unsigned short flags = ConfigFlags(protocol, mode);
  unsigned char src = 0x01, dst = protocol == 1 ? 0x00 : 0x01;
  Bytes copy = payload;
  copy.push_back(0xEE);  // a byte past the payload that must never be read
  return fn(&row, &flags, &src, &dst, copy.data(), static_cast<int>(payload.size()), &r);
}

// Sends r into at most capacity bytes; the result is the converter's status
// and out holds the bytes written.
inline int TransConfig(ConvertFn fn, s_data_cmd& r, int capacity, Bytes& out) {
  s_proto_transiver_event row = {0, 1, 0, fn};
  unsigned short flags = 0;
  unsigned char src = 0, dst = 0;
  Bytes buf(static_cast<size_t>(capacity) + 1, 0xCC);
  int n = fn(&row, &flags, &src, &dst, buf.data(), capacity, &r);
  out.assign(buf.begin(), buf.begin() + (n > 0 ? n : 0));
  return n;
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
VORKGW::ProtoVorkPacket ThroughPacket(s_data_cmd r, uint16_t id, uint8_t dst, Pick pick, ConvertFn trans,
                                      const Bytes& wire, s_data_cmd& dec) {
  r.msgID = id;
  VORKGW::ProtoVorkPacket p;
  EXPECT_TRUE(ProtoVorkEncodeASN(r, p));
  VORKGW::ProtoVorkPacketPayloadGWSetConfig g;
  EXPECT_TRUE(pick(p.get_payload(), g));
  r.dstAddr = dst;
  EXPECT_TRUE(DecodeGatewayConfig(r, g, dec));
  Bytes sent;
  EXPECT_EQ(TransConfig(trans, dec, 256, sent), static_cast<int>(wire.size()));
  EXPECT_EQ(sent, wire);
  return p;
}

