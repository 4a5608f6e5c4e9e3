#include "hardware/bus_ctl.h"

#include <iostream>

BusCtl& BusCtl::instance() {
  static BusCtl service;
  return service;
}

void BusCtl::DisableControl() {
  std::clog << "clock control disabled." << std::endl;
  mClockControl = false;
}
