#pragma once
// Helpers of the radio slot tests: packed radio packets and byte vectors
// written as hex text.
#include <functional>
#include <string>
#include <vector>

#include "radio/sig_proto.h"
#include "slots/slot_bench_fixture.h"

namespace radiotest {

using slottest::LogCapture;
using Bytes = std::vector<unsigned char>;

// "01 11 c0 2c" as bytes; blanks are only for reading.
inline Bytes H(const std::string& hex) {
  Bytes b;
  std::string digits;
  for (char c : hex)
    if (c != ' ') digits += c;
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2) b.push_back(uint8_t(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return b;
}

// A radio RTP create towards 127.0.0.1:dport (from 127.0.0.1:sport unless
// 0): A-law, status priority 7, channel 3 at 145.5, remote 1/2, standby 1.
inline std::function<void(LGCP::Command&)> RadioCreate(unsigned dport, unsigned sport = 0,
                                                       std::function<void(TERM::RtpParams&)> more = {}) {
  return [=](LGCP::Command& c) {
    LGCP::CreateRtpParams& p = c.select_create().select_rtp();
    TERM::RtpParams& r = p.set_codecRTP();
    r.set_payload(TERM::Payload::ptG711_Alaw);
    r.set_dhost().set_iaddr("127.0.0.1");
    r.set_dhost().set_port(dport);
    if (sport) r.set_shost().set_iaddr("127.0.0.1"), r.set_shost().set_port(sport);
    p.set_txPayload(TERM::Payload::ptG711_Alaw);
    p.set_rxPayload(TERM::Payload::ptG711_Alaw);
    TERM::VorkRadioStatus& st = r.set_radio().set_status().select_vork();
    st.set_flags().set_prio(7);
    st.set_freq().set_channel(3);
    st.set_freq().set_frequency("145.5");
    st.set_remote().set_no(1);
    st.set_remote().set_ch(2);
    st.set_standby_state_channel().setFromInt(1);
    if (more) more(r);
  };
}

// A packet of `type` with its priority and push-to-talk flag.
inline Bytes Packed(int type, int priority, int ptt = 0) {
  sig_proto p;
  sig_proto_init(&p);
  p.type = type;
  p.priority = priority;
  p.flag_p = ptt;
  unsigned char buf[1024];
  const int n = sig_proto_pack(&p, buf, sizeof buf);
  return Bytes(buf, buf + (n > 0 ? n : 0));
}

}  // namespace radiotest
