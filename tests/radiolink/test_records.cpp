// Command records: catalogue look-ups, the small payload converters, the
// text dumps and their truncation, record comparison and the history.
#include "tests/radiolink/radiolink_frames.h"

namespace {

s_data_cmd SetIdRecord() {
  s_data_cmd r = Record(DLI_SET_ID, 0, 0, 1);
  r.srcAddr = 2;
  r.srcChannel = 3;
  r.payload.id.id = 7;
  return r;
}

// Unknown ids, missing tables and names find nothing rather than crash.
TEST(RadioCatalogue, LookupsOfUnknownOrMissingEntries) {
  EXPECT_EQ(proto_find_name_by_id(proto_packet_const_name, 0x1007), nullptr);
  EXPECT_EQ(proto_find_name_by_id(nullptr, 0x1001), nullptr);
  EXPECT_EQ(proto_find_id_by_name(proto_packet_const_name, "GW_SET_DEBUG"), 0x1401);
  EXPECT_EQ(proto_find_id_by_name(proto_packet_const_name, "gw_set_debug"), -1);
  EXPECT_EQ(proto_find_id_by_name(proto_packet_const_name, nullptr), -1);
  EXPECT_EQ(proto_packet_is_gw_packet(nullptr), 0);
}

TEST(RadioConverters, HeaderBitsAndAddresses) {
  s_data_cmd r = Record(GW_GET_ID, 1, 3, PROTO_ADDR_ALI);
  r.stateMaster = 1;
  r.srcChannel = 0x1F;  // only four bits travel
  r.dstChannel = 2;
  s_proto_transiver_event row = {0, 1, 0, nullptr};
  unsigned short flags = 0x00AB;
  unsigned char src, dst, buf[2];
  EXPECT_EQ(convert_trans_flags(&row, &flags, &src, &dst, buf, 2, &r), 0);
  EXPECT_EQ(flags, 0x93AB);
  convert_trans_src_dst(&row, &flags, &src, &dst, buf, 2, &r);
  EXPECT_EQ(src, 0xF0);
  EXPECT_EQ(dst, 0x23);  // version 2: ALI is code 3
  r.dstAddr = PROTO_ADDR_LGW | PROTO_ADDR_RGW;
  convert_trans_src_dst(&row, &flags, &src, &dst, buf, 2, &r);
  EXPECT_EQ(dst & 0xF, 0);  // no code for both gateways
  r.stateProtocol = 0;
  convert_trans_src_dst(&row, &flags, &src, &dst, buf, 2, &r);
  EXPECT_EQ(dst & 0xF, 3);  // version 1 carries the mask itself

  s_data_cmd back = Record(0);
  unsigned short f2 = 0x93AB;
  unsigned char s2 = 0xF0, d2 = 0x23;
  convert_recv_flags(&row, &f2, &s2, &d2, buf, 0, &back);
  convert_recv_src_dst(&row, &f2, &s2, &d2, buf, 0, &back);
  EXPECT_EQ((std::vector<int>{back.stateMaster, back.stateProtocol, back.stateMode, back.srcChannel, back.dstAddr,
                              back.dstChannel}),
            (std::vector<int>{1, 1, 3, 0xF, PROTO_ADDR_ALI, 2}));
}

TEST(RadioConverters, SmallPayloads) {
  s_data_cmd r = Record(GW_RAD_SELECT_CHANNEL);
  r.payload.select_channel = {9, 1, 2};
  Bytes out;
  ASSERT_EQ(Trans(convert_trans_select_channel, r, 8, &out), 2);
  EXPECT_EQ(Hex(out), "01 02");
  EXPECT_EQ(Trans(convert_trans_select_channel, r, 1), CONVERT_NOT_ENOUGHT_MEMORY);
  ASSERT_EQ(Recv(convert_recv_select_channel, H("01 02"), &r), 0);
  EXPECT_EQ(V(r.payload.select_channel.channel, r.payload.select_channel.select_interface), V(0, 1));
  EXPECT_EQ(r.payload.select_channel.select_channel, 2);
  EXPECT_EQ(Recv(convert_recv_select_channel, {}, &r), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);

  // Channel payload depends on the mode.
  s_data_cmd ch = Record(0, 0, 2);
  ch.payload.channel.channel = 5;
  EXPECT_EQ(Trans(convert_trans_channel, ch, 8, &out), 2);
  EXPECT_EQ(out[0], 5);
  ch.stateMode = 1;
  EXPECT_EQ(Trans(convert_trans_channel, ch, 8), 0);
  ch.stateMode = 4;
  EXPECT_EQ(Trans(convert_trans_channel, ch, 8), CONVERT_BAD_MODE);
  EXPECT_EQ(Recv(convert_recv_channel, H("05 00"), &ch), CONVERT_BAD_MODE);  // mode 0 in the flags word

  s_proto_transiver_event row = {0, 1, 0, nullptr};
  unsigned short flags = 0;
  unsigned char src = 0, dst = 0, buf[8] = {};
  EXPECT_EQ(convert_trans_id(&row, &flags, &src, &dst, buf, 8, nullptr), CONVERT_ERROR);
  EXPECT_EQ(convert_recv_dummy(&row, &flags, nullptr, &dst, buf, 0, &r), CONVERT_ERROR);
  EXPECT_EQ(convert_recv_src_dst(nullptr, &flags, &src, &dst, buf, 0, &r), CONVERT_ERROR);
}

TEST(RadioConverters, RadioCommandAndLinkQuality) {
  s_data_cmd r = Record(GW_RAD_PTT_ON);
  r.payload.radio_command.param[0] = 0xB0;
  r.payload.radio_command.param[1] = 0xB1;
  r.payload.radio_command.param[2] = 0xB2;
  Bytes out;
  for (auto [size, hex] : {std::pair<int, const char*>{3, "03 B0 B1 B2"}, {2, "02 B0 B1 ??"}, {0, "00 ??"}}) {
    r.payload.radio_command.param_size = static_cast<uint8_t>(size);
    Trans(convert_trans_radio_command, r, 300, &out);
    EXPECT_HEX(out, hex);
  }
  r.payload.radio_command.param_size = 255;
  EXPECT_EQ(Trans(convert_trans_radio_command, r, 255), CONVERT_NOT_ENOUGHT_MEMORY);
  EXPECT_EQ(Recv(convert_recv_radio_command, {}, &r), 0);
  EXPECT_EQ(r.payload.radio_command.param_size, 0);
  EXPECT_EQ(Recv(convert_recv_radio_command, H("05 01 02"), &r), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  EXPECT_EQ(r.payload.radio_command.param_size, 5);

  s_data_cmd q = Record(DLI_RAD_BSS_QUAL);
  q.payload.rd_bss.snr = 1.5f;
  ASSERT_EQ(Trans(convert_trans_bss_quality, q, 300, &out), 4);
  EXPECT_EQ(Hex(out), "00 00 C0 3F");
  s_data_cmd qin = Record(0);
  EXPECT_EQ(Recv(convert_recv_bss_quality, H("00 00 C0"), &qin), CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
  ASSERT_EQ(Recv(convert_recv_bss_quality, out, &qin), 0);
  EXPECT_EQ(qin.payload.rd_bss.snr, 1.5f);
  EXPECT_TRUE(Has(Dump(q), "rd_bss.snr    : 1.50,\n"));
}

TEST(RadioDump, HeaderLinesFlagsAndTruncation) {
  s_data_cmd r = SetIdRecord();
  const std::string full =
      "msgID      : 0x2000,\nstateMaster  : 0x00,\nstateProtocol: 0x00,\nstateMode    : 0x00,\n"
      "srcAddr      : 0x02,\ndstAddr      : 0x01,\nsrcChannel   : 0x03,\ndstChannel   : 0x00,\nid.id      : 7,\n";
  EXPECT_EQ(Dump(r, 0), full);
  EXPECT_EQ(Dump(r, 3).rfind("cmdStatus  : CONVERT_OK,\nmsgSeqNum  : 0,\nmsgID      : DLI_SET_ID,\n", 0), 0u);
  // A buffer that ends inside a line is never overrun; the full length is told.
  char small[16];
  EXPECT_EQ(sprintf_data_cmd(small, sizeof small, &r, 0), static_cast<int>(full.size()));
  EXPECT_EQ(std::string(small), full.substr(0, 15));
  char guard[200];
  std::memset(guard, 'G', sizeof guard);
  EXPECT_EQ(sprintf_data_cmd(guard, 40, &r, 3), static_cast<int>(Dump(r, 3).size()));
  EXPECT_EQ(std::strlen(guard), 39u);
  EXPECT_EQ(guard[40], 'G');

  r.cmdStatus = -300;
  r.msgSeqNum = 4000000000u;
  EXPECT_EQ(Dump(r, 3).rfind("cmdStatus  : -300,\nmsgSeqNum  : 4000000000,\n", 0), 0u);
  EXPECT_EQ(Dump(r, 1).find("DLI_SET_ID"), std::string::npos);  // names only with bit 1

  s_data_cmd sel = Record(GW_RAD_SELECT_CHANNEL);
  sel.payload.select_channel.select_interface = 1;
  EXPECT_EQ(Body(sel), "select_channel.channel: 0,\nselect_channel.select_interface: 1,\n"
                       "select_channel.select_channel: 0,\n");

  // An id without a dump clears the whole buffer.
  s_data_cmd num = Record(DLI_SET_NUMBER);
  char buf[64];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(sprintf_data_cmd(buf, sizeof buf, &num, 3), 0);
  EXPECT_EQ(buf[0] + buf[63], 0);
  EXPECT_EQ(sprintf_data_cmd(nullptr, 64, &num, 0), 0);
  EXPECT_EQ(sprintf_data_cmd(buf, 0, &num, 0), 0);
}

TEST(RadioRecord, CompareAndHistory) {
  s_data_cmd a = SetIdRecord();
  s_data_cmd b = a;
  b.cmdStatus = -195;
  b.msgSeqNum = 99;
  EXPECT_EQ(cmp_data_cmd(&a, &b), 0);  // status and sequence do not count
  b.payload.id.id = 8;
  EXPECT_NE(cmp_data_cmd(&a, &b), 0);
  EXPECT_EQ(cmp_data_cmd(&a, nullptr), -1);

  packet_history h = {0, 0, nullptr};
  EXPECT_EQ(malloc_packet_history(&h, 0), 0);
  ASSERT_EQ(malloc_packet_history(&h, 3), 3);
  s_data_cmd recs[4] = {Record(DLI_SET_ID), Record(ALI_SET_ID), Record(DLI_SET_ID), Record(ALI_SET_ID)};
  double t = 1.0;
  std::vector<int> slots;
  for (int i = 0; i < 4; ++i) {
    recs[i].payload.id.id = static_cast<uint8_t>(10 + i);
    slots.push_back(add_packet_history(&h, &recs[i], &t));
  }
  EXPECT_EQ(slots, (std::vector<int>{1, 2, 0, 1}));
  s_data_cmd* found = find_by_id_packet_history(&h, ALI_SET_ID);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->payload.id.id, 13);
  EXPECT_EQ(find_packet_history(&h, &recs[2], 0), 2);
  EXPECT_EQ(find_packet_history(&h, &recs[0], 0), -1);  // overwritten
  EXPECT_EQ(find_packet_history(&h, &recs[2], 1), -1);  // beyond the depth asked
  EXPECT_EQ(add_packet_history(&h, nullptr, &t), 0);
  free_packet_history(&h);
  EXPECT_EQ(h.capacity, 0);
  EXPECT_EQ(find_by_id_packet_history(&h, ALI_SET_ID), nullptr);
}

// Each copy helper copies its one payload member, all of it and nothing
// beyond, and leaves the records alone when either is missing.
TEST(RadioRecord, CopyHelpersCopyOneMember) {
  struct Row {
    int (*copy)(s_data_cmd*, const s_data_cmd*);
    size_t size;
  };
  const Row rows[] = {
      {cpy_rac, sizeof(s_proto_ra_config)},      {cpy_raka, sizeof(s_proto_ra_keep_alive)},
      {cpy_rdc, sizeof(s_proto_rd_config)},      {cpy_rdka, sizeof(s_proto_rd_keep_alive)},
      {cpy_gac, sizeof(s_proto_ga_config)},      {cpy_gdc, sizeof(s_proto_gd_config)},
      {cpy_gc, sizeof(s_proto_ggs_command)},     {cpy_bss, sizeof(s_proto_rd_bss)},
      {cpy_ggc, sizeof(s_proto_gateway_config)}, {cpy_gs, 3},
      {cpy_debug, 1 + 255},                      {cpy_tstcfg, 2 + 255},
      {cpy_tstka, 2},                            {cpy_channel, 1},
      {cpy_id, 1},                               {cpy_gaka, 1},
      {cpy_gdka, 1},
  };
  s_data_cmd src = Record(0);
  unsigned char* from = reinterpret_cast<unsigned char*>(&src.payload);
  for (size_t i = 0; i < sizeof src.payload; ++i) from[i] = static_cast<unsigned char>(i * 7 + 1);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.size);
    s_data_cmd dst = Record(0);
    const unsigned char* to = reinterpret_cast<const unsigned char*>(&dst.payload);
    EXPECT_EQ(r.copy(&dst, nullptr), 0);
    EXPECT_EQ(r.copy(nullptr, &src), 0);
    EXPECT_EQ(to[0], 0);
    EXPECT_EQ(r.copy(&dst, &src), 0);
    EXPECT_EQ(V(std::memcmp(to, from, r.size), to[r.size]), V(0, 0));
  }
}

}  // namespace
