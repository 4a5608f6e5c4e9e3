#pragma once
// Backplane bus test: on the controller's testBpc command it checks that a
// run of timeslots of one backplane bus carries the pseudo-random pattern of
// a seed, places that pattern and reads it back, or releases the timeslots.
// The pattern is the byte sequence of the C library's srandom()/random()
// for the seed (the peer checking the bus produces the same one); it comes
// from private generator state, so the process-wide generator that other
// parts draw on is neither reseeded nor advanced by a controller's seed.
#include <stdlib.h>

#include <iosfwd>

#include "control/ctrl_service.h"

class HwTests : public CtrlSrv::Service {
 public:
  static HwTests& instance();

  // The process uses instance(); tests make their own.
  HwTests();

  void OnConnect() override {}
  void OnDisconnect() override {}
  bool OnCommand(const LGCP::Command& command) override;

  void OnTestBpc(const LGCP::BpcTestParams& params);
  void TestRead();
  void TestWrite();
  void TestDisconnect();

  void PutHeader(std::ostream& os) const;

 private:
  // Starts the pattern of `seed` afresh.
  void Seed();
  // The next byte of the pattern: the low 8 bits of the next random() value.
  unsigned char NextByte();
  // The mismatch line on the error stream.
  void Report(const char* what, int ch, const char* second, unsigned char expected, const char* third,
              unsigned char got) const;

  int bus = 0;
  int first = 0;
  int end = 0;
  int seed = 0;

  // The generator's state in glibc's default shape (128 bytes: degree 31).
  char state_[128];
  random_data random_;
};
