#include "links/q931_print.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace ISDN {

char logbuf[kLogBufSize];

namespace Q931 {

Writer::Writer(char* out, std::size_t cap) : out_(out), cap_(cap) {
  if (cap_) out_[0] = '\0';
}

int Writer::print(const char* fmt, ...) {
  if (cap_ == 0 || len_ + 1 >= cap_) return 0;
  va_list ap;
  va_start(ap, fmt);
  int n = std::vsnprintf(out_ + len_, cap_ - len_, fmt, ap);
  va_end(ap);
  if (n < 0) {
    out_[len_] = '\0';
    return 0;
  }
  std::size_t room = cap_ - len_ - 1;
  std::size_t wrote = std::min<std::size_t>(static_cast<std::size_t>(n), room);
  len_ += wrote;
  return static_cast<int>(wrote);
}

int Writer::put(char c) {
  if (cap_ == 0 || len_ + 1 >= cap_) return 0;
  out_[len_++] = c;
  out_[len_] = '\0';
  return 1;
}

const MessageName mtlist[] = {
    {0x01, "ALERTING"},
    {0x02, "CALL PROCEEDING"},
    {0x07, "CONNECT"},
    {0x0F, "CONNECT ACKNOWLEDGE"},
    {0x03, "PROGRESS"},
    {0x05, "SETUP"},
    {0x0D, "SETUP ACKNOWLEDGE"},
    {0x24, "HOLD"},
    {0x28, "HOLD ACKNOWLEDGE"},
    {0x30, "HOLD REJECT"},
    {0x31, "RETRIEVE"},
    {0x33, "RETRIEVE ACKNOWLEDGE"},
    {0x37, "RETRIEVE REJECT"},
    {0x26, "RESUME"},
    {0x2E, "RESUME ACKNOWLEDGE"},
    {0x22, "RESUME REJECT"},
    {0x25, "SUSPEND"},
    {0x2D, "SUSPEND ACKNOWLEDGE"},
    {0x21, "SUSPEND REJECT"},
    {0x20, "USER INFORMATION"},
    {0x45, "DISCONNECT"},
    {0x4D, "RELEASE"},
    {0x5A, "RELEASE COMPLETE"},
    {0x46, "RESTART"},
    {0x4E, "RESTART ACKNOWLEDGE"},
    {0x60, "SEGMENT"},
    {0x79, "CONGESTION CONTROL"},
    {0x7B, "INFORMATION"},
    {0x62, "FACILITY"},
    {0x6E, "NOTIFY"},
    {0x7D, "STATUS"},
    {0x75, "STATUS ENQUIRY"},
};
const unsigned mtlist_size = sizeof(mtlist) / sizeof(mtlist[0]);

const ElementInfo ielist[] = {
    {0x00, "Segmented message", general},
    {0x04, "Bearer capability", prbearer},
    {0x08, "Cause", prcause},
    {0x10, "Call identity", general},
    {0x14, "Call state", general},
    {0x18, "Channel identification", prchident},
    {0x1C, "Facility", prfacility},
    {0x1E, "Progress indicator", general},
    {0x20, "Network-specific facilities", general},
    {0x27, "Notification indicator", general},
    {0x28, "Display", display},
    {0x29, "Date/Time", general},
    {0x2C, "Keypad facility", general},
    {0x34, "Signal", general},
    {0x40, "Information rate", general},
    {0x42, "End-to-end delay", general},
    {0x43, "Transit delay selection and indication", general},
    {0x44, "Packet layer binary parameters", general},
    {0x45, "Packet layer window size", general},
    {0x46, "Packet size", general},
    {0x47, "Closed user group", general},
    {0x4A, "Reverse charge indication", general},
    {0x6C, "Calling party number", prcalling},
    {0x6D, "Calling party subaddress", general},
    {0x70, "Called party number", prcalled},
    {0x71, "Called party subaddress", general},
    {0x74, "Redirecting number", general},
    {0x78, "Transit network selection", general},
    {0x79, "Restart indicator", general},
    {0x7C, "Low layer compatibility", general},
    {0x7D, "High layer compatibility", general},
    {0x7E, "User-user", general},
    {0x7F, "Escape for extension", general},
};
const unsigned ielist_size = sizeof(ielist) / sizeof(ielist[0]);

const CauseText cvlist[] = {
    {0x01, "Unallocated (unassigned) number", "Nummer nicht zugeteilt"},
    {0x02, "No route to specified transit network", ""},
    {0x03, "No route to destination", ""},
    {0x04, "Send special information tone", ""},
    {0x05, "Misdialled trunk prefix", ""},
    {0x06, "Channel unacceptable", "Kanal nicht akzeptierbar"},
    {0x07, "Channel awarded and being delivered in an established channel", ""},
    {0x08, "Preemption", ""},
    {0x09, "Preemption - circuit reserved for reuse", ""},
    {0x10, "Normal call clearing", "Normale Ausloesung"},
    {0x11, "User busy", "TNB besetzt"},
    {0x12, "No user responding", ""},
    {0x13, "No answer from user (user alerted)", ""},
    {0x14, "Subscriber absent", ""},
    {0x15, "Call rejected", ""},
    {0x16, "Number changed", ""},
    {0x1A, "non-selected user clearing", ""},
    {0x1B, "Destination out of order", ""},
    {0x1C, "Invalid number format (address incomplete)", ""},
    {0x1D, "Facility rejected", ""},
    {0x1E, "Response to Status enquiry", ""},
    {0x1F, "Normal, unspecified", ""},
    {0x22, "No circuit/channel available", ""},
    {0x26, "Network out of order", ""},
    {0x27, "Permanent frame mode connection out-of-service", ""},
    {0x28, "Permanent frame mode connection operational", ""},
    {0x29, "Temporary failure", ""},
    {0x2A, "Switching equipment congestion", ""},
    {0x2B, "Access information discarded", ""},
    {0x2C, "Requested circuit/channel not available", ""},
    {0x2E, "Precedence call blocked", ""},
    {0x2F, "Resource unavailable, unspecified", ""},
    {0x31, "Quality of service unavailable", ""},
    {0x32, "Requested facility not subscribed", ""},
    {0x35, "Outgoing calls barred within CUG", ""},
    {0x37, "Incoming calls barred within CUG", ""},
    {0x39, "Bearer capability not authorized", ""},
    {0x3A, "Bearer capability not presently available", ""},
    {0x3E, "Inconsistency in designated outgoing access information and subscriber class", ""},
    {0x3F, "Service or option not available, unspecified", ""},
    {0x41, "Bearer capability not implemented", ""},
    {0x42, "Channel type not implemented", ""},
    {0x43, "Requested facility not implemented", ""},
    {0x44, "Only restricted digital information bearer capability is available", ""},
    {0x4F, "Service or option not implemented", ""},
    {0x51, "Invalid call reference value", ""},
    {0x52, "Identified channel does not exist", ""},
    {0x53, "A suspended call exists, but this call identity does not", ""},
    {0x54, "Call identity in use", ""},
    {0x55, "No call suspended", ""},
    {0x56, "Call having the requested call identity has been cleared", ""},
    {0x57, "User not member of CUG", ""},
    {0x58, "Incompatible destination", ""},
    {0x5A, "Non-existent CUG", ""},
    {0x5B, "Invalid transit network selection", ""},
    {0x5F, "Invalid message, unspecified", ""},
    {0x60, "Mandatory information element is missing", ""},
    {0x61, "Message type non-existent or not implemented", ""},
    {0x62, "Message not compatible with call state or message type non-existent or not implemented", ""},
    {0x63, "Information element/parameter non-existent or not implemented", ""},
    {0x64, "Invalid information element contents", ""},
    {0x65, "Message not compatible with call state", ""},
    {0x66, "Recovery on timer expiry", ""},
    {0x67, "Parameter non-existent or not implemented - passed on", ""},
    {0x6E, "Message with unrecognized parameter discarded", ""},
    {0x6F, "Protocol error, unspecified", ""},
    {0x7F, "Interworking, unspecified", ""},
};
const unsigned cvlist_size = sizeof(cvlist) / sizeof(cvlist[0]);

int printbits(Writer& w, unsigned char octet, int first, int count) {
  int n = 0;
  for (int b = first; b > first - count && b >= 1; --b) n += w.put((octet >> (b - 1)) & 1 ? '1' : '0');
  return n;
}

const unsigned char* skipext(const unsigned char* p, const unsigned char* end) {
  while (p < end && !(*p & 0x80)) ++p;
  return p < end ? p + 1 : end;
}

int QuickHex(char* out, std::size_t cap, const unsigned char* data, unsigned n) {
  Writer w(out, cap);
  for (unsigned i = 0; i < n; ++i) w.print(" %02X", data[i]);
  return static_cast<int>(w.length()) + (cap ? 1 : 0);
}

namespace {

// Contents of an element: after the identifier and length octets.
struct Contents {
  const unsigned char* p;
  unsigned n;
};
Contents contents(const unsigned char* ie, unsigned avail) {
  if (avail < 2) return {ie, 0};
  return {ie + 2, avail - 2};
}

int octetLine(Writer& w, const char* label, unsigned char o) {
  int n = w.print("%s", label);
  n += printbits(w, o, 8, 8);
  n += w.put('\n');
  return n;
}

int chars(Writer& w, const unsigned char* p, unsigned n) {
  int k = 0;
  for (unsigned i = 0; i < n; ++i) k += w.put(static_cast<char>(p[i]));
  return k;
}

}  // namespace

int general(Writer& w, const unsigned char* ie, unsigned avail) {
  Contents c = contents(ie, avail);
  int n = 0;
  int num = 3;
  char suffix = ' ';
  for (unsigned i = 0; i < c.n; ++i) {
    n += w.print("    octet %d%c ", num, suffix);
    n += printbits(w, c.p[i], 8, 8);
    n += w.put('\n');
    if (i + 1 < c.n && (c.p[i + 1] & 0x80)) {
      ++num;
      suffix = ' ';
    } else {
      suffix = suffix == ' ' ? 'a' : static_cast<char>(suffix + 1);
    }
  }
  return n;
}

int prchident(Writer& w, const unsigned char* ie, unsigned avail) {
  Contents c = contents(ie, avail);
  if (c.n == 0) return 0;
  return octetLine(w, "    octet 3 ", c.p[0]);
}

int prcalled(Writer& w, const unsigned char* ie, unsigned avail) {
  Contents c = contents(ie, avail);
  if (c.n == 0) return 0;
  int n = octetLine(w, "    octet 3 ", c.p[0]);
  n += w.print("    number digits ");
  n += chars(w, c.p + 1, c.n - 1);
  n += w.put('\n');
  return n;
}

int prcalling(Writer& w, const unsigned char* ie, unsigned avail) {
  Contents c = contents(ie, avail);
  if (c.n == 0) return 0;
  int n = octetLine(w, "    octet 3 ", c.p[0]);
  unsigned pos = 1;
  if (!(c.p[0] & 0x80) && pos < c.n) n += octetLine(w, "    octet 3a ", c.p[pos++]);
  n += w.print("    number digits ");
  n += chars(w, c.p + pos, c.n - pos);
  n += w.put('\n');
  return n;
}

int prbearer(Writer& w, const unsigned char* ie, unsigned avail) {
  Contents c = contents(ie, avail);
  int n = 0;
  unsigned pos = 0;
  if (pos < c.n) n += octetLine(w, "    octet 3  ", c.p[pos++]);
  if (pos < c.n) n += octetLine(w, "    octet 4  ", c.p[pos++]);
  if (pos == 2 && (c.p[1] & 0x1F) == 24 && pos < c.n) n += octetLine(w, "    octet 4.1 ", c.p[pos++]);
  if (pos < c.n && ((c.p[pos] >> 5) & 3) == 1) {
    char suffix = ' ';
    while (pos < c.n) {
      unsigned char o = c.p[pos++];
      n += w.print("    octet 5%c ", suffix);
      n += printbits(w, o, 8, 8);
      n += w.put('\n');
      suffix = suffix == ' ' ? 'a' : static_cast<char>(suffix + 1);
      if (o & 0x80) break;
    }
  }
  // One more line at most: bits 7-6 of the next octet tell octet 6 from 7.
  if (pos < c.n) {
    unsigned layer = (c.p[pos] >> 5) & 3;
    if (layer == 2) n += octetLine(w, "    octet 6  ", c.p[pos]);
    if (layer == 3) n += octetLine(w, "    octet 7  ", c.p[pos]);
  }
  return n;
}

int prcause(Writer& w, const unsigned char* ie, unsigned avail) {
  Contents c = contents(ie, avail);
  if (c.n == 0) return 0;
  int n = w.print("    coding ");
  n += printbits(w, c.p[0], 7, 2);
  n += w.print(" location ");
  n += printbits(w, c.p[0], 4, 4);
  n += w.put('\n');
  const unsigned char* end = c.p + c.n;
  const unsigned char* p = skipext(c.p, end);
  if (p < end) {
    unsigned char v = *p++ & 0x7F;
    const char* text = nullptr;
    for (unsigned i = 0; i < cvlist_size; ++i)
      if (cvlist[i].value == v) text = cvlist[i].text;
    if (text)
      n += w.print("  cause value %x : %s \n", v, text);
    else
      n += w.print("Unknown cause type %x!\n", v);
  }
  while (p < end) {
    n += w.print("    diag attribute %d ", *p++ & 0x7F);
    if (p >= end) break;
    unsigned char rej = *p++;
    n += w.print(" rej %d ", rej & 0x7F);
    if (!(rej & 0x80)) {
      if (p >= end) break;
      n += w.print(" av %d\n", *p++);
    }
  }
  n += w.put('\n');
  return n;
}

int display(Writer& w, const unsigned char* ie, unsigned avail) {
  Contents c = contents(ie, avail);
  int n = w.print("   \"");
  n += chars(w, c.p, c.n);
  n += w.print("\"\n");
  return n;
}

int prfacility(Writer& w, const unsigned char* ie, unsigned avail) {
  Contents c = contents(ie, avail);
  if (c.n == 0) return 0;
  int n = octetLine(w, "    octet 3 ", c.p[0]);
  unsigned pos = 1;
  while (pos < c.n) {
    n += octetLine(w, "   octet 4 ", c.p[pos++]);
    if (pos >= c.n) break;
    unsigned len = c.p[pos++] & 0x7F;
    n += w.print("   octet 5 %d\n", len);
    n += w.print("   contents ");
    unsigned stop = std::min(c.n, pos + len);
    for (; pos < stop; ++pos) n += w.print("%2x ", c.p[pos]);
    n += w.put('\n');
  }
  return n;
}

}  // namespace Q931

