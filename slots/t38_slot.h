#pragma once
// T.38 fax relay slot: runs the external T.38 engine "/usr/local/sbin/t38"
// as a child process on a transparent channel of the multichannel HDLC
// controller, which the engine gets as its standard input. The slot lives
// as long as the controller keeps it; the engine's end is reported as an
// abort signal with its raw wait status.
#include <iosfwd>
#include <string>
#include <vector>

#include "runtime/loop/child_wait.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

class T38SoftSlot : public Slot {
 public:
  T38SoftSlot(int pid, int channel);

  // Both streams exist from the start, on the engine's channel.
  void IAfterCreate() override;
  // Asks a running engine to stop (SIGTERM) and goes at once.
  bool IBeforeDestroy() override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() override { return mChannel; }
  int IGetReceiveChannel() override { return mChannel; }
  const char* GetName() const override { return "t38 soft"; }

  // The engine ended with this raw wait status.
  void OnT38Terminate(int status);

  // The engine's process id; -1 once it has ended.
  int GetPid() const { return mPid; }

  // The head of the slot's log lines: its log form and ": ".
  std::ostream& PutHeader(std::ostream& os) const;

 private:
  int mPid;
  int mChannel;
  ChildWait mWait;
};

class T38SoftFactory : public SlotFactory {
 public:
  // At most this many entries in the engine's argument vector, the
  // terminating null included.
  static constexpr std::size_t kMaxArgs = 32;

  static T38SoftFactory& instance();

  const char* GetName() const override { return "T.38 soft"; }
  // Allocates the channel and starts the engine for the create alternative
  // t38soft; null for any other alternative and on every failure.
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  // The number of engine instances the board can run.
  void Query(LGCP::Resources& resources) override;

  // The engine's argument vector (without the terminating null).
  static std::vector<std::string> EngineArgs(const LGCP::T38Soft& params);
  // Asks the engine ("--num-of-instances") through a shell; 0 when the
  // shell cannot be started or gives no line (a missing engine among them).
  static int QueryNumOfInstances();
  // The head of the factory's log lines: "t38soft: ".
  static std::ostream& PutHeader(std::ostream& os);

 private:
  T38SoftFactory() = default;
};
