#pragma once
// Helpers of the slot tests: a steerable slot kind that writes its hook
// calls to a journal, its factory, a spy on the signals slots send, and a
// short text form of those signals.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "control/ctrl_server.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"
#include "slots/slots.h"

namespace slottest {

// Hook calls of every FakeSlot, in order: "<name>.<hook>[(<peer>)]".
inline std::vector<std::string>& journal() {
  static std::vector<std::string> j;
  return j;
}

class FakeSlot : public Slot {
 public:
  FakeSlot(std::string name, int channel) : name_(std::move(name)), channel(channel) {}
  ~FakeSlot() override { note("deleted"); }

  int IGetTransmitChannel() override { return channel; }
  int IGetReceiveChannel() override { return channel; }
  int GetConnectionPriority() override { return priority; }
  bool IOnOutputStream() override { return note("IOnOutputStream"), output; }
  bool IOnInputStream() override { return note("IOnInputStream"), input; }
  void IOnOutputRelease() override { note("IOnOutputRelease"); }
  void IOnInputRelease() override { note("IOnInputRelease"); }
  bool IHwConnectTransmitter(Slot& r) override { return note("IHwConnectTransmitter", r), Slot::IHwConnectTransmitter(r); }
  bool IHwConnectReceiver(Slot& t) override { return note("IHwConnectReceiver", t), Slot::IHwConnectReceiver(t); }
  bool IHwDisconnectTransmitter(Slot& r) override { return note("IHwDisconnectTransmitter", r), Slot::IHwDisconnectTransmitter(r); }
  bool IHwDisconnectReceiver(Slot& t) override { return note("IHwDisconnectReceiver", t), Slot::IHwDisconnectReceiver(t); }
  void IAfterCreate() override { note("IAfterCreate"); }
  bool IBeforeDestroy() override {
    note("IBeforeDestroy");
    if (release != 2) return release == 0;
    on_release();  // ends the release at once: this slot is deleted
    return false;
  }
  bool IActivate(const TERM::TermActivateParams&) override { return note("IActivate"), true; }
  bool IDeactivate() override { return note("IDeactivate"), true; }
  bool IUserData(const std::vector<char>&) override { return note("IUserData"), true; }
  bool Ioctl(const LGCP::IoctlParams&) override { return note("Ioctl"), true; }
  void OnTrunkStatus(unsigned trunk, const ACP::TrunkState::NamedNumber& state) override {
    note("OnTrunkStatus " + std::to_string(trunk) + " " + std::to_string(int(state)));
  }
  const char* GetName() const override { return name_.c_str(); }

  std::string name_;
  int channel;
  int priority = 0;
  bool output = true, input = true;
  int release = 0;  // 0 at once, 1 later, 2 ended within IBeforeDestroy

