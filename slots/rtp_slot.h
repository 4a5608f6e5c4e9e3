#pragma once
// RtpSlot: one TDM channel of the board's RTP driver ("/dev/rtp") joined
// to a remote RTP peer. The driver moves the voice packets; the slot holds
// the driver session, sends the session's RTCP (one SDES at the start, one
// BYE at the end) from its own UDP socket, takes the DTMF, voice-activity
// and signal-detection events of its channel and switches those detectors,
// the echo canceller, the wait tone and the codec of each direction.
#include <netinet/in.h>

#include "hardware/devices.h"
#include "hardware/dsp.h"
#include "hardware/tonec.h"
#include "runtime/loop/event.h"
#include "runtime/os/fd.h"
#include "slots/rtcp.h"
#include "slots/slot.h"

// Begins a driver session on `fd` with the block, then asks for `channel`
// (-1: any); 1 when both requests succeed, else 0.
int rtp_start(int fd, rtp_connection_params& params, int channel);

class RtpSlot : public Slot, private Hardware::TonecReceiver, private Hardware::DSProcReceiver {
 public:
  // The channel the driver gave the session, the device it was begun on
  // (the slot takes the descriptor it is given) and the block it was begun
  // with.
  RtpSlot(int channel, Fd device, const rtp_connection_params& params);
  // Sends the BYE and switches the channel's detectors off.
  ~RtpSlot() override;

  // Keeps the peer's RTCP address and takes the socket over (the caller's
  // Fd is left empty: nothing to duplicate, so nothing that can fail), then
  // sends the session's SDES.
  void startRTPC(Fd& socket, const sockaddr_in& peer);
  // One RTCP packet to the peer; an encoding of length 0 sends nothing.
  void send(const RTPC::Msg& msg);
  // Begins the session anew with the stored block on the same channel.
  bool restart();
  int translate_payload(const LGCP::CodecMode& mode) const;

  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool Ioctl(const LGCP::IoctlParams& params) override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override;
  void IOnOutputRelease() override {}
  void IOnInputRelease() override;
  int IGetTransmitChannel() override { return channel_; }
  int IGetReceiveChannel() override { return channel_; }
  const char* GetName() const override { return "rtp"; }

  // The wait tone's end: the first packet from the peer.
  void OnRtpEvent(int fd, short revents);

  using Hardware::TonecReceiver::echoCancel;

  int channel() const { return channel_; }
  const rtp_connection_params& params() const { return params_; }
  // The device descriptor (-1 after a failed restart or the release).
  int device() const { return device_.lowlevel_fd(); }
  bool waitToneWatched() const { return event_.IsActive(); }
  int rtcpSocket() const { return rtcp_.lowlevel_fd(); }

 protected:
  // The head of the slot's log lines: "rtp[<channel>]: ".
  std::ostream& log(std::ostream& os) const;

 private:
  void tonec_event(const Hardware::TonecReceiver::Params& event) override;
  unsigned tonec_timeslot() const override { return unsigned(channel_); }
  void dsproc_vad_event(const Hardware::DSProcVADEvent& event) override;
  void dsproc_sd_event(const Hardware::DSProcSDEvent& event) override;
  unsigned dsproc_timeslot() const override { return unsigned(channel_); }

  bool changeCodec(const LGCP::IoctlParams& params, bool encoder);
  // Watches the device for the peer's first packet; false, logged, when
  // the watch's duplicate cannot be had. A slot left without a session
  // watches nothing and answers true.
  bool watchDevice();

  int channel_;
  Fd device_;
  Event event_;
  rtp_connection_params params_;
  sockaddr_in rtcpPeer_{};
  Fd rtcp_;
  int lbrcPt_;
};
