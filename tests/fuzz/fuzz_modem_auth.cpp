// fuzz-links: monitoring radio slots links hardware control messages asn1 runtime
// fuzz-max-len: 2048
// The PPP daemon's authentication plug-in is a local peer the daemon must
// not trust: its byte stream of length-prefixed records reaches the modem
// factory and the modem slots of their sessions. Two DSP modem slots
// (modems 0 and 1, each connected both ways to a trunk timeslot and running
// a stand-in PPP daemon) live for the whole run; each input connects a
// plug-in and writes the input to it in up to eight pieces (the first byte
// gives their size), one loop pass after each, then closes it.
// Checked: every block the daemon sends the controller decodes, whatever
// it writes back to the plug-in is whole records, and no connection,
// packet or descriptor stays behind.
#include <fcntl.h>

#include <functional>

#include "daemon_harness.h"
#include "slots/modem_factory.h"

namespace {

// One controller command at `slot`.
void Command(unsigned slot, const std::function<void(LGCP::Command&)>& fill) {
  LGCP::Message m;
  m.set_slot(slot);
  fill(m.set_pdu().select_command());
  std::vector<char> out;
  if (!LgcpCodec::Encode(m, out)) std::abort();
  ctrlServer.OnMessage(out.data(), int(out.size()));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzd::Daemon();
  // A PPP daemon that waits to be stopped, or for this process to end
  // (libFuzzer may leave without running exit handlers).
  const std::string pppd = fuzzd::Root() + "/usr/local/sbin/pppd";
  ::mkdir((fuzzd::Root() + "/usr/local/sbin").c_str(), 0755);
  std::ofstream(pppd) << "#!/bin/sh\nwhile kill -0 $PPID 2>/dev/null; do sleep 1; done\n";
  ::chmod(pppd.c_str(), 0755);
  fuzzd::Sim().execute("modems 2");
  ModemFactory::instance().IQuery();
  for (unsigned slot : {1u, 2u}) {
    const unsigned trunk = slot + 10;
    Command(trunk, [&](LGCP::Command& c) {
      LGCP::TrunkParams& t = c.select_create().select_trunk();
      t.set_trunk(1);
      t.set_timeslot(slot + 1);
    });
    Command(slot, [](LGCP::Command& c) {
      TERM::ModemParams& p = c.select_create().select_modem();
      p.set_cid("5551234");
      p.set_cdid("100");
    });
    Command(slot, [&](LGCP::Command& c) { c.select_connect(trunk); });
    Command(trunk, [&](LGCP::Command& c) { c.select_connect(slot); });
  }
  fuzzd::Pass();
  fuzzd::Daemon().Take();
  // The slots go at exit, and their PPP daemons with them.
  std::atexit([] { ctrlServer.OnDisconnect(); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzzd::Link& link = fuzzd::Daemon();
  const unsigned packets = PacketPool::free_count();
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, sv) != 0) std::abort();
  ModemFactory::instance().AcceptClient(Fd(sv[0]), INet4::Addr(std::string("127.0.0.1:40000")));
  const std::size_t piece = 1 + data[0] % 32 * 16;
  std::string back;
  for (std::size_t at = 1, n = 0; at < size && n < 8; at += piece, ++n) {
    const std::size_t len = std::min(piece, size - at);
    if (::send(sv[1], data + at, len, MSG_NOSIGNAL) < 0) break;
    fuzzd::Pass();
    char buf[4096];
    ssize_t got;
    while ((got = ::recv(sv[1], buf, sizeof buf, MSG_DONTWAIT)) > 0) back.append(buf, std::size_t(got));
  }
  ::close(sv[1]);
  fuzzd::Pass();
  // The gateway's records: a length word each, whole and in range.
  for (std::size_t at = 0; at < back.size();) {
    if (back.size() - at < 4) std::abort();
    const uint32_t len = uint8_t(back[at]) << 24 | uint8_t(back[at + 1]) << 16 | uint8_t(back[at + 2]) << 8 |
                         uint8_t(back[at + 3]);
    if (len < attr::kHeader || len > attr::kMax || len > back.size() - at) std::abort();
    at += len;
  }
  for (const std::string& block : link.Take()) {
    LGCP::Message m;
    if (!LgcpCodec::Decode(block.data(), block.data() + block.size(), m)) std::abort();
  }
  if (!ModemFactory::instance().authClients().empty()) std::abort();
  if (PacketPool::free_count() != packets) std::abort();
  fuzzd::CheckDescriptors();
  return 0;
}
