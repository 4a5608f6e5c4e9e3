#pragma once
// Modem slots: a dial-up call terminated on the board with an external
// program running over it. DspModemSlot allocates a DSP modem from the
// modem controller "/dev/mctl" and runs the PPP daemon on "/dev/mdm<n>" or
// a fax program; HdlcModemSlot runs the PPP daemon on a Linux generic-HDLC
// interface ("hdlc<n>"). The common base owns the child program, its
// hang-up on destroy, the activation (the subscriber's IP parameters go to
// the PPP daemon's authentication plug-in) and turns the plug-in's records
// into modemProceeding signals.
#include <string>
#include <vector>

#include "runtime/loop/child_wait.h"
#include "runtime/loop/timer.h"
#include "runtime/os/fd.h"
#include "slots/slot.h"

class attr;

// The Linux interface requests of the HDLC modems go through this hook so
// that tests can stand in for the kernel's generic-HDLC interfaces.
namespace ModemNet {
using IoctlFn = int (*)(int sock, unsigned long request, void* ifr);
// Null: the real ioctl(2).
extern IoctlFn ioctlFn;
int ioctl(int sock, unsigned long request, void* ifr);

// The settings part of a SIOCWANDEV interface request (as the kernel lays
// out its if_settings), placed right after the 16-byte name.
struct WanSettings {
  unsigned int type;
  unsigned int size;
  void* buffer;
};
constexpr unsigned kIfGetIface = 1;
constexpr unsigned kIfProtoHdlc = 0x2000;
constexpr unsigned kIfProtoPpp = 0x2001;
constexpr unsigned long kSiocWanDev = 0x894A;
}  // namespace ModemNet

class ModemSlot : public Slot {
 public:
  static constexpr int kTerminateTimeoutMs = 5000;
  // At most this many entries in a child's argument vector, the null
  // included.
  static constexpr std::size_t kMaxArgs = 64;

  explicit ModemSlot(const TERM::ModemParams& params);
  ~ModemSlot() override;

  // The modem number; the session of this slot's auth records.
  virtual int modem_id() const = 0;
  // Returns the slot's modem or interface to the factory.
  virtual void unbind() = 0;

  // Hangs up a running child (SIGHUP) and waits for its end, at most
  // kTerminateTimeoutMs; with no child the slot goes at once.
  bool IBeforeDestroy() override;
  // Hands the subscriber's IP parameters to the plug-in.
  bool IActivate(const TERM::TermActivateParams& params) override;
  const char* GetName() const override { return "generic-modem"; }

  // A slot takes part in the auth link once its session is known: an HDLC
  // modem always (session -1), a DSP modem once it holds its modem.
  virtual bool HasAuthSession() const { return true; }
  bool EqAuthId(int id) const { return HasAuthSession() && modem_id() == id; }
  // A record from the plug-in for this slot's session.
  void OnAuth(const attr* record);

  bool pppd_executing() const { return mPid != -1; }
  int pid() const { return mPid; }
  const TERM::ModemParams& params() const { return mParams; }
  // The PPP daemon's argument vector (without the terminating null).
  std::vector<std::string> PppdArgs(const std::string& device, const std::string& optionsFile) const;

  // "<slot>: ", the head of the slot's log lines.
  std::ostream& PutHeader(std::ostream& os) const;

 protected:
  // Starts the PPP daemon unless a child runs.
  void pppd_exec(const char* device, const char* optionsFile);
  // SIGKILL to a child still running.
  void pppd_kill();
  void on_terminate(int status);
  void on_terminate_timeout(Timer*);
  // Ends a release under way: the resources go back and the slot is deleted.
  void finish_release();
  // The abort signal of a failed step, with its log line on the error stream.
  void fail(const char* what, int error);

  // Forks and execs `program` (resolved under the root folder) with `args`.
  // The child sleeps `delaySec`, prints `banner` (unless null) on its
  // standard output and, when exec fails, `execFailure` (unless null), then
  // exits with status 2. The pid, or -1 with errno.
  static int Spawn(const std::string& program, const std::vector<std::string>& args, unsigned delaySec,
                   const char* banner, const char* execFailure);

  TERM::ModemParams mParams;
  // Until unbind() has given the slot's modem or interface back.
  bool mBound = true;
  int mPid = -1;
  ChildWait mWait;
  Timer mTimer;
};

class DspModemSlot : public ModemSlot {
 public:
  explicit DspModemSlot(const TERM::ModemParams& params);
  ~DspModemSlot() override;

  int modem_id() const override { return mModem; }
  bool HasAuthSession() const override { return mModem >= 0; }
  void unbind() override;
  bool IOnOutputStream() override;
  bool IOnInputStream() override;
  int IGetTransmitChannel() override { return mTimeslot; }
  int IGetReceiveChannel() override { return mTimeslot; }
  const char* GetName() const override { return "dsp-modem"; }

  // Allocates and programs the DSP modem and starts the call's program;
  // nothing once a modem is held.
  void InitModem();
  // The fax transfer program's argument vector (without the null).
  std::vector<std::string> FaxArgs() const;
  int timeslot() const { return mTimeslot; }

 private:
  void RunFaxReceiver();
  void on_fax_terminate(int status);

  Fd mCtl;
  int mTimeslot = -1;
  int mModem = -1;
  TERM::ModemInformation mInformation;
};

class HdlcModemSlot : public ModemSlot {
 public:
  HdlcModemSlot(const TERM::ModemParams& params, const std::string& interfaceName);
  // Stops the child and returns the interface to raw HDLC, down.
  ~HdlcModemSlot() override;

  int modem_id() const override { return -1; }
  void unbind() override;
  bool IOnOutputStream() override;
  bool IOnInputStream() override;
  int IGetTransmitChannel() override { return mChannel; }
  int IGetReceiveChannel() override { return mChannel; }
  const char* GetName() const override { return "digital-modem"; }

  // Switches the interface to PPP and starts the PPP daemon on it, unless a
  // child runs.
  void initModem();
  const std::string& deviceName() const { return mInterface; }

 private:
  int mChannel = -1;
  std::string mInterface;
};
