#pragma once
// Command records <-> VORKGW packets.
#include "messages/VORKGW.h"
#include "radiolink/proto_vork.h"

// A record received from a line interface into a packet; always true. An id
// without a payload case leaves the packet's payload as it was.
bool ProtoVorkEncodeASN(const s_data_cmd& record, VORKGW::ProtoVorkPacket& packet);
// A packet meant for a line interface into a record to send; false when the
// id is not one the gateway sends or the payload does not fit the id.
bool ProtoVorkDecodeASN(const VORKGW::ProtoVorkPacket& packet, s_data_cmd& record);

// Payloads of the GGS, DCON and RAD messages: false when the record's id is
// not one of them (encode), or the id is not one of them or the payload does
// not fit the id (decode; the id is read from the record's msgID).
bool ProtoLineEncodeASN(const s_data_cmd& record, VORKGW::ProtoVorkPacketPayload& payload);
bool ProtoLineDecodeASN(const VORKGW::ProtoVorkPacketPayload& payload, s_data_cmd& record);

// Channel configuration payloads (the layout follows the record's
// stateProtocol, stateMode and dstAddr).
void ProtoVorkEncodeAnalogSetConfig(const s_data_cmd& record, VORKGW::ProtoVorkPacketPayloadAnalogSetConfig& value);
void ProtoVorkEncodeDigitalSetConfig(const s_data_cmd& record, VORKGW::ProtoVorkPacketPayloadDigitalSetConfig& value);
bool ProtoVorkDecodeGWSetConfig(const VORKGW::ProtoVorkPacketPayloadGWSetConfig& value, s_data_cmd& record);

// Hardware state, information, debug, service, test and RS-485 payloads;
// the record's msgID chooses the alternative.
void ProtoVorkEncodeMaintenance(const s_data_cmd& record, VORKGW::ProtoVorkPacketPayload& payload);
bool ProtoVorkDecodeMaintenance(const VORKGW::ProtoVorkPacketPayload& payload, s_data_cmd& record);

// File transfer: P1 client packet -> the record's P1 bytes (byte count, or
// -3 command not packable, -4 too long, -5 payload alternative missing);
// the record's P1 server bytes -> server packet (0, -3 not an
// acknowledgement, -5 too few bytes).
int p1_cln_proto_pack(const VORKGW::ProtoVorkPacketP1ClientPacket& packet, s_data_cmd& record);
int p1_srv_proto_unpack(VORKGW::ProtoVorkPacketP1ServerPacket& packet, const s_data_cmd& record);
