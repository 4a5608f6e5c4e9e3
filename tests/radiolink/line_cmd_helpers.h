#pragma once
// Helpers of the GGS, DCON and RAD message tests: one record through a
// channel to its payload bytes and back, dumps and packet round trips.
#include <gtest/gtest.h>

#include <string>

#include "radiolink/proto_asn.h"
#include "tests/radiolink/radiolink_frames.h"

namespace line_cmd {

// Flags word of a frame: protocol version (0 = v1, 1 = v2) and mode.
inline uint16_t Flags(int protocol, int mode = 0) { return static_cast<uint16_t>((protocol << 12) | (mode << 8)); }

// The payload of the one frame that sending the record makes, and its status.
inline Bytes PayloadOf(int chan_mode, const s_data_cmd& r, int* status = nullptr) {
  Channel ch(chan_mode);
  Bytes f = ch.Send({r});
  std::vector<s_data_cmd> w = ch.Written();
  if (status) *status = w.empty() ? 1 : w[0].cmdStatus;
  if (f.size() < PROTO_FRAME_OVERHEAD) return {};
  return Bytes(f.begin() + PROTO_FRAME_HEADER, f.end() - 2);
}

// The destination byte of a channel's mode: a mask in v1, a number in v2.
inline uint8_t DstFor(int chan_mode, uint16_t flags) {
  static const uint8_t v1[] = {PROTO_ADDR_LGW, PROTO_ADDR_ALI, PROTO_ADDR_DLI};
  static const uint8_t v2[] = {0, 3, 2};
  return get_protocol_version(flags) == 1 ? v2[chan_mode] : v1[chan_mode];
}

// The record a channel of the given mode decodes from one frame.
inline s_data_cmd Receive(int chan_mode, uint16_t id, uint16_t flags, const Bytes& payload, int dst = -1) {
  if (dst < 0) dst = DstFor(chan_mode, flags);
  Channel ch(chan_mode);
  ch.Feed(MakeFrame(id, 0, flags, 0x02, static_cast<uint8_t>(dst), payload));
  std::vector<s_data_cmd> got = ch.Received();
  EXPECT_EQ(got.size(), 1u);
  return got.empty() ? Record(0) : got[0];
}

// The part of a dump after its header lines.
inline std::string Body(s_data_cmd r) {
  std::string d = Dump(r);
  size_t at = d.find("dstChannel   : ");
  return at == std::string::npos ? d : d.substr(d.find('\n', at) + 1);
}

// Calls a converter directly with a buffer of the given size.
inline int Trans(proto_convert_fn fn, s_data_cmd r, int size, Bytes* out = nullptr) {
  s_proto_transiver_event row{0, 1, 0, fn};
  unsigned short flags = 0xFFFF;
  unsigned char src = 0xFF, dst = 0xFF;
  Bytes buf(static_cast<size_t>(size > 0 ? size : 1), 0xEE);
  int n = fn(&row, &flags, &src, &dst, buf.data(), size, &r);
  if (out) *out = n > 0 ? Bytes(buf.begin(), buf.begin() + n) : Bytes();
  return n;
}

inline int Recv(proto_convert_fn fn, const Bytes& payload, s_data_cmd* r) {
  s_proto_transiver_event row{0, 1, 0, fn};
  unsigned short flags = 0;
  unsigned char src = 0, dst = 0;
  Bytes buf = payload;
  buf.push_back(0);  // never read: keeps data() valid for an empty payload
  return fn(&row, &flags, &src, &dst, buf.data(), static_cast<int>(payload.size()), r);
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

}  // namespace line_cmd
