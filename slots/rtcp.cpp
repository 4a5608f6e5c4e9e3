#include "slots/rtcp.h"

#include <algorithm>
#include <cstring>

namespace RTPC {

namespace {

constexpr unsigned int kHeader = 4;
constexpr std::size_t kMaxText = 255;  // one length byte

unsigned int roundUp4(unsigned int n) { return (n + 3u) & ~3u; }

void putU32(char* p, unsigned int v) {
  p[0] = static_cast<char>((v >> 24) & 0xFF);
  p[1] = static_cast<char>((v >> 16) & 0xFF);
  p[2] = static_cast<char>((v >> 8) & 0xFF);
  p[3] = static_cast<char>(v & 0xFF);
}

// Zero bytes from `off` up to the next multiple of 4; returns the new offset.
unsigned int padTo4(char* p, unsigned int off) {
  while (off % 4u) p[off++] = 0;
  return off;
}

}  // namespace

Msg::~Msg() = default;

unsigned int Msg::encode(char* buffer, unsigned int size) const {
  if (size <= 7) return 0;
  const unsigned int room = size - kHeader;
  const unsigned int body = encode_body(buffer + kHeader, room);
  // A packet without its SSRC, or a body that claims more than its room,
  // is not sent at all.
  if (body < 4 || body > room) return 0;
  unsigned int total = kHeader + body;
  while (total % 4u && total < size) buffer[total++] = 0;
  if (total % 4u) return 0;
  const unsigned int words = total / 4u - 1u;
  buffer[0] = static_cast<char>(0x80u | (count() & 0x1Fu));
  buffer[1] = static_cast<char>(pt());
  buffer[2] = static_cast<char>((words >> 8) & 0xFF);
  buffer[3] = static_cast<char>(words & 0xFF);
  return total;
}

// The chunk is the SSRC, the items that fit, and the null item that ends
// the list padded to a word. Every item is checked with room for the end
// of the list after it, so a later item never pushes the terminator or its
// padding past the buffer; the first item that does not fit ends the list.
// A chunk without its terminator is malformed, so when even that does not
// fit nothing is written.
unsigned int SDES::encode_body(char* p, unsigned int room) const {
  if (room < 8) return 0;
  putU32(p, ssrc_);
  unsigned int off = 4;
  if (room - off > 7) {
    for (const Item& item : items_) {
      // A type 0 byte would read as the end of the list.
      if (item.type() == 0) continue;
      const unsigned int len = static_cast<unsigned int>(std::min(item.text().size(), kMaxText));
      if (roundUp4(len + 3) > room - off || roundUp4(off + len + 3) > room) break;
      p[off++] = static_cast<char>(item.type());
      p[off++] = static_cast<char>(len);
      std::memcpy(p + off, item.text().data(), len);
      off += len;
    }
  }
  p[off++] = 0;
  return padTo4(p, off);
}

// The SSRC, then the reason as length byte and text padded to a word, cut
// to what the room holds; with less than a word left the reason is left
// out.
unsigned int BYE::encode_body(char* p, unsigned int room) const {
  if (room < 4) return 0;
  putU32(p, ssrc_);
  unsigned int off = 4;
  const unsigned int left = (room - off) & ~3u;
  if (!reason_.empty() && left >= 4) {
    const unsigned int len =
        static_cast<unsigned int>(std::min<std::size_t>({reason_.size(), kMaxText, left - 1}));
    p[off++] = static_cast<char>(len);
    std::memcpy(p + off, reason_.data(), len);
    off = padTo4(p, off + len);
  }
  return off;
}

}  // namespace RTPC
