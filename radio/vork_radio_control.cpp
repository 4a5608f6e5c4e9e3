#include "radio/vork_radio_control.h"

#include <fcntl.h>
#include <poll.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <utility>

#include "asn1/notation/printer.h"
#include "hardware/board/board.h"
#include "runtime/os/clock.h"

namespace {

constexpr std::size_t kMaxPacket = 1024;

// Milliseconds since `then`, 0 when `then` is not before `now`.
uint32_t elapsed(uint32_t now, uint32_t then) { return int32_t(now - then) > 0 ? now - then : 0; }

}  // namespace

VorkRadioControl::VorkRadioControl(int slot, rtp_ext_attach_session_params const& attach,
                                   rtp_ext_init_params const& init)
    : ext_attach_(attach), ext_init_(init), slot_(static_cast<unsigned long>(slot)) {
  Init(AttachedExt);
}

VorkRadioControl::VorkRadioControl(rtp_ext_init_params const& init) : ext_init_(init) { Init(InitOnly); }

VorkRadioControl::VorkRadioControl(int slot, Fd rtp_device, rtp_attach_session_params const& attach)
    : rtp_(std::move(rtp_device)), rtp_attach_(attach), slot_(static_cast<unsigned long>(slot)) {
  Init(AttachedRtp);
}

VorkRadioControl::~VorkRadioControl() {
  // No packet and no tick may reach the listener after this.
  listener_ = nullptr;
  event_.Release();
  timer_.reset();
}

void VorkRadioControl::Init(int type) {
  type_ = type;
  const uint32_t now = Mux::milliseconds();
  for (auto& t : report_time) t = now;
  sig_proto_init(&received_);
  event_.Bind("VorkRadioControl::OnRtpExtEvent", &VorkRadioControl::OnRtpExtEvent, this);
  RtpExtStart(true);
}

std::string const& VorkRadioControl::GetPrefix() {
  Mux::timeval tv;
  Mux::gettimeval(tv);
  const std::string now = Mux::timevaltostring(tv);
  char buf[255] = {};
  if (type_ == InitOnly)
    std::snprintf(buf, sizeof buf, "rtp_ext %s:", now.c_str());
  else
    std::snprintf(buf, sizeof buf, "rtp_ext[%lu] %s:", slot_, now.c_str());
  prefix_ = buf;
  return prefix_;
}

std::ostream& VorkRadioControl::err() { return std::cerr << GetPrefix(); }

Fd VorkRadioControl::OpenExt(bool attach) {
  // Non-blocking: the reading pass ends at the first read that finds nothing.
  Fd fd(Board::open(GetRtpExtDevName(), O_RDWR | O_NONBLOCK));
  if (!fd) {
    err() << "create rtp_ext session fail !!!" << std::endl;
    return Fd();
  }
  uint8_t init[rtp_ext_init_params::kSize];
  ext_init_.encode(init);
  if (Board::ioctl(fd.lowlevel_fd(), RtpExtReq::Init, init) < 0) {
    err() << "init rtp_ext session fail !!!" << std::endl;
    return Fd();
  }
  if (attach) {
    uint8_t rec[rtp_ext_attach_session_params::kSize];
    ext_attach_.encode(rec);
    if (Board::ioctl(fd.lowlevel_fd(), RtpExtReq::Attach, rec) < 0) {
      err() << "attach rtp_ext session fail !!!" << std::endl;
      return Fd();
    }
  }
  return fd;
}

bool VorkRadioControl::RtpExtStart(bool again) {
  if (type_ == AttachedExt || (type_ == InitOnly && again)) {
    Fd fd = OpenExt(type_ == AttachedExt);
    if (!fd) return false;
    // A session nobody reads is not kept: without the watch's duplicate the
    // new descriptor closes (ending the session) and the old state stays.
    Fd watch(fd);
    if (!watch) {
      Errno e;
      err() << "dup fail: " << e << std::endl;
      return false;
    }
    ext_ = std::move(fd);
    event_.Schedule(std::move(watch), POLLIN);
    return true;
  }
  if (type_ == AttachedRtp) {
    uint8_t rec[rtp_attach_session_params::kSize];
    rtp_attach_.encode(rec);
    if (Board::ioctl(rtp_.lowlevel_fd(), RtpExtReq::RtpAttachSession, rec) < 0) {
      err() << "attach rtp session fail !!!" << std::endl;
      return false;
    }
  }
  return true;
}

