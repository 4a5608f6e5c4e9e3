// fuzz-links: monitoring radio slots links hardware control messages asn1 runtime
// fuzz-max-len: 2048
// Records from the board's devices as the simulated board delivers them:
// DTMF and DSP detector events, E1 CAS records, RTP and radio-extension
// packets, controller-channel frames and modem records, read by the daemon
// on the descriptors its services and slots opened. The input interleaves
// controller commands (which create the slots that open the devices) and
// records:
//   a byte below 0x80, then one aligned-PER LGCP message;
//   a byte 0x80 | d | n << 3 (device d of the table below, its n-th open
//   descriptor), a length byte and that many bytes: one record, followed
//   by one pass of the loop.
// Checked as for the controller commands: every block the daemon sends
// decodes, and nothing stays behind an input.
#include "asn1/per/per_decoder.h"
#include "daemon_harness.h"
#include "hardware/sim/rtp_ext.h"

namespace {

const char* const kDevices[] = {"/dev/dtmf", "/dev/dsp", "/dev/e1-cas", "/dev/rtp_ext",
                                "/dev/rtp",  "/dev/mcc/ctl", "/dev/mctl", "/dev/voice"};

void Deliver(unsigned device, unsigned nth, const Sim::Bytes& record) {
  Sim::Board& sim = fuzzd::Sim();
  if (device == 3) {  // a radio packet comes with its sender
    auto* ext = static_cast<Sim::RtpExtDevice*>(sim.device(kDevices[3]));
    const uint32_t ssrc = record.size() >= 4 ? uint32_t(record[0]) << 24 | record[1] << 16 | record[2] << 8 | record[3] : 0;
    ext->inject(nth, record, 0x0100007F, ssrc);
    return;
  }
  std::vector<Sim::Session*> open = sim.sessions(kDevices[device]);
  if (!open.empty()) sim.deliver(*open[nth % open.size()], record);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzd::Daemon();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzd::Link& link = fuzzd::Daemon();
  const unsigned packets = PacketPool::free_count();
  const char* at = reinterpret_cast<const char*>(data);
  const char* const end = at + size;
  for (int steps = 0; at < end && steps < 48; ++steps) {
    const uint8_t op = uint8_t(*at++);
    if (op < 0x80) {
      LGCP::Message m;
      ASN1::PERDecoder d(at, end, nullptr, true);
      if (!m.accept(d)) break;
      d.byteAlign();
      const char* next = d.position() > at ? d.position() : at + 1;
      ctrlServer.OnMessage(at, int(next - at));
      at = next;
    } else {
      if (at >= end) break;
      std::size_t len = uint8_t(*at++);
      if (len > std::size_t(end - at)) len = std::size_t(end - at);
      Deliver(op & 7, (op >> 3) & 0xF, Sim::Bytes(at, at + len));
      at += len;
      fuzzd::Pass(op & 0x40 ? 1000 : 0);
    }
    for (const std::string& block : link.Take()) {
      LGCP::Message m;
      if (!LgcpCodec::Decode(block.data(), block.data() + block.size(), m)) std::abort();
    }
  }
  fuzzd::Cleanup(link, packets);
  return 0;
}