 private:
  void note(const std::string& hook) const { journal().push_back(name_ + "." + hook); }
  void note(const std::string& hook, const Slot& peer) const { note(hook + "(" + peer.GetName() + ")"); }
};

// Makes a FakeSlot for a create with the alternative ext: transmitter is
// the channel, receiver the release mode. Reports `modems` and passes
// trunk states on.
class FakeFactory : public SlotFactory {
 public:
  const char* GetName() const override { return "Fake"; }
  Slot* INewSlot(const LGCP::CreateParams& p) override {
    if (!p.ext_isSelected()) return nullptr;
    last = new FakeSlot("fake" + std::to_string(++made), p.get_ext().get_transmitter().getValue());
    last->release = p.get_ext().get_receiver().getValue();
    return last;
  }
  void Query(LGCP::Resources& r) override { r.set_modem(modems); }
  void SelfSignal(const LGCP::Signal& s) override {
    const ACP::TrunkStatus& t = s.get_trunkStatus();
    for (Slot* slot : mSlots) slot->OnTrunkStatus(t.get_trunk().getValue(), t.get_state());
  }
  int made = 0, modems = 0;
  FakeSlot* last = nullptr;
};

// Records the signals the other bound services send.
class SignalSpy : public CtrlSrv::Service {
 public:
  void OnConnect() override {}
  void OnDisconnect() override {}
  bool OnCommand(const LGCP::Command&) override { return false; }
  void OnSignal(const LGCP::Signal& s) override { signals.push_back(s); }
  std::vector<LGCP::Signal> signals;
};

// A spy bound with Slots to a server without a link; kept for the run.
inline SignalSpy& BoundSpy() {
  static SignalSpy spy;
  static bool bound = [] {
    auto* server = new CtrlSrv::Server;
    server->Bind(&Slots::instance());
    server->Bind(&spy);
    return true;
  }();
  (void)bound;
  return spy;
}

// "0005 a0 11" as bytes; blanks are only for reading.
inline std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> b;
  std::string digits;
  for (char c : hex)
    if (c != ' ') digits += c;
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2) b.push_back(uint8_t(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return b;
}

inline std::string Hex(const std::vector<char>& bytes) {
  std::string s;
  char b[3];
  for (char c : bytes) {
    std::snprintf(b, sizeof b, "%02x", static_cast<unsigned char>(c));
    s += b;
  }
  return s;
}

// One line per signal: "transmitter active 37", "receiver inactive",
// "tonec 5 dtmf 16", "vad rx=0", "sd rx=1", "abort 0", "activated",
// "data <text>", "auth <user> <password>", "acct <out> <in> <pkts out>
// <pkts in> <time>", "stopRecording 2", "packages <hex>...", "linkinfo
// <txSU> <txDiscard> <txError> <txOverflow> <rxSU>", "other <index>".
inline std::string Describe(const LGCP::Signal& s) {
  auto stream = [](const LGCP::Stream& st) {
    return st.active_isSelected() ? "active " + std::to_string(st.get_active().getValue()) : std::string("inactive");
  };
  auto flag = [](const char* name, bool present, bool value) {
    return present ? std::string(" ") + name + "=" + (value ? "1" : "0") : std::string();
  };
  auto n = [](int v) { return " " + std::to_string(v); };
  if (s.transmitter_isSelected()) return "transmitter " + stream(s.get_transmitter());
  if (s.receiver_isSelected()) return "receiver " + stream(s.get_receiver());
  if (s.tonec_isSelected()) {
    const LGCP::TonecCode& c = s.get_tonec().get_event();
    std::string t = "tonec " + std::to_string(s.get_tonec().get_timestamp().getValue()) + " ";
    if (c.dtmf_isSelected()) return t + "dtmf " + std::to_string(c.get_dtmf().getValue());
    return t + (c.ced_isSelected() ? "ced" : c.cng_isSelected() ? "cng" : c.dtmfDone_isSelected() ? "dtmfDone" : "?");
  }
  if (s.vad_isSelected())
    return "vad" + flag("rx", s.get_vad().vad_rx_isPresent(), s.get_vad().get_vad_rx()) +
           flag("tx", s.get_vad().vad_tx_isPresent(), s.get_vad().get_vad_tx());
  if (s.sd_isSelected()) return "sd" + flag("rx", s.get_sd().sd_rx_isPresent(), s.get_sd().get_sd_rx());
  if (s.query_isSelected()) return "query";
  if (s.abort_isSelected()) return "abort" + n(s.get_abort().getValue());
  if (s.activated_isSelected()) return "activated";
  if (s.deactivated_isSelected()) return "deactivated";
  if (s.userData_isSelected()) return "data " + std::string(s.get_userData());
  if (s.modemProceeding_isSelected()) {
    const TERM::ModemProceeding& p = s.get_modemProceeding();
    if (p.auth_isSelected())
      return "auth " + std::string(p.get_auth().get_username()) + " " + std::string(p.get_auth().get_password());
    auto v = [](const BASE::INTEGER64Bits& x) {
      return " " + std::to_string(uint64_t(uint32_t(x.get_high().getValue())) << 32 | uint32_t(x.get_low().getValue()));
    };
    const TERM::MdmAccounting& a = p.get_acct();
    return "acct" + v(a.get_octetsOut()) + v(a.get_octetsIn()) + v(a.get_packetsOut()) + v(a.get_packetsIn()) +
           v(a.get_time());
  }
  if (s.ioctl_isSelected()) {
    const LGCP::IoctlResponse& r = s.get_ioctl();
    if (r.startPlaying_isSelected()) return "startPlaying";
    if (r.stopRecording_isSelected()) return "stopRecording" + n(r.get_stopRecording().asInt());
    if (r.hdlcPackages_isSelected()) {
      std::string t = "packages";
      for (const auto& p : r.get_hdlcPackages()) t += " " + Hex(p.get_body());
      return t;
    }
    if (r.hdlcLinkInfo_isSelected()) {
      const LGCP::HdlcLinkInfo& i = r.get_hdlcLinkInfo();
      return "linkinfo" + n(i.get_txSU().getValue()) + n(i.get_txDiscard().getValue()) + n(i.get_txError().getValue()) +
             n(i.get_txOverflow().getValue()) + n(i.get_rxSU().getValue());
    }
    return "ioctl " + std::to_string(r.currentSelection());
  }
  return "other " + std::to_string(s.currentSelection());
}

// The signals the bound spy received since the last call, described.
inline std::vector<std::string> TakeSignals() {
  std::vector<std::string> v;
  for (const auto& s : BoundSpy().signals) v.push_back(Describe(s));
  BoundSpy().signals.clear();
  return v;
}

// Commands as the controller fills them.
namespace fills {
using Fill = std::function<void(LGCP::Command&)>;

inline Fill Timeslot(unsigned trunk, unsigned ts, bool bri = false) {
  return [=](LGCP::Command& c) {
    LGCP::TrunkParams& p = bri ? c.select_create().select_trunk_bri() : c.select_create().select_trunk();
    p.set_trunk(trunk);
    p.set_timeslot(ts);
  };
}
inline Fill Create(const LGCP::CreateParams& p) {
  return [=](LGCP::Command& c) { c.select_create(p); };
}
// An ISDN data link on trunk 1 (log 0), a slot of its own or within a PSTN slot.
inline LGCP::CreateParams Isdn(bool bri, bool network, bool pstn = false) {
  LGCP::CreateParams c;
  LGCP::IsdnParams& s = pstn ? c.select_pstn().select_isdn() : c.select_isdn();
  s.set_type(bri ? LGCP::IsdnType::bri : LGCP::IsdnType::pri);
  s.set_trunk(1);
  s.set_log(0);
  network ? s.set_side().select_network() : s.set_side().select_user();
  return c;
}
// An SS7 link without emergency alignment.
inline LGCP::CreateParams Ss7(int trunk, int slc = 3, int dpc = 100, int opc = 200) {
  LGCP::CreateParams c;
  LGCP::SS7Params& s = c.select_pstn().select_ss7();
  s.set_trunk(trunk);
  s.set_slc(slc);
  s.set_dpc(dpc);
  s.set_opc(opc);
  s.set_emergency(false);
  return c;
}
inline LGCP::CreateParams Mcc(LGCP::MccType::NamedNumber type = LGCP::MccType::data,
                              LGCP::MccMode::NamedNumber mode = LGCP::MccMode::standard) {
  LGCP::CreateParams p;
  LGCP::MccParams& m = p.select_mcc();  // selecting again would clear it
  m.set_type(type);
  m.set_mode(mode);
  return p;
}
// A T.38 engine towards 10.1.2.3:4000 from port 5002 with `extra`
// arguments a0, a1, ...
inline LGCP::CreateParams T38(std::size_t extra = 0) {
  LGCP::CreateParams c;
  LGCP::T38Soft& p = c.select_t38soft();
  p.set_dhost().set_iaddr().assign("10.1.2.3");
  p.set_dhost().set_port(4000);
  p.set_shost().set_iaddr().assign("0.0.0.0");
  p.set_shost().set_port(5002);
  p.set_rx_packet_size(160);
  p.set_rx_threshold(3);
  p.set_tx_threshold(4);
  for (std::size_t i = 0; i < extra; ++i) p.set_args().push_back(ASN1::IA5String("a" + std::to_string(i)));
  return c;
}
// A modem call from 5551234 to 100.
inline LGCP::CreateParams Modem(const std::function<void(TERM::ModemParams&)>& fill = {}) {
  LGCP::CreateParams c;
  TERM::ModemParams& p = c.select_modem();
  p.set_cid("5551234");
  p.set_cdid("100");
  if (fill) fill(p);
  return c;
}
// Mixer channels, inputs (with more settings) and outputs summing inputs at gains.
inline LGCP::MixerChannel Ch(int n, bool rtp = false) {
  LGCP::MixerChannel c;
  rtp ? c.select_rtp(n) : c.select_tdm(n);
  return c;
}

inline LGCP::CreateParams In(int unit, int channel, const std::function<void(LGCP::MixerInParams&)>& more = {}) {
  LGCP::CreateParams p;
  LGCP::MixerInParams& in = p.select_mixerIn();
  in.set_unit(unit);
  in.set_channel(Ch(channel));
  if (more) more(in);
  return p;
}

inline LGCP::CreateParams Out(int unit, const LGCP::MixerChannel& channel,
                              const std::vector<std::pair<LGCP::MixerChannel, int>>& inputs) {
  LGCP::CreateParams p;
  LGCP::MixerOutParams& out = p.select_mixerOut();
  out.set_unit(unit);
  out.set_channel(channel);
  auto& list = out.set_inputs();
  for (const auto& [ch, gain] : inputs) {
    LGCP::MixerInput i;
    i.set_channel(ch);
    i.set_gain(gain);
    list.push_back(i);
  }
  return p;
}
// An A-law RTP session towards 127.0.0.1:dport, from 10.1.2.3:sport when
// sport >= 0.
inline Fill Rtp(unsigned dport, int sport = -1, std::function<void(LGCP::CreateRtpParams&)> more = {}) {
  return [=](LGCP::Command& c) {
    LGCP::CreateRtpParams& p = c.select_create().select_rtp();
    TERM::RtpParams& r = p.set_codecRTP();
    r.set_payload(TERM::Payload::ptG711_Alaw);
    r.set_dhost().set_iaddr("127.0.0.1");
    r.set_dhost().set_port(dport);
    if (sport >= 0) r.set_shost().set_iaddr("10.1.2.3"), r.set_shost().set_port(unsigned(sport));
    p.set_txPayload(TERM::Payload::ptG711_Alaw);
    p.set_rxPayload(TERM::Payload::ptG711_Alaw);
    if (more) more(p);
  };
}
// A recorder streaming to 127.0.0.1:port.
inline LGCP::CreateParams Recorder(unsigned short port) {
  LGCP::CreateParams p;
  TERM::HostAddress& h = p.select_voice().select_record();
  h.set_iaddr("127.0.0.1");
  h.set_port(port);
  return p;
}
// A modem's activation: the peer's address and a name server, netmask
// 255.255.255.0, gateway 10.0.0.1, MTU 1500.
inline Fill ModemActivate(const std::string& remote, const std::string& dns) {
  return [=](LGCP::Command& c) {
    TERM::ModemUserParameters& u = c.select_activate().select_modem();
    u.set_remoteAddr(remote);
    u.set_netmask("255.255.255.0");
    u.set_gateway("10.0.0.1");
    u.set_dns(dns);
    u.set_mtu(1500);
  };
}
inline Fill ConnectTo(unsigned target) {
  return [=](LGCP::Command& c) { c.select_connect(target); };
}
inline void Destroy(LGCP::Command& c) { c.select_destroy(); }
inline void Activate(LGCP::Command& c) { c.select_activate().select_empty(); }
inline void Deactivate(LGCP::Command& c) { c.select_deactivate(); }
inline void Unlink(LGCP::Command& c) { c.select_disconnect(); }

inline Fill Map(int txBus, int txChannel, int rxBus, int rxChannel) {
  return [=](LGCP::Command& c) {
    LGCP::MapParams& p = c.select_create().select_map();
    if (txBus >= 0) {
      p.set_transmitter().set_bus(unsigned(txBus));
      p.set_transmitter().set_channel(unsigned(txChannel));
    }
    if (rxBus >= 0) {
      p.set_receiver().set_bus(unsigned(rxBus));
      p.set_receiver().set_channel(unsigned(rxChannel));
    }
  };
}

inline Fill Ext(int transmitter, int receiver) {
  return [=](LGCP::Command& c) {
    LGCP::ExtParams& p = c.select_create().select_ext();
    p.set_transmitter(transmitter);
    p.set_receiver(receiver);
  };
}

inline Fill Hdlc(int trunk, int address, int log = 0) {
  return [=](LGCP::Command& c) {
    LGCP::HdlcParams& p = c.select_create().select_hdlcParams();
    p.set_trunk(trunk);
    p.set_log(log);
    p.set_address(address);
  };
}

inline Fill Packages(const std::vector<std::string>& bodies) {
  return [=](LGCP::Command& c) {
    auto& list = c.select_ioctl().select_hdlcPackages();
    for (const std::string& b : bodies) {
      LGCP::HdlcPackage p;
      p.set_body(std::vector<char>(b.begin(), b.end()));
      list.push_back(p);
    }
  };
}

}  // namespace fills

}  // namespace slottest
