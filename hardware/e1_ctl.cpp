#include "hardware/e1_ctl.h"

#include <fcntl.h>

#include <iostream>

#include "hardware/board/board.h"
#include "hardware/board/record.h"
#include "hardware/board/requests.h"
#include "hardware/devices.h"
#include "runtime/log/ext.h"

E1Ctl& E1Ctl::instance() {
  static E1Ctl service;
  return service;
}

E1Ctl::~E1Ctl() {
  casEvent_.Release();
  casFd_.close();
  statusTimer_.reset();
}

void E1Ctl::OnConnect() {
  SendStatus();
  SetTimer();
  tclk_ = 0;
  UpdateTclk();
  CheckOpenCas();
}

bool E1Ctl::OnCommand(const LGCP::Command& command) {
  if (command.ioctl_isSelected()) {
    HandleCas(command.get_ioctl());
    Success();
    return true;
  }
  if (command.trunkCfg_isSelected()) {
    SetMode(command.get_trunkCfg());
    Success();
    return true;
  }
  return false;
}

bool E1Ctl::IsOpen() {
  if (maintenance_ >= 0) return true;
  maintenance_ = Board::open(GetMaintenance(), O_RDWR | O_NONBLOCK);
  if (maintenance_ < 0) {
    maintenance_ = -1;
    return false;
  }
  SetCloexec(maintenance_, true);
  return true;
}

void E1Ctl::SetTimer() { statusTimer_.set(kStatusPeriod, &E1Ctl::OnCheckStatus, this); }

void E1Ctl::OnCheckStatus(Timer*) {
  SendStatus();
  CheckOpenCas();
  SetTimer();
}

void E1Ctl::SendStatus() {
  if (!IsOpen()) return;
  LGCP::Signal signal;
  ACP::TrunkStatus& ts = signal.select_trunkStatus();
  uint8_t rec[kStatusSize];
  for (int t = 0; t < kTrunks; ++t) {
    std::fill(rec, rec + kStatusSize, 0);
    Board::putBE32(rec, uint32_t(t));
    if (Board::ioctl(maintenance_, Board::Req::E1Status, rec) < 0) {
      Errno cause;
      std::cerr << ext::header(this) << "synchronization status read fail, trunk = " << t << " cause = " << cause
                << std::endl;
      continue;
    }
    auto word = [&](std::size_t off) { return int(int32_t(Board::getBE32(rec + off))); };
    ts.set_trunk(t);
    ts.set_state(ACP::TrunkState::NamedNumber(word(OffState)));
    ts.set_slips(word(OffSlips));
    ts.set_lossBF(word(OffLossBF));
    ts.set_lossCarrier(word(OffLossCarrier));
    ts.set_lossAIS(word(OffLossAIS));
    ts.set_lossRAI(word(OffLossRAI));
    ts.set_clockMaster(false);
    ts.set_type(ACP::TrunkType::e1);
    SendSignal(signal);
  }
}

void E1Ctl::SetMode(const LGCP::TrunkCfg& cfg) {
  int trunk = cfg.get_trunk().getValue();
  if (trunk < 0) return;
  if (trunk < 32) {
    uint32_t bit = uint32_t(1) << trunk;
    if (cfg.get_mode().is_slave()) tclk_ |= bit;
    else tclk_ &= ~bit;
  }
  UpdateTclk();
}

void E1Ctl::UpdateTclk() {
  if (!IsOpen()) return;
  if (Board::ioctlValue(maintenance_, Board::Req::E1SetTclk, tclk_) < 0) {
    Errno cause;
    std::cerr << ext::header(this) << "fail to set TCLK [cause=" << cause << "]" << std::endl;
  } else {
    std::clog << ext::header(this) << "TCLT = 0x" << std::hex << tclk_ << std::dec << std::endl;
  }
}

void E1Ctl::select_source(int source) {
  if (!IsOpen()) return;
  if (Board::ioctlValue(maintenance_, Board::Req::E1SelectSource, static_cast<unsigned long>(static_cast<uint32_t>(source))) < 0)
    std::cerr << ext::header(this) << "fail to set clock source" << std::endl;
}

void E1Ctl::PutHeader(std::ostream& os) const { os << "E1: "; }
