// The configuration query answer of a line interface.
#include "tests/radiolink/radiolink_frames.h"

namespace {

TEST(ConfigQuery, ShortAndFullAnswers) {
  auto answer = [](const char* hex) { return Receive(PROTO_MODE_GATEWAY, DLI_GET_CONFIG, 0, H(hex)); };
  s_data_cmd s = answer("07 01 02 03 04 05");
  ASSERT_EQ(s.cmdStatus, 0);
  const s_proto_gateway_config& c = s.payload.gateway_config;
  EXPECT_EQ(V(c.id, c.major_version, c.minor_version, c.channels_count), V(7, 0x0201, 0x0403, 5));
  EXPECT_EQ(c.major_boot_version + c.minor_sub_system_version, 0);
  EXPECT_EQ(answer("07 01 02 03").cmdStatus, CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);

  const char full[] = "07 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D";
  s_data_cmd f = answer(full);
  ASSERT_EQ(f.cmdStatus, 0);
  EXPECT_EQ(f.payload.gateway_config.major_boot_version, 0x0706);
  EXPECT_EQ(f.payload.gateway_config.minor_sub_system_version, 0x0D0C);
  // Sent back from the interface, the record gives the same 14 bytes, no pad.
  EXPECT_EQ(Hex(PayloadOf(PROTO_MODE_DIGITAL, f)), full);
  EXPECT_EQ(Trans(convert_trans_get_config, f, 12), CONVERT_NOT_ENOUGHT_MEMORY);

  EXPECT_TRUE(Has(Dump(f), "gateway_config.id             : 7,\ngateway_config.channels_count : 5,\n"
                           "gateway_config.major_version  : 513,\n"));
  EXPECT_TRUE(Has(Dump(f), "gateway_config.minor_sub_system_version  : 3340,\n"));
  VORKGW::ProtoVorkPacket p = Encode(f);
  ASSERT_TRUE(p.get_payload().dli_get_config_isSelected());
  EXPECT_EQ(p.get_payload().get_dli_get_config().get_major_boot_version().getValue(), 0x0706);
  EXPECT_EQ(p.get_payload().get_dli_get_config().get_channels_count().getValue(), 5);
}

}  // namespace
