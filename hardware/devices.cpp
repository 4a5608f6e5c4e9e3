#include "hardware/devices.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include <poll.h>

#include "hardware/board/board.h"
#include "hardware/board/record.h"

using Board::getBE16;
using Board::getBE32;
using Board::putBE16;
using Board::putBE32;

const char* GetVoiceDevName() { return "/dev/voice"; }
const char* GetMixerDevName() { return "/dev/mixer"; }
const char* GetDTMFDevName() { return "/dev/dtmf"; }
const char* GetDSPDevName() { return "/dev/dsp"; }
const char* GetRtpDevName() { return "/dev/rtp"; }
const char* GetRtpExtDevName() { return "/dev/rtp_ext"; }
const char* GetModemDevName() { return "/dev/mctl"; }
const char* GetMaintenance() { return "/dev/maintenance"; }
const char* GetSpiTdmDevName() { return "/dev/spi_tdm"; }

namespace {
const char* const codecs[] = {"unknown", "g711", "g723", "g729", "tonec", "g711-rtp", "g729-rtp", "g723-rtp", "conf"};
}

const char* GetCodecAsStr(int codec) {
  if (codec < 0 || codec >= int(sizeof codecs / sizeof codecs[0])) return "invalid";
  return codecs[codec];
}

// ---- Record layouts --------------------------------------------------------

void rtp_connection_params::encode(uint8_t* out) const {
  std::memset(out, 0, kSize);
  putBE32(out + 0, dhost_addr);
  putBE16(out + 4, dhost_port);
  putBE32(out + 8, shost_addr);
  putBE16(out + 12, shost_port);
  putBE16(out + 14, rx_pt);
  putBE16(out + 16, tx_pt);
  putBE16(out + 18, packet_factor);
  out[20] = vad;
  out[21] = crate;
  putBE32(out + 24, ssrc);
}

void rtp_connection_params::decode(const uint8_t* in) {
  dhost_addr = getBE32(in + 0);
  dhost_port = getBE16(in + 4);
  shost_addr = getBE32(in + 8);
  shost_port = getBE16(in + 12);
  rx_pt = getBE16(in + 14);
  tx_pt = getBE16(in + 16);
  packet_factor = getBE16(in + 18);
  vad = in[20];
  crate = in[21];
  ssrc = getBE32(in + 24);
}

void rtp_channel_info::encode(uint8_t* out) const {
  putBE32(out + 0, uint32_t(tdm));
  putBE32(out + 4, uint32_t(dev_no));
  putBE32(out + 8, uint32_t(chn));
}

void rtp_channel_info::decode(const uint8_t* in) {
  tdm = int32_t(getBE32(in + 0));
  dev_no = int32_t(getBE32(in + 4));
  chn = int32_t(getBE32(in + 8));
}

void rtp_attach_session_params::encode(uint8_t* out) const {
  putBE32(out + 0, uint32_t(fd_rtp));
  putBE32(out + 4, uint32_t(pid_rtp));
}

void rtp_attach_session_params::decode(const uint8_t* in) {
  fd_rtp = int32_t(getBE32(in + 0));
  pid_rtp = int32_t(getBE32(in + 4));
}

void rtp_ext_attach_session_params::encode(uint8_t* out) const {
  putBE32(out + 0, uint32_t(fd_rtp));
  putBE32(out + 4, uint32_t(pid_rtp));
}

void rtp_ext_attach_session_params::decode(const uint8_t* in) {
  fd_rtp = int32_t(getBE32(in + 0));
  pid_rtp = int32_t(getBE32(in + 4));
}

void rtp_ext_init_params::encode(uint8_t* out) const { putBE16(out, etype); }

void rtp_ext_init_params::decode(const uint8_t* in) { etype = getBE16(in); }

// ---- Printers --------------------------------------------------------------

namespace {

// One field line; the value in decimal whatever the stream's base, which
// stays as the caller set it.
template <class T>
void field(std::ostream& o, const char* name, T v) {
  const std::ios_base::fmtflags flags = o.flags();
  o << "   " << name << " = " << std::dec << +v << "\n";
  o.flags(flags);
}

}  // namespace

std::ostream& operator<<(std::ostream& o, const rtp_connection_params& p) {
  o << "  rtp_connection_params\n  {\n";
  field(o, "packet_factor", p.packet_factor);
  field(o, "rx_pt", p.rx_pt);
  field(o, "tx_pt", p.tx_pt);
  field(o, "ssrc", p.ssrc);
  return o << "  }\n";
}

