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
