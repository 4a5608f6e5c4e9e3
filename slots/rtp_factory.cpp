#include "slots/rtp_factory.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <utility>

#include "asn1/notation/printer.h"
#include "hardware/board/board.h"
#include "hardware/board/requests.h"
#include "hardware/devices.h"
#include "runtime/os/fd.h"
#include "slots/rtp_slot.h"

namespace {

// Codec selectors of the capacity request.
enum Selector : uint32_t { G711 = 1, G723 = 2, G729 = 4, G711mcc = 8 };

// The address as a number (a.b.c.d = 0xaabbccdd); every form inet_addr
// reads ("10.1", "0x7f.0.0.1"); false when the text is no IPv4 address.
bool parseAddress(const std::string& text, uint32_t& out) {
  in_addr a{};
  if (::inet_aton(text.c_str(), &a) == 0) return false;
  out = ntohl(a.s_addr);
  return true;
}

}  // namespace

RtpFactory& RtpFactory::instance() {
  static RtpFactory factory;
  return factory;
}

RtpFactory::RtpFactory() { IQuery(); }

std::ostream& RtpFactory::PutHeader(std::ostream& os) const {
  return os << "rtp[" << g723_ << "," << g729_ << "," << g711_ << "]: ";
}

int RtpFactory::payloadType(TERM::Payload::NamedNumber payload) {
  switch (payload) {
    case TERM::Payload::ptG711_Alaw: return 8;
    case TERM::Payload::ptG711_Ulaw: return 0;
    case TERM::Payload::ptG723: return 4;
    case TERM::Payload::ptG729: return 18;
    case TERM::Payload::ptG711mcc_Alaw: return 136;
    case TERM::Payload::ptG711mcc_Ulaw: return 128;
    default: return -1;
  }
}

int RtpFactory::translateCodec(TERM::Payload::NamedNumber payload) {
  int pt = payloadType(payload);
  return pt < 0 ? 0 : pt;
}

int RtpFactory::translateCodec(TERM::Payload::NamedNumber payload, TERM::Payload::NamedNumber direction) {
  if (direction != payload && (direction == TERM::Payload::ptG711_Alaw || direction == TERM::Payload::ptG711_Ulaw))
    return translateCodec(direction);
  return translateCodec(payload);
}

