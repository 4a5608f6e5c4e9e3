#pragma once
// VorkRadioControl: the radio-signalling end of one radio RTP slot. It owns
// the slot's session on the RTP-extension driver ("/dev/rtp_ext"), reads
// the radio packets that arrive in the RTP header extensions, writes the
// packets the daemon sends, keeps the radio state (the controller's side)
// and the channel state (what the channel reported), admits received
// commands and hands them to its listener as controller requests.
//
// The role-specific behaviour sits in the virtual operations:
// VorkRadioGWControl (gateway: reports the radio's state, periodically too,
// and enforces push-to-talk ownership) and VorkRadioWSControl (workstation:
// sends commands, admits everything).
#include <cstdint>
#include <string>

#include "messages/TERM.h"
#include "radio/sig_proto.h"
#include "radio/vork_radio_control_requests.h"
#include "radio/vork_radio_state.h"
#include "runtime/loop/event.h"
#include "runtime/loop/timer.h"
#include "runtime/os/fd.h"

// The listener of a radio control: receives every admitted packet as a
// request for the controller.
class IVorkRadioControlNotify {
 public:
  virtual ~IVorkRadioControlNotify() = default;
  virtual void VorkRadioControlNotify(TERM::RtpRadioRequest const&) {}
};

class VorkRadioControl {
 public:
  enum VorkRadioControlType {
    AttachedExt = 0,  // extension session attached to an RTP session of this process
    AttachedRtp = 1,  // no extension session; the RTP device attached to another process's session
    InitOnly = 2,     // extension session initialised, attached to nothing
  };
  enum RadioControlMode { GatewayMode = 0, WorkstationMode = 1 };

  VorkRadioControl(int slot, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init);
  explicit VorkRadioControl(rtp_ext_init_params const& init);
  VorkRadioControl(int slot, Fd rtp_device, rtp_attach_session_params const& attach);
  virtual ~VorkRadioControl();
  VorkRadioControl(const VorkRadioControl&) = delete;
  VorkRadioControl& operator=(const VorkRadioControl&) = delete;

  // Role operations.
  virtual int PutProtoFromRadioToChan(VorkRadioState const&) { return 0; }
  virtual int PutProtoFromChanToRadio(VorkRadioState const&) { return 0; }
  virtual bool AccessFormChanToRadio(VorkRadioState const&) { return true; }
  virtual int EncodeProto(VorkRadioState const&, sig_proto&) { return 0; }
  virtual int SendRadioStatus(unsigned long now) { return (void)now, 0; }
  // Keeps the driver's sender filter in line with push-to-talk.
  virtual int UpdateAccess();

  void Bind(IVorkRadioControlNotify* listener) { listener_ = listener; }
  void SetDebug(bool on) { debug_ = on; }
  void SetRadioControlMode(RadioControlMode mode) { mode_ = mode; }
  void SetRadioControlMode(int mode) { mode_ = RadioControlMode(mode); }
  void SetTimerEnable(bool on);
  void SetTimer(int ms);

  // Opens (type 0, and type 2 with `again`) or attaches (type 1) the session;
  // false after a logged failure, a session that cannot be watched included.
  bool RtpExtStart(bool again);
  // Detaches and closes a type-0 session; always true.
  bool RtpExtStop();

  // A message from the controller towards the channel; always true.
  bool SendASNToChan(TERM::VorkRadioStatus const& status);
  bool SendASNToChan(TERM::VorkRadioModifier const& modifier);

  void OnRtpExtEvent(int fd, short revents);
  int OnRtpProtoRXEvent(sig_proto const& packet);
  void OnSendStatus(Timer*);

