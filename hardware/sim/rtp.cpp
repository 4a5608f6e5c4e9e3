#include "hardware/sim/rtp.h"

#include <poll.h>

#include <cerrno>
#include <iostream>
#include <stdexcept>
#include <string>

#include "hardware/board/record.h"
#include "hardware/board/requests.h"

namespace Sim {

namespace R = ::Board::Req;

namespace {

std::string dotted(uint32_t a) {
  return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 255) + "." + std::to_string((a >> 8) & 255) +
         "." + std::to_string(a & 255);
}

}  // namespace

// ---- "/dev/rtp" --------------------------------------------------------------

RtpDevice::RtpDevice() : Device("/dev/rtp") {}

int RtpDevice::onOpen(Session& s) {
  Stream& st = streams_[s.id];
  st = Stream();
  st.session = s.id;
  st.driverFd = s.driverFd;
  return 0;
}

void RtpDevice::onClose(Session& s) { streams_.erase(s.id); }

bool RtpDevice::holds(const Stream& s) const {
  if (s.channel < 0) return false;
  // A session whose every descriptor the daemon has closed is gone even
  // before the board reaps it (a restart closes and reopens in one go).
  pollfd p{s.driverFd, 0, 0};
  return !(::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP));
}

int RtpDevice::pickChannel(int wanted, int self) const {
  auto taken = [&](int ch) {
    for (const auto& [id, s] : streams_)
      if (id != self && s.channel == ch && holds(s)) return true;
    return false;
  };
  if (wanted >= 0) {
    if (wanted < kFirstChannel || wanted >= kFirstChannel + kChannels) return -EINVAL;
    return taken(wanted) ? -EBUSY : wanted;
  }
  for (int ch = kFirstChannel; ch < kFirstChannel + kChannels; ++ch)
    if (!taken(ch)) return ch;
  return -ENOSPC;
}

int RtpDevice::onIoctl(Session& s, Request& r) {
  auto it = streams_.find(s.id);
  if (it == streams_.end()) return -EBADF;
  Stream& st = it->second;
  switch (r.code) {
    case R::RtpBeginSession:
      if (r.byValue || r.size < rtp_connection_params::kSize) return -EFAULT;
      st.params.decode(r.record);
      st.begun = true;
      ++st.begins;
      return 0;
    case R::RtpAddChannel: {
      if (r.byValue || r.size < rtp_channel_info::kSize) return -EFAULT;
      if (!st.begun || st.channel >= 0) return -EINVAL;
      rtp_channel_info info;
      info.decode(r.record);
      int ch = pickChannel(info.tdm, s.id);
      if (ch < 0) return ch;
      st.channel = ch;
      s.channel = ch;
      info.tdm = ch;
      info.dev_no = 0;
      info.chn = ch - kFirstChannel;
      info.encode(r.record);
      return 0;
    }
    case R::RtpInputOn:
    case R::RtpInputOff:
    case R::RtpHalt:
    case R::RtpEndSession:
    case R::RtpFree:
      if (r.size != 0 || r.byValue) return -EFAULT;
      st.requests.push_back(r.code);
      if (st.channel < 0) return -EINVAL;
      if (r.code == R::RtpInputOn) st.input = true;
      if (r.code == R::RtpInputOff || r.code == R::RtpHalt) st.input = false;
      if (r.code == R::RtpEndSession) st.begun = false;
      if (r.code == R::RtpFree) {
        st.channel = -1;
        s.channel = -1;
      }
      return 0;
    default:
      return -ENOTTY;
  }
}

void RtpDevice::reset() {
  // Open sessions stay open; their driver state goes back to nothing.
  for (auto& [id, s] : streams_) {
    Stream fresh;
    fresh.session = s.session;
    fresh.driverFd = s.driverFd;
    s = fresh;
  }
}

