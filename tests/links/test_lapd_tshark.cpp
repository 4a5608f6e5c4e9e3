// Frames the links put on the line, dissected by an independent LAPD/Q.931
// implementation (tshark reading a LINKTYPE_LAPD capture made by text2pcap).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "links/lapd.h"
#include "links/lapd_nt.h"
#include "test_lapd_harness.h"

using namespace LapdTest;

namespace {

bool haveTool(const char* name) {
  std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

std::string run(const std::string& cmd) {
  std::string out;
  FILE* f = ::popen(cmd.c_str(), "r");
  if (!f) return out;
  char buf[512];
  while (std::fgets(buf, sizeof buf, f)) out += buf;
  ::pclose(f);
  return out;
}

// One output line per frame: the fields asked for, separated by '|'.
std::vector<std::string> dissect(const std::vector<Bytes>& frames, const std::string& fields) {
  char tmpl[] = "/tmp/tsd-lapd-XXXXXX";
  const char* dir = ::mkdtemp(tmpl);
  if (!dir) return {};
  std::string d = dir;
  {
    std::ofstream txt(d + "/frames.txt");
    for (auto& f : frames) {
      txt << "0000";
      char b[4];
      for (uint8_t x : f) {
        std::snprintf(b, sizeof b, " %02x", x);
        txt << b;
      }
      txt << "\n\n";
    }
  }
  std::string cmd = "text2pcap -q -l 203 " + d + "/frames.txt " + d + "/frames.pcap >/dev/null 2>&1 && "
                    "tshark -r " + d + "/frames.pcap -T fields -E separator='|' " + fields + " 2>/dev/null";
  std::istringstream out(run(cmd));
  run("rm -rf '" + d + "'");
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(out, line)) lines.push_back(line);
  return lines;
}

TEST(LapdTshark, LinkFramesDissectAsSent) {
  if (!haveTool("tshark") || !haveTool("text2pcap")) GTEST_SKIP() << "tshark not installed";
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

  auto rows = dissect(wire,
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
  if (!haveTool("tshark") || !haveTool("text2pcap")) GTEST_SKIP() << "tshark not installed";
  Owner owner;
  auto* nt = new ISDN::LAPD_NT;
  owner.add_protocol_tail(nt);
  Packet req = packet({0xFC, 0xFF, 0x03, 0x0F, 0x34, 0x12, 0x01, 0xFF});
  nt->receive(req);
  nt->activate();
  std::vector<Bytes> wire(owner.down.begin(), owner.down.end());
  ASSERT_EQ(wire.size(), 3u);  // identity assigned, SABME to the terminal, check request
  auto rows = dissect(wire, "-e lapd.sapi -e lapd.tei -e lapd.control.p");
  std::vector<std::string> expect = {"63|127|", "0|64|1", "63|127|"};
  EXPECT_EQ(rows, expect);
}

}  // namespace
