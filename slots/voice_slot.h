#pragma once
// Voice slots: raw timeslot audio between a channel of the multichannel
// controller ("/dev/mcc/ctl") and a TCP peer or prompt files.
//  - PlaySlotNetwork connects to a peer, sends a 4-byte stream id and plays
//    what the peer sends until it closes;
//  - PlaySlotFile plays prompt files from "/usr/local/voice/" a number of
//    times (0: endlessly);
//  - RecordSlot connects to a peer and sends it what reaches its channel.
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "runtime/loop/dpc.h"
#include "runtime/os/async.h"
#include "runtime/os/fd.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

namespace Voice {
// Channel mode of MCC_ALLOCATE for voice channels.
constexpr int32_t kChannelMode = 2;
// Time a connection attempt to a network peer may take.
constexpr unsigned kConnectTimeoutMs = 5000;
// Block size of file playback.
constexpr unsigned kFileBlock = 8192;
// "a.b.c.d:port" as the connector takes it.
std::string dhost2str(const TERM::HostAddress& host);
// True when the host's address is a dotted IPv4 address; anything else
// would silently connect to this board itself.
bool IsValidHost(const TERM::HostAddress& host);
// True for a prompt name that stays inside the prompt folder.
bool IsSafePromptName(const std::string& name);
}  // namespace Voice

class VoiceSlot : public Slot {};

class PlaySlotGeneric : public VoiceSlot {
 public:
  // Takes a duplicate of the allocated channel's descriptor.
  explicit PlaySlotGeneric(Fd device);
  bool IBeforeDestroy() override;
  int IGetTransmitChannel() override { return channel; }
  const char* GetName() const override { return "player"; }

  bool IsTimeSlotValid() const { return channel >= 0; }
  Fd& RefDeviceFd() { return device; }

  // The head of a player's log lines: "player[<channel>]: ".
  std::ostream& PutHeader(std::ostream& os) const;

 protected:
  int channel;
  Fd device;
};

class PlaySlotNetwork : public PlaySlotGeneric {
 public:
  enum State { kIdle = 0, kConnecting = 1, kPlaying = 2, kFinished = 3 };
  PlaySlotNetwork(Fd device, std::string host, int id);

  bool IOnOutputStream() override;

  int state() const { return mState; }
  void PutAddr(std::ostream& os) const { os << host; }

 private:
  void OnConnect(ASync::Connect::Status::Type status, Fd sock);
  void OnPlayComplete(ASync::Copy::Status::Type status);
  void Release();

  std::string host;
  int id;
  int mState = kIdle;
  std::unique_ptr<ASync::Copy> copier;
  std::unique_ptr<ASync::Connect> connector;
};

class PlaySlotFile : public PlaySlotGeneric {
 public:
  PlaySlotFile(Fd device, std::vector<std::string> names, int repeat);

  bool IOnOutputStream() override;

  int GetRepeat() const { return repeat; }

 private:
  void OnPlayComplete(ASync::Copy::Status::Type status);
  void Release();
  bool restart();
  bool next_phrase();
  void delayed_abort();

  std::unique_ptr<ASync::Copy> copier;
  Fd file;
  int repeat;
  bool started = false;
  Dpc abortDpc;
  std::vector<std::string> names;
  std::size_t current = 0;
};

class RecordSlot : public VoiceSlot {
 public:
  RecordSlot(Fd device, std::string host, int channel);

  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool IOnInputStream() override;
  int IGetReceiveChannel() override { return channel; }
  const char* GetName() const override { return "recorder"; }

  void PutAddr(std::ostream& os) const { os << host; }
  // The head of a recorder's log lines: "recorder[<channel>]: ".
  std::ostream& PutHeader(std::ostream& os) const;

 private:
  void OnConnect(ASync::Connect::Status::Type status, Fd sock);
  void OnRecordComplete(ASync::Copy::Status::Type status);
  void StopRecording(LGCP::StopRecordingCause cause);

  int channel;
  Fd device;
  std::string host;
  std::unique_ptr<ASync::Copy> copier;
  std::unique_ptr<ASync::Connect> connector;
};

class VoiceFactory : public SlotFactory {
 public:
  static VoiceFactory& instance();

  const char* GetName() const override { return "Voice/mcc"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;

  Slot* CreatePlay(const LGCP::PlayerParams& params);
  Slot* CreateRecord(const std::string& host);

  void OnDestroy(RecordSlot* slot) { recorders.remove(slot); }
  void OnDestroy(PlaySlotGeneric* slot) { players.remove(slot); }

  const std::list<RecordSlot*>& Recorders() const { return recorders; }
  const std::list<PlaySlotGeneric*>& Players() const { return players; }

  // The head of the factory's log lines: "voice/mcc[0]: ".
  std::ostream& PutHeader(std::ostream& os) const;

 private:
  VoiceFactory() = default;
  // False (logged) for an address the connector could not use.
  bool CheckHost(const TERM::HostAddress& host);
  // Opens and allocates a controller channel; an empty Fd on failure (logged).
  Fd Allocate(bool player, int& timeslot);

  std::list<RecordSlot*> recorders;
  std::list<PlaySlotGeneric*> players;
};
