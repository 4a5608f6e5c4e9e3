// Traps from the builder as independent SNMP implementations read them:
// net-snmp's snmptrapd receiving them over loopback UDP, and tshark
// dissecting them from a capture.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "mon_test_support.h"
#include "monitoring/cdr_sender.h"
#include "monitoring/trap.h"
#include "support/startup_harness.h"

using namespace startup_test;

namespace {

bool Have(const std::string& tools) {
  return std::system(("for t in " + tools + "; do command -v $t >/dev/null 2>&1 || exit 1; done").c_str()) == 0;
}

// One value of every type a receiver decodes, named 1.3.6.1.4.1.99999.<row
// + 1>, with the text snmptrapd logs for it.
const int32_t kInt = -129;
const uint32_t kBig = 0x80000000u, kMax = 0xFFFFFFFFu, kOid[] = {2, 999, 3};
const unsigned char kIp[] = {10, 1, 2, 3}, kOpaque[] = {1, 2};
const std::string kText(300, 'x');
const struct Binding { unsigned char type; const void* v; int len; std::string logged; } kBindings[] = {
    {SNMP_TYPE_INTEGER, &kInt, 4, "INTEGER: -129"},
    {SNMP_TYPE_OCTETSTRING, "hello board", 11, "STRING: \"hello board\""},
    {SNMP_TYPE_COUNTER32, &kBig, 4, "Counter32: 2147483648"},
    {SNMP_TYPE_GAUGE32, &kMax, 4, "Gauge32: 4294967295"},
    {SNMP_TYPE_IPADDRESS, kIp, 4, "IpAddress: 10.1.2.3"},
    {SNMP_TYPE_NULL, nullptr, 0, "NULL"},
    {SNMP_TYPE_OCTETSTRING, kText.data(), 300, "STRING: \"" + kText + "\""},
    {SNMP_TYPE_OBJID, kOid, 12, "OID: .2.999.3"},
    {SNMP_TYPE_OPAQUE, kOpaque, 2, "OPAQUE: 01 02 "},
    {SNMP_TYPE_TIMETICKS, &kBig, 4, "Timeticks: (2147483648) 248 days, 13:13:56.48"}};

// A trap with the two bindings every SNMPv2 trap starts with, then (`full`)
// every binding above.
void BuildTrap(trap_context& c, uint32_t seed, const char* community, uint32_t ticks, const char* oid, bool full) {
  snmp_session_seed(&c, seed);
  trap_init(&c, community);
  ASSERT_EQ(0, trap_pack_begin(&c));
  ASSERT_EQ(0, trap_pack_add(&c, objid_sysuptime, objid_sysuptime_len, SNMP_TYPE_TIMETICKS, &ticks, 4));
  uint32_t o[16];
  ASSERT_EQ(0, trap_pack_add(&c, objid_snmptrap, objid_snmptrap_len, SNMP_TYPE_OBJID, o, 4 * parse_oid(o, 16, oid)));
  for (uint32_t n = 1; full && n <= 10; ++n) {
    const uint32_t name[] = {1, 3, 6, 1, 4, 1, 99999, n};
    ASSERT_EQ(0, trap_pack_add(&c, name, 8, kBindings[n - 1].type, kBindings[n - 1].v, kBindings[n - 1].len)) << n;
  }
  ASSERT_EQ(0, trap_pack_end(&c));
}

TEST(TrapPeers, SnmptrapdDecodesEveryBinding) {
  ASSERT_TRUE(Have("snmptrapd")) << "snmptrapd missing (scripts/deps.sh installs it)";
  // In the foreground on a loopback port (the test's own network namespace),
  // logging one line per trap.
  TempRoot root;
  const std::string conf = root / "/snmptrapd.conf", log = root / "/traps.log", dir = root.path();
  writeFile(conf, "authCommunity log public\n");
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("SNMP_PERSISTENT_DIR", dir.c_str(), 1);
    ::execlp("snmptrapd", "snmptrapd", "-f", "-C", "-c", conf.c_str(), "-Lf", log.c_str(), "-n", "-On", "-m", "", "-M",
             dir.c_str(), "-F", "TRAP|%P|%v\n", "udp:127.0.0.1:10162", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  struct Stop { pid_t pid; ~Stop() { ::kill(pid, SIGTERM), ::waitpid(pid, nullptr, 0); } } stop{pid};
  ASSERT_TRUE(waitFor([&] { return readFile(log).find("NET-SNMP version") != std::string::npos; }, 60000));
  auto traps = [&] {
    std::string all = readFile(log), out;
    for (std::size_t at = 0; (at = all.find("\nTRAP|", at)) != std::string::npos; ++at)
      out += all.substr(at + 1, all.find('\n', at + 1) - at);
    return out;
  };
  for (bool full : {true, false}) {
    trap_context c;
    BuildTrap(c, full ? 42 : 44, "public", full ? 12345 : 0, full ? "1.3.6.1.4.1.99999.0.1" : "1.3.6.1.6.3.1.1.5.1",
              full);  // coldStart
    std::string bytes(reinterpret_cast<char*>(c.packet), c.packet_len);
    EXPECT_TRUE(CDR_Sender::Sender().SendTo(bytes, "127.0.0.1:10162"));
  }
  ASSERT_TRUE(waitFor([&] { return countOf(traps(), "TRAP|") >= 2; }, 60000)) << readFile(log);
  const std::string head = "TRAP|TRAP2, SNMP v2c, community public|.1.3.6.1.2.1.1.3.0 = Timeticks: ";
  std::string full = head + "(12345) 0:02:03.45\t.1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.4.1.99999.0.1";
  for (int n = 1; n <= 10; ++n) full += "\t.1.3.6.1.4.1.99999." + std::to_string(n) + " = " + kBindings[n - 1].logged;
  EXPECT_EQ(full + "\n" + head + "(0) 0:00:00.00\t.1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.6.3.1.1.5.1\n",
            traps());
}

TEST(TrapPeers, TsharkDissectsHeaderAndBindings) {
  ASSERT_TRUE(Have("tshark text2pcap")) << "tshark or text2pcap missing (scripts/deps.sh installs them)";
  TempRoot root;
  trap_context c;
  BuildTrap(c, 0, "kestra-board", 12345, "1.3.6.1.4.1.99999.0.1", true);
  const std::string txt = root / "/trap.txt", pcap = root / "/trap.pcap", out = root / "/fields.txt";
  writeFile(txt, "0000 " + montest::Hex(c.packet, c.packet_len) + "\n");
  std::string cmd = "text2pcap -q -u 40000,162 " + txt + " " + pcap + " && tshark -r " + pcap +
                    " -T fields -E separator='|' -E aggregator=';' -e snmp.version -e snmp.community"
                    " -e snmp.request_id -e snmp.error_status -e snmp.error_index -e snmp.name -e snmp.value.int"
                    " -e snmp.value.counter -e snmp.value.g32 -e snmp.value.timeticks -e snmp.value.ipv4"
                    " -e snmp.value.oid -e _ws.malformed -e _ws.expert > " + out + " 2>/dev/null";
  ASSERT_EQ(0, std::system(cmd.c_str()));
  EXPECT_EQ(
      "1|kestra-board|991873|0|0|"
      "1.3.6.1.2.1.1.3.0;1.3.6.1.6.3.1.1.4.1.0;1.3.6.1.4.1.99999.1;1.3.6.1.4.1.99999.2;1.3.6.1.4.1.99999.3;"
      "1.3.6.1.4.1.99999.4;1.3.6.1.4.1.99999.5;1.3.6.1.4.1.99999.6;1.3.6.1.4.1.99999.7;1.3.6.1.4.1.99999.8;"
      "1.3.6.1.4.1.99999.9;1.3.6.1.4.1.99999.10|"
      "-129|2147483648|4294967295|12345;2147483648|10.1.2.3|1.3.6.1.4.1.99999.0.1;2.999.3||\n",
      readFile(out));
}

}  // namespace
