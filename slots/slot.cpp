#include "slots/slot.h"

#include <functional>
#include <iomanip>
#include <iostream>

#include "slots/slot_factory.h"
#include "slots/slots.h"

Slot::Slot() = default;

Slot::~Slot() = default;

unsigned Slot::GetTrunk() { return ~0u; }
unsigned Slot::GetTrunkTimeSlot() { return ~0u; }
void Slot::OnTrunkStatus(unsigned, const ACP::TrunkState::NamedNumber&) {}
void Slot::IAfterCreate() {}
bool Slot::IBeforeDestroy() { return true; }
bool Slot::IActivate(const TERM::TermActivateParams&) { return false; }
bool Slot::IDeactivate() { return false; }
bool Slot::IUserData(const std::vector<char>&) { return false; }
bool Slot::Ioctl(const LGCP::IoctlParams&) { return false; }
int Slot::GetConnectionPriority() { return 0; }
bool Slot::IHwConnectTransmitter(Slot& receiver) { return MuxConnect(*this, receiver); }
bool Slot::IHwConnectReceiver(Slot& transmitter) { return MuxConnect(transmitter, *this); }
bool Slot::IHwDisconnectTransmitter(Slot& receiver) { return MuxDisconnect(receiver); }
bool Slot::IHwDisconnectReceiver(Slot&) { return MuxDisconnect(*this); }
bool Slot::IOnOutputStream() { return false; }
bool Slot::IOnInputStream() { return false; }
void Slot::IOnOutputRelease() {}
void Slot::IOnInputRelease() {}
int Slot::IGetTransmitChannel() { return -1; }
int Slot::IGetReceiveChannel() { return -1; }

void Slot::SendSignal(const LGCP::Signal& signal) { Slots::instance().CtrlSrv::Service::SendSignal(mNumber, signal); }

void Slot::OnTonecEvent(const LGCP::TonecEvent& event) {
  SendSignal(LGCP::Signal(LGCP::Signal::tonec::Id(), event));
}

void Slot::OnNumber(const std::string& digits) { SendSignal(LGCP::Signal(LGCP::Signal::number::Id(), digits)); }

void Slot::OnModem(const TERM::ModemProceeding& proceeding) {
  SendSignal(LGCP::Signal(LGCP::Signal::modemProceeding::Id(), proceeding));
}

void Slot::OnModem(const TERM::ModemInformation& information) {
  SendSignal(LGCP::Signal(LGCP::Signal::modemInformation::Id(), information));
}

void Slot::OnActivated() { SendSignal(LGCP::Signal(LGCP::Signal::activated::Id(), ASN1::Null())); }

void Slot::OnDeactivated() {
  SendSignal(LGCP::Signal(LGCP::Signal::deactivated::Id(), LGCP::DeactivateCause::networkError));
}

void Slot::OnAbort(int code) { SendSignal(LGCP::Signal(LGCP::Signal::abort::Id(), code)); }

void Slot::OnUserData(const std::vector<char>& data) {
  SendSignal(LGCP::Signal(LGCP::Signal::userData::Id(), data));
}

void Slot::OnIoctlResponse(const LGCP::IoctlResponse& response) {
  SendSignal(LGCP::Signal(LGCP::Signal::ioctl::Id(), response));
}

void Slot::OnRtpRadioEvent(const TERM::RtpRadioRequest& request) {
  SendSignal(LGCP::Signal(LGCP::Signal::rtpExt::Id(), request));
}

void Slot::OnVADEvent(const LGCP::VADEvent& event) { SendSignal(LGCP::Signal(LGCP::Signal::vad::Id(), event)); }

void Slot::OnProtoVorkEvent(const VORKGW::ProtoVorkPackets& packets) {
  SendSignal(LGCP::Signal(LGCP::Signal::protoVork::Id(), packets));
}

void Slot::OnSDEvent(const LGCP::SDEvent& event) { SendSignal(LGCP::Signal(LGCP::Signal::sd::Id(), event)); }

