#include "radio/rtp_vork_factory.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <iostream>

#include "asn1/notation/printer.h"
#include "hardware/board/board.h"
#include "hardware/board/requests.h"
#include "hardware/devices.h"
#include "radio/rtp_vork_slot.h"
#include "runtime/os/fd.h"
#include "slots/rtp_factory.h"

namespace {

enum Selector : uint32_t { G711 = 1, G723 = 2, G729 = 4, G711mcc = 8 };

// The dotted address as a number (a.b.c.d = 0xaabbccdd); false when the
// text is no IPv4 address.
bool parseAddress(const std::string& text, uint32_t& out) {
  in_addr a{};
  if (::inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
  out = ntohl(a.s_addr);
  return true;
}

}  // namespace

RtpVORKFactory& RtpVORKFactory::instance() {
  static RtpVORKFactory factory;
  return factory;
}

RtpVORKFactory::RtpVORKFactory() { IQuery(); }

std::ostream& RtpVORKFactory::PutHeader(std::ostream& os) const {
  return os << "rtp ext VORK[" << g723_ << "," << g729_ << "," << g711_ << "]: ";
}

int RtpVORKFactory::translateCodec(TERM::Payload::NamedNumber payload) { return RtpFactory::translateCodec(payload); }

int RtpVORKFactory::translateCodec(TERM::Payload::NamedNumber payload, TERM::Payload::NamedNumber direction) {
  return RtpFactory::translateCodec(payload, direction);
}

Slot* RtpVORKFactory::INewSlot(const LGCP::CreateParams& cp) {
  if (!cp.rtp_isSelected()) return nullptr;
  const LGCP::CreateRtpParams& p = cp.get_rtp();
  const TERM::RtpParams& c = p.get_codecRTP();
  if (!c.radio_isPresent() || !c.get_radio().get_status().vork_isSelected()) return nullptr;
  PutHeader(std::clog) << "do create rtp ext VORK: " << c << std::endl;

  const TERM::Payload::NamedNumber payload = c.get_payload();
  if (RtpFactory::payloadType(payload) < 0) {
    PutHeader(std::clog) << "rtp do not created: payload " << c.get_payload() << " not found" << std::endl;
    return nullptr;
  }

  // The form of the radio session; an unknown one makes no slot, so it is
  // refused before anything is opened.
  bool onlyRtp = false;
  if (c.rtp_e2m_isPresent() && c.get_rtp_e2m().mode_isPresent()) {
    const TERM::RtpExtMode& mode = c.get_rtp_e2m().get_mode();
    onlyRtp = mode.only_rtp_isSelected();
    if (!onlyRtp && !mode.both_rtp_and_rtp_ext_isSelected()) {
      PutHeader(std::clog) << "rtp do not created: unknown rtp-e2m mode" << std::endl;
      return nullptr;
    }
  }

  // A text that is no IPv4 address would otherwise become 255.255.255.255
  // and send the media to the broadcast address.
  rtp_connection_params block;
  const TERM::HostAddress& dhost = c.get_dhost();
  if (!parseAddress(dhost.get_iaddr(), block.dhost_addr)) {
    PutHeader(std::clog) << "rtp do not created: bad address " << dhost.get_iaddr() << std::endl;
    return nullptr;
  }
  block.dhost_port = uint16_t(dhost.get_port().getValue());
  if (c.shost_isPresent()) {
    if (!parseAddress(c.get_shost().get_iaddr(), block.shost_addr)) {
      PutHeader(std::clog) << "rtp do not created: bad address " << c.get_shost().get_iaddr() << std::endl;
      return nullptr;
    }
    block.shost_port = uint16_t(c.get_shost().get_port().getValue());
  } else {
    block.shost_port = block.dhost_port;
  }

  Fd sock(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  if (!sock) {
    PutHeader(std::clog) << "rtp do not created: can not create socket [errno=" << Errno() << "]" << std::endl;
    return nullptr;
  }
  const unsigned rtcpPort = unsigned(block.shost_port) + 1;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = htons(uint16_t(rtcpPort));
  if (rtcpPort > 65535 || ::bind(sock.lowlevel_fd(), reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
    Errno err = rtcpPort > 65535 ? Errno(EINVAL) : Errno();
    PutHeader(std::clog) << "rtp do not created: can not bind socket [errno=" << err << ", port=" << (rtcpPort & 0xffff)
                         << "]" << std::endl;
    return nullptr;
  }

  Fd device(Board::open(GetRtpDevName(), 0));
  if (!device) {
    PutHeader(std::cerr) << "device \"" << GetRtpDevName() << "\" open fail: " << Errno() << std::endl;
    return nullptr;
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
    PutHeader(std::cerr) << "begin session fail !!! " << std::endl;
    return nullptr;
  }
  rtp_channel_info info;
  uint8_t chan[rtp_channel_info::kSize];
  info.encode(chan);
  if (Board::ioctl(device.lowlevel_fd(), Board::Req::RtpAddChannel, chan) < 0) {
    PutHeader(std::cerr) << "add channel fail !!!" << std::endl;
    return nullptr;
  }
  info.decode(chan);

  // The control is built inside the slot while this factory's descriptor
  // is still open: the extension session is attached through its number.
  RtpVORKSlot* slot;
  if (onlyRtp) {
    const TERM::RtpExtDescription& d = c.get_rtp_e2m().get_mode().get_only_rtp();
    rtp_attach_session_params attach;
    attach.fd_rtp = int32_t(d.get_fd().getValue());
    attach.pid_rtp = int32_t(d.get_pid().getValue());
    slot = new RtpVORKRadioGWSlot(info.tdm, device, block, attach);
  } else {
    rtp_ext_init_params init;
    init.etype = 0x1337;
    rtp_ext_attach_session_params attach;
    attach.fd_rtp = device.lowlevel_fd();
    attach.pid_rtp = int32_t(::getpid());
    slot = new RtpVORKRadioGWSlot(info.tdm, device, block, attach, init, true);
  }
  slot->SetRadioStatus(c.get_radio().get_status().get_vork());

  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_addr.s_addr = htonl(block.dhost_addr);
  peer.sin_port = htons(uint16_t(block.dhost_port + 1));
  slot->startRTPC(sock, peer);

  if (c.echo_isPresent() && c.get_echo().get_suppressor()) slot->echoCancel(c.get_echo().get_canceller());
  return slot;
}

void RtpVORKFactory::IQuery() {
  g729_ = g723_ = g711_ = 0;
  Fd voice(Board::open(GetVoiceDevName(), 0));
  if (!voice) {
    PutHeader(std::cerr) << "device \"" << GetVoiceDevName() << "\" open fail: " << Errno() << std::endl;
    return;
  }
  const std::pair<uint32_t, int*> order[] = {{G729, &g729_}, {G723, &g723_}, {G711, &g711_}, {G711mcc, &g711mcc_}};
  for (const auto& [selector, counter] : order) {
    uint8_t arg[4] = {uint8_t(selector >> 24), uint8_t(selector >> 16), uint8_t(selector >> 8), uint8_t(selector)};
    int n = Board::ioctl(voice.lowlevel_fd(), Board::Req::VoiceCapacity, arg);
    if (n > 0) *counter = n;
  }
}

void RtpVORKFactory::Query(LGCP::Resources& r) {
  IQuery();
  r.set_rtp_g729(g729_);
  r.set_rtp_g723(g723_);
  r.set_rtp_g711(g711_);
  r.set_rtp_g711mcc(g711mcc_);
}
