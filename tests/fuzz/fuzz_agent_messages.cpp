// fuzz-links: monitoring radio slots links hardware control messages asn1 runtime
// fuzz-max-len: 1024
// What an SNMP agent sends the daemon: the daemon is configured with one
// agent on a loopback port the target listens on, and the target plays
// that agent. The input is a sequence of payloads, each a length byte and
// that many bytes, sent as one TPKT frame with one loop pass after it; a
// length byte of 0xFF instead moves the loop clock 6 s on (the daemon pings
// a quiet agent and drops one silent for 30 s, then connects again).
// Checked: every frame the daemon sends the agent is a decodable agent
// message, and no packet stays behind an input.
#include <arpa/inet.h>
#include <netinet/in.h>

#include "daemon_harness.h"
#include "messages/MON.h"
#include "asn1/coder.h"

namespace {

int listener = -1;
int agent = -1;
std::string fromDaemon;

// The loopback port the daemon is configured to connect to.
int Listen() {
  listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(listener, 4) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    std::abort();
  return ntohs(a.sin_port);
}

// Reads what the daemon sent the agent; every whole frame must decode.
void Read() {
  char buf[8192];
  ssize_t n;
  while (agent >= 0 && (n = ::recv(agent, buf, sizeof buf, MSG_DONTWAIT)) != 0) {
    if (n < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK) n = 0;
      else break;
    }
    if (n == 0) {  // the daemon dropped the agent
      ::close(agent);
      agent = -1;
      fromDaemon.clear();
      return;
    }
    fromDaemon.append(buf, std::size_t(n));
  }
  std::size_t at = 0;
  while (fromDaemon.size() - at >= 4) {
    const unsigned len = uint8_t(fromDaemon[at + 2]) << 8 | uint8_t(fromDaemon[at + 3]);
    if (fromDaemon[at] != 3 || len < 4) std::abort();
    if (fromDaemon.size() - at < len) break;
    MON::Message m;
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    const char* p = fromDaemon.data() + at + 4;
    if (!ASN1::decode(p, p + (len - 4), &env, m, true)) std::abort();
    at += len;
  }
  fromDaemon.erase(0, at);
}

// Takes every connection the daemon made, keeping the newest: an older
// one is gone (the daemon reconnects only after dropping the agent).
void Accept() {
  for (int fd; (fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;) {
    if (agent >= 0) ::close(agent);
    agent = fd;
    fromDaemon.clear();
  }
}

// Waits (on the loop clock) until the daemon's link to the agent is up.
void Connected() {
  for (int i = 0; agent < 0 && i < 120; ++i) {
    Accept();
    if (agent < 0) fuzzd::Pass(1000);
  }
  if (agent < 0) std::abort();  // the daemon never came back
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzd::PrivateNetwork();
  const int port = Listen();
  fuzzd::Daemon("[snmpagent]\nhost = 127.0.0.1:" + std::to_string(port) + "\nname = vorkgw\n");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzd::Daemon();
  const unsigned packets = PacketPool::free_count();
  Connected();
  for (std::size_t at = 0, steps = 0; at < size && steps < 32; ++steps) {
    const std::size_t len = data[at++];
    if (len == 0xFF) {
      fuzzd::Pass(6000);
    } else {
      const std::size_t n = std::min(len, size - at);
      std::string frame = {3, 0, char((n + 4) >> 8), char((n + 4) & 0xFF)};
      frame.append(reinterpret_cast<const char*>(data + at), n);
      at += n;
      if (agent < 0) Connected();
      if (::send(agent, frame.data(), frame.size(), MSG_NOSIGNAL) != ssize_t(frame.size())) {
        ::close(agent);  // the daemon dropped the agent meanwhile
        agent = -1;
        fromDaemon.clear();
      }
      fuzzd::Pass();
    }
    Accept();
    Read();
  }
  if (PacketPool::free_count() != packets) std::abort();
  return 0;
}
