// Radio state conversions: packets, controller messages and the two roles'
// merge rules.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "asn1/coder.h"
#include "radio/vork_radio_state.h"

namespace {

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
    if (type == 2 || type == 132) EXPECT_EQ(back.chan_id * 1000 + back.freq, 77145.5f);
    if (type == 9 || type == 133) EXPECT_STREQ(back.caller_id, "4711");
    if (type == 130 || type == 133) EXPECT_EQ(Ints({long(back.session_addr), back.ssrc}), (Ints{long(s.session_addr), 0xCAFE}));
    if (type == 135) EXPECT_EQ(back.standby_group, 9);
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

}  // namespace
