#include "radio/rtp_vork_factory.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <utility>

#include "asn1/notation/printer.h"
#include "hardware/board/board.h"
#include "hardware/board/requests.h"
#include "hardware/devices.h"
#include "radio/rtp_vork_slot.h"
#include "runtime/os/fd.h"
#include "slots/rtp_factory.h"


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

  RtpSessionStart start;
  if (!RtpFactory::StartSession(p, [this](std::ostream& os) -> std::ostream& { return PutHeader(os); }, start))
    return nullptr;
  rtp_connection_params& block = start.block;
  Fd& sock = start.rtcp;
  Fd& device = start.device;
  rtp_channel_info& info = start.info;

  // The slot takes the device over (nothing is duplicated, so nothing can
  // fail): its number, which the extension session is attached through,
  // stays open for the slot's life.
  RtpVORKSlot* slot;
  if (onlyRtp) {
    const TERM::RtpExtDescription& d = c.get_rtp_e2m().get_mode().get_only_rtp();
    rtp_attach_session_params attach;
    attach.fd_rtp = int32_t(d.get_fd().getValue());
    attach.pid_rtp = int32_t(d.get_pid().getValue());
    slot = new RtpVORKRadioGWSlot(info.tdm, std::move(device), block, attach);
  } else {
    rtp_ext_init_params init;
    init.etype = 0x1337;
    rtp_ext_attach_session_params attach;
    attach.fd_rtp = device.lowlevel_fd();
    attach.pid_rtp = int32_t(::getpid());
    slot = new RtpVORKRadioGWSlot(info.tdm, std::move(device), block, attach, init, true);
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
  RtpFactory::ReadCapacity([this](std::ostream& os) -> std::ostream& { return PutHeader(os); }, g729_, g723_, g711_,
                           g711mcc_);
}

void RtpVORKFactory::Query(LGCP::Resources& r) {
  IQuery();
  r.set_rtp_g729(g729_);
  r.set_rtp_g723(g723_);
  r.set_rtp_g711(g711_);
  r.set_rtp_g711mcc(g711mcc_);
}
