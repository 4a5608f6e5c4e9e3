#include "monitoring/cdr_sender.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cctype>
#include <sstream>

#include "runtime/os/inet4.h"

namespace CDR_Sender {

namespace {

// "a.b.c.d:port", the port read as atoi reads it (white space, a sign,
// leading zeros, trailing text). A word without a port, or whose port is
// not 1 to 65535 (0, negative, or one that would wrap), must not send the
// record elsewhere.
bool ParseAddress(const std::string& word, INet4::Addr& addr) {
  std::string::size_type colon = word.find(':');
  if (colon == std::string::npos) return false;
  const char* p = word.c_str() + colon + 1;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  unsigned long value = 0;
  for (; *p >= '0' && *p <= '9' && value <= 65535; ++p) value = value * 10 + static_cast<unsigned long>(*p - '0');
  if (negative || value < 1 || value > 65535) return false;
  return addr.Assign(word, nullptr);
}

}  // namespace

Sender::Sender() : fd(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)) {}

Sender::~Sender() { close(fd); }

bool Sender::SendTo(std::string& record, const std::string& addresses) {
  if (!fd.is_valid()) return false;
  bool all_sent = true;
  std::istringstream words(addresses);
  std::string word;
  while (words >> word) {
    INet4::Addr addr;
    if (!ParseAddress(word, addr)) {
      all_sent = false;
      continue;
    }
    ssize_t n = ::sendto(fd.lowlevel_fd(), record.data(), record.size(), 0, static_cast<const sockaddr*>(addr),
                         addr.size());
    if (n < 0 || static_cast<size_t>(n) != record.size()) all_sent = false;
  }
  return all_sent;
}

}  // namespace CDR_Sender
