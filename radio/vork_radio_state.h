#pragma once
// The radio state through which every radio packet and radio message of a
// radio channel passes, and its conversions: packet to state, controller
// status and modifier to state, state to packet (per role), the merge rules
// of the two roles, and state to the controller's radio request.
//
// The conversions keep no state of their own: the radio control owns the
// states (its radio state and channel state) and passes the one a merge
// writes.
#include <cstdint>

#include "messages/TERM.h"
#include "radio/sig_proto.h"

struct VorkRadioState {
  std::int32_t command = 0;  // packet type; 0 or below: a whole status
  std::int32_t priority = 15;
  std::int32_t ptt = 0;
  std::uint32_t session_addr = 0;  // network order
  std::uint32_t ssrc = 0;
  char caller_id[256] = {};
  std::int32_t bss = 0, vad_rx = 0, vad_tx = 0, sql = 0, sh = 0, pwr = 0, rv = 0, resv = 0;
  std::int32_t selcall = 0;  // packet flag_c
  std::int32_t li = 0;       // packet status
  std::int32_t remote_no = 0;
  std::int32_t remote_ch = 0;
  std::int32_t chan_id = 0;
  float freq = 0.0f;
  std::int32_t squelsh = -1;
  std::int32_t rte = -1;
  std::int32_t standby_state = -1;
  std::int32_t standby_group = -1;
  std::int32_t standby_receiver = -1;
  float quality = 0.0f;
  std::uint32_t from_addr = 0;  // network order
  std::uint32_t from_ssrc = 0;
};

// Conversions shared by both roles.
class VorkRadioStateMaps {
 public:
  // Packet to state; -1 for a type without a payload rule (the header
  // fields are taken all the same).
  static int DecodeProto(sig_proto const& packet, VorkRadioState& state);
  // Controller status to state; fields the status does not carry keep
  // their values.
  static int DecodeASN(TERM::VorkRadioStatus const& status, VorkRadioState& state);
  // Controller modifier to state.
  static int DecodeASN(TERM::VorkRadioModifier const& modifier, VorkRadioState& state);
  // Sets request.status from the state.
  static int EncodeStatusASN(VorkRadioState const& state, TERM::RtpRadioRequest& request);
  // Sets request.status from radio and request.request from received; -1
  // (status set, no request) when received's command has no alternative.
  static int EncodeASN(VorkRadioState const& radio, VorkRadioState const& received,
                       TERM::RtpRadioRequest& request);

 protected:
  static void EncodeHeader(VorkRadioState const& state, sig_proto& packet);
  // The rules that merge a report into the target state (gateway: into the
  // radio state; workstation: into the channel state).
  static int MergeReport(VorkRadioState const& s, VorkRadioState& target, bool gateway);
  // The rules that merge a command into the target state (gateway: into the
  // channel state; workstation: into the radio state).
  static int MergeCommand(VorkRadioState const& s, VorkRadioState& target, bool gateway);
};

// Gateway role: sends the WM_ packets (129-135) to the channel.
class VorkRadioGWStateMaps : public VorkRadioStateMaps {
 public:
  static int EncodeProto(VorkRadioState const& state, sig_proto& packet);
  static int PutProtoFromRadioToChan(VorkRadioState const& s, VorkRadioState& radio_state) {
    return MergeReport(s, radio_state, true);
  }
  static int PutProtoFromChanToRadio(VorkRadioState const& s, VorkRadioState& chan_state) {
    return MergeCommand(s, chan_state, true);
  }
};

// Workstation role: sends the GW_ packets (1-13) to the channel.
class VorkRadioWSStateMaps : public VorkRadioStateMaps {
 public:
  static int EncodeProto(VorkRadioState const& state, sig_proto& packet);
  static int PutProtoFromRadioToChan(VorkRadioState const& s, VorkRadioState& radio_state) {
    return MergeCommand(s, radio_state, false);
  }
  static int PutProtoFromChanToRadio(VorkRadioState const& s, VorkRadioState& chan_state) {
    return MergeReport(s, chan_state, false);
  }
};
