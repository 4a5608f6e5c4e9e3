// Traps from the builder as independent SNMP implementations read them:
// net-snmp's snmptrapd receiving them over loopback UDP, and tshark
// dissecting them from a capture.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "monitoring/cdr_sender.h"
#include "monitoring/trap.h"
#include "support/startup_harness.h"

namespace {

using startup_test::readFile;
using startup_test::TempRoot;
using startup_test::waitFor;
using startup_test::writeFile;

bool Have(const char* tools) {
  std::string cmd = std::string("for t in ") + tools + "; do command -v $t >/dev/null 2>&1 || exit 1; done";
  return std::system(cmd.c_str()) == 0;
}

const uint32_t kEnterprise[] = {1, 3, 6, 1, 4, 1, 99999};

// Appends a binding named kEnterprise.leaf.
void Add(trap_context& c, uint32_t leaf, unsigned char type, const void* value, int len) {
  uint32_t name[8];
  std::copy(kEnterprise, kEnterprise + 7, name);
  name[7] = leaf;
  ASSERT_EQ(0, trap_pack_add(&c, name, 8, type, value, len)) << "leaf " << leaf;
}

// A trap carrying one value of every type a receiver decodes, after the
// two bindings every SNMPv2 trap starts with.
void BuildTrap(trap_context& c, uint32_t seed, const char* community) {
  snmp_session_seed(&c, seed);
  trap_init(&c, community);
  ASSERT_EQ(0, trap_pack_begin(&c));
  const uint32_t ticks = 12345;
  ASSERT_EQ(0, trap_pack_add(&c, objid_sysuptime, objid_sysuptime_len, SNMP_TYPE_TIMETICKS, &ticks, 4));
  uint32_t trap_oid[16];
  int n = parse_oid(trap_oid, 16, "1.3.6.1.4.1.99999.0.1");
  ASSERT_EQ(0, trap_pack_add(&c, objid_snmptrap, objid_snmptrap_len, SNMP_TYPE_OBJID, trap_oid, n * 4));
  const int32_t i = -129;
  Add(c, 1, SNMP_TYPE_INTEGER, &i, 4);
  Add(c, 2, SNMP_TYPE_OCTETSTRING, "hello board", 11);
  const uint32_t big = 0x80000000u, max = 0xFFFFFFFFu;
  Add(c, 3, SNMP_TYPE_COUNTER32, &big, 4);
  Add(c, 4, SNMP_TYPE_GAUGE32, &max, 4);
  const unsigned char ip[] = {10, 1, 2, 3};
  Add(c, 5, SNMP_TYPE_IPADDRESS, ip, 4);
  Add(c, 6, SNMP_TYPE_NULL, nullptr, 0);
  std::string longtext(300, 'x');
  Add(c, 7, SNMP_TYPE_OCTETSTRING, longtext.data(), 300);
  const uint32_t oid[] = {2, 999, 3};
  Add(c, 8, SNMP_TYPE_OBJID, oid, 12);
  const unsigned char opaque[] = {1, 2};
  Add(c, 9, SNMP_TYPE_OPAQUE, opaque, 2);
  Add(c, 10, SNMP_TYPE_TIMETICKS, &big, 4);
  ASSERT_EQ(0, trap_pack_end(&c));
}

void SendTo(int port, const trap_context& c) {
  std::string bytes(reinterpret_cast<const char*>(c.packet), c.packet_len);
  EXPECT_TRUE(CDR_Sender::Sender().SendTo(bytes, "127.0.0.1:" + std::to_string(port)));
}

// snmptrapd in the foreground on a loopback port, logging one line per trap.
class TrapDaemon {
 public:
  // The test runs in its own network namespace: the port is its own.
  explicit TrapDaemon(const TempRoot& root) : log_(root / "/traps.log") {
    std::string conf = root / "/snmptrapd.conf", dir = root.path();
    writeFile(conf, "authCommunity log public\n");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setenv("SNMP_PERSISTENT_DIR", dir.c_str(), 1);
      ::execlp("snmptrapd", "snmptrapd", "-f", "-C", "-c", conf.c_str(), "-Lf", log_.c_str(), "-n", "-On", "-m", "",
               "-M", dir.c_str(), "-F", "TRAP|%P|%v\n", "udp:127.0.0.1:10162", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ready_ = waitFor([&] { return readFile(log_).find("NET-SNMP version") != std::string::npos; }, 60000);
  }
  ~TrapDaemon() { Stop(); }

  bool ready() const { return ready_; }
  int port() const { return 10162; }
  // The trap lines logged so far.
  std::vector<std::string> Traps() const {
    std::vector<std::string> out;
    std::istringstream in(readFile(log_));
    std::string line;
    while (std::getline(in, line))
      if (line.rfind("TRAP|", 0) == 0) out.push_back(line);
    return out;
  }

 private:
  void Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status;
      ::waitpid(pid_, &status, 0);
      pid_ = -1;
    }
  }
  std::string log_;
  pid_t pid_ = -1;
  bool ready_ = false;
};

