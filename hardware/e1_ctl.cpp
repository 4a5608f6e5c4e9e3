#include "hardware/e1_ctl.h"

E1Ctl& E1Ctl::instance() {
  static E1Ctl service;
  return service;
}
