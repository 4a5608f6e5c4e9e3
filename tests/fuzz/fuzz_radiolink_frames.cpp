// fuzz-links: radiolink messages asn1 runtime
// fuzz-max-len: 1024
// Bytes from a serial radio line are untrusted. The input is fed, in
// slices whose sizes the input chooses, to a channel of each mode; every
// record that comes out is dumped and turned into a VORKGW packet, and every
// good record, sent again from the matching end of the link and received
// once more, compares equal to itself (after at most one normalising trip). Nothing may crash, leak or read out
// of bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "radiolink/proto_asn.h"
#include "radiolink/proto_vork.h"

namespace {

int SenderMode(uint16_t id) {
  switch (id >> 12) {
    case 0x2:
      return PROTO_MODE_DIGITAL;
    case 0x3:
      return PROTO_MODE_ANALOG;
    default:
      return PROTO_MODE_GATEWAY;
  }
}

int ReceiverMode(uint16_t id) {
  switch (id >> 12) {
    case 0x2:
    case 0x3:
      return PROTO_MODE_GATEWAY;
    default:
      return PROTO_MODE_DIGITAL;
  }
}

// Sends the good record from the end that sends its id and receives it at
// the other end; true with the received copy when it came through.
bool Trip(const s_data_cmd& record, s_data_cmd* back) {
  s_proto_ctrl tx, rx;
  proto_chan_open(&tx, 2);
  proto_chan_open(&rx, 2);
  tx.mode = SenderMode(record.msgID);
  rx.mode = ReceiverMode(record.msgID);
  if (record.msgID == GW_REMOTE_KEEP_ALIVE) rx.mode = PROTO_MODE_GATEWAY;
  static unsigned char line[4096];
  s_data_cmd copy = record;
  proto_chan_write_output(&tx, &copy, 1);
  int n = proto_chan_read_input(&tx, line, sizeof line);
  s_data_cmd status;
  bool ok = false;
  if (n > 0 && proto_chan_read_written_output(&tx, &status, 1) == 1 && status.cmdStatus == 0) {
    proto_chan_write_input(&rx, line, n);
    ok = proto_chan_read_output(&rx, back, 1) == 1 && back->cmdStatus == 0;
  }
  proto_chan_close(&tx);
  proto_chan_close(&rx);
  return ok;
}

// A received record may carry fields the wire form does not send again
// (a disabled channel keeps what was read for it), so the first trip may
// normalise it; from then on the record must come back unchanged.
void RoundTrip(s_data_cmd record) {
  s_data_cmd back;
  if (!Trip(record, &back) || cmp_data_cmd(&record, &back) == 0) return;
  s_data_cmd again;
  if (Trip(back, &again) && cmp_data_cmd(&back, &again) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  for (int mode = PROTO_MODE_GATEWAY; mode <= PROTO_MODE_DIGITAL; ++mode) {
    s_proto_ctrl ch;
    proto_chan_open(&ch, mode == PROTO_MODE_GATEWAY ? 2 : 0);
    ch.mode = mode;
    size_t slice = 1 + data[0] % 64;
    for (size_t off = 1; off < size; off += slice) {
      size_t len = size - off < slice ? size - off : slice;
      proto_chan_write_input(&ch, data + off, static_cast<int>(len));
      s_data_cmd rec;
      while (proto_chan_read_output(&ch, &rec, 1) == 1) {
        char dump[2048];
        sprintf_data_cmd(dump, sizeof dump, &rec, 3);
        if (rec.cmdStatus != 0) continue;
        VORKGW::ProtoVorkPacket packet;
        ProtoVorkEncodeASN(rec, packet);
        RoundTrip(rec);
      }
    }
    proto_chan_close(&ch);
  }
  return 0;
}