bool VorkRadioControl::RtpExtStop() {
  if (type_ != AttachedExt) return true;
  // Without a session descriptor the detach fails without a request: no
  // other descriptor may receive it.
  if (!ext_ || Board::ioctl(ext_.lowlevel_fd(), RtpExtReq::Detach, nullptr) < 0)
    err() << "detach rtp_ext session fail !!!" << std::endl;
  ext_.close();
  event_.Release();
  // The driver filter went with the session.
  filter_active_ = false;
  filter_ = rtp_ext_filter();
  return true;
}

void VorkRadioControl::SetTimerEnable(bool on) {
  timer_enabled_ = on;
  if (on)
    SetTimer(1000);
  else
    timer_.reset();
}

void VorkRadioControl::SetTimer(int ms) { timer_.set(ms < 1 ? 1000u : unsigned(ms), &VorkRadioControl::OnSendStatus, this); }

void VorkRadioControl::OnSendStatus(Timer*) {
  const uint32_t now = Mux::milliseconds();
  SendRadioStatus(now);
  uint32_t d = 0;
  for (uint32_t t : report_time) d = std::max(d, elapsed(now, t));
  SetTimer(d > 0 && d < 1000 ? int(1010 - d) : 1000);
}

void VorkRadioControl::NoteReport(int type, uint32_t now) {
  if (mode_ != GatewayMode) return;
  if (type == 129 || type == 130 || type == 133)
    report_time[0] = now;
  else if (type == 132)
    report_time[1] = now;
  else if (type == 134)
    report_time[2] = now;
}

bool VorkRadioControl::isPTTCommand(int type) {
  return type == 1 || type == 3 || type == 9 || type == 129 || type == 130 || type == 133;
}

void VorkRadioControl::OnRtpExtEvent(int, short revents) {
  const bool hungUp = revents & (POLLHUP | POLLERR | POLLNVAL);
  if (!(revents & POLLIN)) {
    if (hungUp) LoseSession();
    return;
  }
  if (debug_) std::clog << GetPrefix() << "receive extension packet(s)!" << std::endl;
  uint8_t buf[kMaxPacket];
  while (ext_) {
    uint8_t info[rtp_ext_recv_info::kSize] = {};
    const bool haveInfo = Board::ioctl(ext_.lowlevel_fd(), RtpExtReq::RecvInfo, info) >= 0;
    const ssize_t n = Board::read(ext_.lowlevel_fd(), buf, sizeof buf);
    if (n <= 0) {
      // A driver that hung up stays readable: stop watching it rather
      // than spin on it.
      if (hungUp && (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))) LoseSession();
      break;
    }
    // Without its sender the packet cannot be judged by the ownership rule.
    if (!haveInfo) continue;
    recv_info_.decode(info);
    sig_proto_init(&received_);
    if (sig_proto_unpack(&received_, buf, int(n)) != 0) continue;
    received_.rcv_info[0] = int32_t(recv_info_.addr);
    received_.rcv_info[1] = int32_t(recv_info_.ssrc);
    OnRtpProtoRXEvent(received_);
  }
}

void VorkRadioControl::LoseSession() {
  if (!event_.IsActive()) return;
  event_.Release();
  err() << "rtp_ext session lost" << std::endl;
}

int VorkRadioControl::OnRtpProtoRXEvent(sig_proto const& p) {
  TERM::RtpRadioRequest request;
  VorkRadioState s;
  DecodeProto(p, s);
  if (AccessFormChanToRadio(s)) {
    PutProtoFromChanToRadio(s);
    EncodeASN(radio_state, s, request);
    if (debug_)
      std::clog << GetPrefix() << "command=0x" << std::hex << s.command << std::dec
                << " send extension to controller: " << request << std::endl;
    if (listener_) listener_->VorkRadioControlNotify(request);
  }
  UpdateAccess();
  return 0;
}

bool VorkRadioControl::SendASNToChan(TERM::VorkRadioStatus const& m) {
  VorkRadioState s = radio_state;
  DecodeASN(m, s);
  SendRadioStateToChan(s);
  return true;
}

bool VorkRadioControl::SendASNToChan(TERM::VorkRadioModifier const& m) {
  VorkRadioState s = radio_state;
  DecodeASN(m, s);
  SendRadioStateToChan(s);
  return true;
}

