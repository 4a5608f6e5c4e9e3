// Radio signalling packets: wire bytes, bounds, round trips and printing.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "radio/sig_proto.h"

namespace {

sig_proto make(int type) {
  sig_proto r;
  sig_proto_init(&r);
  r.type = type;
  return r;
}

in_addr addr(const char* dotted) {
  in_addr a;
  inet_pton(AF_INET, dotted, &a);
  return a;
}

std::vector<unsigned char> pack(sig_proto& r, int size = 1024) {
  std::vector<unsigned char> buf(static_cast<size_t>(size), 0xEE);
  int n = sig_proto_pack(&r, buf.data(), size);
  buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return buf;
}

// Each header field alone: where its bits land in bytes 1-3, and what a
// receiver reads back (only the bits the wire holds).
TEST(SigProtoPack, HeaderBitsEachFieldInItsPlace) {
  using Field = std::int32_t sig_proto::*;
  const struct {
    Field field;
    int value, back;
    unsigned char b1, b2, b3;
  } rows[] = {
      {&sig_proto::priority, 0x1A, 0xA, 0xA0, 0x00, 0x00}, {&sig_proto::flag_t, 3, 1, 0x08, 0x00, 0x00},
      {&sig_proto::flag_p, 1, 1, 0x04, 0x00, 0x00},        {&sig_proto::flag_r, 1, 1, 0x02, 0x00, 0x00},
      {&sig_proto::flag_s, 1, 1, 0x01, 0x00, 0x00},        {&sig_proto::flag_b, 1, 1, 0x00, 0x80, 0x00},
      {&sig_proto::flag_rv, 1, 1, 0x00, 0x40, 0x00},       {&sig_proto::flag_sh, 1, 1, 0x00, 0x20, 0x00},
      {&sig_proto::flag_pw, 1, 1, 0x00, 0x10, 0x00},       {&sig_proto::status, 0x1FF, 0x1FF, 0x00, 0x0F, 0xF8},
      {&sig_proto::status, 0x120, 0x120, 0x00, 0x09, 0x00}, {&sig_proto::status, 0x015, 0x015, 0x00, 0x00, 0xA8},
      {&sig_proto::flag_c, 7, 3, 0x00, 0x00, 0x06},        {&sig_proto::flag_rs, 3, 1, 0x00, 0x00, 0x01},
  };
  for (const auto& row : rows) {
    sig_proto r = make(SIG_PROTO_GW_FLAG);
    r.*row.field = row.value;
    auto bytes = pack(r);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + 4),
              (std::vector<unsigned char>{SIG_PROTO_GW_FLAG, row.b1, row.b2, row.b3}))
        << row.value;
    sig_proto back = make(0);
    ASSERT_EQ(sig_proto_unpack(&back, bytes.data(), int(bytes.size())), 0);
    EXPECT_EQ(back.*row.field, row.back);
  }
}

TEST(SigProtoPack, SessionAddressReversedAndSsrcBigEndian) {
  sig_proto r = make(SIG_PROTO_WM_TRANS);
  sig_proto_set_wm_transmite(&r, addr("10.1.2.3"), 0x11223344);
  auto bytes = pack(r);
  ASSERT_EQ(bytes.size(), 12u);
  EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + 4, bytes.end()),
            (std::vector<unsigned char>{0x03, 0x02, 0x01, 0x0A, 0x11, 0x22, 0x33, 0x44}));
  sig_proto back = make(0);
  ASSERT_EQ(sig_proto_unpack(&back, bytes.data(), 12), 0);
  char text[32];
  inet_ntop(AF_INET, &back.payload.wm_trans.session_addr, text, sizeof text);
  EXPECT_STREQ(text, "10.1.2.3");
  EXPECT_EQ(back.payload.wm_trans.ssrc, 0x11223344u);
}

