#include "slots/mixer_driver.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "hardware/board/board.h"
#include "hardware/board/record.h"
#include "hardware/devices.h"

namespace Mixer {

namespace {

void put(uint8_t*& p, int32_t v) {
  ::Board::putBE32(p, uint32_t(v));
  p += 4;
}

int32_t get(const uint8_t*& p) {
  int32_t v = int32_t(::Board::getBE32(p));
  p += 4;
  return v;
}

// Opens, issues and closes; the record travels as its wire bytes.
template <class Record>
int control(uint32_t request, Record& record) {
  int fd = ::Board::open(GetMixerDevName(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  uint8_t bytes[Record::kSize];
  record.encode(bytes);
  int result = ::Board::ioctl(fd, request, bytes);
  int saved = errno;
  ::Board::close(fd);
  errno = saved;
  record.decode(bytes);
  return result;
}

}  // namespace

void mix_slot::encode(uint8_t* out) const {
  put(out, dev_no);
  put(out, type);
  put(out, number);
}

void mix_slot::decode(const uint8_t* in) {
  dev_no = get(in);
  type = get(in);
  number = get(in);
}

void mix_route::encode(uint8_t* out) const {
  rx.encode(out);
  tx.encode(out + mix_slot::kSize);
  ::Board::putBE32(out + 2 * mix_slot::kSize, uint32_t(gain));
}

void mix_route::decode(const uint8_t* in) {
  rx.decode(in);
  tx.decode(in + mix_slot::kSize);
  gain = int32_t(::Board::getBE32(in + 2 * mix_slot::kSize));
}

void mix_unit_info::encode(uint8_t* out) const {
  for (int32_t w : word) put(out, w);
}

void mix_unit_info::decode(const uint8_t* in) {
  for (int32_t& w : word) w = get(in);
}

int mixer_ctl(uint32_t request, mix_slot& record) { return control(request, record); }
int mixer_ctl(uint32_t request, mix_route& record) { return control(request, record); }
int mixer_ctl(uint32_t request, mix_unit_info& record) { return control(request, record); }

}  // namespace Mixer
