#pragma once
// Radio RTP slots: an RTP voice slot that also carries the signalling of one
// radio channel in the RTP header extensions of its session. The slot owns a
// radio control: received radio packets reach the controller as rtpExt
// signals, the controller's rtpExt ioctls go to the channel as packets.
#include <memory>

#include "radio/vork_radio_control.h"
#include "slots/rtp_slot.h"

class RtpVORKSlot : public RtpSlot, public IVorkRadioControlNotify {
 public:
  RtpVORKSlot(int channel, Fd device, rtp_connection_params const& params, rtp_ext_attach_session_params const&,
              rtp_ext_init_params const&);
  RtpVORKSlot(int channel, Fd device, rtp_connection_params const& params, rtp_ext_init_params const&);
  RtpVORKSlot(int channel, Fd device, rtp_connection_params const& params, rtp_attach_session_params const&);
  ~RtpVORKSlot() override;

  void SetRadioStatus(TERM::VorkRadioStatus const& status) { radio_status = status; }

  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool Ioctl(const LGCP::IoctlParams& params) override;
  const char* GetName() const override { return "rtp ext VORK"; }

  // An admitted radio packet: the rtpExt signal to the controller.
  void VorkRadioControlNotify(TERM::RtpRadioRequest const& request) override;

  VorkRadioControl* radioControl() const { return radio_control.get(); }
  TERM::VorkRadioStatus const& radioStatus() const { return radio_status; }

 protected:
  // Makes `control` the slot's radio control, with the slot as listener.
  void Adopt(VorkRadioControl* control, bool timer, int mode);

  // The only-rtp form's control holds its own duplicate of the device: it
  // is taken before the slot takes the device over, with the errno of a
  // failed dup.
  struct DeviceCopy {
    explicit DeviceCopy(const Fd& device);
    Fd fd;
    int error;
  };
  // Hands the copy on; a failed one is logged ("rtp[<channel>]: dup fail: ").
  Fd ControlDevice(DeviceCopy& copy) const;

  TERM::VorkRadioStatus radio_status;
  std::unique_ptr<VorkRadioControl> radio_control;
};

// Gateway role: the side at the radio (the only one the daemon creates).
class RtpVORKRadioGWSlot : public RtpVORKSlot {
 public:
  RtpVORKRadioGWSlot(int channel, Fd device, rtp_connection_params const& params,
                     rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init, bool timer);
  RtpVORKRadioGWSlot(int channel, Fd device, rtp_connection_params const& params, rtp_ext_init_params const& init);
  RtpVORKRadioGWSlot(int channel, Fd device, rtp_connection_params const& params,
                     rtp_attach_session_params const& attach);
  const char* GetName() const override { return "rtp ext VORK (GW)"; }

 private:
  RtpVORKRadioGWSlot(int channel, DeviceCopy copy, Fd&& device, rtp_connection_params const& params,
                     rtp_attach_session_params const& attach);
};

// Workstation role.
class RtpVORKRadioWSSlot : public RtpVORKSlot {
 public:
  RtpVORKRadioWSSlot(int channel, Fd device, rtp_connection_params const& params,
                     rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init);
  RtpVORKRadioWSSlot(int channel, Fd device, rtp_connection_params const& params, rtp_ext_init_params const& init);
  RtpVORKRadioWSSlot(int channel, Fd device, rtp_connection_params const& params,
                     rtp_attach_session_params const& attach);
  const char* GetName() const override { return "rtp ext VORK (WS)"; }

 private:
  RtpVORKRadioWSSlot(int channel, DeviceCopy copy, Fd&& device, rtp_connection_params const& params,
                     rtp_attach_session_params const& attach);
};

// The standby states have no encodable "not used" value on the control
// link: every not-used standby state in the request becomes active (0).
void ClampRadioStandby(TERM::RtpRadioRequest& request);
