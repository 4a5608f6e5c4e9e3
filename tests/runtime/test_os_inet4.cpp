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

TEST(INet4Addr, WithoutPortKeepsStoredPort) {
  INet4::Addr a;
  int port = 0;
  EXPECT_TRUE(a.Assign("192.168.1.10", &port));
  EXPECT_EQ(port, -1);
  EXPECT_EQ(a.port(), 0);
  a.port(99);
  a = std::string("10.0.0.1");
  EXPECT_EQ(show(a), "10.0.0.1:99");
}

TEST(INet4Addr, HostNameIsNotLookedUp) {
  INet4::Addr a("1.2.3.4:1");
  int port = 0;
  EXPECT_FALSE(a.Assign("host:80", &port));
  EXPECT_EQ(port, 80);
  EXPECT_EQ(a.port(), 80);
  EXPECT_STREQ(a.GetStrAddr(), "1.2.3.4");  // a failed address leaves the old one
}

TEST(INet4Addr, PortsAboveRangeWrap) {
  INet4::Addr a;
  int port = 0;
  EXPECT_TRUE(a.Assign("1.1.1.1:65536", &port));
  EXPECT_EQ(a.port(), 0);
  EXPECT_EQ(port, 65536);
  EXPECT_TRUE(a.Assign("1.1.1.1:65537", nullptr));
  EXPECT_EQ(a.port(), 1);
  EXPECT_TRUE(a.Assign("1.1.1.1:x", &port));
  EXPECT_EQ(port, 0);
  EXPECT_TRUE(a.Assign("1.1.1.1:99999999999999999999", &port));  // no overflow trap
}

TEST(INet4Addr, ShortInetAtonForms) {
  INet4::Addr a;
  EXPECT_TRUE(a.Assign("10.1", nullptr));
  EXPECT_STREQ(a.GetStrAddr(), "10.0.0.1");
  EXPECT_TRUE(a.Assign("127.1:7", nullptr));
  EXPECT_EQ(show(a), "127.0.0.1:7");
  EXPECT_TRUE(a.Assign("0x7f000001", nullptr));
  EXPECT_STREQ(a.GetStrAddr(), "127.0.0.1");
  EXPECT_TRUE(a.Assign("16909060", nullptr));
  EXPECT_STREQ(a.GetStrAddr(), "1.2.3.4");
  EXPECT_FALSE(a.Assign("1.2.3.4.5", nullptr));
  EXPECT_FALSE(a.Assign("", nullptr));
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
