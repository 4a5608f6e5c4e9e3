#include "slots/pstn_slot.h"

#include <cstring>
#include <iostream>

const TimerSpec<PstnSlot> PstnSlot::TUpdatespec = {&PstnSlot::OnUpdateTimer, 3000};

PstnSlot::PstnSlot(const LGCP::PstnParams& params) : mHdlc(new HDLC) {
  mHdlc->bind(this);
  if (params.ss7_isSelected()) {
    const LGCP::SS7Params& p = params.get_ss7();
    const unsigned trunk = static_cast<unsigned>(p.get_trunk().getValue());
    mSS7 = new SS7::SLC;
    mLayerNotify = mSS7;
    mSS7->hdlc(mHdlc.get());
    mSS7->set_linkno(trunk);
    mSS7->set_slc(static_cast<unsigned>(p.get_slc().getValue()));
    mSS7->set_dpc(static_cast<unsigned>(p.get_dpc().getValue()));
    mSS7->set_opc(static_cast<unsigned>(p.get_opc().getValue()));
    mSS7->set_emergency(p.get_emergency());
    add_protocol_tail(mSS7);
    mHdlc->trunk(trunk);
    mTrunkIndex = trunk - 1;
    mKind = kSS7;
  } else if (params.isdn_isSelected()) {
    const LGCP::IsdnParams& p = params.get_isdn();
    const unsigned trunk = static_cast<unsigned>(p.get_trunk().getValue());
    const unsigned log = static_cast<unsigned>(p.get_log().getValue());
    const bool bri = p.get_type().is_bri();
    const bool network = p.get_side().network_isSelected();
    if (bri && network) {
      // The basic-rate network side keeps its terminals' links itself; its
      // frames pass through transmit() and on_hdlc_receive() below.
      mLAPD_NT = new ISDN::LAPD_NT;
      mLAPD_NT->set_log(log);
      add_protocol_tail(mLAPD_NT);
      mKind = kIsdnBriNetwork;
    } else {
      mLAPD = new ISDN::LAPD(ISDN::Side::user, 0);
      mLayerNotify = mLAPD;
      mLAPD->hdlc(mHdlc.get());
      mLAPD->set_side(network ? ISDN::Side::network : ISDN::Side::user);
      mLAPD->set_linkno(trunk);
      mLAPD->set_log(log);
      mLAPD->BindNotify(this);
      mHdlc->logLevel(log);
      mHdlc->trunk(trunk);
      mTrunkIndex = trunk - 1;
      if (bri) {
        mLAPD->change_to_bri();
        mKind = kIsdnBri;
      } else {
        mKind = kIsdnPri;
      }
      add_protocol_tail(mLAPD);
    }
  }
  // The cas alternative: a channel and an empty stack.
  mParams.type = mKind == kSS7 ? 0 : mKind == kIsdnPri ? 1 : 2;
  mHdlc->params(mParams);
  mUpdate.set(this);
}

PstnSlot::~PstnSlot() {
  mUpdate.reset();
  mHdlc->unbind();
  mHdlc.reset();
  // The layers leave the stack as they are deleted.
  delete mSS7;
  delete mLAPD;
  delete mLAPD_NT;
}

void PstnSlot::OnTrunkStatus(unsigned trunk, const ACP::TrunkState::NamedNumber& state) {
  if (!mSS7 || trunk != mTrunkIndex || static_cast<int>(state) == mLastTrunkState) return;
  mLastTrunkState = static_cast<int>(state);
  mSS7->OnTrunkHardStatus(state == ACP::TrunkState::normal);
}

void PstnSlot::iactivate() {
  // The channel opens on whatever multiplexer channels it holds (the
  // multiplexer switches nothing for a channel of -1).
  if (mHdlc->activate())
    activate();
  else
    OnDeactivated();
}

bool PstnSlot::IActivate(const TERM::TermActivateParams&) {
  iactivate();
  return true;
}

bool PstnSlot::IDeactivate() {
  deactivate();
  return true;
}

