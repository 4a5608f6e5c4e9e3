// fuzz-links: radio slots links hardware control messages asn1 runtime
// fuzz-max-len: 2048
// Radio packets and station frames from the outside: the signalling packet
// decoder and the radio state, the register-protocol channel in both roles
// and the station driver take arbitrary bytes without crashing, reading or
// writing out of bounds, or leaking. The first byte picks the target and a
// chunk size.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "radio/device_control.h"
#include "radio/proto_zl7.h"
#include "radio/sig_proto.h"
#include "radio/vork_radio_state.h"

namespace {

void signalling(const uint8_t* data, int size) {
  sig_proto r;
  sig_proto_init(&r);
  if (sig_proto_unpack(&r, data, size) != 0) return;
  // A decoded packet packs again to bytes that decode to the same record.
  unsigned char buf[1024];
  const int n = sig_proto_pack(&r, buf, sizeof buf);
  if (n < 4) __builtin_trap();
  sig_proto back;
  sig_proto_init(&back);
  if (sig_proto_unpack(&back, buf, n) != 0) __builtin_trap();
  if (cmp_sig_proto(&r, &back) != 0) __builtin_trap();
  char text[64];
  sprintf_sig_proto(text, sizeof text, &r, SIG_PROTO_PRINT_TYPE_NAME);
  if (text[sizeof text - 1] != 0) __builtin_trap();

  // Through the radio state, back to a packet of its role and to the
  // controller's request.
  VorkRadioState st;
  if (VorkRadioStateMaps::DecodeProto(r, st) != 0) __builtin_trap();
  sig_proto again;
  sig_proto_init(&again);
  const int gw = VorkRadioGWStateMaps::EncodeProto(st, again);
  const int ws = VorkRadioWSStateMaps::EncodeProto(st, again);
  if ((gw == 0) == (ws == 0)) __builtin_trap();
  TERM::RtpRadioRequest req;
  if (VorkRadioStateMaps::EncodeASN(st, st, req) != 0) __builtin_trap();
}

void channel(const uint8_t* data, int size, int mode, int chunk) {
  s_proto_zl7_ctrl c;
  proto_zl7_chan_open(&c, data[0], mode);
  for (int at = 0; at < size; at += chunk) {
    const int n = size - at < chunk ? size - at : chunk;
    proto_zl7_chan_write_input(&c, data + at, n);
    s_zl7_cmd cmds[8];
    const int k = proto_zl7_chan_read_output(&c, cmds, 8);
    for (int i = 0; i < k; ++i) {
      if (cmds[i].status != 0) continue;
      char text[256];
      sprintf_zl7_cmd(text, sizeof text, &cmds[i], mode == 0 ? 1 : 0, 0);
      // Queued for output: the role encodes what it may send, refuses the rest.
      proto_zl7_chan_write_output(&c, &cmds[i], 1);
    }
    if (c.in_raw_count > ZL7_RAW_SIZE) __builtin_trap();
  }
  unsigned char out[2048];
  proto_zl7_chan_read_input(&c, out, sizeof out);
  proto_zl7_chan_close(&c);
}

void station(const uint8_t* data, int size, int chunk) {
  Zolta7DeviceControl dev;
  dev.Open();
  unsigned char out[64];
  long ms = 0;
  for (int at = 0; at < size; at += chunk) {
    const int n = size - at < chunk ? size - at : chunk;
    dev.Process(Mux::timeval(1 + ms / 1000, (ms % 1000) * 1000));
    dev.Read(out, sizeof out);
    dev.Write(const_cast<uint8_t*>(data + at), n);
    ms += 1500;
  }
  char text[512];
  dev.Show(text, sizeof text);
  dev.Close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 8192) return 0;
  const int pick = data[0] & 3;
  const int chunk = 1 + (data[0] >> 2);
  const uint8_t* rest = data + 1;
  const int n = static_cast<int>(size - 1);
  switch (pick) {
    case 0: signalling(rest, n); break;
    case 1: channel(rest, n, PROTO_MODE_ZL7_CONTROLER, chunk); break;
    case 2: channel(rest, n, PROTO_MODE_ZL7_RADIO_STATION, chunk); break;
    default: station(rest, n, chunk); break;
  }
  return 0;
}
