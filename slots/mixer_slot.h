#pragma once
// Mixer slots on the board's hardware mixer units ("/dev/mixer").
//
// Each unit has TDM channels bound by its driver to timeslots of the TDM
// bus. A mixer input (create alternative mixerIn) is a unit channel that
// receives audio from another slot over the multiplexer; it may feed a
// summator channel and runs the DTMF, VAD and SD detectors and the echo
// canceller of its timeslot. A mixer output (mixerOut) is a unit channel
// whose sum of (channel, gain) sources is programmed at create; it
// transmits that sum to other slots and can send DTMF digits.
//
// The factory learns the units from the driver at every resource query,
// keeps one Mixer per reported unit and reports them in the resources.
#include <iosfwd>
#include <list>
#include <map>
#include <vector>

#include "hardware/dsp.h"
#include "hardware/tonec.h"
#include "slots/mixer_driver.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

namespace Mixer {

class Mixer;
class MixerFactory;

// The common base of the mixer slot kinds.
class MixerSlot : public Slot {};

class TdmInput : public MixerSlot, private Hardware::TonecReceiver, private Hardware::DSProcReceiver {
 public:
  TdmInput(Mixer& mixer, int channel, int timeslot);
  // Switches the detectors of the timeslot off.
  ~TdmInput() override;

  bool IBeforeDestroy() override;
  bool Ioctl(const LGCP::IoctlParams& params) override;
  bool IOnInputStream() override { return true; }
  int IGetReceiveChannel() override { return mTimeslot; }
  const char* GetName() const override { return "mixer tdm input"; }

  int channel() const { return mChannel; }
  int timeslot() const { return mTimeslot; }
  // The summator channel fed by this input, -1 for none.
  int summator() const { return mSummator; }
  bool summatorIsTdm() const { return mSummatorIsTdm; }

 private:
  friend class Mixer;

  void tonec_event(Params const& event) override { processTonecEvent(event); }
  unsigned tonec_timeslot() const override { return unsigned(mTimeslot); }
  void dsproc_vad_event(Hardware::DSProcVADEvent const& event) override { processVADEvent(event); }
  void dsproc_sd_event(Hardware::DSProcSDEvent const& event) override { processSDEvent(event); }
  unsigned dsproc_timeslot() const override { return unsigned(mTimeslot); }

  Mixer& mMixer;
  int mChannel;
  int mTimeslot;
  bool mSummatorIsTdm = false;
  int mSummator = -1;
};

class TdmOutput : public MixerSlot, private Hardware::TonecReceiver, private Hardware::DSProcReceiver {
 public:
  TdmOutput(Mixer& mixer, int channel, int timeslot);

  bool IBeforeDestroy() override;
  bool Ioctl(const LGCP::IoctlParams& params) override;
  bool IOnOutputStream() override { return true; }
  int IGetTransmitChannel() override { return mTimeslot; }
  const char* GetName() const override { return "mixer tdm output"; }

  int channel() const { return mChannel; }
  int timeslot() const { return mTimeslot; }

 private:
  friend class Mixer;

  // An output only transmits: detector events are not its own.
  void tonec_event(Params const&) override {}
  unsigned tonec_timeslot() const override { return unsigned(mTimeslot); }
  void tone_gen_complete() override { processToneGenEvent(); }
  void dsproc_vad_event(Hardware::DSProcVADEvent const&) override {}
  void dsproc_sd_event(Hardware::DSProcSDEvent const&) override {}
  unsigned dsproc_timeslot() const override { return unsigned(mTimeslot); }

  Mixer& mMixer;
  int mChannel;
  int mTimeslot;
};

// One hardware mixer unit. Owned by the factory while the driver reports
// it; a unit that vanished lives on until its last slot is released.
class Mixer {
 public:
  // `channels`: the unit's own TDM channel count, cleared by Reset().
  explicit Mixer(int id, int channels = 0);
  Mixer(const Mixer&) = delete;
  Mixer& operator=(const Mixer&) = delete;

  int id() const { return mId; }
  bool isDead() const { return mDead; }
  void setDead(bool dead) { mDead = dead; }
  void setChannels(int channels) { mChannels = channels; }
  const std::list<MixerSlot*>& slots() const { return mSlots; }

  // Makes a slot on this unit; null when the parameters are refused.
  Slot* New(const LGCP::MixerInParams& params);
  Slot* New(const LGCP::MixerOutParams& params);
  void Release(TdmInput& input);
  void Release(TdmOutput& output);

  // A unit just found: every channel's sum is emptied.
  void Reset();
  // The unit vanished: its slots are told (abort 0) and stay until the
  // controller destroys them.
  void Clear();

  // Driver address of a channel; false for an rtp channel.
  bool Channel2Slot(const LGCP::MixerChannel& channel, mix_slot& slot) const;
  // Empties an output channel's sum.
  bool ClearTX(const LGCP::MixerChannel& channel);
  // Programs an output channel's sum from the input list.
  bool SetTX(const LGCP::MixerOutParams& params);
  // The TDM timeslot of a channel, -1 on failure.
  int channel2timeslot(int channel);

  MixerSlot* Register(MixerSlot* slot);
  // Forgets the slot; a dead unit without slots is deleted.
  void UnRegister(MixerSlot* slot);
  // Deletes this object when it is dead and has no slot left.
  void CheckForDestroy();

  // "mixer [<id>]: "
  std::ostream& PutHeader(std::ostream& os) const;

 private:
  friend class MixerFactory;
  ~Mixer() = default;

  // Stops a digit sending in progress before the channel goes.
  static void StopToneGenerator(Hardware::TonecReceiver& tonec);
  // True once the unit number has come back with a newer object.
  bool replaced() const;

  int mId;
  int mChannels;
  unsigned mLife = 0;  // which object of this unit number, counted from 1
  bool mDead = false;
  std::list<MixerSlot*> mSlots;  // in registration order, not owned
};

class MixerFactory : public SlotFactory {
 public:
  // No more units than this are taken from the driver.
  static constexpr unsigned kMaxUnits = 100;
  // Processing costs reported per unit.
  static constexpr int kDpuPerMixer = 770;
  static constexpr int kDpuPerEc = 17;
  static constexpr int kDpuPerLms = 24;

  static MixerFactory& instance();

  const char* GetName() const override { return "Mixer"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  // Refreshes the units and reports them in the mixer list.
  void Query(LGCP::Resources& resources) override;

  // Asks the driver for its units: new ones are made and reset, vanished
  // ones cleared and dropped.
  void RefreshResources();
  // The live unit with that number; null when there is none.
  Mixer* findMixer(int unit) const;

  // Minimum over the units of the last refresh; -1 when unknown.
  int tdm_channels() const { return mTdmChannels; }
  int mixer_inputs() const { return mMixerInputs; }
  const std::vector<Mixer*>& mixers() const { return mMixers; }
  // How many objects the unit number has had (0: never found).
  unsigned lives(int unit) const;

 private:
  MixerFactory() = default;
  ~MixerFactory() override;

  int mMixerInputs = -1;
  int mTdmChannels = -1;
  std::vector<Mixer*> mMixers;  // in discovery order
  std::map<int, unsigned> mLives;  // objects made per unit number
};

}  // namespace Mixer