TEST(TrapPeers, SnmptrapdDecodesEveryBinding) {
  ASSERT_TRUE(Have("snmptrapd")) << "snmptrapd missing (scripts/deps.sh installs it)";
  TempRoot root;
  TrapDaemon d(root);
  ASSERT_TRUE(d.ready()) << readFile(root / "/traps.log");
  trap_context c;
  BuildTrap(c, 42, "public");
  SendTo(d.port(), c);
  snmp_session_seed(&c, 44);
  trap_init(&c, "public");
  ASSERT_EQ(0, trap_pack_begin(&c));
  const uint32_t zero = 0, trap_oid[] = {1, 3, 6, 1, 6, 3, 1, 1, 5, 1};  // coldStart
  ASSERT_EQ(0, trap_pack_add(&c, objid_sysuptime, objid_sysuptime_len, SNMP_TYPE_TIMETICKS, &zero, 4));
  ASSERT_EQ(0, trap_pack_add(&c, objid_snmptrap, objid_snmptrap_len, SNMP_TYPE_OBJID, trap_oid, sizeof trap_oid));
  ASSERT_EQ(0, trap_pack_end(&c));
  SendTo(d.port(), c);
  ASSERT_TRUE(waitFor([&] { return d.Traps().size() >= 2; }, 60000)) << readFile(root / "/traps.log");

  std::vector<std::string> traps = d.Traps();
  const std::string x300(300, 'x');
  EXPECT_EQ("TRAP|TRAP2, SNMP v2c, community public|"
            ".1.3.6.1.2.1.1.3.0 = Timeticks: (12345) 0:02:03.45\t"
            ".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.4.1.99999.0.1\t"
            ".1.3.6.1.4.1.99999.1 = INTEGER: -129\t"
            ".1.3.6.1.4.1.99999.2 = STRING: \"hello board\"\t"
            ".1.3.6.1.4.1.99999.3 = Counter32: 2147483648\t"
            ".1.3.6.1.4.1.99999.4 = Gauge32: 4294967295\t"
            ".1.3.6.1.4.1.99999.5 = IpAddress: 10.1.2.3\t"
            ".1.3.6.1.4.1.99999.6 = NULL\t"
            ".1.3.6.1.4.1.99999.7 = STRING: \"" +
                x300 +
                "\"\t"
                ".1.3.6.1.4.1.99999.8 = OID: .2.999.3\t"
                ".1.3.6.1.4.1.99999.9 = OPAQUE: 01 02 \t"
                ".1.3.6.1.4.1.99999.10 = Timeticks: (2147483648) 248 days, 13:13:56.48",
            traps.at(0));
  EXPECT_EQ("TRAP|TRAP2, SNMP v2c, community public|.1.3.6.1.2.1.1.3.0 = Timeticks: (0) 0:00:00.00\t"
            ".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.6.3.1.1.5.1",
            traps.at(1));
  EXPECT_EQ(2u, traps.size());
}

TEST(TrapPeers, TsharkDissectsHeaderAndBindings) {
  ASSERT_TRUE(Have("tshark text2pcap")) << "tshark or text2pcap missing (scripts/deps.sh installs them)";
  TempRoot root;
  trap_context c;
  BuildTrap(c, 0, "kestra-board");
  std::string dump = "0000";
  char hex[4];
  for (uint32_t i = 0; i < c.packet_len; ++i) {
    std::snprintf(hex, sizeof hex, " %02x", c.packet[i]);
    dump += hex;
  }
  dump += "\n";
  std::string txt = root / "/trap.txt", pcap = root / "/trap.pcap", out = root / "/fields.txt";
  writeFile(txt, dump);
  std::string cmd = "text2pcap -q -u 40000,162 " + txt + " " + pcap + " && tshark -r " + pcap +
                    " -T fields -E separator='|' -E aggregator=';' -e snmp.version -e snmp.community"
                    " -e snmp.request_id -e snmp.error_status -e snmp.error_index -e snmp.name -e snmp.value.int"
                    " -e snmp.value.counter -e snmp.value.g32 -e snmp.value.timeticks -e snmp.value.ipv4"
                    " -e snmp.value.oid -e _ws.malformed -e _ws.expert > " +
                    out + " 2>/dev/null";
  ASSERT_EQ(0, std::system(cmd.c_str()));
  std::string fields = readFile(out);
  EXPECT_EQ(
      "1|kestra-board|991873|0|0|"
      "1.3.6.1.2.1.1.3.0;1.3.6.1.6.3.1.1.4.1.0;1.3.6.1.4.1.99999.1;1.3.6.1.4.1.99999.2;1.3.6.1.4.1.99999.3;"
      "1.3.6.1.4.1.99999.4;1.3.6.1.4.1.99999.5;1.3.6.1.4.1.99999.6;1.3.6.1.4.1.99999.7;1.3.6.1.4.1.99999.8;"
      "1.3.6.1.4.1.99999.9;1.3.6.1.4.1.99999.10|"
      "-129|2147483648|4294967295|12345;2147483648|10.1.2.3|1.3.6.1.4.1.99999.0.1;2.999.3||\n",
      fields);
}

}  // namespace
