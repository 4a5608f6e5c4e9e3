#pragma once
// Text rendering of LAPD frames and the Q.931 messages they carry, for the
// frame traces of the ISDN links. Plain functions over constant tables; the
// only output is a bounded, NUL-terminated text buffer.
#include <cstddef>

namespace ISDN {

// Shared trace buffer of the LAPD links.
constexpr std::size_t kLogBufSize = 1024;
extern char logbuf[kLogBufSize];

namespace Q931 {

// Bounded text writer: never writes past cap - 1 characters and keeps the
// text NUL-terminated; text beyond the capacity is cut off.
class Writer {
 public:
  Writer(char* out, std::size_t cap);
  // printf-style append; returns the number of characters actually written.
  int print(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  int put(char c);
  std::size_t length() const { return len_; }

 private:
  char* out_;
  std::size_t cap_;
  std::size_t len_ = 0;
};

// An element printer gets the element (identifier octet first) and the
// number of its octets present in the frame (identifier and length octets
// included, never more than the length octet announces plus two).
typedef int (*ElementPrinter)(Writer& w, const unsigned char* ie, unsigned avail);

struct MessageName {
  unsigned char code;
  const char* name;
};
struct ElementInfo {
  unsigned char id;
  const char* name;
  ElementPrinter print;
};
struct CauseText {
  unsigned char value;
  const char* text;
  const char* german;
};

extern const MessageName mtlist[];
extern const unsigned mtlist_size;
extern const ElementInfo ielist[];
extern const unsigned ielist_size;
extern const CauseText cvlist[];
extern const unsigned cvlist_size;

int general(Writer& w, const unsigned char* ie, unsigned avail);
int prbearer(Writer& w, const unsigned char* ie, unsigned avail);
int prcause(Writer& w, const unsigned char* ie, unsigned avail);
int prchident(Writer& w, const unsigned char* ie, unsigned avail);
int prcalled(Writer& w, const unsigned char* ie, unsigned avail);
int prcalling(Writer& w, const unsigned char* ie, unsigned avail);
int display(Writer& w, const unsigned char* ie, unsigned avail);
int prfacility(Writer& w, const unsigned char* ie, unsigned avail);

// Writes count characters '0'/'1' for the bits of octet from bit `first`
// (8 = most significant) downward.
int printbits(Writer& w, unsigned char octet, int first, int count);
// Position after the first octet with bit 8 set (end when there is none).
const unsigned char* skipext(const unsigned char* p, const unsigned char* end);
// " XX" per octet, then a NUL; returns the length including the NUL.
int QuickHex(char* out, std::size_t cap, const unsigned char* data, unsigned n);

}  // namespace Q931

// Renders one frame (address octets first); direction non-zero for network
// to user. Frames of 2 octets or fewer leave the buffer unchanged. Returns
// the length of the text written.
std::size_t dlogframe(const unsigned char* frame, unsigned length, int direction, char* out,
                      std::size_t cap = kLogBufSize);

}  // namespace ISDN
