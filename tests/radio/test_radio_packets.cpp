// Radio signalling packets: wire bytes, bounds, round trips and printing;
// then the radio state they convert to and from: packets, controller
// messages and the two roles' merge rules.
#include <arpa/inet.h>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "asn1/coder.h"
#include "radio/sig_proto.h"
#include "radio/vork_radio_state.h"
#include "radio_test_support.h"

namespace {

namespace packets {

using radiotest::Bytes;
using radiotest::H;

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

Bytes pack(sig_proto& r, int size = 1024) {
  Bytes buf(static_cast<size_t>(size), 0xEE);
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
    const char* header;
  } rows[] = {
      {&sig_proto::priority, 0x1A, 0xA, "01 A00000"},   {&sig_proto::flag_t, 3, 1, "01 080000"},
      {&sig_proto::flag_p, 1, 1, "01 040000"},          {&sig_proto::flag_r, 1, 1, "01 020000"},
      {&sig_proto::flag_s, 1, 1, "01 010000"},          {&sig_proto::flag_b, 1, 1, "01 008000"},
      {&sig_proto::flag_rv, 1, 1, "01 004000"},         {&sig_proto::flag_sh, 1, 1, "01 002000"},
      {&sig_proto::flag_pw, 1, 1, "01 001000"},         {&sig_proto::status, 0x1FF, 0x1FF, "01 000FF8"},
      {&sig_proto::status, 0x120, 0x120, "01 000900"},  {&sig_proto::status, 0x015, 0x015, "01 0000A8"},
      {&sig_proto::flag_c, 7, 3, "01 000006"},          {&sig_proto::flag_rs, 3, 1, "01 000001"},
  };
  for (const auto& row : rows) {
    sig_proto r = make(SIG_PROTO_GW_FLAG);
    r.*row.field = row.value;
    auto bytes = pack(r);
    EXPECT_EQ(bytes, H(row.header)) << row.value;
    sig_proto back = make(0);
    ASSERT_EQ(sig_proto_unpack(&back, bytes.data(), int(bytes.size())), 0);
    EXPECT_EQ(back.*row.field, row.back);
  }
}

TEST(SigProtoPack, PayloadBytesAndBufferBounds) {
  // Session address reversed, SSRC big-endian.
  sig_proto r = make(SIG_PROTO_WM_TRANS);
  sig_proto_set_wm_transmite(&r, addr("10.1.2.3"), 0x11223344);
  auto bytes = pack(r);
  EXPECT_EQ(bytes, H("82000000 0302010A 11223344"));
  sig_proto back = make(0);
  ASSERT_EQ(sig_proto_unpack(&back, bytes.data(), 12), 0);
  EXPECT_EQ(back.payload.wm_trans.session_addr.s_addr, addr("10.1.2.3").s_addr);
  EXPECT_EQ(back.payload.wm_trans.ssrc, 0x11223344u);

  // The caller id is padded to four bytes; the buffer must hold it.
  sig_proto s = make(SIG_PROTO_GW_SEL_CALL);
  sig_proto_set_gw_selcall(&s, "abc", 3);
  EXPECT_EQ(pack(s, 15), H("09000000 03616263"));
  Bytes small(16, 0xEE);
  EXPECT_EQ(sig_proto_pack(&s, small.data(), 14), SIG_PROTO_ERR_SHORT);
  EXPECT_EQ(small[0], 0x09);  // the header stays written
  sig_proto_set_gw_selcall(&s, "abcd", 4);
  EXPECT_EQ(pack(s, 16), H("09000000 04616263 64000000"));
  EXPECT_EQ(sig_proto_pack(&s, small.data(), 15), SIG_PROTO_ERR_SHORT);
  sig_proto w = make(SIG_PROTO_WM_SEL_CALL_TRANS);
  sig_proto_set_wm_selcall_transmite(&w, addr("192.168.0.1"), 7, "12345", 5);
  EXPECT_EQ(pack(w, 25).size(), 20u);  // 13 + 5 rounded up
  EXPECT_EQ(pack(w, 24).size(), 0u);   // needs length + 20
  // A null text clears the caller id.
  sig_proto_set_gw_selcall(&s, nullptr, 9);
  EXPECT_EQ(s.payload.gw_sel_call.callerID_length, 0);
  EXPECT_EQ(pack(s).size(), 8u);
}

TEST(SigProtoUnpack, ShortAndUnknownInputLeaveRecordAlone) {
  sig_proto r = make(SIG_PROTO_WM_CHAN);
  r.rcv_info[0] = 11;
  r.payload.gw_sel_call.callerID_length = 42;
  const sig_proto before = r;
  const Bytes selcall0 = H("09000000 00"), cut = H("09000000 036162");
  EXPECT_EQ(sig_proto_unpack(&r, cut.data(), 7), SIG_PROTO_ERR_SHORT);
  EXPECT_EQ(sig_proto_unpack(&r, selcall0.data(), 3), SIG_PROTO_ERR_SHORT);
  EXPECT_EQ(sig_proto_unpack(&r, nullptr, 8), SIG_PROTO_ERR_NULL);
  EXPECT_EQ(sig_proto_unpack(nullptr, selcall0.data(), 5), SIG_PROTO_ERR_NULL);
  EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0);
  EXPECT_EQ(sig_proto_unpack(&r, selcall0.data(), 5), 0);
  EXPECT_EQ(r.type * 100 + r.payload.gw_sel_call.callerID_length, SIG_PROTO_GW_SEL_CALL * 100);
  EXPECT_EQ(r.rcv_info[0], 11);

