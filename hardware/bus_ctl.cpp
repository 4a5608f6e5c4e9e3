#include "hardware/bus_ctl.h"

#include <fcntl.h>
#include <unistd.h>

#include <iostream>
#include <string>

#include "asn1/notation/printer.h"
#include "hardware/board/board.h"
#include "hardware/board/record.h"
#include "hardware/board/requests.h"
#include "hardware/spi_ctrl.h"
#include "runtime/log/ext.h"

BusCtl& BusCtl::instance() {
  static BusCtl service;
  return service;
}

BusCtl::~BusCtl() {
  if (mDevice >= 0) Board::close(mDevice);
}

void BusCtl::DisableControl() {
  std::clog << "clock control disabled." << std::endl;
  mClockControl = false;
}

bool BusCtl::IsOpen() {
  if (mDevice >= 0) return true;
  if (!mClockControl) return false;
  mDevice = Board::open("/dev/hal", O_RDWR | O_CLOEXEC);
  return mDevice >= 0;
}

void BusCtl::OnConnect() {
  if (mClockControl) SetDefaultClock();
}

void BusCtl::OnDisconnect() {
  if (mClockControl) SetDefaultClock();
}

bool BusCtl::OnCommand(const LGCP::Command& command) {
  if (!command.clockCfg_isSelected()) return false;
  if (mClockControl) {
    SetClockSrc(command.get_clockCfg());
    Success();
  } else {
    Error(LGCP::ErrorCause::unsupported);
  }
  return true;
}

void BusCtl::SetDefaultClock() {
  LGCP::ClockCfg cfg;
  cfg.set_clkSel0(LGCP::ClkSel0::internal);
  cfg.set_bextEn(LGCP::BExtEn::disabled);
  cfg.set_source(-1);
  SetClockSrc(cfg);
}

void BusCtl::SetClockSrc(const LGCP::ClockCfg& cfg) {
  if (!IsOpen()) {
    spiCtrl::instance().clock(-1);
    std::cerr << ext::header(this) << "set clock source fail: code 1." << std::endl;
    return;
  }
  std::cerr << ext::header(this) << "set clock source cmd: " << cfg << std::endl;
  if (cfg.get_clkSel0().is_internal()) {
    DrvSetClkSrc(SourceFreeRun);
  } else if (cfg.get_bextEn().is_enabled()) {
    int source = cfg.get_source().getValue();
    if (source >= 0) DrvSetClkSrc(source);
  } else {
    DrvSetClkSrc(SourceX3);
  }
}

void BusCtl::DrvSetClkSrc(int source) {
  if (!IsOpen()) {
    std::cerr << ext::header(this) << "device open error" << std::endl;
    return;
  }
  Board::WordRecord rec{source};
  if (Board::ioctl(mDevice, Board::Req::HwClockSelect, rec.data()) < 0)
    std::cerr << ext::header(this) << "HW_CLOCK_SELECT fail." << std::endl;
  else
    std::cerr << ext::header(this) << "clock source = " << SourceName(source) << std::endl;
}

std::string BusCtl::SourceName(int source) {
  static const char* const getclksrc_text[] = {"f0", "f1", "f2", "f3", "freerun", "X3", "?1", "?2"};
  if (source >= 0 && source < int(sizeof getclksrc_text / sizeof getclksrc_text[0]))
    return getclksrc_text[source];
  return std::to_string(source);
}

void BusCtl::PutHeader(std::ostream& os) const { os << "clkctl: "; }