bool RtpFactory::StartSession(const LGCP::CreateRtpParams& p, const Header& header, RtpSessionStart& out) {
  const TERM::RtpParams& c = p.get_codecRTP();
  const TERM::Payload::NamedNumber payload = c.get_payload();
  // Addresses: a text that is no IPv4 address would otherwise become
  // 255.255.255.255 and send the media to the broadcast address.
  rtp_connection_params& block = out.block;
  const TERM::HostAddress& dhost = c.get_dhost();
  if (!parseAddress(dhost.get_iaddr(), block.dhost_addr)) {
    header(std::clog) << "rtp do not created: bad address " << dhost.get_iaddr() << std::endl;
    return false;
  }
  block.dhost_port = uint16_t(dhost.get_port().getValue());
  if (c.shost_isPresent()) {
    if (!parseAddress(c.get_shost().get_iaddr(), block.shost_addr)) {
      header(std::clog) << "rtp do not created: bad address " << c.get_shost().get_iaddr() << std::endl;
      return false;
    }
    block.shost_port = uint16_t(c.get_shost().get_port().getValue());
  } else {
    block.shost_port = block.dhost_port;
  }

  Fd& sock = out.rtcp;
  sock = Fd(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  if (!sock) {
    header(std::clog) << "rtp do not created: can not create socket [errno=" << Errno() << "]" << std::endl;
    return false;
  }
  // The RTCP port is the local RTP port plus one; there is none above 65535.
  const unsigned rtcpPort = unsigned(block.shost_port) + 1;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = htons(uint16_t(rtcpPort));
  if (rtcpPort > 65535 || ::bind(sock.lowlevel_fd(), reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
    Errno err = rtcpPort > 65535 ? Errno(EINVAL) : Errno();
    header(std::clog) << "rtp do not created: can not bind socket [errno=" << err << ", port=" << (rtcpPort & 0xffff)
                         << "]" << std::endl;
    return false;
  }

  Fd& device = out.device;
  device = Fd(Board::open(GetRtpDevName(), 0));
  if (!device) {
    header(std::cerr) << "device \"" << GetRtpDevName() << "\" open fail: " << Errno() << std::endl;
    return false;
  }

  block.rx_pt = uint16_t(translateCodec(payload, p.get_rxPayload()));
  block.tx_pt = uint16_t(translateCodec(payload, p.get_txPayload()));
  block.packet_factor = c.pfactor_isPresent() ? uint16_t(c.get_pfactor().getValue()) : 0;
  block.vad = c.vad_isPresent() && c.get_vad() ? 1 : 0;
  block.crate = c.crate_isPresent() && c.get_crate().getValue() != 0 ? 1 : 0;
  block.ssrc = uint32_t(std::rand());

  uint8_t raw[rtp_connection_params::kSize];
  block.encode(raw);
  if (Board::ioctl(device.lowlevel_fd(), Board::Req::RtpBeginSession, raw) < 0) {
    header(std::cerr) << "begin session fail !!! " << std::endl;
    return false;
  }
  rtp_channel_info& info = out.info;
  uint8_t chan[rtp_channel_info::kSize];
  info.encode(chan);
  if (Board::ioctl(device.lowlevel_fd(), Board::Req::RtpAddChannel, chan) < 0) {
    header(std::cerr) << "add channel fail !!!" << std::endl;
    return false;
  }
  info.decode(chan);
  return true;
}

void RtpFactory::ReadCapacity(const Header& header, int& g729, int& g723, int& g711, int& g711mcc) {
  g729 = g723 = g711 = 0;
  Fd voice(Board::open(GetVoiceDevName(), 0));
  if (!voice) {
    header(std::cerr) << "device \"" << GetVoiceDevName() << "\" open fail: " << Errno() << std::endl;
    return;
  }
  const std::pair<uint32_t, int*> order[] = {{G729, &g729}, {G723, &g723}, {G711, &g711}, {G711mcc, &g711mcc}};
  for (const auto& [selector, counter] : order) {
    uint8_t arg[4] = {uint8_t(selector >> 24), uint8_t(selector >> 16), uint8_t(selector >> 8), uint8_t(selector)};
    int n = Board::ioctl(voice.lowlevel_fd(), Board::Req::VoiceCapacity, arg);
    if (n > 0) *counter = n;
  }
}

Slot* RtpFactory::INewSlot(const LGCP::CreateParams& cp) {
  if (!cp.rtp_isSelected()) return nullptr;
  const LGCP::CreateRtpParams& p = cp.get_rtp();
  const TERM::RtpParams& c = p.get_codecRTP();
  if (c.radio_isPresent()) return nullptr;
  PutHeader(std::clog) << "do create rtp: " << c << std::endl;

  const TERM::Payload::NamedNumber payload = c.get_payload();
  if (payloadType(payload) < 0) {
    PutHeader(std::clog) << "rtp do not created: payload " << c.get_payload() << " not found" << std::endl;
    return nullptr;
  }

  RtpSessionStart start;
  if (!StartSession(p, [this](std::ostream& os) -> std::ostream& { return PutHeader(os); }, start)) return nullptr;
  rtp_connection_params& block = start.block;
  Fd& sock = start.rtcp;
  Fd& device = start.device;
  rtp_channel_info& info = start.info;

  auto* slot = new RtpSlot(info.tdm, std::move(device), block);
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_addr.s_addr = htonl(block.dhost_addr);
  peer.sin_port = htons(uint16_t(block.dhost_port + 1));
  slot->startRTPC(sock, peer);

  if (c.echo_isPresent() && c.get_echo().get_suppressor()) slot->echoCancel(c.get_echo().get_canceller());
  return slot;
}

void RtpFactory::IQuery() {
  ReadCapacity([this](std::ostream& os) -> std::ostream& { return PutHeader(os); }, g729_, g723_, g711_, g711mcc_);
}

void RtpFactory::Query(LGCP::Resources& r) {
  IQuery();
  r.set_rtp_g729(g729_);
  r.set_rtp_g723(g723_);
  r.set_rtp_g711(g711_);
  r.set_rtp_g711mcc(g711mcc_);
}
