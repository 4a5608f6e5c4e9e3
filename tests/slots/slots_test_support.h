#pragma once
// Helpers of the slot tests: a steerable slot kind that writes its hook
// calls to a journal, its factory, a spy on the signals slots send, and a
// short text form of those signals.
#include <gtest/gtest.h>

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

// "transmitter active 37", "receiver inactive", "tonec 5 dtmf 16",
// "vad rx=0", "sd rx=1", "query", "other <index>".
inline std::string Describe(const LGCP::Signal& s) {
  auto stream = [](const LGCP::Stream& st) {
    return st.active_isSelected() ? "active " + std::to_string(st.get_active().getValue()) : std::string("inactive");
  };
  auto flag = [](const char* name, bool present, bool value) {
    return present ? std::string(" ") + name + "=" + (value ? "1" : "0") : std::string();
  };
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
  return "other " + std::to_string(s.currentSelection());
}

}  // namespace slottest
