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

// A trap with the two bindings every SNMPv2 trap starts with; `full` adds
// one value of every type a receiver decodes, named 1.3.6.1.4.1.99999.<n>.
void BuildTrap(trap_context& c, uint32_t seed, const char* community, uint32_t ticks, const char* oid, bool full) {
  snmp_session_seed(&c, seed);
  trap_init(&c, community);
  ASSERT_EQ(0, trap_pack_begin(&c));
  ASSERT_EQ(0, trap_pack_add(&c, objid_sysuptime, objid_sysuptime_len, SNMP_TYPE_TIMETICKS, &ticks, 4));
  uint32_t o[16];
  ASSERT_EQ(0, trap_pack_add(&c, objid_snmptrap, objid_snmptrap_len, SNMP_TYPE_OBJID, o, 4 * parse_oid(o, 16, oid)));
  const int32_t i = -129;
  const uint32_t big = 0x80000000u, max = 0xFFFFFFFFu, id[] = {2, 999, 3};
  const unsigned char ip[] = {10, 1, 2, 3}, opaque[] = {1, 2};
  const std::string text(300, 'x');
  struct Binding { unsigned char type; const void* v; int len; } values[] = {
      {SNMP_TYPE_INTEGER, &i, 4},    {SNMP_TYPE_OCTETSTRING, "hello board", 11}, {SNMP_TYPE_COUNTER32, &big, 4},
      {SNMP_TYPE_GAUGE32, &max, 4},  {SNMP_TYPE_IPADDRESS, ip, 4},               {SNMP_TYPE_NULL, nullptr, 0},
      {SNMP_TYPE_OCTETSTRING, text.data(), 300}, {SNMP_TYPE_OBJID, id, 12},    {SNMP_TYPE_OPAQUE, opaque, 2},
      {SNMP_TYPE_TIMETICKS, &big, 4}};
  for (uint32_t n = 1; full && n <= 10; ++n) {
    const uint32_t name[] = {1, 3, 6, 1, 4, 1, 99999, n};
    ASSERT_EQ(0, trap_pack_add(&c, name, 8, values[n - 1].type, values[n - 1].v, values[n - 1].len)) << n;
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
  EXPECT_EQ("TRAP|TRAP2, SNMP v2c, community public|"
            ".1.3.6.1.2.1.1.3.0 = Timeticks: (12345) 0:02:03.45\t"
            ".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.4.1.99999.0.1\t"
            ".1.3.6.1.4.1.99999.1 = INTEGER: -129\t"
            ".1.3.6.1.4.1.99999.2 = STRING: \"hello board\"\t"
            ".1.3.6.1.4.1.99999.3 = Counter32: 2147483648\t"
            ".1.3.6.1.4.1.99999.4 = Gauge32: 4294967295\t"
            ".1.3.6.1.4.1.99999.5 = IpAddress: 10.1.2.3\t"
            ".1.3.6.1.4.1.99999.6 = NULL\t"
            ".1.3.6.1.4.1.99999.7 = STRING: \"" + std::string(300, 'x') + "\"\t"
            ".1.3.6.1.4.1.99999.8 = OID: .2.999.3\t"
            ".1.3.6.1.4.1.99999.9 = OPAQUE: 01 02 \t"
            ".1.3.6.1.4.1.99999.10 = Timeticks: (2147483648) 248 days, 13:13:56.48\n"
            "TRAP|TRAP2, SNMP v2c, community public|.1.3.6.1.2.1.1.3.0 = Timeticks: (0) 0:00:00.00\t"
            ".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.6.3.1.1.5.1\n",
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