bool PstnSlot::IUserData(const std::vector<char>& data) {
  if (!top_member()) return true;  // an empty stack (cas) takes nothing
  Packet p;
  prepare_head(p);
  if (p.null()) p.reserve_head(0);
  // A message the link cannot carry in one frame is refused, not cut.
  if (data.size() > p.tailroom()) {
    std::cerr << static_cast<const Slot&>(*this) << ": user data too long: " << data.size() << std::endl;
    return false;
  }
  if (!data.empty()) std::memcpy(p.put(static_cast<unsigned>(data.size())), data.data(), data.size());
  message(p);
  return true;
}

bool PstnSlot::Ioctl(const LGCP::IoctlParams& params) {
  if (!mSS7) return false;
  if (params.ss7RqBSN_isSelected()) {
    OnIoctlResponse(LGCP::IoctlResponse(LGCP::IoctlResponse::ss7BSN::Id(), static_cast<int>(mSS7->get_bsn())));
    return true;
  }
  if (params.ss7Log_isSelected()) {
    const LGCP::SS7L2Log& l = params.get_ss7Log();
    mSS7->trace.state = l.get_state();
    mSS7->trace.raw_receive = l.get_raw_receive();
    mSS7->trace.raw_transmit = l.get_raw_transmit();
    mSS7->trace.mtp_transmit = l.get_mtp_transmit();
    mSS7->trace.mtp_receive = l.get_mtp_receive();
    mSS7->trace.mtp_activate = l.get_mtp_activate();
    mSS7->trace.timers = l.get_timers();
    mSS7->trace.msu_processing = l.get_msu_processing();
    return true;
  }
  return false;
}

bool PstnSlot::IHwConnectReceiver(Slot& tx) {
  if (mKind == kSS7 || mKind == kIsdnPri) {
    const unsigned trunk = tx.GetTrunk();
    if (trunk > 3) {
      std::cerr << "pstn-slot: invalid trunk number: " << trunk << std::endl;
      return false;
    }
    const unsigned timeslot = tx.GetTrunkTimeSlot();
    if (timeslot > 31) {
      std::cerr << "pstn-slot: invalid timeslot: " << timeslot << std::endl;
      return false;
    }
    mParams.trunk = static_cast<int32_t>(trunk);
    mParams.timeslot = static_cast<int32_t>(timeslot);
  }
  // The source's channel is stored as it is, -1 (none) too.
  mParams.type = mKind == kSS7 ? 0 : mKind == kIsdnPri ? 1 : 2;
  mParams.tdm = tx.GetTransmitChannel();
  mHdlc->params(mParams);
  if (mKind == kSS7 || mKind == kIsdnPri || mParams.tdm_out != -1) iactivate();
  return true;
}

bool PstnSlot::IHwConnectTransmitter(Slot& rx) {
  if (mKind == kSS7 || mKind == kIsdnPri) return true;
  mParams.tdm_out = rx.GetReceiveChannel();
  mHdlc->params(mParams);
  if (mParams.tdm != -1) iactivate();
  return true;
}

bool PstnSlot::IHwDisconnectTransmitter(Slot& rx) {
  if (mKind == kIsdnBri || mKind == kIsdnBriNetwork) deactivate();
  Slot::IHwDisconnectTransmitter(rx);
  return true;
}

bool PstnSlot::IHwDisconnectReceiver(Slot& tx) {
  deactivate();
  Slot::IHwDisconnectReceiver(tx);
  return true;
}

void PstnSlot::on_hdlc_receive(Packet& p) {
  if (mLayerNotify)
    mLayerNotify->on_hdlc_receive(p);
  else if (mLAPD_NT)
    mLAPD_NT->receive(p);
}

void PstnSlot::on_hdlc_error(HDLC::Notify::Cause::Type cause) {
  if (mLayerNotify) mLayerNotify->on_hdlc_error(cause);
}

void PstnSlot::on_hdlc_ready() {
  if (mLayerNotify) mLayerNotify->on_hdlc_ready();
}

void PstnSlot::transmit(Packet& p) {
  if (mLAPD_NT && mHdlc->is_open()) mHdlc->hdlc_transmit(p);
}

