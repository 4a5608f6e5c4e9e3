#include "slots/hdlc_slot.h"

#include <cstring>
#include <iostream>

#include "runtime/log/traces.h"

const TimerSpec<HdlcSlot> HdlcSlot::TUpdatespec = {&HdlcSlot::OnUpdateTimer, 3000};

HdlcSlot::HdlcSlot(const LGCP::HdlcParams& params) {
  mChannel.bind(this);
  const int trunk = params.get_trunk().getValue();
  mChannel.trunk(static_cast<unsigned>(trunk));
  mTrunk = static_cast<uint32_t>(trunk) - 1u;  // unsigned: trunk 0 shows as 4294967295
  mAddress = static_cast<uint16_t>(params.get_address().getValue());
  mChannel.logLevel(static_cast<unsigned>(params.get_log().getValue()));
  if (trace()) {
    PutHeader(std::clog);
    std::clog << "trunk=" << mTrunk << ", address=" << mAddress << std::endl;
  }
  mUpdate.set(this);
}

HdlcSlot::~HdlcSlot() {
  mUpdate.reset();
  mFlush.reset();
  // The channel closes when it goes; it must not call back meanwhile.
  mChannel.unbind();
}

bool HdlcSlot::trace() const { return traces.signalling.hdlc; }

void HdlcSlot::PutHeader(std::ostream& os) const { os << "HdlcSlot[" << mTrunk << "/*]" << ": "; }

void HdlcSlot::OnTrunkStatus(unsigned, const ACP::TrunkState::NamedNumber&) {}

void HdlcSlot::iactivate() {
  if (trace()) {
    PutHeader(std::clog);
    std::clog << "Try to activate HDCL, params.tdm = " << mChannel.params().tdm << std::endl;
  }
  if (!mChannel.activate()) {
    OnDeactivated();
    return;
  }
  if (trace()) {
    PutHeader(std::clog);
    std::clog << "HDLC activated successfully" << std::endl;
  }
}

bool HdlcSlot::IActivate(const TERM::TermActivateParams&) {
  if (trace()) {
    PutHeader(std::clog);
    std::clog << "IActivate" << std::endl;
  }
  iactivate();
  return true;
}

bool HdlcSlot::IDeactivate() {
  OnUpdateTimer();
  return true;
}

void HdlcSlot::setTdm(int tdm) {
  HDLC::Params p = mChannel.params();
  p.tdm = tdm;
  p.type = 1;
  mChannel.params(p);
  if (tdm != -1) iactivate();
}

bool HdlcSlot::IHwConnectTransmitter(Slot& receiver) {
  if (trace()) {
    PutHeader(std::clog);
    std::clog << "IHwConnectTransmitter" << std::endl;
  }
  setTdm(receiver.GetReceiveChannel());
  return true;
}

bool HdlcSlot::IHwConnectReceiver(Slot& transmitter) {
  if (trace()) {
    PutHeader(std::clog);
    std::clog << "IHwConnectReceiver" << std::endl;
  }
  setTdm(transmitter.GetTransmitChannel());
  return true;
}

bool HdlcSlot::IHwDisconnectTransmitter(Slot& receiver) {
  if (trace()) {
    PutHeader(std::clog);
    std::clog << "IHwDisconnectTransmitter" << std::endl;
  }
  Slot::IHwDisconnectTransmitter(receiver);
  mChannel.deactivate();
  return true;
}

bool HdlcSlot::IHwDisconnectReceiver(Slot& transmitter) {
  if (trace()) {
    PutHeader(std::clog);
    std::clog << "IHwDisconnectReceiver" << std::endl;
  }
  Slot::IHwDisconnectReceiver(transmitter);
  mChannel.deactivate();
  return true;
}

bool HdlcSlot::Ioctl(const LGCP::IoctlParams& params) {
  if (!params.hdlcPackages_isSelected()) return false;
  // An empty list sends nothing: unsupported.
  bool all = !params.get_hdlcPackages().empty();
  for (const LGCP::HdlcPackage& package : params.get_hdlcPackages()) {
    const ASN1::OCTET_STRING& body = package.get_body();
    // A frame must fit one packet buffer: one that cannot be built takes
    // no sequence number.
    if (body.size() > packet_max_size - kHeader) {
      PutHeader(std::cerr);
      std::cerr << "package too long, package of " << body.size() << " bytes dropped" << std::endl;
      all = false;
      continue;
    }
    Packet p;
    p.reserve_head(0);
    p.put16_b(mAddress);
    p.put8(static_cast<uint8_t>(mTransmitted * 32 + mLastReceived));
    if (!body.empty()) std::memcpy(p.put(static_cast<unsigned>(body.size())), body.data(), body.size());
    ++mTransmitted;
    if (trace()) {
      PutHeader(std::clog);
      std::clog << "enqueue package: " << p << std::endl;
    }
    // A frame the full queue drops has taken its number all the same.
    if (!transmitPacket(p)) {
      PutHeader(std::cerr);
      std::cerr << "transmit queue full, package of " << body.size() << " bytes dropped" << std::endl;
      all = false;
    }
  }
  return all;
}