const RtpDevice::Stream* RtpDevice::byChannel(int channel) const {
  for (const auto& [id, s] : streams_)
    if (s.channel == channel && channel >= 0 && holds(s)) return &s;
  return nullptr;
}

std::vector<RtpDevice::Stream> RtpDevice::streams() const {
  std::vector<Stream> v;
  for (const auto& [id, s] : streams_) v.push_back(s);
  return v;
}

bool RtpDevice::packet(int channel) {
  const Stream* st = byChannel(channel);
  if (!st) return false;
  for (Session* s : board->sessions(path()))
    if (s->id == st->session) {
      // A minimal RTP header: version 2, the session's payload type.
      Bytes rec = {0x80, uint8_t(st->params.rx_pt & 0x7f), 0, 1, 0, 0, 0, 0, 0, 0, 0, 0};
      return board->deliver(*s, rec);
    }
  return false;
}

void RtpDevice::help(std::ostream& out) const {
  out << "rtp-sessions                 per open session: channel, parameters, input, requests\n"
      << "rtp-packet <channel>         a packet from the peer reaches the channel's session\n";
}

bool RtpDevice::command(const std::string& verb, std::istream& args, std::ostream& out) {
  if (verb == "rtp-sessions") {
    for (const auto& [id, s] : streams_) {
      const rtp_connection_params& p = s.params;
      out << "session " << id << " channel " << s.channel << (s.begun ? " begun" : " idle") << " rx=" << p.rx_pt
          << " tx=" << p.tx_pt << " ssrc=" << p.ssrc << " remote=" << dotted(p.dhost_addr) << ':' << p.dhost_port
          << " local=" << dotted(p.shost_addr) << ':' << p.shost_port << " pf=" << p.packet_factor
          << " vad=" << int(p.vad) << " crate=" << int(p.crate) << " input=" << (s.input ? "on" : "off")
          << " begins=" << s.begins << " requests";
      for (uint32_t rq : s.requests) out << ' ' << std::hex << (rq & 0xff) << std::dec;
      out << '\n';
    }
    return true;
  }
  if (verb == "rtp-packet") {
    int ch;
    if (!(args >> ch)) throw std::invalid_argument("usage: rtp-packet <channel>");
    if (!packet(ch)) throw std::invalid_argument("no session on channel " + std::to_string(ch));
    out << "delivered 1\n";
    return true;
  }
  return false;
}

// ---- "/dev/voice" ------------------------------------------------------------

VoiceDevice::VoiceDevice() : Device("/dev/voice") { reset(); }

void VoiceDevice::reset() { caps_ = {{1, 32}, {2, 8}, {4, 16}, {8, 0}}; }

int VoiceDevice::onIoctl(Session&, Request& r) {
  if (r.code != R::VoiceCapacity) return -ENOTTY;
  if (r.byValue || r.size < 4) return -EFAULT;
  auto it = caps_.find(uint32_t(r.word(0)));
  if (it == caps_.end()) return -EINVAL;
  return it->second;
}

void VoiceDevice::help(std::ostream& out) const {
  out << "voice-caps <g711> <g723> <g729> <g711mcc>  channel counts of the capacity request\n";
}

bool VoiceDevice::command(const std::string& verb, std::istream& args, std::ostream& out) {
  if (verb != "voice-caps") return false;
  long g711, g723, g729, mcc;
  if (!readNumber(args, "g711", 0, 4096, g711) || !readNumber(args, "g723", 0, 4096, g723) ||
      !readNumber(args, "g729", 0, 4096, g729) || !readNumber(args, "g711mcc", 0, 4096, mcc))
    throw std::invalid_argument("usage: voice-caps <g711> <g723> <g729> <g711mcc>");
  caps_ = {{1, int(g711)}, {2, int(g723)}, {4, int(g729)}, {8, int(mcc)}};
  out << "g711 " << g711 << " g723 " << g723 << " g729 " << g729 << " g711mcc " << mcc << '\n';
  return true;
}

}  // namespace Sim
