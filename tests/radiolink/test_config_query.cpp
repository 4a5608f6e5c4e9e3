// The configuration query answer of a line interface.
#include <gtest/gtest.h>

#include <string>

#include "radiolink/proto_asn.h"
#include "tests/radiolink/line_cmd_helpers.h"

namespace {

s_data_cmd ReceiveAnswer(const Bytes& payload) {
  return line_cmd::Receive(PROTO_MODE_GATEWAY, DLI_GET_CONFIG, 0, payload);
}

TEST(ConfigQuery, ShortAndFullAnswers) {
  s_data_cmd s = ReceiveAnswer({7, 1, 2, 3, 4, 5});
  ASSERT_EQ(s.cmdStatus, 0);
  EXPECT_EQ(s.payload.gateway_config.id, 7);
  EXPECT_EQ(s.payload.gateway_config.major_version, 0x0201);
  EXPECT_EQ(s.payload.gateway_config.minor_version, 0x0403);
  EXPECT_EQ(s.payload.gateway_config.channels_count, 5);
  EXPECT_EQ(s.payload.gateway_config.major_boot_version, 0);
  EXPECT_EQ(s.payload.gateway_config.minor_sub_system_version, 0);

  Bytes full = {7, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
  s_data_cmd f = ReceiveAnswer(full);
  ASSERT_EQ(f.cmdStatus, 0);
  EXPECT_EQ(f.payload.gateway_config.major_boot_version, 0x0706);
  EXPECT_EQ(f.payload.gateway_config.minor_sub_system_version, 0x0D0C);

  // Sent back from the interface, the record gives the same bytes.
  Channel dli(PROTO_MODE_DIGITAL);
  Bytes frame = dli.Send({f});
  ASSERT_EQ(frame.size(), 18u + 14u);
  EXPECT_EQ(Bytes(frame.begin() + 16, frame.end() - 2), full);

  EXPECT_EQ(ReceiveAnswer({7, 1, 2, 3}).cmdStatus, CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);

  EXPECT_EQ(line_cmd::Trans(convert_trans_get_config, f, 12), CONVERT_NOT_ENOUGHT_MEMORY);
}

TEST(ConfigQuery, DumpAndPacket) {
  s_data_cmd f = ReceiveAnswer({7, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13});
  EXPECT_NE(Dump(f).find("gateway_config.id             : 7,\n"
                                  "gateway_config.channels_count : 5,\n"
                                  "gateway_config.major_version  : 513,\n"),
            std::string::npos);
  EXPECT_NE(Dump(f).find("gateway_config.minor_sub_system_version  : 3340,\n"), std::string::npos);

  VORKGW::ProtoVorkPacket p;
  ASSERT_TRUE(ProtoVorkEncodeASN(f, p));
  ASSERT_TRUE(p.get_payload().dli_get_config_isSelected());
  EXPECT_EQ(p.get_payload().get_dli_get_config().get_major_boot_version().getValue(), 0x0706);
  EXPECT_EQ(p.get_payload().get_dli_get_config().get_channels_count().getValue(), 5);
}

}  // namespace
