#include "hardware/sim/rtp_ext.h"

#include <arpa/inet.h>

#include <cerrno>
#include <iostream>
#include <stdexcept>
#include <string>

#include "radio/vork_radio_control_requests.h"

namespace Sim {

namespace {

std::string dotted(uint32_t networkOrder) {
  char buf[INET_ADDRSTRLEN] = {};
  in_addr a{};
  a.s_addr = networkOrder;
  ::inet_ntop(AF_INET, &a, buf, sizeof buf);
  return buf;
}

}  // namespace

RtpExtDevice::RtpExtDevice() : Device("/dev/rtp_ext") {}

int RtpExtDevice::onOpen(Session& s) {
  exts_[s.id] = Ext();
  exts_[s.id].session = s.id;
  return 0;
}

void RtpExtDevice::onClose(Session& s) { exts_.erase(s.id); }

void RtpExtDevice::reset() { exts_.clear(); }

int RtpExtDevice::onIoctl(Session& s, Request& r) {
  auto it = exts_.find(s.id);
  if (it == exts_.end()) return -EBADF;
  Ext& e = it->second;
  auto needs = [&](std::size_t size) { return !r.byValue && r.record && r.size >= size; };
  switch (r.code) {
    case RtpExtReq::Init: {
      if (!needs(rtp_ext_init_params::kSize)) return -EFAULT;
      rtp_ext_init_params p;
      p.decode(r.record);
      e.inited = true;
      e.etype = p.etype;
      return 0;
    }
    case RtpExtReq::Attach: {
      if (!needs(rtp_ext_attach_session_params::kSize)) return -EFAULT;
      if (!e.inited || e.attached) return -EINVAL;
      rtp_ext_attach_session_params p;
      p.decode(r.record);
      e.attached = true;
      e.fd_rtp = p.fd_rtp;
      e.pid_rtp = p.pid_rtp;
      ++e.attaches;
      return 0;
    }
    case RtpExtReq::Detach:
      if (!e.attached) return -EINVAL;
      e.attached = false;
      ++e.detaches;
      return 0;
    case RtpExtReq::RecvInfo: {
      if (!needs(rtp_ext_recv_info::kSize)) return -EFAULT;
      if (e.senders.empty()) return -EAGAIN;
      rtp_ext_recv_info info;
      info.addr = e.senders.front().addr;
      info.ssrc = e.senders.front().ssrc;
      e.senders.pop_front();
      info.encode(r.record);
      return 0;
    }
    case RtpExtReq::SetFilter: {
      if (!needs(rtp_ext_filter::kSize)) return -EFAULT;
      rtp_ext_filter f;
      f.decode(r.record);
      e.filtered = true;
      e.filter_addr = f.addr;
      ++e.filterSets;
      return 0;
    }
    case RtpExtReq::ResetFilter:
      e.filtered = false;
      e.filter_addr = 0;
      ++e.filterResets;
      return 0;
    default:
      return -ENOTTY;
  }
}

void RtpExtDevice::onWrite(Session& s, const Bytes& record) {
  auto it = exts_.find(s.id);
  if (it == exts_.end()) return;
  it->second.written.push_back(record);
  if (it->second.written.size() > kKeptPackets) it->second.written.pop_front();
}

std::vector<const RtpExtDevice::Ext*> RtpExtDevice::sessions() const {
  std::vector<const Ext*> v;
  for (const auto& [id, e] : exts_) v.push_back(&e);
  return v;
}

RtpExtDevice::Ext* RtpExtDevice::nth(std::size_t n) {
  for (auto& [id, e] : exts_)
    if (n-- == 0) return &e;
  return nullptr;
}

bool RtpExtDevice::inject(std::size_t n, const Bytes& packet, uint32_t addr, uint32_t ssrc) {
  Ext* e = nth(n);
  if (!e) return false;
  for (Session* s : board->sessions(path())) {
    if (s->id != e->session) continue;
    if (!board->deliver(*s, packet)) return false;
    e->senders.push_back({addr, ssrc});
    return true;
  }
  return false;
}

void RtpExtDevice::help(std::ostream& out) const {
  out << "rtp-ext-sessions             the extension sessions: attach, filter, packets written\n"
      << "rtp-ext-packet <n> <ip> <ssrc> <hex>  a radio packet from <ip>/<ssrc> reaches session n\n"
      << "rtp-ext-written <n>          the packets session n wrote, one hex line each\n";
}

bool RtpExtDevice::command(const std::string& verb, std::istream& args, std::ostream& out) {
  if (verb == "rtp-ext-sessions") {
    std::size_t i = 0;
    for (const auto& [id, e] : exts_) {
      out << i++ << " init=" << (e.inited ? std::to_string(e.etype) : std::string("no"))
          << " attached=" << (e.attached ? std::to_string(e.fd_rtp) + "/" + std::to_string(e.pid_rtp) : "no")
          << " filter=" << (e.filtered ? dotted(e.filter_addr) : "none") << " sets=" << e.filterSets
          << " resets=" << e.filterResets << " written=" << e.written.size() << "\n";
    }
    return true;
  }
  if (verb == "rtp-ext-packet") {
    std::size_t n;
    std::string ip, text;
    uint32_t ssrc;
    if (!(args >> n >> ip >> ssrc >> text))
      throw std::invalid_argument("usage: rtp-ext-packet <n> <ip> <ssrc> <hex>");
    in_addr a{};
    Bytes packet;
    if (::inet_pton(AF_INET, ip.c_str(), &a) != 1) throw std::invalid_argument("bad address " + ip);
    if (!parseHex(text, packet)) throw std::invalid_argument("bad hex");
    if (!inject(n, packet, a.s_addr, ssrc)) throw std::invalid_argument("no session " + std::to_string(n));
    out << "delivered 1\n";
    return true;
  }
  if (verb == "rtp-ext-written") {
    std::size_t n;
    if (!(args >> n)) throw std::invalid_argument("usage: rtp-ext-written <n>");
    Ext* e = nth(n);
    if (!e) throw std::invalid_argument("no session " + std::to_string(n));
    for (const Bytes& b : e->written) out << hex(b) << "\n";
    return true;
  }
  return false;
}

}  // namespace Sim
