#include "hardware/spi_ctrl.h"

spiCtrl& spiCtrl::instance() {
  static spiCtrl service;
  return service;
}
