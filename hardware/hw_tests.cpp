#include "hardware/hw_tests.h"

HwTests& HwTests::instance() {
  static HwTests service;
  return service;
}
