// Hardware state and information, debug, service, test and RS-485 messages.
#include <gtest/gtest.h>

#include "tests/radiolink/config_convert.h"

namespace {

Bytes PayloadOf(const Bytes& frame) { return Bytes(frame.begin() + 16, frame.end() - 2); }

s_data_cmd ReceiveOne(Channel& ch, uint16_t id, uint16_t flags, uint8_t src, uint8_t dst, const Bytes& payload) {
  ch.Feed(MakeFrame(id, 0, flags, src, dst, payload));
  std::vector<s_data_cmd> got = ch.Received();
  EXPECT_EQ(got.size(), 1u);
  return got.empty() ? Record(0) : got[0];
}

TEST(HardwareState, AnalogStateBitsAndPacket) {
  s_data_cmd r = Record(ALI_HW_STATE);
  s_proto_ahw_state& s = r.payload.ahw_state;
  s.processor_load = 0x0123;
  s.voltage_primary_power = 12;
  s.voltage_secondary_power = 5;
  s.fault_power[1] = 1;
  s.fault_interface[2] = 3;  // any non-zero value is set
  s.lose_sound[12] = 1;
  s.fault_sound[0] = 1;
  Channel ali(PROTO_MODE_ANALOG);
  Bytes wire = PayloadOf(ali.Send({r}));
  EXPECT_EQ(wire, Bytes({0x23, 0x01, 0x0C, 0x05, 0x02, 0x04, 0x00, 0x10, 0x01, 0x00}));

  // Bits above the thirteen sound paths are ignored on receipt.
  Bytes noisy = wire;
  noisy[7] |= 0xE0;
  noisy[9] |= 0xE0;
  Channel gw;
  s_data_cmd got = ReceiveOne(gw, ALI_HW_STATE, 0, 0x08, 0x01, noisy);
  ASSERT_EQ(got.cmdStatus, 0);
  EXPECT_EQ(std::memcmp(&got.payload.ahw_state.lose_sound, s.lose_sound, PROTO_SOUND_PATHS), 0);
  EXPECT_EQ(got.payload.ahw_state.fault_interface[2], 1);
  EXPECT_EQ(got.payload.ahw_state.fault_sound[0], 1);
  EXPECT_EQ(ReceiveOne(gw, ALI_HW_STATE, 0, 0x08, 0x01, Bytes(8, 0)).cmdStatus, CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);

  VORKGW::ProtoVorkPacket p;
  ProtoVorkEncodeASN(got, p);
  const VORKGW::ProtoVorkPacketPayloadAnalogHwState& v = p.get_payload().get_ali_hw_state();
  ASSERT_TRUE(p.get_payload().ali_hw_state_isSelected());
  EXPECT_EQ(v.get_processor_load().getValue(), 0x0123);
  EXPECT_TRUE(v.get_fault_power2());
  EXPECT_FALSE(v.get_fault_power1());
  EXPECT_TRUE(v.get_fault1_interface2());
  EXPECT_FALSE(v.get_fault2_interface1());
  EXPECT_TRUE(v.get_lose_sound_spi());
  EXPECT_TRUE(v.get_fault_sound_rtx1());
  EXPECT_FALSE(v.get_lose_sound_mux());

  std::string d = Dump(got);
  EXPECT_NE(d.find("ahw_state.processor_load: 291,\n"), std::string::npos);
  EXPECT_NE(d.find("ahw_state.fault_power : \n[0] : 0,\n[1] : 1,\nahw_state.fault_interface : \n"), std::string::npos);
  EXPECT_NE(d.find("[12] : 1,\nahw_state.fault_sound : \n[0] : 1,\n"), std::string::npos);
}

TEST(HardwareState, DigitalStateAndInformation) {
  s_data_cmd r = Record(DLI_HW_STATE);
  r.payload.dhw_state.fault_codec[2] = 1;
  r.payload.dhw_state.fault_line[0] = 1;
  Channel dli(PROTO_MODE_DIGITAL);
  Bytes wire = PayloadOf(dli.Send({r}));
  ASSERT_EQ(wire.size(), 4u);
  EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 3), Bytes({0x00, 0x04, 0x01}));
  VORKGW::ProtoVorkPacket p;
  ProtoVorkEncodeASN(r, p);
  EXPECT_TRUE(p.get_payload().get_dli_hw_state().get_fault_codec_2wire_line2());
  EXPECT_TRUE(p.get_payload().get_dli_hw_state().get_fault_line_2wire_line0());
  EXPECT_FALSE(p.get_payload().get_dli_hw_state().get_fault_power_master());

  s_data_cmd info = Record(DLI_SET_INFO);
  info.payload.digital_set_info.request_code = 2;
  info.payload.digital_set_info.echo_power.power = 1.5f;
  wire = PayloadOf(dli.Send({info}));
  ASSERT_EQ(wire.size(), 8u);
  EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 7), Bytes({0x02, 0x00, 0x04, 0x00, 0x00, 0xC0, 0x3F}));
  std::string d = Dump(info);
  const std::string last = "digital_set_info.echo_power.power: 1.5000,\n";
  EXPECT_EQ(d.rfind(last), d.size() - last.size());
  ProtoVorkEncodeASN(info, p);
  ASSERT_TRUE(p.get_payload().get_dli_set_info().get_data().power_isSelected());
  EXPECT_EQ(std::string(p.get_payload().get_dli_set_info().get_data().get_power().get_power()), "1.500000");

  // An invalid code is not sent: the written record carries the status.
  info.payload.digital_set_info.request_code = 0;
  EXPECT_EQ(dli.Send({info}).size(), 0u);
  std::vector<s_data_cmd> written = dli.Written();
  ASSERT_FALSE(written.empty());
  EXPECT_EQ(written.back().cmdStatus, CONVERT_BAD_PARAM);
  ProtoVorkEncodeASN(info, p);
  EXPECT_FALSE(p.get_payload().get_dli_set_info().get_data().power_isSelected());

  Channel gw;
  s_data_cmd keep = ReceiveOne(gw, DLI_SET_INFO, 0, 0x04, 0x01, {0x02, 0x00, 0x00, 0x00});
  EXPECT_EQ(keep.cmdStatus, 0);
  EXPECT_EQ(keep.payload.digital_set_info.request_code, 2);
  EXPECT_EQ(ReceiveOne(gw, DLI_SET_INFO, 0, 0x04, 0x01, {0x04, 0x00, 0x00, 0x00}).cmdStatus, CONVERT_BAD_PARAM);
  EXPECT_EQ(ReceiveOne(gw, DLI_SET_INFO, 0, 0x04, 0x01, {0x02, 0x00, 0x04, 0x00, 0x00, 0x00}).cmdStatus,
            CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  s_data_cmd power = ReceiveOne(gw, DLI_SET_INFO, 0, 0x04, 0x01, wire);
  EXPECT_EQ(power.payload.digital_set_info.echo_power.power, 1.5f);
  // Length 0 leaves the power as it was.
  s_data_cmd rec = power;
  ASSERT_EQ(RecvConfig(convert_recv_digital_set_info, {0x03, 0x00, 0x00, 0x00}, 0, 0, rec), 0);
  EXPECT_EQ(rec.payload.digital_set_info.request_code, 3);
  EXPECT_EQ(rec.payload.digital_set_info.echo_power.power, 1.5f);

  // The gateway asks a digital interface; an analog one does not know the id.
  VORKGW::ProtoVorkPacket q;
  s_data_cmd ask = Record(GW_GET_INFO);
  ProtoVorkEncodeASN(ask, q);
  q.set_payload().select_gw_get_info().set_request_code().setFromInt(3);
  s_data_cmd dec;
  ASSERT_TRUE(ProtoVorkDecodeASN(q, dec));
  EXPECT_EQ(dec.payload.get_info.request_code, 3);
  dec.dstAddr = PROTO_ADDR_DLI;
  Channel out;
  Bytes frame = out.Send({dec});
  EXPECT_EQ(PayloadOf(frame), Bytes({0x03, 0x00}));
  Channel digital(PROTO_MODE_DIGITAL);
  EXPECT_EQ(ReceiveOne(digital, GW_GET_INFO, 0, 0x01, 0x04, {0x03, 0x00}).cmdStatus, 0);
  EXPECT_EQ(ReceiveOne(digital, GW_GET_INFO, 0, 0x01, 0x04, {0x03, 0x00}).payload.get_info.request_code, 3);
  Channel analog(PROTO_MODE_ANALOG);
  EXPECT_EQ(ReceiveOne(analog, GW_GET_INFO, 0, 0x01, 0x08, {0x03, 0x00}).cmdStatus, CONVERT_BAD_ID);
  q.set_payload().select_gw_set_debug().set_debug_num(1);
  EXPECT_FALSE(ProtoVorkDecodeASN(q, dec));
}

