#include "hardware/cas.h"

#include <cstring>

#include "hardware/board/record.h"

void cas_channel::encode(uint8_t* out) const {
  Board::putBE32(out, uint32_t(path));
  Board::putBE32(out + 4, uint32_t(timeslot));
  out[8] = rx;
  out[9] = tx;
  out[10] = 0;
  out[11] = 0;
}

void cas_channel::decode(const uint8_t* in) {
  path = int32_t(Board::getBE32(in));
  timeslot = int32_t(Board::getBE32(in + 4));
  rx = in[8];
  tx = in[9];
}

void cas_channel_setup::encode(uint8_t* out) const {
  channel.encode(out);
  Board::putBE32(out + 12, uint32_t(close));
}

void cas_channel_setup::decode(const uint8_t* in) {
  channel.decode(in);
  close = int32_t(Board::getBE32(in + 12));
}