  // The state conversions both roles share (VorkRadioStateMaps holds them).
  int DecodeProto(sig_proto const& packet, VorkRadioState& state) {
    return VorkRadioStateMaps::DecodeProto(packet, state);
  }
  int DecodeASN(TERM::VorkRadioStatus const& status, VorkRadioState& state) {
    return VorkRadioStateMaps::DecodeASN(status, state);
  }
  int DecodeASN(TERM::VorkRadioModifier const& modifier, VorkRadioState& state) {
    return VorkRadioStateMaps::DecodeASN(modifier, state);
  }
  int EncodeStatusASN(VorkRadioState const& state, TERM::RtpRadioRequest& request) {
    return VorkRadioStateMaps::EncodeStatusASN(state, request);
  }
  int EncodeASN(VorkRadioState const& radio, VorkRadioState const& received, TERM::RtpRadioRequest& request) {
    return VorkRadioStateMaps::EncodeASN(radio, received, request);
  }

  int SendRadioStateToChan(VorkRadioState const& s);
  // Packs and writes one packet; the write's result (0 when nothing packs).
  int SendProtoToChan(sig_proto& packet);

  std::string const& GetPrefix();
  static bool isPTTCommand(int type);
  static bool isDefaultInitCommand(int command) { return command <= 0; }
  static const char* GetRtpExtDevName() { return "/dev/rtp_ext"; }

  // Inspection.
  int type() const { return type_; }
  int extDevice() const { return ext_.lowlevel_fd(); }
  bool reading() const { return event_.IsActive(); }
  bool timerRunning() const { return timer_.is_running(); }
  unsigned timerRemaining() const { return timer_.remaining(); }
  bool timerEnabled() const { return timer_enabled_; }
  bool filterActive() const { return filter_active_; }
  int mode() const { return mode_; }
  VorkRadioState const& radioState() const { return radio_state; }
  VorkRadioState const& chanState() const { return chan_state; }

 protected:
  VorkRadioState chan_state;
  VorkRadioState radio_state;
  uint32_t report_time[3];  // flags/transmission, channel, remote-channel reports

  // Sets the report time of a packet type sent in gateway mode.
  void NoteReport(int type, uint32_t now);

 private:
  void Init(int type);
  // The driver ended the session: its descriptor is no longer watched.
  void LoseSession();
  // Opens "/dev/rtp_ext" and initialises (and with `attach`, attaches) the
  // session; the new descriptor, or an empty one after a logged failure.
  Fd OpenExt(bool attach);
  std::ostream& err();

  int type_;
  Fd rtp_;
  Fd ext_;
  Event event_;
  Timer timer_;
  rtp_attach_session_params rtp_attach_;
  rtp_ext_attach_session_params ext_attach_;
  rtp_ext_init_params ext_init_;
  rtp_ext_recv_info recv_info_;
  sig_proto received_;
  RadioControlMode mode_ = GatewayMode;
  unsigned long slot_ = 0;
  bool debug_ = false;
  bool timer_enabled_ = false;
  bool filter_active_ = false;
  rtp_ext_filter filter_;
  IVorkRadioControlNotify* listener_ = nullptr;
  std::string prefix_;
};

// Gateway role: WM_ reports out, GW_ commands in under the push-to-talk
// ownership rule, three reports sent periodically.
class VorkRadioGWControl : public VorkRadioControl {
 public:
  using VorkRadioControl::VorkRadioControl;
  int PutProtoFromRadioToChan(VorkRadioState const& s) override;
  int PutProtoFromChanToRadio(VorkRadioState const& s) override;
  bool AccessFormChanToRadio(VorkRadioState const& s) override;
  int EncodeProto(VorkRadioState const& s, sig_proto& packet) override;
  int SendRadioStatus(unsigned long now) override;
};

// Workstation role: GW_ commands out, WM_ reports in, every packet admitted.
class VorkRadioWSControl : public VorkRadioControl {
 public:
  using VorkRadioControl::VorkRadioControl;
  int PutProtoFromRadioToChan(VorkRadioState const& s) override;
  int PutProtoFromChanToRadio(VorkRadioState const& s) override;
  int EncodeProto(VorkRadioState const& s, sig_proto& packet) override;
};