TEST(Maintenance, DebugText) {
  Channel gw;
  s_data_cmd r = ReceiveOne(gw, DLI_DEBUG, 0, 0x04, 0x01, {0x02, 'o', 'k', 0x00});
  ASSERT_EQ(r.cmdStatus, 0);
  EXPECT_EQ(r.payload.debug.msg_size, 2);
  std::string d = Dump(r);
  EXPECT_NE(d.find("debug.msg_size: 2,\ndebug.msg     : ok,\n"), std::string::npos);
  Channel dli(PROTO_MODE_DIGITAL);
  Bytes wire = PayloadOf(dli.Send({r}));
  ASSERT_EQ(wire.size(), 4u);
  EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 3), Bytes({0x02, 0x6F, 0x6B}));
  VORKGW::ProtoVorkPacket p;
  ProtoVorkEncodeASN(r, p);
  EXPECT_EQ(std::string(p.get_payload().get_dli_debug().get_payload()), "ok");

  s_data_cmd cut = ReceiveOne(gw, ALI_DEBUG, 0, 0x08, 0x01, {0x05, 'a', 'b', 'c'});
  EXPECT_EQ(cut.cmdStatus, CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);

  // A full-length text prints without running past its bytes.
  s_data_cmd full = Record(ALI_DEBUG);
  full.payload.debug.msg_size = 255;
  std::memset(full.payload.debug.msg, 'x', 255);
  EXPECT_NE(Dump(full).find("debug.msg     : " + std::string(255, 'x') + ",\n"), std::string::npos);
}