  // A type without a layout only updates the type.
  for (int type : {14, 200}) {
    sig_proto u = make(SIG_PROTO_GW_FLAG);
    u.priority = 3;
    unsigned char bytes[] = {static_cast<unsigned char>(type), 0xF0, 0, 0};
    EXPECT_EQ(sig_proto_unpack(&u, bytes, 4), SIG_PROTO_ERR_TYPE);
    EXPECT_EQ(u.type * 10 + u.priority, type * 10 + 3);
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
  EXPECT_EQ(back.payload.wm_chan.squelsh * 10 + back.payload.wm_chan.rte, 79);
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
      EXPECT_EQ(sig_proto_unpack(&back, bytes.data(), static_cast<int>(bytes.size()) - 1), SIG_PROTO_ERR_SHORT);
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
  const struct {
    int mode;
    std::string text;
  } rows[] = {{SIG_PROTO_PRINT_TYPE_NAME, "type      : WM_FLAG,\n" + flags + tail},
              {SIG_PROTO_PRINT_FLAGS_ONLY, flags},
              {0, flags + tail},
              {SIG_PROTO_PRINT_TYPE_HEX, "type      : 0x00000081,\n" + flags + tail}};
  for (const auto& row : rows) {
    EXPECT_EQ(sprintf_sig_proto(buf, sizeof buf, &r, row.mode), int(row.text.size()));
    EXPECT_EQ(std::string(buf), row.text);
  }

  // Payload lines, and a cut text that never runs past the buffer.
  sig_proto s = make(SIG_PROTO_GW_SEL_CALL);
  sig_proto_set_gw_selcall(&s, "AB", 2);
  sprintf_sig_proto(buf, sizeof buf, &s, 0);
  EXPECT_NE(std::string(buf).find("gw_sel_call.callerID_length: 2,\ngw_sel_call.callerID : \n"
                                  "[0] : 0x41,\n[1] : 0x42,\n"),
            std::string::npos);
  char small[20];
  std::memset(small, 'x', sizeof small);
  EXPECT_GT(sprintf_sig_proto(small, 10, &s, SIG_PROTO_PRINT_TYPE_NAME), 9);
  EXPECT_EQ(std::strlen(small), 9u);
  EXPECT_EQ(small[10], 'x');
  sig_proto unknown = make(77);
  EXPECT_EQ(sprintf_sig_proto(buf, sizeof buf, &unknown, 0), 0);
  EXPECT_EQ(sprintf_sig_proto(buf, 0, &r, 0), 0);
}

}  // namespace packets

