// Hardware state and information, debug, service, test and RS-485 messages.
#include "tests/radiolink/radiolink_frames.h"

namespace {

// A frame from an interface (src) to the gateway or from the gateway.
s_data_cmd From(Channel& ch, uint16_t id, uint16_t flags, uint8_t src, uint8_t dst, const char* hex) {
  return ch.One(MakeFrame(id, 0, flags, src, dst, H(hex)));
}
VORKGW::ProtoVorkPacket Packet(uint16_t id) { return Encode(Record(id)); }

TEST(HardwareState, AnalogStateBitsAndPacket) {
  // Load, the two voltages, then bit masks: power faults, interface faults,
  // lost sound paths (13 bits), sound faults (13 bits).
  const char wire[] = "23 01 0C 05 02 04 00 10 01 00";
  s_data_cmd r = RoundTrip(PROTO_MODE_ANALOG, PROTO_MODE_GATEWAY, ALI_HW_STATE, 0, wire);
  const s_proto_ahw_state& s = r.payload.ahw_state;
  EXPECT_EQ(V(s.processor_load, s.voltage_primary_power, s.voltage_secondary_power, s.fault_power[1],
              s.fault_interface[2], s.lose_sound[12], s.fault_sound[0], s.fault_power[0], s.lose_sound[11]),
            V(0x0123, 12, 5, 1, 1, 1, 1, 0, 0));
  r.payload.ahw_state.fault_interface[2] = 3;  // any non-zero value is set
  EXPECT_EQ(Hex(PayloadOf(PROTO_MODE_ANALOG, r)), wire);
  // Bits above the thirteen sound paths are ignored on receipt.
  Channel gw;
  s_data_cmd got = From(gw, ALI_HW_STATE, 0, 0x08, 0x01, "23 01 0C 05 02 04 00 F0 01 E0");
  const s_proto_ahw_state& g = got.payload.ahw_state;
  EXPECT_EQ(V(std::memcmp(g.lose_sound, s.lose_sound, PROTO_SOUND_PATHS), g.fault_interface[2], g.fault_sound[0]),
            V(0, 1, 1));
  EXPECT_EQ(From(gw, ALI_HW_STATE, 0, 0x08, 0x01, "00 00 00 00 00 00 00 00").cmdStatus,
            CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);

  VORKGW::ProtoVorkPacket p = Encode(got);
  ASSERT_TRUE(p.get_payload().ali_hw_state_isSelected());
  const VORKGW::ProtoVorkPacketPayloadAnalogHwState& v = p.get_payload().get_ali_hw_state();
  EXPECT_EQ(v.get_processor_load().getValue(), 0x0123);
  EXPECT_EQ((std::vector<bool>{v.get_fault_power2(), v.get_fault1_interface2(), v.get_lose_sound_spi(),
                               v.get_fault_sound_rtx1(), v.get_fault_power1(), v.get_fault2_interface1(),
                               v.get_lose_sound_mux()}),
            (std::vector<bool>{true, true, true, true, false, false, false}));
  std::string d = Dump(got);
  EXPECT_TRUE(Has(d, "ahw_state.processor_load: 291,\n"));
  EXPECT_TRUE(Has(d, "ahw_state.fault_power : \n[0] : 0,\n[1] : 1,\nahw_state.fault_interface : \n"));
  EXPECT_TRUE(Has(d, "[12] : 1,\nahw_state.fault_sound : \n[0] : 1,\n"));
}

TEST(HardwareState, DigitalStateAndInformation) {
  s_data_cmd r = RoundTrip(PROTO_MODE_DIGITAL, PROTO_MODE_GATEWAY, DLI_HW_STATE, 0, "00 04 01 ??");
  EXPECT_EQ(V(r.payload.dhw_state.fault_codec[2], r.payload.dhw_state.fault_line[0]), V(1, 1));
  VORKGW::ProtoVorkPacket p = Encode(r);
  EXPECT_TRUE(p.get_payload().get_dli_hw_state().get_fault_codec_2wire_line2());
  EXPECT_TRUE(p.get_payload().get_dli_hw_state().get_fault_line_2wire_line0());
  EXPECT_FALSE(p.get_payload().get_dli_hw_state().get_fault_power_master());

  // Request code, data length, the echo power as a single-precision number.
  s_data_cmd info = RoundTrip(PROTO_MODE_DIGITAL, PROTO_MODE_GATEWAY, DLI_SET_INFO, 0, "02 00 04 00 00 C0 3F ??");
  EXPECT_EQ(V(info.payload.digital_set_info.request_code, info.payload.digital_set_info.echo_power.power), V(2, 1.5));
  s_data_cmd power = info;
  std::string d = Dump(info);
  const std::string last = "digital_set_info.echo_power.power: 1.5000,\n";
  EXPECT_EQ(d.rfind(last), d.size() - last.size());
  p = Encode(info);
  ASSERT_TRUE(p.get_payload().get_dli_set_info().get_data().power_isSelected());
  EXPECT_EQ(std::string(p.get_payload().get_dli_set_info().get_data().get_power().get_power()), "1.500000");

  // An invalid code is not sent: the written record carries the status.
  info.payload.digital_set_info.request_code = 0;
  int status = 0;
  EXPECT_TRUE(PayloadOf(PROTO_MODE_DIGITAL, info, &status).empty());
  EXPECT_EQ(status, CONVERT_BAD_PARAM);
  EXPECT_FALSE(Encode(info).get_payload().get_dli_set_info().get_data().power_isSelected());

  Channel gw;
  s_data_cmd keep = From(gw, DLI_SET_INFO, 0, 0x04, 0x01, "02 00 00 00");
  EXPECT_EQ(keep.cmdStatus, 0);
  EXPECT_EQ(keep.payload.digital_set_info.request_code, 2);
  EXPECT_EQ(From(gw, DLI_SET_INFO, 0, 0x04, 0x01, "04 00 00 00").cmdStatus, CONVERT_BAD_PARAM);
  EXPECT_EQ(From(gw, DLI_SET_INFO, 0, 0x04, 0x01, "02 00 04 00 00 00").cmdStatus, CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  // Length 0 leaves the power as it was.
  ASSERT_EQ(Recv(convert_recv_digital_set_info, H("03 00 00 00"), &power), 0);
  EXPECT_EQ(power.payload.digital_set_info.request_code, 3);
  EXPECT_EQ(power.payload.digital_set_info.echo_power.power, 1.5f);

  // The gateway asks a digital interface; an analog one does not know the id.
  VORKGW::ProtoVorkPacket q = Packet(GW_GET_INFO);
  q.set_payload().select_gw_get_info().set_request_code().setFromInt(3);
  s_data_cmd dec;
  ASSERT_TRUE(ProtoVorkDecodeASN(q, dec));
  EXPECT_EQ(dec.payload.get_info.request_code, 3);
  dec.dstAddr = PROTO_ADDR_DLI;
  EXPECT_EQ(Hex(PayloadOf(PROTO_MODE_GATEWAY, dec)), "03 00");
  Channel digital(PROTO_MODE_DIGITAL), analog(PROTO_MODE_ANALOG);
  s_data_cmd ask = From(digital, GW_GET_INFO, 0, 0x01, 0x04, "03 00");
  EXPECT_EQ(ask.cmdStatus, 0);
  EXPECT_EQ(ask.payload.get_info.request_code, 3);
  EXPECT_EQ(From(analog, GW_GET_INFO, 0, 0x01, 0x08, "03 00").cmdStatus, CONVERT_BAD_ID);
  q.set_payload().select_gw_set_debug().set_debug_num(1);
  EXPECT_FALSE(ProtoVorkDecodeASN(q, dec));
}

TEST(Maintenance, DebugText) {
  Channel gw;
  s_data_cmd r = From(gw, DLI_DEBUG, 0, 0x04, 0x01, "02 6F 6B 00");
  ASSERT_EQ(r.cmdStatus, 0);
  EXPECT_EQ(r.payload.debug.msg_size, 2);
  EXPECT_TRUE(Has(Dump(r), "debug.msg_size: 2,\ndebug.msg     : ok,\n"));
  EXPECT_HEX(PayloadOf(PROTO_MODE_DIGITAL, r), "02 6F 6B ??");
  EXPECT_EQ(std::string(Encode(r).get_payload().get_dli_debug().get_payload()), "ok");
  EXPECT_EQ(From(gw, ALI_DEBUG, 0, 0x08, 0x01, "05 61 62 63").cmdStatus, CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);

  // A full-length text prints without running past its bytes.
  s_data_cmd full = Record(ALI_DEBUG);
  full.payload.debug.msg_size = 255;
  std::memset(full.payload.debug.msg, 'x', 255);
  EXPECT_TRUE(Has(Dump(full), "debug.msg     : " + std::string(255, 'x') + ",\n"));
}

TEST(Maintenance, GatewayCommandsFromPackets) {
  s_data_cmd r;
  VORKGW::ProtoVorkPacket p = Packet(GW_SET_DEBUG);
  p.set_payload().select_gw_set_debug().set_debug_num(0x10102);
  ASSERT_TRUE(ProtoVorkDecodeASN(p, r));
  EXPECT_EQ(r.payload.set_debug.debug_num, 0x0102);
  r.dstAddr = PROTO_ADDR_DLI;
  EXPECT_EQ(Hex(PayloadOf(PROTO_MODE_GATEWAY, r)), "02 01");

  p = Packet(GW_SHOW_DEBUG);
  p.set_payload().select_gw_show_debug().set_trace_num(7);
  ASSERT_TRUE(ProtoVorkDecodeASN(p, r));
  EXPECT_EQ(r.payload.show_debug.trace_num, 7);
  EXPECT_TRUE(Has(Dump(r), "show_debug.trace_num: 7,\n"));

  p = Packet(GW_SERVICE_CMD);
  p.set_payload().select_gw_service_cmd().set_command(VORKGW::ProtoVorkServiceCommand::reboot);
  ASSERT_TRUE(ProtoVorkDecodeASN(p, r));
  r.dstAddr = PROTO_ADDR_DLI;
  EXPECT_HEX(PayloadOf(PROTO_MODE_GATEWAY, r), "01 ??");

  p = Packet(GW_TEST);
  VORKGW::ProtoVorkPacketPayloadGWTestConfig& t = p.set_payload().select_gw_test();
  t.set_test_mode(1);
  t.set_payload().push_back(ASN1::INTEGER(0x0A, &ASN1::INTEGER::theInfo));
  t.set_payload().push_back(ASN1::INTEGER(0x10B, &ASN1::INTEGER::theInfo));
  ASSERT_TRUE(ProtoVorkDecodeASN(p, r));
  r.dstAddr = PROTO_ADDR_ALI;
  EXPECT_EQ(Hex(PayloadOf(PROTO_MODE_GATEWAY, r)), "01 02 0A 0B");
  r.payload.test_config.payload_size = 3;
  EXPECT_EQ(PayloadOf(PROTO_MODE_GATEWAY, r).size(), 6u);
  EXPECT_TRUE(Has(Dump(r), "test_config.payload : \n[0] : 0x0A,\n[1] : 0x0B,\n"));
  Channel analog(PROTO_MODE_ANALOG);
  s_data_cmd got = From(analog, GW_TEST, 0, 0x01, 0x08, "01 02 0A 0B");
  EXPECT_EQ(got.cmdStatus, 0);
  EXPECT_EQ(got.payload.test_config.payload[1], 0x0B);
  EXPECT_EQ(From(analog, GW_TEST, 0, 0x01, 0x08, "01 03 0A 0B").cmdStatus, CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  EXPECT_FALSE(ProtoVorkDecodeASN(Packet(GW_TEST), r));

  // Set-debug is not an analog interface's message in either version.
  EXPECT_EQ(From(analog, GW_SET_DEBUG, 0, 0x01, 0x08, "01 00").cmdStatus, CONVERT_BAD_ID);
  EXPECT_EQ(From(analog, GW_SET_DEBUG, 0x1000, 0x01, 0x03, "01 00").cmdStatus, CONVERT_BAD_ID);
}

TEST(Maintenance, Rs485Traffic) {
  VORKGW::ProtoVorkPacket p = Packet(GW_RAD_RS485_CMD);
  p.set_payload().select_gw_rad_rs485_cmd().set_payload(IntList(300, 0));
  s_data_cmd r;
  ASSERT_TRUE(ProtoVorkDecodeASN(p, r));
  EXPECT_EQ(r.payload.rs485_cmd.payload_size, 255);
  EXPECT_EQ(r.payload.rs485_cmd.payload[254], 254);
  r.dstAddr = PROTO_ADDR_ALI;
  Channel gw, ali(PROTO_MODE_ANALOG);
  Bytes frame = gw.Send({r});
  ASSERT_EQ(frame.size(), 18u + 256u);
  s_data_cmd got = ali.One(frame);
  EXPECT_EQ(got.cmdStatus, 0);
  EXPECT_EQ(got.payload.rs485_cmd.payload[100], 100);
  // Version 2 has no RS-485 messages.
  EXPECT_EQ(From(ali, GW_RAD_RS485_CMD, 0x1000, 0x01, 0x03, "00 00").cmdStatus, CONVERT_BAD_ID);

  s_data_cmd sts = Record(ALI_RAD_RS485_STS);
  EXPECT_HEX(PayloadOf(PROTO_MODE_ANALOG, sts), "00 ??");
  p = Encode(sts);
  ASSERT_TRUE(p.get_payload().ali_rad_rs485_sts_isSelected());
  EXPECT_EQ(p.get_payload().get_ali_rad_rs485_sts().get_payload().size(), 0u);
  EXPECT_TRUE(Has(Dump(sts), "ra_rs485_status.payload_size: 0,\nra_rs485_status.payload : \n"));
  p = Encode(From(gw, ALI_RAD_RS485_STS, 0, 0x08, 0x01, "01 FE"));
  EXPECT_EQ(p.get_payload().get_ali_rad_rs485_sts().get_payload()[0].getValue(), 0xFE);
}

}  // namespace