TEST(Maintenance, GatewayCommandsFromPackets) {
  auto packet = [](uint16_t id) {
    VORKGW::ProtoVorkPacket p;
    ProtoVorkEncodeASN(Record(id), p);
    return p;
  };
  Channel out;
  s_data_cmd r;

  VORKGW::ProtoVorkPacket p = packet(GW_SET_DEBUG);
  p.set_payload().select_gw_set_debug().set_debug_num(0x10102);
  ASSERT_TRUE(ProtoVorkDecodeASN(p, r));
  EXPECT_EQ(r.payload.set_debug.debug_num, 0x0102);
  r.dstAddr = PROTO_ADDR_DLI;
  EXPECT_EQ(PayloadOf(out.Send({r})), Bytes({0x02, 0x01}));

  p = packet(GW_SHOW_DEBUG);
  p.set_payload().select_gw_show_debug().set_trace_num(7);
  ASSERT_TRUE(ProtoVorkDecodeASN(p, r));
  EXPECT_EQ(r.payload.show_debug.trace_num, 7);
  EXPECT_NE(Dump(r).find("show_debug.trace_num: 7,\n"), std::string::npos);

  p = packet(GW_SERVICE_CMD);
  p.set_payload().select_gw_service_cmd().set_command(VORKGW::ProtoVorkServiceCommand::reboot);
  ASSERT_TRUE(ProtoVorkDecodeASN(p, r));
  r.dstAddr = PROTO_ADDR_DLI;
  Bytes wire = PayloadOf(out.Send({r}));
  ASSERT_EQ(wire.size(), 2u);
  EXPECT_EQ(wire[0], 0x01);

  p = packet(GW_TEST);
  VORKGW::ProtoVorkPacketPayloadGWTestConfig& t = p.set_payload().select_gw_test();
  t.set_test_mode(1);
  t.set_payload().push_back(ASN1::INTEGER(0x0A, &ASN1::INTEGER::theInfo));
  t.set_payload().push_back(ASN1::INTEGER(0x10B, &ASN1::INTEGER::theInfo));
  ASSERT_TRUE(ProtoVorkDecodeASN(p, r));
  r.dstAddr = PROTO_ADDR_ALI;
  EXPECT_EQ(PayloadOf(out.Send({r})), Bytes({0x01, 0x02, 0x0A, 0x0B}));
  r.payload.test_config.payload_size = 3;
  EXPECT_EQ(PayloadOf(out.Send({r})).size(), 6u);
  EXPECT_NE(Dump(r).find("test_config.payload : \n[0] : 0x0A,\n[1] : 0x0B,\n"), std::string::npos);
  Channel analog(PROTO_MODE_ANALOG);
  s_data_cmd got = ReceiveOne(analog, GW_TEST, 0, 0x01, 0x08, {0x01, 0x02, 0x0A, 0x0B});
  EXPECT_EQ(got.cmdStatus, 0);
  EXPECT_EQ(got.payload.test_config.payload[1], 0x0B);
  EXPECT_EQ(ReceiveOne(analog, GW_TEST, 0, 0x01, 0x08, {0x01, 0x03, 0x0A, 0x0B}).cmdStatus,
            CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);

  // Set-debug is not an analog interface's message in either version.
  EXPECT_EQ(ReceiveOne(analog, GW_SET_DEBUG, 0, 0x01, 0x08, {0x01, 0x00}).cmdStatus, CONVERT_BAD_ID);
  EXPECT_EQ(ReceiveOne(analog, GW_SET_DEBUG, 0x1000, 0x01, 0x03, {0x01, 0x00}).cmdStatus, CONVERT_BAD_ID);
  EXPECT_FALSE(ProtoVorkDecodeASN(packet(GW_TEST), r));
}

