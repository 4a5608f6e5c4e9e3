// Frames the links put on the line, dissected by an independent LAPD/Q.931
// implementation (tshark reading a LINKTYPE_LAPD capture made by text2pcap).
#include <gtest/gtest.h>

#include "links/lapd.h"
#include "links/lapd_nt.h"
#include "test_lapd_harness.h"

using namespace LapdTest;

namespace {

TEST(LapdTshark, LinkFramesDissectAsSent) {
  Channel userCh, netCh;
  Owner userOwner, netOwner;
  auto* user = new ISDN::LAPD(ISDN::Side::user, 0);
  auto* net = new ISDN::LAPD(ISDN::Side::network, 0);
  userOwner.add_protocol_tail(user);
  netOwner.add_protocol_tail(net);
  user->hdlc(&userCh);
  net->hdlc(&netCh);

  std::vector<Bytes> wire;
  auto moveAll = [&]() {
    for (int i = 0; i < 100 && (!userCh.sent.empty() || !netCh.sent.empty()); ++i) {
      if (!userCh.sent.empty()) {
        wire.push_back(userCh.pop());
        Packet p = packet(wire.back());
        net->receive(p);
      }
      if (!netCh.sent.empty()) {
        wire.push_back(netCh.pop());
        Packet p = packet(wire.back());
        user->receive(p);
      }
    }
  };
  user->activate();
  moveAll();
  Packet setup = packet({0x08, 0x01, 0x05, 0x05, 0x04, 0x03, 0x80, 0x90, 0xA3, 0x70, 0x04, 0x81, '5', '5', '5'});
  user->message(setup);
  moveAll();
  Packet connect = packet({0x08, 0x01, 0x85, 0x07});
  net->message(connect);
  moveAll();
  user->deactivate();
  moveAll();

  auto rows = dissect(wire, 203,
                      "-e lapd.sapi -e lapd.cr -e lapd.tei -e lapd.control.u_modifier_cmd -e lapd.control.s_ftype "
                      "-e lapd.control.n_s -e lapd.control.n_r -e lapd.control.p -e q931.message_type "
                      "-e q931.call_ref_flag -e q931.call_ref -e q931.called_party_number.digits");
  // SABME, UA, I(SETUP), RR, I(CONNECT), RR, DISC, UA: address, U-frame
  // modifier or S-frame type, N(S), N(R), P, and the Q.931 message.
  std::vector<std::string> expect = {
      "0|0|0|0x1b||||1||||",        "0|0|0|0x18||||1||||",   "0|0|0|||0|0||0x05|0|05|555",
      "0|0|0||0x0000||1|||||",      "0|1|0|||0|1||0x07|1|05|", "0|1|0||0x0000||1|||||",
      "0|0|0|0x10||||1||||",        "0|0|0|0x18||||1||||",
  };
  ASSERT_EQ(rows.size(), wire.size());
  EXPECT_EQ(rows, expect) << [&] {
    std::string s;
    for (auto& r : rows) s += r + "\n";
    return s;
  }();
}

TEST(LapdTshark, TeiManagementDissects) {
  Owner owner;
  auto* nt = new ISDN::LAPD_NT;
  owner.add_protocol_tail(nt);
  Packet req = packet({0xFC, 0xFF, 0x03, 0x0F, 0x34, 0x12, 0x01, 0xFF});
  nt->receive(req);
  nt->activate();
  std::vector<Bytes> wire(owner.down.begin(), owner.down.end());
  ASSERT_EQ(wire.size(), 3u);  // identity assigned, SABME to the terminal, check request
  auto rows = dissect(wire, 203, "-e lapd.sapi -e lapd.tei -e lapd.control.p");
  std::vector<std::string> expect = {"63|127|", "0|64|1", "63|127|"};
  EXPECT_EQ(rows, expect);
}

}  // namespace