std::ostream& operator<<(std::ostream& o, const rtp_channel_info& p) {
  return o << "rtp_channel_info" << " {" << " tdm=" << p.tdm << " dev_no=" << p.dev_no << " chn=" << p.chn << " }";
}

std::ostream& operator<<(std::ostream& o, const rtp_attach_session_params& p) {
  o << "  rtp_attach_session_params\n  {\n";
  field(o, "fd_rtp", p.fd_rtp);
  field(o, "pid_rtp", p.pid_rtp);
  return o << "  }\n";
}

std::ostream& operator<<(std::ostream& o, const rtp_ext_attach_session_params& p) {
  o << "  rtp_ext_attach_session_params\n  {\n";
  field(o, "fd_rtp", p.fd_rtp);
  field(o, "pid_rtp", p.pid_rtp);
  return o << "  }\n";
}

std::ostream& operator<<(std::ostream& o, const rtp_ext_init_params& p) {
  o << "  rtp_ext_init_params\n  {\n";
  field(o, "etype", p.etype);
  return o << "  }\n";
}

// ---- Errors ----------------------------------------------------------------

RtpErr::RtpErr(int code) : errno_(errno), code_(code) {}

void RtpErr::Put(std::ostream& o) const { o << std::strerror(errno_); }

std::ostream& operator<<(std::ostream& o, const RtpErr& e) {
  e.Put(o);
  return o;
}

const char* RTPStrError(int code) {
  switch (code) {
    case 0: return "No error";
    case 0x3000002: return "Parameter out of range";
    case 0x3000004: return "Memory allocation failed";
    case 0x3000008: return "Allocated buffer too small";
    case 0x3000101: return "Maximum number of contexts exceeded";
    case 0x3000102: return "Context destroyed or never created";
    case 0x3000103: return "Socket not open for reading or writing";
    case 0x3000104: return "Can't obtain a new socket";
    case 0x3000105: return "Can't bind socket";
    case 0x3000106: return "Unable to set socket option";
    case 0x3000107: return "Unable to write to socket";
    case 0x3000108: return "Unable to read from socket";
    case 0x3000109: return "Socket does not belong to session";
    case 0x300010a: return "Change not allowed during open session";
    case 0x300010b: return "Invalid address specified";
    case 0x300010c: return "Invalid port specified";
    case 0x300010e: return "Unable to close session";
    case 0x300010f: return "No such membership info";
    case 0x3000110: return "Invalid rtpprofile specified";
    case 0x3000111: return "no data to receive at socket";
    case 0x3000112: return "Packet looped back";
    case 0x3000113: return "CSRC list not yet set";
    case 0x3000114: return "2 CSRCs on list have same SSRC";
    case 0x3000115: return "Packet has incorrect format";
    case 0x3000116: return "Person not session member";
    case 0x3000117: return "Person data protected";
    case 0x3000118: return "No such sender in current session";
    case 0x3000119: return "No such SDES field";
    case 0x300011a: return "Encryption / decryption function not set";
    case 0x300011b: return "Packet was unsuccessfully decrypted";
    case 0x300011c: return "End of iterating list";
    case 0x300011d: return "Not allowed to recurse";
    case 0x300011e: return "SSRC in use";
    case 0x300011f: return "Couldn't get socket name";
    case 0x3000120: return "No such contributor";
    case 0x3000121: return "CSRC list full";
    case 0x3000122: return "Don't send this packet now";
    default: break;
  }
  static char buffer[64];
  std::snprintf(buffer, sizeof buffer, "Unknown RTP Error %d", code);
  return buffer;
}

namespace Hardware {

std::ostream& operator<<(std::ostream& os, ErrTail t) { return os << " errno=\"" << std::strerror(t.err) << '"'; }

RecordRead readEventRecord(int fd, short revents, uint8_t* rec, std::size_t size, const char* device) {
  ssize_t n = ::Board::read(fd, rec, size);
  if (n < 0) {
    if (errno != EAGAIN && errno != EWOULDBLOCK)
      std::cerr << "fail to read from " << device << ": " << std::strerror(errno) << std::endl;
    return RecordRead::Stop;
  }
  // Only whole records are events.
  if (n == 0) {
    if (!(revents & POLLHUP)) return RecordRead::Stop;
    std::cerr << "fail to read from " << device << ": end of file" << std::endl;
    return RecordRead::HungUp;
  }
  if (std::size_t(n) != size) {
    std::cerr << "fail to read from " << device << ": short record of " << n << " bytes" << std::endl;
    return RecordRead::Stop;
  }
  return RecordRead::Record;
}

}  // namespace Hardware
