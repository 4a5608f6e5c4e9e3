#pragma once
// An IPv4 socket address laid out exactly as sockaddr_in; parsed from
// "a.b.c.d[:port]" (inet_aton forms accepted), printed as "a.b.c.d:port".
#include <netinet/in.h>
#include <sys/socket.h>

#include <iosfwd>
#include <string>
#include <vector>

namespace INet4 {

class Addr {
 public:
  Addr() { Reset(); }
  Addr(const std::string& text) {  // NOLINT: implicit by design
    Reset();
    Assign(text, nullptr);
  }
  Addr(const sockaddr_in& sa) : sa_(sa) {}  // NOLINT: implicit by design
  Addr(const Addr&) = default;
  Addr& operator=(const Addr&) = default;

  void Reset();
  // Parses text; port (when not null) receives the port after ":" or -1.
  // True when the address part converted.
  bool Assign(const char* text, int* port);
  bool Assign(const std::string& text, int* port) { return Assign(text.c_str(), port); }
  Addr& operator=(const std::string& text) {
    Assign(text, nullptr);
    return *this;
  }
  void Assign(unsigned long addr) { sa_.sin_addr.s_addr = static_cast<in_addr_t>(addr); }

  bool IsEqual(const Addr& o) const;
  bool operator==(const Addr& o) const { return IsEqual(o); }
  bool operator!=(const Addr& o) const { return !IsEqual(o); }

  unsigned short port() const { return ntohs(sa_.sin_port); }
  void port(unsigned short p) { sa_.sin_port = htons(p); }
  // Address in host byte order.
  unsigned int host_order() const { return ntohl(sa_.sin_addr.s_addr); }

  const char* GetStrAddr() const;
  std::string GetString() const;
  std::vector<unsigned char> GetVector() const;
  void Put(std::ostream& os) const;

  operator sockaddr*() { return reinterpret_cast<sockaddr*>(&sa_); }
  operator const sockaddr*() const { return reinterpret_cast<const sockaddr*>(&sa_); }
  const sockaddr_in& sockaddr_in_ref() const { return sa_; }
  unsigned int size() const { return sizeof(sockaddr_in); }

 private:
  sockaddr_in sa_;
};

std::ostream& operator<<(std::ostream& os, const Addr& a);

}  // namespace INet4