int VorkRadioControl::SendRadioStateToChan(VorkRadioState const& s) {
  sig_proto packet;
  sig_proto_init(&packet);
  int r = -1;
  if (PutProtoFromRadioToChan(s) == 0 && EncodeProto(s, packet) == 0) {
    r = SendProtoToChan(packet);
    NoteReport(s.command, Mux::milliseconds());
  }
  if (debug_) {
    TERM::RtpRadioRequest status;
    EncodeStatusASN(radio_state, status);
    std::clog << GetPrefix() << "command=0x" << std::hex << s.command << std::dec
              << " receive extension from controller: " << status.get_status() << std::endl;
  }
  return r;
}

int VorkRadioControl::SendProtoToChan(sig_proto& p) {
  uint8_t buf[kMaxPacket];
  const int n = sig_proto_pack(&p, buf, int(sizeof buf));
  if (n < 1) return 0;
  return int(Board::write(ext_.lowlevel_fd(), buf, std::size_t(n)));
}

int VorkRadioControl::UpdateAccess() {
  if (radio_state.ptt != 0) {
    if (filter_active_ && filter_.addr == radio_state.session_addr) return 0;
    filter_.addr = radio_state.session_addr;
    filter_.zero = 0;
    filter_active_ = true;
    uint8_t rec[rtp_ext_filter::kSize];
    filter_.encode(rec);
    if (Board::ioctl(ext_.lowlevel_fd(), RtpExtReq::SetFilter, rec) < 0)
      err() << "set filer rtp_ext session fail !!!" << std::endl;
  } else if (filter_active_) {
    filter_ = rtp_ext_filter();
    filter_active_ = false;
    if (Board::ioctl(ext_.lowlevel_fd(), RtpExtReq::ResetFilter, nullptr) < 0)
      err() << "reset filer rtp_ext session fail !!!" << std::endl;
  }
  return 0;
}

// ---- gateway role ------------------------------------------------------------

int VorkRadioGWControl::PutProtoFromRadioToChan(VorkRadioState const& s) {
  return VorkRadioGWStateMaps::PutProtoFromRadioToChan(s, radio_state);
}

int VorkRadioGWControl::PutProtoFromChanToRadio(VorkRadioState const& s) {
  return VorkRadioGWStateMaps::PutProtoFromChanToRadio(s, chan_state);
}

bool VorkRadioGWControl::AccessFormChanToRadio(VorkRadioState const& s) {
  if (radio_state.ptt == 0) return true;
  if (isPTTCommand(s.command) && s.priority < radio_state.priority) return true;
  return s.from_addr == radio_state.session_addr;
}

int VorkRadioGWControl::EncodeProto(VorkRadioState const& s, sig_proto& packet) {
  return VorkRadioGWStateMaps::EncodeProto(s, packet);
}

int VorkRadioGWControl::SendRadioStatus(unsigned long now_ms) {
  const uint32_t now = uint32_t(now_ms);
  auto send = [&](int type, int index) {
    radio_state.command = type;
    sig_proto packet;
    sig_proto_init(&packet);
    if (EncodeProto(radio_state, packet) != 0) return;
    SendProtoToChan(packet);
    report_time[index] = now;
  };
  if (elapsed(now, report_time[0]) > 999) send(radio_state.ptt == 0 ? 129 : 130, 0);
  if (elapsed(now, report_time[1]) > 999 && radio_state.chan_id >= 0 && radio_state.freq >= 0.0f) send(132, 1);
  if (elapsed(now, report_time[2]) > 999 && radio_state.remote_no >= 0 && radio_state.remote_ch >= 0) send(134, 2);
  return 0;
}

// ---- workstation role --------------------------------------------------------

int VorkRadioWSControl::PutProtoFromRadioToChan(VorkRadioState const& s) {
  return VorkRadioWSStateMaps::PutProtoFromRadioToChan(s, radio_state);
}

int VorkRadioWSControl::PutProtoFromChanToRadio(VorkRadioState const& s) {
  return VorkRadioWSStateMaps::PutProtoFromChanToRadio(s, chan_state);
}

int VorkRadioWSControl::EncodeProto(VorkRadioState const& s, sig_proto& packet) {
  return VorkRadioWSStateMaps::EncodeProto(s, packet);
}
