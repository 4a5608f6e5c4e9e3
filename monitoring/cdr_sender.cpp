#include "monitoring/cdr_sender.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <sstream>

#include "runtime/os/inet4.h"

namespace CDR_Sender {

namespace {

// "a.b.c.d:port" with a decimal port of 1 to 65535. A word without a port
// or with a port that would wrap must not send the record elsewhere.
bool ParseAddress(const std::string& word, INet4::Addr& addr) {
  std::string::size_type colon = word.find(':');
  if (colon == std::string::npos) return false;
  std::string port = word.substr(colon + 1);
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
  unsigned long value = std::stoul(port);
  if (value < 1 || value > 65535) return false;
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
