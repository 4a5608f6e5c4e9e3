#include "slots/rtp_slot.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <iostream>
#include <utility>

#include "asn1/notation/printer.h"
#include "hardware/board/board.h"
#include "hardware/board/requests.h"

namespace R = Board::Req;

namespace {

// The SDES items of every session.
constexpr const char* kCname = "Ostrova Velmorant";
constexpr const char* kEmail = "noc@ostrova.example";
constexpr const char* kPhone = "+1 555 0100";

constexpr unsigned kRtcpBuffer = 1024;

bool beginSession(int fd, const rtp_connection_params& params) {
  uint8_t block[rtp_connection_params::kSize];
  params.encode(block);
  return Board::ioctl(fd, R::RtpBeginSession, block) >= 0;
}

// Adds the channel (-1: any); the driver's channel, or -1 on failure.
int addChannel(int fd, int channel) {
  rtp_channel_info info;
  info.tdm = channel;
  uint8_t block[rtp_channel_info::kSize];
  info.encode(block);
  if (Board::ioctl(fd, R::RtpAddChannel, block) < 0) return -1;
  info.decode(block);
  return info.tdm;
}

}  // namespace

int rtp_start(int fd, rtp_connection_params& params, int channel) {
  if (!beginSession(fd, params)) return 0;
  return addChannel(fd, channel) >= 0 ? 1 : 0;
}

RtpSlot::RtpSlot(int channel, Fd device, const rtp_connection_params& params)
    : channel_(channel), device_(std::move(device)), params_(params), lbrcPt_(params.rx_pt) {
  event_.Bind("RtpSlot::OnRtpEvent", &RtpSlot::OnRtpEvent, this);
}

RtpSlot::~RtpSlot() {
  send(RTPC::BYE(params_.ssrc, "session end"));
  disableDTMF();
  disableVAD();
  disableSD();
}

std::ostream& RtpSlot::log(std::ostream& os) const { return os << "rtp[" << channel_ << "]: "; }

void RtpSlot::startRTPC(Fd& socket, const sockaddr_in& peer) {
  rtcpPeer_ = peer;
  rtcp_ = std::move(socket);
  RTPC::SDES sdes(params_.ssrc);
  sdes.add(RTPC::SDES::Item::CNAME, kCname);
  sdes.add(RTPC::SDES::Item::EMAIL, kEmail);
  sdes.add(RTPC::SDES::Item::PHONE, kPhone);
  send(sdes);
}

void RtpSlot::send(const RTPC::Msg& msg) {
  char buffer[kRtcpBuffer];
  unsigned int n = msg.encode(buffer, sizeof buffer);
  if (n == 0 || !rtcp_) return;
  // An RTCP packet that cannot go now is lost; the media does not depend on it.
  (void)::sendto(rtcp_.lowlevel_fd(), buffer, n, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&rtcpPeer_),
                 sizeof rtcpPeer_);
}

bool RtpSlot::restart() {
  // The wait-tone watch holds a copy of the old descriptor, which would
  // keep the old session (and its channel) alive: it goes with the rest.
  // The new session is not watched: a running tone stays on until it is
  // deactivated.
  event_.Release();
  device_.close();
  Fd fresh(Board::open(GetRtpDevName(), 0));
  if (!fresh || !rtp_start(fresh.lowlevel_fd(), params_, channel_)) return false;
  device_ = std::move(fresh);
  return true;
}

bool RtpSlot::watchDevice() {
  event_.Schedule(device_, POLLIN);
  // Without a session (after a failed restart) there is nothing to watch
  // and nothing failed: copying an empty descriptor makes no system call.
  if (event_.IsActive() || !device_) return true;
  Errno e;
  log(std::cerr) << "dup fail: " << e << std::endl;
  return false;
}

int RtpSlot::translate_payload(const LGCP::CodecMode& mode) const {
  if (mode.is_alaw()) return 8;
  if (mode.is_ulaw()) return 0;
  return lbrcPt_;
}

void RtpSlot::IAfterCreate() {
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
}

bool RtpSlot::IBeforeDestroy() {
  const int fd = device_.lowlevel_fd();
  Board::ioctl(fd, R::RtpHalt, nullptr);
  Board::ioctl(fd, R::RtpEndSession, nullptr);
  Board::ioctl(fd, R::RtpFree, nullptr);
  device_.close();
  return true;
}

bool RtpSlot::IOnInputStream() {
  Board::ioctl(device_.lowlevel_fd(), R::RtpInputOn, nullptr);
  return true;
}

void RtpSlot::IOnInputRelease() { Board::ioctl(device_.lowlevel_fd(), R::RtpInputOff, nullptr); }

bool RtpSlot::Ioctl(const LGCP::IoctlParams& p) {
  if (p.echoSuppressor_isSelected()) return echoCancel(p.get_echoSuppressor());
  if (p.dtmf_enable_isSelected()) return enableDTMF(p.get_dtmf_enable());
  if (p.dtmf_reject_enable_isSelected()) return enableDTMFReject(p.get_dtmf_reject_enable());
  if (p.activateWaitTone_isSelected()) {
    // A tone that no packet could end is not started.
    if (!watchDevice()) return false;
    activateAudibleCall();
    return true;
  }
  if (p.deactivateWaitTone_isSelected()) {
    event_.Release();
    cancelAudibleCall();
    return true;
  }
  if (p.translateDTMF_isSelected()) {
    translateDTMF(p.get_translateDTMF());
    return true;
  }
  if (p.dtmf_params_isSelected()) return configureDTMF(p.get_dtmf_params());
  if (p.vad_enable_isSelected()) return enableVAD(p.get_vad_enable());
  if (p.vad_disable_isSelected()) return disableVAD();
  if (p.vad_params_isSelected()) return configureVAD();
  if (p.sd_enable_isSelected()) return enableSD(p.get_sd_enable());
  if (p.sd_disable_isSelected()) return disableSD();
  if (p.sd_params_isSelected()) return configureSD();
  if (p.encoder_mode_isSelected()) return changeCodec(p, true);
  if (p.decoder_mode_isSelected()) return changeCodec(p, false);
  return false;
}

bool RtpSlot::changeCodec(const LGCP::IoctlParams& p, bool encoder) {
  log(std::clog) << "do restart RTP session (change tx payload):" << p;
  const int pt = translate_payload(encoder ? p.get_encoder_mode() : p.get_decoder_mode());
  uint16_t& field = encoder ? params_.tx_pt : params_.rx_pt;
  // After a failed restart the slot has no session: the same type again
  // must retry the restart, not report that nothing needs doing.
  if (pt == field && device_) {
    std::clog << " - Nothing to do" << std::endl;
    return true;
  }
  field = uint16_t(pt);
  if (!restart()) {
    std::clog << std::endl;
    log(std::cerr) << "fail to restart RTP session!" << std::endl;
    return false;
  }
  if (encoder) std::clog << " - OK";
  std::clog << std::endl;
  return true;
}

void RtpSlot::OnRtpEvent(int, short revents) {
  if (!(revents & POLLIN)) return;
  log(std::clog) << "receive packet(s)!" << std::endl;
  cancelAudibleCall();
  event_.Release();
}

void RtpSlot::tonec_event(const Hardware::TonecReceiver::Params& event) { processTonecEvent(event); }

void RtpSlot::dsproc_vad_event(const Hardware::DSProcVADEvent& event) { processVADEvent(event); }

void RtpSlot::dsproc_sd_event(const Hardware::DSProcSDEvent& event) { processSDEvent(event); }