namespace state {

using Ints = std::vector<long>;

std::uint32_t ip(const char* dotted) { return inet_addr(dotted); }

sig_proto packet(int type) {
  sig_proto p;
  sig_proto_init(&p);
  p.type = type;
  return p;
}

// A state with every field away from its default.
VorkRadioState busy_state(int command) {
  VorkRadioState s;
  s.command = command;
  s.priority = 3;
  s.ptt = s.bss = s.vad_rx = s.vad_tx = s.sql = s.sh = s.pwr = s.rv = s.resv = 1;
  s.selcall = 2;
  s.li = 300;
  s.session_addr = ip("10.0.0.9");
  s.ssrc = 0xCAFE;
  std::strcpy(s.caller_id, "4711");
  s.remote_no = 4;
  s.remote_ch = 5;
  s.chan_id = 77;
  s.freq = 145.5f;
  s.squelsh = 2;
  s.rte = 5;
  s.standby_state = 1;
  s.standby_group = 9;
  s.standby_receiver = 0;
  s.quality = 0.25f;
  s.from_addr = ip("192.168.1.20");
  s.from_ssrc = 0x1234;
  return s;
}

TEST(VorkRadioState, PacketsRoundTripThroughEachRole) {
  for (int type = 1; type <= 135; ++type) {
    if (type > 13 && type < 129) continue;
    const VorkRadioState s = busy_state(type);
    sig_proto p = packet(0);
    const bool gw = type >= 129;
    const int r = gw ? VorkRadioGWStateMaps::EncodeProto(s, p) : VorkRadioWSStateMaps::EncodeProto(s, p);
    ASSERT_EQ(r, 0) << type;
    // The other role refuses the type.
    sig_proto other = packet(0);
    EXPECT_EQ(gw ? VorkRadioWSStateMaps::EncodeProto(s, other) : VorkRadioGWStateMaps::EncodeProto(s, other), -1);

    // Through the wire and back.
    unsigned char bytes[1024];
    const int n = sig_proto_pack(&p, bytes, sizeof bytes);
    sig_proto q = packet(0);
    ASSERT_EQ(sig_proto_unpack(&q, bytes, n), 0);
    q.rcv_info[0] = p.rcv_info[0];
    q.rcv_info[1] = p.rcv_info[1];
    VorkRadioState back;
    ASSERT_EQ(VorkRadioStateMaps::DecodeProto(q, back), 0) << type;
    EXPECT_EQ(Ints({back.command, back.priority, back.li, back.selcall,
                    back.vad_rx + back.vad_tx + back.sql + back.ptt + back.bss + back.sh + back.pwr + back.rv + back.resv,
                    long(back.from_addr)}),
              (Ints{type, 3, 300, 2, 9, long(s.from_addr)}));
    if (type == 2 || type == 132) { EXPECT_EQ(back.chan_id * 1000 + back.freq, 77145.5f); }
    if (type == 9 || type == 133) { EXPECT_STREQ(back.caller_id, "4711"); }
    if (type == 130 || type == 133) { EXPECT_EQ(Ints({long(back.session_addr), back.ssrc}), (Ints{long(s.session_addr), 0xCAFE})); }
    if (type == 135) { EXPECT_EQ(back.standby_group, 9); }
  }
  VorkRadioState s;
  sig_proto p = packet(200);
  EXPECT_EQ(VorkRadioStateMaps::DecodeProto(p, s), -1);
  EXPECT_EQ(s.command, 200);
}

TEST(VorkRadioState, GatewayMergeRules) {
  // A GW_FLAG command touches the six command flags only.
  VorkRadioState chan;
  const VorkRadioState cmd = busy_state(SIG_PROTO_GW_FLAG);
  EXPECT_EQ(VorkRadioGWStateMaps::PutProtoFromChanToRadio(cmd, chan), 0);
  // Who sent the last command is the session.
  EXPECT_EQ(Ints({chan.ptt + chan.bss + chan.sh + chan.rv + chan.pwr + chan.resv,
                  chan.vad_rx + chan.vad_tx + chan.sql + chan.selcall + chan.li, long(chan.session_addr), chan.ssrc,
                  chan.chan_id}),
            (Ints{6, 0, long(cmd.from_addr), cmd.from_ssrc, 0}));

  // A WM_TRANS report moves the transmitting workstation into the radio state.
  VorkRadioState radio;
  EXPECT_EQ(VorkRadioGWStateMaps::PutProtoFromRadioToChan(busy_state(SIG_PROTO_WM_TRANS), radio), 0);
  EXPECT_EQ(Ints({long(radio.session_addr), radio.li, radio.chan_id}), (Ints{long(ip("10.0.0.9")), 300, 0}));
  EXPECT_FLOAT_EQ(radio.quality, 0.0f);

  // A whole status copies every row and asks for nothing to be sent.
  VorkRadioState whole = busy_state(0);
  EXPECT_EQ(VorkRadioGWStateMaps::PutProtoFromRadioToChan(whole, radio), -1);
  EXPECT_EQ(radio.standby_group, 9);
  EXPECT_FLOAT_EQ(radio.quality, 0.25f);
  EXPECT_EQ(VorkRadioGWStateMaps::PutProtoFromChanToRadio(whole, chan), -1);
  EXPECT_STREQ(chan.caller_id, "4711");
}

TEST(VorkRadioState, CallerIdLimits) {
  TERM::VorkRadioModifier m;
  m.set_addr().set_session_addr("1.2.3.4");
  auto& sel = m.set_params().select_gw_set_selcall();
  sel.set_cid(std::string(300, 'x'));
  sel.set_ip("5.6.7.8");
  VorkRadioState s;
  ASSERT_EQ(VorkRadioStateMaps::DecodeASN(m, s), 0);
  EXPECT_EQ(Ints({long(std::strlen(s.caller_id)), long(s.session_addr), long(s.from_addr)}),
            (Ints{255, long(ip("5.6.7.8")), long(ip("1.2.3.4"))}));

  sig_proto p = packet(0);
  s.command = SIG_PROTO_GW_SEL_CALL;
  ASSERT_EQ(VorkRadioWSStateMaps::EncodeProto(s, p), 0);
  EXPECT_EQ(Ints({p.payload.gw_sel_call.callerID_length, p.payload.gw_sel_call.callerID[255]}), (Ints{255, 0}));
}

}  // namespace state

}  // namespace