void PstnSlot::on_message(Packet& p) {
  const char* bytes = reinterpret_cast<const char*>(p.data());
  OnUserData(std::vector<char>(bytes, bytes + p.length()));
}

void PstnSlot::on_activated(Protocol*) {
  UpdateISDN_Statistics();
  UpdateSS7_Statistics();
  OnActivated();
}

void PstnSlot::on_deactivated(Protocol*, ProtocolStatus) {
  UpdateISDN_Statistics();
  UpdateSS7_Statistics();
  OnUpdateTimer();
  OnDeactivated();
}

void PstnSlot::OnLAPD_FlowStatusChange(ISDN::LAPD* link) {
  const bool congested = link && link->GetFlowStatus() == ISDN::LAPD::FlowStatus::congested;
  OnIoctlResponse(LGCP::IoctlResponse(LGCP::IoctlResponse::isdnLinkStatus::Id(),
                                      congested ? LGCP::IsdnLinkStatus::congested : LGCP::IsdnLinkStatus::normal));
}

void PstnSlot::OnUpdateTimer() {
  mUpdate.set(this);
  UpdateHDLC_Statistics();
  UpdateISDN_Statistics();
  UpdateSS7_Statistics();
}

void PstnSlot::UpdateHDLC_Statistics() {
  const HDLC::Statistics& s = mHdlc->statistics();
  LGCP::IoctlResponse r;
  LGCP::HdlcLinkInfo& info = r.select_hdlcLinkInfo();
  info.set_txSU(static_cast<int>(s.txSU));
  info.set_txDiscard(static_cast<int>(s.txDiscard));
  info.set_txError(static_cast<int>(s.txError));
  info.set_txOverflow(static_cast<int>(s.txOverflow));
  info.set_rxSU(static_cast<int>(s.rxSU));
  OnIoctlResponse(r);
}

void PstnSlot::UpdateISDN_Statistics() {
  if (!mLAPD) return;
  ACP::IsdnLinkInfo info;
  if (mLAPD->GetInfo(info)) OnIoctlResponse(LGCP::IoctlResponse(LGCP::IoctlResponse::isdnLinkInfo::Id(), info));
}

void PstnSlot::UpdateSS7_Statistics() {
  if (!mSS7) return;
  const SS7::SLC::Statistics& s = mSS7->statistics();
  LGCP::IoctlResponse r;
  ACP::SS7LinkInfo& info = r.select_ss7LinkInfo();
  info.set_msuTxCount(static_cast<int>(s.msuTxCount));
  info.set_msuRxCount(static_cast<int>(s.msuRxCount));
  info.set_octetsTx(static_cast<int>(s.octetsTx));
  info.set_octetsRx(static_cast<int>(s.octetsRx));
  info.set_speedRx(0);
  info.set_speedTx(0);
  info.set_overflowCntr(static_cast<int>(s.overflowCntr));
  info.set_rtbSize(static_cast<int>(s.rtbSize));
  info.set_repeatCntr(static_cast<int>(s.repeatCntr));
  info.set_badSeqCntr(static_cast<int>(s.badSeqCntr));
  info.set_ss7state(static_cast<ACP::SS7State::NamedNumber>(mSS7->get_state_id()));
  OnIoctlResponse(r);
}

PstnFactory& PstnFactory::instance() {
  static PstnFactory factory;
  return factory;
}

Slot* PstnFactory::INewSlot(const LGCP::CreateParams& params) {
  if (!params.pstn_isSelected()) return nullptr;
  return new PstnSlot(params.get_pstn());
}

void PstnFactory::SelfSignal(const LGCP::Signal& signal) {
  if (!signal.trunkStatus_isSelected()) return;
  const ACP::TrunkStatus& t = signal.get_trunkStatus();
  // The links follow E1 trunks only: a basic-rate line shares the trunk
  // numbers but is another line, whose state must not take an E1 link down.
  if (!t.get_type().is_e1()) return;
  const unsigned trunk = static_cast<unsigned>(t.get_trunk().getValue());
  const ACP::TrunkState::NamedNumber state = t.get_state();
  for (Slot* slot : mSlots) slot->OnTrunkStatus(trunk, state);
}