std::size_t dlogframe(const unsigned char* f, unsigned len, int direction, char* out, std::size_t cap) {
  using namespace Q931;
  if (len <= 2 || cap == 0) return 0;
  Writer w(out, cap);
  for (unsigned i = 0; i < len; ++i) w.print(" %02X", f[i]);
  w.put('\n');
  unsigned sapi = f[0] >> 2, tei = f[1] >> 1, ctl = f[2];
  w.print("frame %s ", direction ? "network->user" : "user->network");
  unsigned start, hdr;
  if (tei == 127) {
    if (sapi == 63) {
      w.print("tei management:\n");
      return w.length();
    }
    if (sapi != 0) {
      w.print("unknown sapi %d broadcast\n", sapi);
      return w.length();
    }
    if (ctl != 0x03) {
      w.print("no UI broadcast\n");
      return w.length();
    }
    w.print("broadcast\n");
    start = hdr = 3;
  } else {
    if (sapi != 0) {
      w.print("unknown sapi = %d; tei = %d\n", sapi, tei);
      return w.length();
    }
    if (ctl & 1) {
      w.print("SFrame tei = %d (", tei);
      for (unsigned i = 2; i < len; ++i) w.print("%02X ", f[i]);
      w.print(")\n");
      return w.length();
    }
    w.print("IFrame tei = %d\n", tei);
    start = hdr = 4;
  }
  // Protocol discriminator, call reference length and value, message type.
  if (start >= len) {
    w.print("frame too short\n");
    return w.length();
  }
  if (f[start] != 8) {
    w.print("Unknown protocol %x!", f[start]);
    return w.length();
  }
  unsigned pos = start + 1;
  unsigned need = pos + 1 + ((pos < len && f[pos]) ? 1 : 0) + 1;
  if (need > len) {
    w.print("frame too short\n");
    return w.length();
  }
  unsigned crlen = f[pos++];
  unsigned cref = crlen ? f[pos++] : 0;
  unsigned mt = f[pos++];
  const char* mname = nullptr;
  for (unsigned i = 0; i < mtlist_size; ++i)
    if (mtlist[i].code == mt) {
      mname = mtlist[i].name;
      break;
    }
  const char* who = (cref & 0x80) ? "called" : "caller";
  if (mname)
    w.print("callref %d %s size %d message type %s\n", cref & 0x7F, who, len - hdr, mname);
  else
    w.print("callref %d %s size %d unknown message type %x!\n", cref & 0x7F, who, len - hdr, mt);

  while (pos < len) {
    unsigned char o = f[pos];
    if (o & 0x80) {
      switch ((o >> 4) & 7) {
        case 2:
          if (o == 0xA0)
            w.print("  More data\n");
          else if (o == 0xA1)
            w.print("  Sending complete\n");
          break;
        case 1:
          w.print("  Shift %x\n", o & 0x0F);
          break;
        case 3:
          w.print("  Congestion level %x\n", o & 0x0F);
          break;
        case 5:
          w.print("  Repeat indicator %x\n", o & 0x0F);
          break;
        default:
          w.print("  Reserved %x\n", o);
          break;
      }
      ++pos;
      continue;
    }
    if (pos + 1 >= len) break;  // the length octet is missing
    unsigned ielen = f[pos + 1];
    unsigned avail = 2 + std::min(ielen, len - pos - 2);
    const ElementInfo* info = nullptr;
    for (unsigned i = 0; i < ielist_size; ++i)
      if (ielist[i].id == o) {
        info = &ielist[i];
        break;
      }
    if (info) {
      w.print("  %s\n", info->name);
      info->print(w, f + pos, avail);
    } else {
      w.print("  attribute %x attribute size %d\n", o, ielen);
    }
    pos += 2 + ielen;
  }
  return w.length();
}

}  // namespace ISDN
