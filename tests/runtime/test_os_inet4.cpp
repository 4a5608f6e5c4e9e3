#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <sstream>

#include "runtime/os/inet4.h"

namespace {

std::string show(const INet4::Addr& a) {
  std::ostringstream os;
  os << a;
  return os.str();
}

TEST(INet4Addr, AddressAndPort) {
  INet4::Addr a;
  int port = 0;
  EXPECT_TRUE(a.Assign("192.168.1.10:5004", &port));
  EXPECT_EQ(port, 5004);
  EXPECT_EQ(a.port(), 5004);
  EXPECT_STREQ(a.GetStrAddr(), "192.168.1.10");
  EXPECT_EQ(show(a), "192.168.1.10:5004");
  EXPECT_EQ(a.GetString(), "192.168.1.10:5004");
  EXPECT_EQ(a.sockaddr_in_ref().sin_port, htons(5004));
  EXPECT_EQ(a.GetVector(), (std::vector<unsigned char>{192, 168, 1, 10}));
}

// Assign on an address holding 1.2.3.4:1: the result, the port it reports
// (-1: none given), the port and address it then holds (-2: any port).
TEST(INet4Addr, AssignForms) {
  const struct {
    const char* text;
    bool ok;
    int portOut;
    int port;
    const char* addr;
  } rows[] = {
      {"192.168.1.10", true, -1, 1, "192.168.1.10"},  // no port: the stored one stays
      {"host:80", false, 80, 80, "1.2.3.4"},          // no look-up; the old address stays
      {"1.1.1.1:65536", true, 65536, 0, "1.1.1.1"},   // ports wrap at 16 bits
      {"1.1.1.1:65537", true, 65537, 1, "1.1.1.1"},
      {"1.1.1.1:x", true, 0, 0, "1.1.1.1"},
      {"1.1.1.1:99999999999999999999", true, -2, -2, "1.1.1.1"},  // no overflow trap
      {"10.1", true, -1, 1, "10.0.0.1"},  // the short inet_aton forms
      {"127.1:7", true, 7, 7, "127.0.0.1"},
      {"0x7f000001", true, -1, 1, "127.0.0.1"},
      {"16909060", true, -1, 1, "1.2.3.4"},
      {"1.2.3.4.5", false, -1, 1, "1.2.3.4"},
      {"", false, -1, 1, "1.2.3.4"},
  };
  for (const auto& r : rows) {
    INet4::Addr a("1.2.3.4:1");
    int port = 12345;
    EXPECT_EQ(a.Assign(r.text, &port), r.ok) << r.text;
    if (r.port != -2) {
      EXPECT_EQ(port, r.portOut) << r.text;
      EXPECT_EQ(a.port(), r.port) << r.text;
    }
    EXPECT_STREQ(a.GetStrAddr(), r.addr) << r.text;
  }
  INet4::Addr a;
  a.port(99);
  a = std::string("10.0.0.1");
  EXPECT_EQ(show(a), "10.0.0.1:99");
}

TEST(INet4Addr, EqualityIgnoresFamily) {
  sockaddr_in sin{};
  sin.sin_family = AF_UNIX;
  sin.sin_port = htons(80);
  inet_aton("10.0.0.2", &sin.sin_addr);
  INet4::Addr a(sin);
  INet4::Addr b("10.0.0.2:80");
  EXPECT_TRUE(a == b);
  EXPECT_TRUE(a.IsEqual(b));
  b.port(81);
  EXPECT_FALSE(a == b);
  INet4::Addr c(b);
  EXPECT_TRUE(c == b);
}

}  // namespace
