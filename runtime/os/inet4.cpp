#include "runtime/os/inet4.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>
#include <ostream>

namespace INet4 {

static_assert(sizeof(Addr) == 16, "Addr must keep the sockaddr_in layout");

void Addr::Reset() {
  std::memset(&sa_, 0, sizeof sa_);
  sa_.sin_family = AF_INET;
}

bool Addr::Assign(const char* text, int* port_out) {
  std::string s = text ? text : "";
  std::string::size_type colon = s.find(':');
  if (colon != std::string::npos) {
    // Leading white space, sign and digits like atoi, without its overflow:
    // only the low 16 bits are kept anyway.
    const char* p = s.c_str() + colon + 1;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;  // " \t\n\v\f\r"
    bool neg = false;
    if (*p == '-' || *p == '+') neg = *p++ == '-';
    unsigned long v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) v = (v * 10 + static_cast<unsigned long>(*p - '0')) & 0xFFFFFFFFul;
    int n = static_cast<int>(neg ? 0u - static_cast<unsigned int>(v) : static_cast<unsigned int>(v));
    sa_.sin_port = htons(static_cast<unsigned short>(n & 0xFFFF));
    if (port_out) *port_out = n;
    s.erase(colon);
  } else if (port_out) {
    *port_out = -1;
  }
  in_addr a = sa_.sin_addr;
  int ok = ::inet_aton(s.c_str(), &a);
  if (ok) sa_.sin_addr = a;
  return ok != 0;
}

bool Addr::IsEqual(const Addr& o) const {
  return sa_.sin_addr.s_addr == o.sa_.sin_addr.s_addr && sa_.sin_port == o.sa_.sin_port;
}

const char* Addr::GetStrAddr() const { return ::inet_ntoa(sa_.sin_addr); }

std::string Addr::GetString() const { return std::string(GetStrAddr()) + ":" + std::to_string(port()); }

std::vector<unsigned char> Addr::GetVector() const {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(&sa_.sin_addr.s_addr);
  return std::vector<unsigned char>(b, b + 4);
}

void Addr::Put(std::ostream& os) const {
  char buf[INET_ADDRSTRLEN] = "";
  ::inet_ntop(AF_INET, &sa_.sin_addr, buf, sizeof buf);
  os << buf << ":" << port();
}

std::ostream& operator<<(std::ostream& os, const Addr& a) {
  a.Put(os);
  return os;
}

}  // namespace INet4
