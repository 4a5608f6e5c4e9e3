// Digit sending and the audible call on the simulated board: the cadence of
// generator settings in the simulator's timed log, and the rendered audio
// decoded back to digits by an independent decoder (multimon-ng).

#include <fstream>

#include "hardware/dtmf.h"
#include "sim_env.h"

namespace {

using Setting = Sim::DtmfDevice::Setting;

using Receiver = SimTest::Digits;

LGCP::TranslateDtmfParams digits(const std::string& text) {
  LGCP::TranslateDtmfParams p;
  for (char c : text) {
    LGCP::DualTone t;
    t.set_freq1(Dtmf::tonesValidator.at(c).first);
    t.set_freq2(Dtmf::tonesValidator.at(c).second);
    p.set_digits().push_back(t);
  }
  return p;
}

class TonecCadence : public SimTest::Fixture {
 protected:
  Sim::DtmfDevice& dev() { return static_cast<Sim::DtmfDevice&>(*sim().device("/dev/dtmf")); }
  // The timeslot's generator settings, "ms:freq1/freq2/amp1/amp2 " each,
  // timed from the first one.
  std::string steps(unsigned ts) {
    std::string s;
    const std::vector<Setting> v = dev().settings(ts);
    for (const Setting& x : v) {
      char step[64];
      std::snprintf(step, sizeof step, "%u:%u/%u/%u/%u ", unsigned(x.ms - v.front().ms), unsigned(x.freq1),
                    unsigned(x.freq2), unsigned(x.amp1), unsigned(x.amp2));
      s += step;
    }
    return s;
  }
  SimTest::FrozenClock clock;
};

// ---- digit sending -----------------------------------------------------------

TEST_F(TonecCadence, ThreeDigitsPlayToneAndPauseOf70msThenSwitchOff) {
  Receiver r(12);
  r.translateDTMF(digits("123"));
  EXPECT_TRUE(r.is_inDTMFTransmit());
  clock.advance(419);
  EXPECT_EQ(r.completions, 0);
  clock.advance(1);
  EXPECT_EQ(r.completions, 1);
  EXPECT_FALSE(r.is_inDTMFTransmit());
  EXPECT_EQ(steps(12),
            "0:697/1209/16384/16384 70:1000/1000/0/0 140:697/1336/16384/16384 210:1000/1000/0/0 "
            "280:697/1477/16384/16384 350:1000/1000/0/0 420:0/0/0/0 ");
  clock.advance(1000);
  EXPECT_EQ(dev().settings(12).size(), 7u);
  EXPECT_EQ(r.completions, 1);
}

TEST_F(TonecCadence, ANewListDuringASendingIsTakenAtTheNextPauseEnd) {
  Receiver r(14);
  r.translateDTMF(digits("123"));
  clock.advance(30);
  r.translateDTMF(digits("9"));
  clock.advance(300);
  EXPECT_EQ(steps(14), "0:697/1209/16384/16384 70:1000/1000/0/0 140:852/1477/16384/16384 "
                             "210:1000/1000/0/0 280:0/0/0/0 ");
  EXPECT_EQ(r.completions, 1);
}

TEST_F(TonecCadence, OversizedDurationsAreCutToTheLongestTimer) {
  Receiver r(4);
  LGCP::TranslateDtmfParams p = digits("1");
  p.set_toneDuration(-1);  // 4294967295 ms as an unsigned number
  r.translateDTMF(p);
  clock.advance(1000);
  EXPECT_EQ(dev().settings(4).size(), 1u);  // still playing the tone, not finished at once
  clock.jump(7200000 - 1000 - 1);  // two hours, the loop's longest timer
  EXPECT_EQ(dev().settings(4).size(), 1u);
  clock.advance(1);
  EXPECT_EQ(dev().settings(4).size(), 2u);
  EXPECT_TRUE(dev().settings(4).back().isSilence());
  r.cancelAudibleCall();
}

// ---- audible call ------------------------------------------------------------

TEST_F(TonecCadence, WaitToneRuns425HzOneSecondOnThreeOff) {
  Receiver r(20);
  r.activateAudibleCall();
  clock.advance(9000);
  EXPECT_EQ(steps(20),
            "0:425/0/2048/2048 1000:1000/1000/0/0 4000:425/0/2048/2048 5000:1000/1000/0/0 "
            "8000:425/0/2048/2048 9000:1000/1000/0/0 ");
  r.activateAudibleCall();  // again: a fresh 1000 ms tone
  clock.advance(999);
  EXPECT_EQ(dev().settings(20).size(), 7u);
  clock.advance(1);
  EXPECT_TRUE(dev().settings(20).back().isSilence());
  r.cancelAudibleCall();
  EXPECT_TRUE(dev().settings(20).back().isOff());
  clock.advance(10000);
  EXPECT_EQ(dev().settings(20).size(), 9u);
  r.cancelAudibleCall();  // while idle it still switches off
  EXPECT_EQ(dev().settings(20).size(), 10u);
}

TEST_F(TonecCadence, WaitToneDuringASendingEndsTheSendingFirst) {
  Receiver r(22);
  r.translateDTMF(digits("123"));
  r.cancelAudibleCall();  // does nothing during a sending
  EXPECT_EQ(dev().settings(22).size(), 1u);
  clock.advance(30);
  r.activateAudibleCall();
  // The sending is over and says so; the wait tone owns the timer and can
  // be cancelled.
  EXPECT_FALSE(r.is_inDTMFTransmit());
  EXPECT_EQ(r.completions, 1);
  clock.advance(1000);
  EXPECT_EQ(steps(22), "0:697/1209/16384/16384 30:425/0/2048/2048 1030:1000/1000/0/0 ");
  r.cancelAudibleCall();
  clock.advance(5000);
  EXPECT_EQ(dev().settings(22).size(), 4u);
  EXPECT_TRUE(dev().settings(22).back().isOff());
  r.translateDTMF(digits("4"));  // a later sending starts normally
  clock.advance(140);
  EXPECT_EQ(r.completions, 2);
}

// ---- decoding the rendered cadence ---------------------------------------------

// Digits that multimon-ng's DTMF decoder hears in the timeslot's rendered
// generator output.
std::string multimon(const std::vector<int16_t>& samples, const std::string& name) {
  // Its raw input: 22050 Hz, signed 16-bit, host order.
  std::string path = SimTest::root() + "/" + name + ".raw";
  {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(samples.data()), std::streamsize(samples.size() * sizeof samples[0]));
  }
  std::string cmd = "multimon-ng -q -c -a DTMF -t raw " + path + " 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return "(popen failed)";
  std::string out;
  char buf[256];
  while (std::fgets(buf, sizeof buf, p)) out += buf;
  ::pclose(p);
  std::string got;
  for (std::size_t at = 0; (at = out.find("DTMF: ", at)) != std::string::npos; at += 6) got += out[at + 6];
  return got.empty() ? out : got;
}

TEST_F(TonecCadence, MultimonDecodesTheRenderedDigits) {
  ASSERT_EQ(std::system("command -v multimon-ng >/dev/null"), 0) << "multimon-ng missing: run scripts/deps.sh test";
  Receiver r(12);
  r.translateDTMF(digits("123"));
  clock.advance(420);
  EXPECT_EQ(multimon(dev().render(12, 22050, 200), "dtmf-123"), "123");

  // Repeated digits count twice thanks to their pauses.
  Receiver q(13);
  q.translateDTMF(digits("5500#"));
  clock.advance(700);
  EXPECT_EQ(multimon(dev().render(13, 22050, 200), "dtmf-5500"), "5500#");
}

}  // namespace
