#pragma once
// Echo slots: one channel of an echo-canceller bus (16 buses of 32
// channels), available only on the buses the factory found present. Both
// streams exist from creation.
#include "slots/slot.h"
#include "slots/slot_factory.h"

class EchoSlot : public Slot {
 public:
  explicit EchoSlot(unsigned channel) : mChannel(channel) {}

  void IAfterCreate() override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() override { return static_cast<int>(mChannel); }
  int IGetReceiveChannel() override { return static_cast<int>(mChannel); }
  const char* GetName() const override { return "echo"; }

 private:
  unsigned mChannel;  // 32 * bus + channel
};

class EchoFactory : public SlotFactory {
 public:
  static constexpr unsigned kBuses = 16;
  static constexpr unsigned kChannelsPerBus = 32;

  static EchoFactory& instance();

  const char* GetName() const override { return "Echo"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  // Appends the present buses to the echoBus list, in ascending order.
  void Query(LGCP::Resources& resources) override;

  // Looks for echo buses. The board offers no way to detect them, so
  // every bus is marked absent.
  void Scan();
  bool present(unsigned bus) const { return bus < kBuses && mPresent[bus]; }

 protected:
  EchoFactory();

  bool mPresent[kBuses];
};
