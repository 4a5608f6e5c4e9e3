#include "radio/rtp_vork_slot.h"

#include <cerrno>
#include <iostream>
#include <utility>

RtpVORKSlot::RtpVORKSlot(int channel, Fd device, rtp_connection_params const& params,
                         rtp_ext_attach_session_params const&, rtp_ext_init_params const&)
    : RtpSlot(channel, std::move(device), params) {}

RtpVORKSlot::RtpVORKSlot(int channel, Fd device, rtp_connection_params const& params, rtp_ext_init_params const&)
    : RtpSlot(channel, std::move(device), params) {}

RtpVORKSlot::RtpVORKSlot(int channel, Fd device, rtp_connection_params const& params,
                         rtp_attach_session_params const&)
    : RtpSlot(channel, std::move(device), params) {}

RtpVORKSlot::~RtpVORKSlot() { radio_control.reset(); }

RtpVORKSlot::DeviceCopy::DeviceCopy(const Fd& device) : fd(device), error(fd ? 0 : errno) {}

Fd RtpVORKSlot::ControlDevice(DeviceCopy& copy) const {
  // Without its copy the control cannot attach the session; the slot still
  // carries the voice, as after a failed attach.
  if (!copy.fd) log(std::cerr) << "dup fail: " << Errno(copy.error) << std::endl;
  return std::move(copy.fd);
}

void RtpVORKSlot::Adopt(VorkRadioControl* control, bool timer, int mode) {
  radio_control.reset(control);
  radio_control->Bind(this);
  radio_control->SetDebug(false);
  radio_control->SetTimerEnable(timer);
  radio_control->SetRadioControlMode(mode);
}

void RtpVORKSlot::IAfterCreate() {
  RtpSlot::IAfterCreate();
  if (radio_control) radio_control->SendASNToChan(radio_status);
}

bool RtpVORKSlot::IBeforeDestroy() {
  if (radio_control) radio_control->RtpExtStop();
  RtpSlot::IBeforeDestroy();
  return true;
}

void RtpVORKSlot::VorkRadioControlNotify(TERM::RtpRadioRequest const& r) {
  TERM::RtpRadioRequest request = r;
  ClampRadioStandby(request);
  OnRtpRadioEvent(request);
}

bool RtpVORKSlot::Ioctl(const LGCP::IoctlParams& p) {
  if (!radio_control) return RtpSlot::Ioctl(p);
  if (p.rtpExt_isSelected()) {
    const TERM::RadioModifier& m = p.get_rtpExt();
    if (!m.vork_isSelected()) return false;
    return radio_control->SendASNToChan(m.get_vork());
  }
  if (p.encoder_mode_isSelected() || p.decoder_mode_isSelected()) {
    const bool stopped = radio_control->RtpExtStop();
    bool r = RtpSlot::Ioctl(p);
    if (stopped && r) r = radio_control->RtpExtStart(false);
    return r;
  }
  return RtpSlot::Ioctl(p);
}

// ---- roles -------------------------------------------------------------------

RtpVORKRadioGWSlot::RtpVORKRadioGWSlot(int channel, Fd device, rtp_connection_params const& params,
                                       rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init,
                                       bool timer)
    : RtpVORKSlot(channel, std::move(device), params, attach, init) {
  Adopt(new VorkRadioGWControl(channel, attach, init), timer, VorkRadioControl::GatewayMode);
}

RtpVORKRadioGWSlot::RtpVORKRadioGWSlot(int channel, Fd device, rtp_connection_params const& params,
                                       rtp_ext_init_params const& init)
    : RtpVORKSlot(channel, std::move(device), params, init) {
  Adopt(new VorkRadioGWControl(init), false, VorkRadioControl::GatewayMode);
}

RtpVORKRadioGWSlot::RtpVORKRadioGWSlot(int channel, Fd device, rtp_connection_params const& params,
                                       rtp_attach_session_params const& attach)
    : RtpVORKRadioGWSlot(channel, DeviceCopy(device), std::move(device), params, attach) {}

RtpVORKRadioGWSlot::RtpVORKRadioGWSlot(int channel, DeviceCopy copy, Fd&& device, rtp_connection_params const& params,
                                       rtp_attach_session_params const& attach)
    : RtpVORKSlot(channel, std::move(device), params, attach) {
  Adopt(new VorkRadioGWControl(channel, ControlDevice(copy), attach), false, VorkRadioControl::GatewayMode);
}

RtpVORKRadioWSSlot::RtpVORKRadioWSSlot(int channel, Fd device, rtp_connection_params const& params,
                                       rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init)
    : RtpVORKSlot(channel, std::move(device), params, attach, init) {
  Adopt(new VorkRadioWSControl(channel, attach, init), false, VorkRadioControl::WorkstationMode);
}

RtpVORKRadioWSSlot::RtpVORKRadioWSSlot(int channel, Fd device, rtp_connection_params const& params,
                                       rtp_ext_init_params const& init)
    : RtpVORKSlot(channel, std::move(device), params, init) {
  Adopt(new VorkRadioWSControl(init), false, VorkRadioControl::WorkstationMode);
}

RtpVORKRadioWSSlot::RtpVORKRadioWSSlot(int channel, Fd device, rtp_connection_params const& params,
                                       rtp_attach_session_params const& attach)
    : RtpVORKRadioWSSlot(channel, DeviceCopy(device), std::move(device), params, attach) {}

RtpVORKRadioWSSlot::RtpVORKRadioWSSlot(int channel, DeviceCopy copy, Fd&& device, rtp_connection_params const& params,
                                       rtp_attach_session_params const& attach)
    : RtpVORKSlot(channel, std::move(device), params, attach) {
  Adopt(new VorkRadioWSControl(channel, ControlDevice(copy), attach), false, VorkRadioControl::WorkstationMode);
}

// ---- standby values on the control link ----------------------------------------

namespace {

void active_if_unused(ASN1::ENUMERATED& e) {
  if (e.asInt() < 0) e.setFromInt(0);
}

}  // namespace

void ClampRadioStandby(TERM::RtpRadioRequest& r) {
  // The values are edited in place: selecting an alternative again would
  // make it anew.
  if (r.get_status().vork_isSelected()) {
    auto& st = const_cast<TERM::VorkRadioStatus&>(r.get_status().get_vork());
    active_if_unused(st.set_standby_state_channel());
    active_if_unused(st.set_standby_state_receiver());
  }
  if (!r.request_isPresent() || !r.get_request().vork_isSelected()) return;
  auto& p = const_cast<TERM::RadioModifierParams&>(r.get_request().get_vork().get_params());
  if (p.gw_set_standby_isSelected())
    active_if_unused(const_cast<TERM::RadioCommandGWSetStandby&>(p.get_gw_set_standby()).set_state());
  if (p.wm_standby_isSelected()) {
    auto& c = const_cast<TERM::RadioCommandWMStandby&>(p.get_wm_standby());
    active_if_unused(c.set_state_channel());
    active_if_unused(c.set_state_receiver());
  }
}
