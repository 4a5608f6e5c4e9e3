// fuzz-links: monitoring radio slots links hardware control messages asn1 runtime
// fuzz-max-len: 2048
// Controller commands against the daemon's bound services on the simulated
// board. The input is read as a sequence of aligned-PER LGCP messages, one
// after the other; each is handed to the control server as one received
// payload, so the slots made by one command are there for the next. After
// the last one the loop runs a pass a second later (each pass refreshes the
// board's disabled outputs, so passes are few), then the controller goes
// and the board is reset.
//
// The mutator keeps that structure: it changes one message's bytes,
// repeats, drops or swaps whole messages, or readdresses one (another slot
// of a few, another seq), besides libFuzzer's own byte mutations.
//
// Checked: every block the daemon sends decodes; a command is answered at
// most twice (a success followed by an error) with its own seq and slot;
// a delayed answer belongs to a command still waiting for one; no packet
// or descriptor stays behind an input.
#include <climits>
#include <random>

#include "asn1/per/per_decoder.h"
#include "daemon_harness.h"

namespace {

// What an answer must carry to be the answer of a command.
struct Address {
  bool hasSeq = false;
  int seq = 0;
  int slot = -1;
  bool operator==(const Address& o) const { return hasSeq == o.hasSeq && (!hasSeq || seq == o.seq) && slot == o.slot; }
};

// A command without seq was answered later at least once: tickets of such
// commands stay with the server.
bool noSeqDelayed = false;

// Inputs the daemon is known to mishandle; skipped until they are mended
// so that the target can look for other faults meanwhile.
bool KnownFinding(const LGCP::Message& m) {
  if (!m.get_pdu().command_isSelected()) return false;
  const LGCP::Command& c = m.get_pdu().get_command();
  // A modem program named with "..", or relative, runs outside the root.
  if (c.create_isSelected() && c.get_create().modem_isSelected() && c.get_create().get_modem().execfile_isPresent()) {
    const std::string f = c.get_create().get_modem().get_execfile();
    if (f.empty() || f[0] != '/' || f.find("..") != std::string::npos) return true;
  }
  // The row after a phone id of INT_MAX overflows.
  if (c.display_isSelected() && c.get_display().emPhone_isSelected() &&
      c.get_display().get_emPhone().phoneStatus_isSelected() &&
      c.get_display().get_emPhone().get_phoneStatus().get_id().getValue() == INT_MAX)
    return true;
  // A negative seq is taken for the ticket of a delayed command without one.
  if (noSeqDelayed && m.seq_isPresent() && m.get_seq().getValue() < 0) return true;
  return false;
}

class Checker {
 public:
  // Reads what the daemon sent; `current` is the command being handled
  // (null between commands). Returns how many answers it got.
  int Collect(fuzzd::Link& link, const Address* current) {
    int answers = 0;
    for (const std::string& block : link.Take()) {
      LGCP::Message m;
      if (!LgcpCodec::Decode(block.data(), block.data() + block.size(), m)) std::abort();
      if (!m.get_pdu().response_isSelected()) continue;
      Address a;
      a.hasSeq = m.seq_isPresent();
      a.seq = a.hasSeq ? m.get_seq().getValue() : 0;
      a.slot = m.slot_isPresent() ? int(m.get_slot().getValue()) : -1;
      if (current && a == *current) {
        ++answers;
        continue;
      }
      bool found = false;
      for (std::size_t i = 0; i < waiting_.size() && !found; ++i)
        if (waiting_[i] == a) {
          waiting_.erase(waiting_.begin() + long(i));
          found = true;
        }
      if (!found) std::abort();  // an answer nobody asked for
    }
    return answers;
  }
  void Wait(const Address& a) { waiting_.push_back(a); }

 private:
  std::vector<Address> waiting_;
};

// The messages an input decodes to, one after the other; what does not
// decode stays as the last piece.
std::vector<std::string> Split(const uint8_t* data, size_t size) {
  std::vector<std::string> out;
  const char* at = reinterpret_cast<const char*>(data);
  const char* const end = at + size;
  while (at < end) {
    LGCP::Message m;
    ASN1::PERDecoder d(at, end, nullptr, true);
    if (!m.accept(d)) break;
    d.byteAlign();
    const char* next = d.position() > at ? d.position() : at + 1;
    out.emplace_back(at, next);
    at = next;
  }
  if (at < end) out.emplace_back(at, end);
  return out;
}

}  // namespace

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::string> parts = Split(data, size);
  if (parts.empty() || rng() % 4 == 0) return LLVMFuzzerMutate(data, size, maxSize);
  const std::size_t i = rng() % parts.size(), j = rng() % parts.size();
  switch (rng() % 5) {
    case 0: {  // one message's bytes
      std::string& p = parts[i];
      const std::size_t len = p.size(), room = len * 2 + 16;
      p.resize(room);
      p.resize(LLVMFuzzerMutate(reinterpret_cast<uint8_t*>(&p[0]), len, room));
      break;
    }
    case 1: parts.insert(parts.begin() + long(j), parts[i]); break;
    case 2:
      if (parts.size() > 1) parts.erase(parts.begin() + long(i));
      break;
    case 3: std::swap(parts[i], parts[j]); break;
    default: {  // readdressed
      LGCP::Message m;
      if (!LgcpCodec::Decode(parts[i].data(), parts[i].data() + parts[i].size(), m)) break;
      if (rng() % 8) m.set_slot(rng() % 6); else m.omit_slot();
      if (rng() % 2) m.set_seq(int(rng() % 100) - 2);
      std::vector<char> out;
      if (LgcpCodec::Encode(m, out)) parts[i].assign(out.begin(), out.end());
    }
  }
  std::string joined;
  for (const std::string& p : parts) joined += p;
  if (joined.empty() || joined.size() > maxSize) return LLVMFuzzerMutate(data, size, maxSize);
  std::memcpy(data, joined.data(), joined.size());
  return joined.size();
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzd::Daemon();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzd::Link& link = fuzzd::Daemon();
  const unsigned packets = PacketPool::free_count();
  Checker check;
  const char* at = reinterpret_cast<const char*>(data);
  const char* const end = at + size;
  for (int commands = 0; at < end && commands < 64; ++commands) {
    LGCP::Message m;
    ASN1::PERDecoder d(at, end, nullptr, true);
    if (!m.accept(d)) break;
    d.byteAlign();
    const char* next = d.position() > at ? d.position() : at + 1;
    if (KnownFinding(m)) {
      at = next;
      continue;
    }
    Address a;
    a.hasSeq = m.seq_isPresent();
    a.seq = a.hasSeq ? m.get_seq().getValue() : 0;
    const bool command = m.get_pdu().command_isSelected();
    const bool slotValid = m.slot_isPresent() && m.get_slot().getValue() <= 1023;
    a.slot = command && slotValid ? int(m.get_slot().getValue()) : -1;
    link.Reconnect();
    ctrlServer.OnMessage(at, int(next - at));
    int answers = check.Collect(link, &a);
    if (answers > 2) std::abort();
    if (answers == 0) {
      if (!command || (m.slot_isPresent() && !slotValid)) std::abort();  // answered at once
      // Answered later (a destroy that takes time), with the slot.
      if (!a.hasSeq) noSeqDelayed = true;
      check.Wait(a);
    }
    at = next;
  }
  // One pass of the loop a second later: device records, timers, closes.
  fuzzd::Pass(1000);
  check.Collect(link, nullptr);
  fuzzd::Cleanup(link, packets);
  return 0;
}