TEST(SigProtoPack, CallerIdPaddingAndBufferBounds) {
  sig_proto r = make(SIG_PROTO_GW_SEL_CALL);
  sig_proto_set_gw_selcall(&r, "abc", 3);
  EXPECT_EQ(pack(r, 15), (std::vector<unsigned char>{0x09, 0, 0, 0, 3, 'a', 'b', 'c'}));
  std::vector<unsigned char> small(16, 0xEE);
  EXPECT_EQ(sig_proto_pack(&r, small.data(), 14), SIG_PROTO_ERR_SHORT);
  EXPECT_EQ(small[0], 0x09);  // the header stays written

  sig_proto_set_gw_selcall(&r, "abcd", 4);
  auto bytes = pack(r, 16);
  EXPECT_EQ(bytes.size(), 12u);
  EXPECT_EQ(bytes[8], 'd');
  EXPECT_EQ(bytes[9], 0);
  EXPECT_EQ(bytes[10], 0);
  EXPECT_EQ(bytes[11], 0);
  EXPECT_EQ(sig_proto_pack(&r, small.data(), 15), SIG_PROTO_ERR_SHORT);

  sig_proto w = make(SIG_PROTO_WM_SEL_CALL_TRANS);
  sig_proto_set_wm_selcall_transmite(&w, addr("192.168.0.1"), 7, "12345", 5);
  EXPECT_EQ(pack(w, 25).size(), 20u);  // 13 + 5 rounded up
  EXPECT_EQ(pack(w, 24).size(), 0u);   // needs length + 20

  // A null text clears the caller id; a text stops at its end.
  sig_proto_set_gw_selcall(&r, nullptr, 9);
  EXPECT_EQ(r.payload.gw_sel_call.callerID_length, 0);
  EXPECT_EQ(pack(r).size(), 8u);
}

TEST(SigProtoUnpack, ShortAndUnknownInputLeaveRecordAlone) {
  sig_proto r = make(SIG_PROTO_WM_CHAN);
  r.rcv_info[0] = 11;
  r.payload.gw_sel_call.callerID_length = 42;
  const sig_proto before = r;

  const unsigned char selcall0[] = {0x09, 0, 0, 0, 0};
  const unsigned char selcall_cut[] = {0x09, 0, 0, 0, 3, 'a', 'b'};
  EXPECT_EQ(sig_proto_unpack(&r, selcall_cut, sizeof selcall_cut), SIG_PROTO_ERR_SHORT);
  EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0);
  EXPECT_EQ(sig_proto_unpack(&r, selcall0, 3), SIG_PROTO_ERR_SHORT);
  EXPECT_EQ(sig_proto_unpack(&r, nullptr, 8), SIG_PROTO_ERR_NULL);
  EXPECT_EQ(sig_proto_unpack(nullptr, selcall0, 5), SIG_PROTO_ERR_NULL);
  EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0);

  EXPECT_EQ(sig_proto_unpack(&r, selcall0, sizeof selcall0), 0);
  EXPECT_EQ(r.type, SIG_PROTO_GW_SEL_CALL);
  EXPECT_EQ(r.payload.gw_sel_call.callerID_length, 0);
  EXPECT_EQ(r.rcv_info[0], 11);

  // A type without a layout only updates the type.
  for (int type : {14, 200}) {
    sig_proto u = make(SIG_PROTO_GW_FLAG);
    u.priority = 3;
    unsigned char bytes[] = {static_cast<unsigned char>(type), 0xF0, 0, 0};
    EXPECT_EQ(sig_proto_unpack(&u, bytes, 4), SIG_PROTO_ERR_TYPE);
    EXPECT_EQ(u.type, type);
    EXPECT_EQ(u.priority, 3);
  }

  // WM_CHAN needs 16 bytes; trailing bytes are ignored.
  sig_proto c = make(SIG_PROTO_WM_CHAN);
  sig_proto_set_wm_chan(&c, 0x01020304, 145.5f, 7, 9);
  auto bytes = pack(c);
  bytes.resize(20, 0xAB);
  sig_proto back = make(0);
  EXPECT_EQ(sig_proto_unpack(&back, bytes.data(), 15), SIG_PROTO_ERR_SHORT);
  ASSERT_EQ(sig_proto_unpack(&back, bytes.data(), 20), 0);
  EXPECT_EQ(back.payload.wm_chan.id, 0x01020304u);
  EXPECT_FLOAT_EQ(back.payload.wm_chan.freq, 145.5f);
  EXPECT_EQ(back.payload.wm_chan.squelsh, 7);
  EXPECT_EQ(back.payload.wm_chan.rte, 9);
}