TEST(Maintenance, Rs485Traffic) {
  VORKGW::ProtoVorkPacket p;
  ProtoVorkEncodeASN(Record(GW_RAD_RS485_CMD), p);
  VORKGW::ProtoVorkPacketPayloadBytes& b = p.set_payload().select_gw_rad_rs485_cmd();
  for (int i = 0; i < 300; ++i) b.set_payload().push_back(ASN1::INTEGER(i, &ASN1::INTEGER::theInfo));
  s_data_cmd r;
  ASSERT_TRUE(ProtoVorkDecodeASN(p, r));
  EXPECT_EQ(r.payload.rs485_cmd.payload_size, 255);
  EXPECT_EQ(r.payload.rs485_cmd.payload[254], 254);
  r.dstAddr = PROTO_ADDR_ALI;
  Channel gw;
  Bytes frame = gw.Send({r});
  ASSERT_EQ(frame.size(), 18u + 256u);
  Channel ali(PROTO_MODE_ANALOG);
  s_data_cmd got = ReceiveOne(ali, GW_RAD_RS485_CMD, 0, 0x01, 0x08, PayloadOf(frame));
  EXPECT_EQ(got.cmdStatus, 0);
  EXPECT_EQ(got.payload.rs485_cmd.payload[100], 100);
  // Version 2 has no RS-485 messages.
  EXPECT_EQ(ReceiveOne(ali, GW_RAD_RS485_CMD, 0x1000, 0x01, 0x03, {0x00, 0x00}).cmdStatus, CONVERT_BAD_ID);

  s_data_cmd sts = Record(ALI_RAD_RS485_STS);
  Bytes wire = PayloadOf(ali.Send({sts}));
  ASSERT_EQ(wire.size(), 2u);
  EXPECT_EQ(wire[0], 0x00);
  ProtoVorkEncodeASN(sts, p);
  ASSERT_TRUE(p.get_payload().ali_rad_rs485_sts_isSelected());
  EXPECT_EQ(p.get_payload().get_ali_rad_rs485_sts().get_payload().size(), 0u);
  EXPECT_NE(Dump(sts).find("ra_rs485_status.payload_size: 0,\nra_rs485_status.payload : \n"), std::string::npos);

  Channel gw_in;
  s_data_cmd st = ReceiveOne(gw_in, ALI_RAD_RS485_STS, 0, 0x08, 0x01, {0x01, 0xFE});
  ProtoVorkEncodeASN(st, p);
  EXPECT_EQ(p.get_payload().get_ali_rad_rs485_sts().get_payload()[0].getValue(), 0xFE);
}

}  // namespace