bool HdlcSlot::transmitPacket(Packet& frame) {
  const bool queued = mQueue.put(frame);
  if (!mQueue.empty() && mChannel.is_ready()) on_hdlc_ready();
  return queued;
}

void HdlcSlot::on_hdlc_ready() {
  Packet head;
  while (mQueue.preview(head)) {
    if (!mChannel.hdlc_transmit(head)) break;
    Packet sent;
    mQueue.get(sent);
    if (trace()) {
      PutHeader(std::clog);
      std::clog << "on_hdlc_ready " << sent << std::endl;
    }
  }
}

void HdlcSlot::on_hdlc_receive(Packet& frame) {
  if (trace()) {
    PutHeader(std::clog);
    std::clog << "on_hdlc_receive " << frame << std::endl;
  }
  enqResponce(frame);
}

void HdlcSlot::enqResponce(Packet& frame) {
  const unsigned length = frame.length();
  if (length < kHeader) {
    if (trace()) {
      PutHeader(std::clog);
      std::clog << "short frame of " << length << " bytes dropped" << std::endl;
    }
    return;
  }
  const unsigned char* bytes = frame.data();
  const uint16_t address = static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
  if (address == mAddress) {
    mLastReceived = static_cast<uint8_t>(bytes[2] >> 5);
    LGCP::HdlcPackage package;
    package.set_body(std::vector<char>(bytes + kHeader, bytes + length));
    mGathered.push_back(package);
  }
  // Bit 7 of the second byte after the header: more frames follow. A frame
  // too short to carry it ends the sequence.
  const bool more = length > kHeader + 1 && (bytes[kHeader + 1] & 0x80) != 0;
  if (more) {
    if (!mFlush.is_running()) mFlush.set(kFlushMs, &HdlcSlot::flushResponce, this);
    return;
  }
  mFlush.reset();
  flushResponce();
}

void HdlcSlot::flushResponce() {
  mFlush.reset();
  const unsigned count = mGathered.size();
  if (trace()) {
    PutHeader(std::clog);
    std::clog << "flushResponce: " << count << std::endl;
  }
  if (count == 0) return;
  LGCP::IoctlResponse response;
  response.select_hdlcPackages(mGathered);
  mGathered.clear();
  OnIoctlResponse(response);
}

void HdlcSlot::on_hdlc_error(HDLC::Notify::Cause::Type) {
  PutHeader(std::clog);
  std::clog << "on_hdlc_error" << std::endl;
}

void HdlcSlot::OnUpdateTimer() {
  mUpdate.set(this);
  UpdateHDLC_Statistics();
}

void HdlcSlot::UpdateHDLC_Statistics() {
  const HDLC::Statistics& s = mChannel.statistics();
  LGCP::IoctlResponse response;
  LGCP::HdlcLinkInfo& info = response.select_hdlcLinkInfo();
  info.set_txSU(static_cast<int>(s.txSU));
  info.set_txDiscard(static_cast<int>(s.txDiscard));
  info.set_txError(static_cast<int>(s.txError));
  info.set_txOverflow(static_cast<int>(s.txOverflow));
  info.set_rxSU(static_cast<int>(s.rxSU));
  OnIoctlResponse(response);
}

HdlcSlotFactory& HdlcSlotFactory::instance() {
  static HdlcSlotFactory factory;
  return factory;
}

Slot* HdlcSlotFactory::INewSlot(const LGCP::CreateParams& params) {
  if (traces.signalling.hdlc) std::clog << std::endl << "HdlcSlotFactory.INewSlot" << std::endl << std::endl;
  if (!params.hdlcParams_isSelected()) return nullptr;
  return new HdlcSlot(params.get_hdlcParams());
}

void HdlcSlotFactory::SelfSignal(const LGCP::Signal& signal) {
  if (!signal.trunkStatus_isSelected()) return;
  const ACP::TrunkStatus& status = signal.get_trunkStatus();
  const std::list<Slot*> slots = mSlots;
  for (Slot* slot : slots) slot->OnTrunkStatus(unsigned(status.get_trunk().getValue()), status.get_state());
}
