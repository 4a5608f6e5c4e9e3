#include "slots/mixer_slot.h"

#include <algorithm>
#include <cerrno>
#include <iostream>

#include "runtime/os/fd.h"

namespace Mixer {

namespace {

constexpr int32_t kSummatorGain = 32767;

mix_slot tdmSlot(int unit, int number) {
  mix_slot s;
  s.dev_no = unit;
  s.type = 0;
  s.number = number;
  return s;
}

// A TDM channel number of the parameters within the units' common range.
bool tdmInRange(const LGCP::MixerChannel& channel, int& number) {
  if (!channel.tdm_isSelected()) return false;
  number = channel.get_tdm().getValue();
  return number >= 0 && number < MixerFactory::instance().tdm_channels();
}

}  // namespace

// ---- slots ----

TdmInput::TdmInput(Mixer& mixer, int channel, int timeslot)
    : mMixer(mixer), mChannel(channel), mTimeslot(timeslot) {}

TdmInput::~TdmInput() {
  disableDTMF();
  disableVAD();
  disableSD();
}

bool TdmInput::IBeforeDestroy() {
  mMixer.Release(*this);
  return true;
}

bool TdmInput::Ioctl(const LGCP::IoctlParams& p) {
  if (p.echoSuppressor_isSelected()) return echoCancel(bool(p.get_echoSuppressor()));
  if (p.dtmf_enable_isSelected()) return enableDTMF(bool(p.get_dtmf_enable()));
  if (p.dtmf_reject_enable_isSelected()) return enableDTMFReject(bool(p.get_dtmf_reject_enable()));
  if (p.translateDTMF_isSelected()) {
    translateDTMF(p.get_translateDTMF());
    return true;
  }
  if (p.dtmf_params_isSelected()) return configureDTMF(p.get_dtmf_params());
  if (p.vad_enable_isSelected()) return enableVAD(bool(p.get_vad_enable()));
  if (p.vad_disable_isSelected()) return disableVAD();
  if (p.vad_params_isSelected()) return configureVAD();
  if (p.sd_enable_isSelected()) return enableSD(bool(p.get_sd_enable()));
  if (p.sd_disable_isSelected()) return disableSD();
  if (p.sd_params_isSelected()) return configureSD();
  return false;
}

TdmOutput::TdmOutput(Mixer& mixer, int channel, int timeslot)
    : mMixer(mixer), mChannel(channel), mTimeslot(timeslot) {}

bool TdmOutput::IBeforeDestroy() {
  mMixer.Release(*this);
  return true;
}

bool TdmOutput::Ioctl(const LGCP::IoctlParams& p) {
  if (p.translateDTMF_isSelected()) {
    translateDTMF(p.get_translateDTMF());
    return true;
  }
  if (p.dtmf_disable_isSelected()) return disableToneGenerator(false);
  if (p.dtmf_params_isSelected()) return configureDTMF(p.get_dtmf_params());
  if (p.vad_enable_isSelected()) return enableVAD(bool(p.get_vad_enable()));
  if (p.vad_disable_isSelected()) return disableVAD();
  if (p.vad_params_isSelected()) return configureVAD();
  if (p.sd_enable_isSelected()) return enableSD(bool(p.get_sd_enable()));
  if (p.sd_disable_isSelected()) return disableSD();
  if (p.sd_params_isSelected()) return configureSD();
  if (p.dtmf_reject_disable_isSelected()) return enableDTMFReject(false);
  return false;
}

// ---- one unit ----

Mixer::Mixer(int id, int channels) : mId(id), mChannels(channels) {}

std::ostream& Mixer::PutHeader(std::ostream& os) const { return os << "mixer [" << mId << "]: "; }

bool Mixer::Channel2Slot(const LGCP::MixerChannel& channel, mix_slot& slot) const {
  slot = mix_slot();
  slot.dev_no = mId;
  if (!channel.tdm_isSelected()) return false;
  slot.type = 0;
  slot.number = channel.get_tdm().getValue();
  return true;
}

int Mixer::channel2timeslot(int channel) {
  mix_slot s = tdmSlot(mId, channel);
  int result = mixer_ctl(MIX_TDM, s);
  if (result < 0) {
    Errno e;
    PutHeader(std::cerr) << "MIX_TDM" << " dev_no=" << mId << " type=" << 0 << " number=" << channel << " fail : "
                         << e << std::endl;
    return -1;
  }
  return result;
}

bool Mixer::ClearTX(const LGCP::MixerChannel& channel) {
  mix_slot s;
  if (!Channel2Slot(channel, s)) {
    PutHeader(std::clog) << "ClearTX error: translation fail" << std::endl;
    return false;
  }
  mix_slot arg = s;
  if (mixer_ctl(MIX_RX_CLEAR, arg) < 0) {
    Errno e;
    PutHeader(std::cerr) << "MIX_RX_CLEAR" << " dev_no=" << s.dev_no << " type=" << s.type << " number=" << s.number
                         << " fail : " << e << std::endl;
    return false;
  }
  return true;
}

bool Mixer::SetTX(const LGCP::MixerOutParams& params) {
  if (!ClearTX(params.get_channel())) return false;
  mix_route route;
  Channel2Slot(params.get_channel(), route.rx);
  for (const LGCP::MixerInput& input : params.get_inputs()) {
    if (!Channel2Slot(input.get_channel(), route.tx)) {
      PutHeader(std::cerr) << "SetTX error: translation fail [2]" << std::endl;
      return false;
    }
    route.gain = input.get_gain().getValue();
    mix_route arg = route;
    if (mixer_ctl(MIX_RX_ADD, arg) < 0) {
      Errno e;
      PutHeader(std::cerr) << "MIX_RX_ADD" << " fail : " << e << std::endl;
      return false;
    }
  }
  return true;
}

Slot* Mixer::New(const LGCP::MixerInParams& params) {
  int channel = 0;
  if (!tdmInRange(params.get_channel(), channel)) return nullptr;
  int timeslot = channel2timeslot(channel);
  if (timeslot < 0) return nullptr;

  TdmInput* input = new TdmInput(*this, channel, timeslot);
  if (params.summator_isPresent()) {
    const LGCP::MixerChannel& summator = params.get_summator();
    if (summator.tdm_isSelected()) {
      input->mSummatorIsTdm = true;
      input->mSummator = summator.get_tdm().getValue();
      mix_route route;
      route.rx = tdmSlot(mId, input->mSummator);
      route.tx = tdmSlot(mId, channel);
      route.gain = kSummatorGain;
      if (mixer_ctl(MIX_RX_ADD, route) < 0) {
        Errno e;
        PutHeader(std::cerr) << "MIX_RX_ADD" << " fail : " << e << std::endl;
      }
    } else {
      PutHeader(std::cerr) << "wrong summator coding !" << std::endl;
    }
  }
  if (params.ecm_isPresent()) {
    const LGCP::EchoCancelMode& ecm = params.get_ecm();
    static_cast<Hardware::TonecReceiver&>(*input).echoCancel(bool(ecm.get_ec()) || bool(ecm.get_es()));
  }
  return Register(input);
}

Slot* Mixer::New(const LGCP::MixerOutParams& params) {
  // A TDM channel outside the common range is refused before the driver
  // is touched, so a refused create leaves no sum programmed.
  int channel = 0;
  if (params.get_channel().tdm_isSelected() && !tdmInRange(params.get_channel(), channel)) return nullptr;
  if (!SetTX(params)) return nullptr;
  if (!tdmInRange(params.get_channel(), channel)) return nullptr;
  int timeslot = channel2timeslot(channel);
  if (timeslot < 0) return nullptr;
  return Register(new TdmOutput(*this, channel, timeslot));
}

void Mixer::StopToneGenerator(Hardware::TonecReceiver& tonec) {
  if (!tonec.is_inDTMFTransmit()) return;
  tonec.enableSilence();
  tonec.disableToneGenerator(true);
}

// A unit number that came back has a new life, reset when it came: its
// channels may belong to that life's slots, so the old slots leave them
// alone. A unit that is only gone still has its routes taken out.
bool Mixer::replaced() const { return MixerFactory::instance().lives(mId) != mLife; }

void Mixer::Release(TdmInput& input) {
  StopToneGenerator(input);
  if (input.mSummator >= 0 && !replaced()) {
    mix_route route;
    route.rx = tdmSlot(mId, input.mSummator);
    route.tx = tdmSlot(mId, input.mChannel);
    if (mixer_ctl(MIX_RX_REMOVE, route) < 0) {
      Errno e;
      PutHeader(std::cerr) << "MIX_RX_REMOVE" << " rx.number=" << input.mSummator
                           << " tx.number=" << input.mChannel << " fail : " << e << std::endl;
    }
  }
  UnRegister(&input);
}

void Mixer::Release(TdmOutput& output) {
  StopToneGenerator(output);
  PutHeader(std::clog) << "clear tdm output " << output.mChannel << std::endl;
  if (!replaced()) {
    mix_slot s = tdmSlot(mId, output.mChannel);
    mixer_ctl(MIX_RX_CLEAR, s);
  }
  UnRegister(&output);
}

void Mixer::Reset() {
  PutHeader(std::clog) << "clear all inputs" << std::endl;
  int failures = 0;
  int channels = std::max(mChannels, MixerFactory::instance().tdm_channels());
  for (int channel = 0; channel < channels; ++channel) {
    mix_slot s = tdmSlot(mId, channel);
    if (mixer_ctl(MIX_RX_CLEAR, s) < 0) ++failures;
  }
  if (failures) PutHeader(std::cerr) << "reset fail: " << failures << " errors." << std::endl;
}

void Mixer::Clear() {
  std::list<MixerSlot*> slots = mSlots;
  for (MixerSlot* slot : slots) slot->OnAbort(0);
  CheckForDestroy();
}

MixerSlot* Mixer::Register(MixerSlot* slot) {
  mSlots.push_back(slot);
  return slot;
}

void Mixer::UnRegister(MixerSlot* slot) {
  mSlots.remove(slot);
  CheckForDestroy();
}

void Mixer::CheckForDestroy() {
  if (mSlots.empty() && mDead) delete this;
}

// ---- the factory ----

MixerFactory& MixerFactory::instance() {
  static MixerFactory factory;
  return factory;
}

MixerFactory::~MixerFactory() {
  // Units still holding slots stay with them.
  for (Mixer* m : mMixers)
    if (m->slots().empty()) delete m;
}

unsigned MixerFactory::lives(int unit) const {
  auto it = mLives.find(unit);
  return it == mLives.end() ? 0 : it->second;
}

Mixer* MixerFactory::findMixer(int unit) const {
  for (Mixer* m : mMixers)
    if (!m->isDead() && m->id() == unit) return m;
  return nullptr;
}

Slot* MixerFactory::INewSlot(const LGCP::CreateParams& params) {
  if (params.mixerOut_isSelected()) {
    Mixer* m = findMixer(params.get_mixerOut().get_unit().getValue());
    return m ? m->New(params.get_mixerOut()) : nullptr;
  }
  if (params.mixerIn_isSelected()) {
    Mixer* m = findMixer(params.get_mixerIn().get_unit().getValue());
    return m ? m->New(params.get_mixerIn()) : nullptr;
  }
  return nullptr;
}

void MixerFactory::RefreshResources() {
  for (Mixer* m : mMixers) m->setDead(true);
  mix_unit_info info;
  mTdmChannels = -1;
  mMixerInputs = -1;
  // The units reported in this pass are counted, not the objects still
  // held from the last one: a full house stays known at the next refresh.
  for (unsigned taken = 0; taken < kMaxUnits; ++taken) {
    if (mixer_ctl(MIX_UNIT_INFO, info) < 0) break;
    const int unit = info.word[0], channels = info.word[1], inputs = info.word[3];
    mMixerInputs = mMixerInputs < 0 ? inputs : std::min(mMixerInputs, inputs);
    mTdmChannels = mTdmChannels < 0 ? channels : std::min(mTdmChannels, channels);
    auto known = std::find_if(mMixers.begin(), mMixers.end(), [&](Mixer* m) { return m->id() == unit; });
    if (known != mMixers.end()) {
      (*known)->setDead(false);
      (*known)->setChannels(channels);
    } else {
      Mixer* m = new Mixer(unit, channels);
      m->mLife = ++mLives[unit];
      mMixers.push_back(m);
      m->Reset();
    }
  }
  std::vector<Mixer*> dead;
  for (Mixer* m : mMixers)
    if (m->isDead()) dead.push_back(m);
  mMixers.erase(std::remove_if(mMixers.begin(), mMixers.end(), [](Mixer* m) { return m->isDead(); }), mMixers.end());
  for (Mixer* m : dead) m->Clear();  // deleted at once when it has no slots
}

void MixerFactory::Query(LGCP::Resources& resources) {
  RefreshResources();
  auto& list = resources.set_mixer();
  list.clear();
  for (Mixer* m : mMixers) {
    LGCP::MixerResources_subtype unit;
    unit.set_unit(m->id());
    unit.set_tdm_inputs(std::max(mTdmChannels, 0));
    unit.set_tdm_outputs(std::max(mTdmChannels, 0));
    unit.set_mixer_inputs(std::max(mMixerInputs, 0));
    unit.set_dpu_per_mixer(kDpuPerMixer);
    unit.set_dpu_per_ec(kDpuPerEc);
    unit.set_dpu_per_lms(kDpuPerLms);
    list.push_back(unit);
  }
}

}  // namespace Mixer