TEST(SigProtoUnpack, EveryLayoutRoundTrips) {
  std::vector<sig_proto> records;
  auto add = [&](int type) -> sig_proto& {
    records.push_back(make(type));
    sig_proto_set_base(&records.back(), 9, 1, 0, 1, 0, 1, 0, 1, 0, 1, 3, 300);
    return records.back();
  };
  sig_proto_set_gw_adjust_chan(&add(2), 123456, 118.025f);
  sig_proto_set_gw_selcall(&add(9), "0123456789", 10);
  sig_proto_set_gw_select_rc_chan(&add(10), 4, 250);
  sig_proto_set_gw_adjust_squelsh(&add(11), 200);
  sig_proto_set_gw_adjust_rte(&add(12), 17);
  sig_proto_set_gw_adjust_standby(&add(13), 2);
  sig_proto_set_wm_transmite(&add(130), addr("172.16.5.250"), 0xDEADBEEF);
  sig_proto_set_wm_radio_quality(&add(131), 0.75f);
  sig_proto_set_wm_chan(&add(132), 77, 300.125f, 1, 2);
  sig_proto_set_wm_selcall_transmite(&add(133), addr("1.2.3.4"), 5, "xyz", 3);
  sig_proto_set_wm_select_rc_chan(&add(134), 1, 2);
  sig_proto_set_wm_standby(&add(135), 1, 2, 3);
  for (int t : {1, 3, 4, 5, 6, 7, 8, 129}) add(t);

  for (sig_proto& r : records) {
    auto bytes = pack(r);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes.size() % 4, 0u) << r.type;
    sig_proto back = make(0);
    ASSERT_EQ(sig_proto_unpack(&back, bytes.data(), static_cast<int>(bytes.size())), 0) << r.type;
    EXPECT_EQ(cmp_sig_proto(&r, &back), 0) << r.type;
    // A byte short of the payload is refused.
    if (bytes.size() > 4 && r.type != 9 && r.type != 133) {
      EXPECT_EQ(sig_proto_unpack(&back, bytes.data(), static_cast<int>(bytes.size()) - 1),
                SIG_PROTO_ERR_SHORT);
    }
  }
}

TEST(SigProtoText, PrintFlagsAndTruncation) {
  sig_proto r = make(SIG_PROTO_WM_FLAG);
  r.flag_p = 1;
  r.priority = 4;
  char buf[1024];
  const std::string flags =
      "flag_t   : 0,\nflag_p   : 1,\nflag_r   : 0,\nflag_s   : 0,\nflag_b   : 0,\n"
      "flag_rv  : 0,\nflag_sh  : 0,\nflag_rs  : 0,\nflag_pw  : 0,\nflag_c   : 0,\n";
  const std::string tail = "priority : 4,\nstatus   : 0,\n";
  int n = sprintf_sig_proto(buf, sizeof buf, &r, SIG_PROTO_PRINT_TYPE_NAME);
  EXPECT_EQ(std::string(buf), "type      : WM_FLAG,\n" + flags + tail);
  EXPECT_EQ(n, static_cast<int>(std::strlen(buf)));
  sprintf_sig_proto(buf, sizeof buf, &r, SIG_PROTO_PRINT_FLAGS_ONLY);
  EXPECT_EQ(std::string(buf), flags);
  sprintf_sig_proto(buf, sizeof buf, &r, 0);
  EXPECT_EQ(std::string(buf), flags + tail);
  sprintf_sig_proto(buf, sizeof buf, &r, SIG_PROTO_PRINT_TYPE_HEX);
  EXPECT_EQ(std::string(buf).substr(0, 23), "type      : 0x00000081,");

  // Payload lines, and a cut text that never runs past the buffer.
  sig_proto s = make(SIG_PROTO_GW_SEL_CALL);
  sig_proto_set_gw_selcall(&s, "AB", 2);
  sprintf_sig_proto(buf, sizeof buf, &s, 0);
  EXPECT_NE(std::string(buf).find("gw_sel_call.callerID_length: 2,\ngw_sel_call.callerID : \n"
                                  "[0] : 0x41,\n[1] : 0x42,\n"),
            std::string::npos);
  char small[20];
  std::memset(small, 'x', sizeof small);
  const int full = sprintf_sig_proto(small, 10, &s, SIG_PROTO_PRINT_TYPE_NAME);
  EXPECT_EQ(std::strlen(small), 9u);
  EXPECT_EQ(small[10], 'x');
  EXPECT_GT(full, 9);

  sig_proto unknown = make(77);
  EXPECT_EQ(sprintf_sig_proto(buf, sizeof buf, &unknown, 0), 0);
  EXPECT_EQ(sprintf_sig_proto(buf, 0, &r, 0), 0);
}

}  // namespace