void Slot::OnChangeInputStream(bool active) {
  if (mInputStream == active) return;
  LGCP::Signal signal;
  if (active) {
    signal.select_receiver().select_active(IGetReceiveChannel());
  } else {
    signal.select_receiver().select_inactive();
    Disconnect(*this);
  }
  mInputStream = active;
  SendSignal(signal);
}

void Slot::OnChangeOutputStream(bool active) {
  if (mOutputStream == active) return;
  LGCP::Signal signal;
  if (active) {
    signal.select_transmitter().select_active(IGetTransmitChannel());
  } else {
    signal.select_transmitter().select_inactive();
    // Disconnecting a receiver takes it off the list; always take the front.
    for (size_t n = mReceivers.size(); n > 0; --n) {
      if (mReceivers.empty()) {
        std::cerr << "mux: internal error: expected slots not exists." << std::endl;
        break;
      }
      Disconnect(*mReceivers.front());
    }
  }
  mOutputStream = active;
  SendSignal(signal);
}

void Slot::processTonecEvent(const Hardware::TonecReceiver::Params& params) {
  LGCP::TonecEvent event;
  event.set_timestamp(params.timestamp);
  if (params.code == 17) {
    event.set_event().select_ced();
  } else if (params.code == 18) {
    event.set_event().select_cng();
  } else if (params.code >= 0 && params.code <= 127) {
    event.set_event().select_dtmf(static_cast<unsigned>(params.code));
  } else {
    std::cerr << "bad DTMF code, ignored." << std::endl;
    return;
  }
  OnTonecEvent(event);
}

void Slot::processToneGenEvent() {
  LGCP::TonecEvent event;
  event.set_timestamp(0);
  event.set_event().select_dtmfDone();
  OnTonecEvent(event);
}

void Slot::processVADEvent(const Hardware::DSProcVADEvent& e) {
  LGCP::VADEvent event;
  bool any = false;
  if (e.rx >= 0) {
    event.set_vad_rx(e.rx != 0);
    any = true;
  }
  if (e.tx >= 0) {
    event.set_vad_tx(e.tx != 0);
    any = true;
  }
  if (!any) {
    std::cerr << "bad VAD event, ignored." << std::endl;
    return;
  }
  OnVADEvent(event);
}

void Slot::processSDEvent(const Hardware::DSProcSDEvent& e) {
  if (e.rx < 0) {
    std::cerr << "bad SD event, ignored." << std::endl;
    return;
  }
  LGCP::SDEvent event;
  event.set_sd_rx(e.rx != 0);
  OnSDEvent(event);
}

bool Slot::BeforeDestroy() {
  if (!IBeforeDestroy()) return false;
  if (mFactory)
    mFactory->Remove(this);
  else
    std::cerr << "slot: internal error!!! BeforeDestroy() not connected to factory" << std::endl;
  return true;
}

void Slot::on_release() {
  if (!mReleasing) return;
  if (mFactory) mFactory->Remove(this);
  Slots::instance().on_release(this);
}

void Slot::LogicalConnect(Slot& source) {
  mSource = &source;
  source.mReceivers.push_back(this);
  source.mReceivers.sort(std::less<Slot*>());
  source.mReceivers.unique();
}

void Slot::LogicalDisconnect() {
  if (!mSource) return;
  mSource->mReceivers.remove(this);
  mSource = nullptr;
}

void Slot::Put(std::ostream& os) const {
  if (mNumber <= 1023) {
    os.fill('0');
    os << std::right << std::setw(2) << std::dec << mNumber;
    os.fill(' ');
  } else if (mNumber == kNoNumber) {
    os << "na";
  } else {
    os << "i" << std::dec << mNumber;
  }
  os << ":" << GetName();
}

std::ostream& operator<<(std::ostream& os, const Slot& slot) {
  slot.Put(os);
  return os;
}
