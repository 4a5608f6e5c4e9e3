// Random but well-formed controller commands against the real daemon on
// the simulated board: creates of every kind on a few slot numbers mixed
// with connects, ioctls, displays, destroys and the other slot commands,
// their parameters made by Erlang/OTP's random-value generator on the
// exported message schema. Checked: every command gets exactly one answer,
// carrying its seq; every frame decodes; the daemon's output holds no
// sanitizer report; memory and descriptors stay bounded and the
// descriptors come back once the slots are gone (the services keep the
// devices they once opened).
// TSD_RANDOM_COMMANDS sets how many commands (1000 by default).
#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "asn1/coder.h"
#include "asn1/erlang_peer.h"
#include "control_test_support.h"
#include "support/startup_harness.h"

namespace {

using ctltest::Bytes;

// Erlang's random values of an LGCP type, decoded; `count` of them.
template <class T>
std::vector<T> ErlangValues(const std::string& beams, const std::string& type, unsigned count, unsigned seed) {
  const std::string cmd = "escript '" + std::string(TSD_SOURCE_DIR) + "/tests/messages/erlang/msg_peer.escript' '" +
                          beams + "' LGCP random " + std::to_string(count) + " " + std::to_string(seed) + " " +
                          type + " LGCPRoot";
  std::vector<T> out;
  for (const std::string& hex : Erlang::lines(Erlang::run(cmd))) {
    std::vector<char> b;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) b.push_back(char(std::stoi(hex.substr(i, 2), nullptr, 16)));
    T v;
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    if (hex != "-" && ASN1::decode(b.data(), b.data() + b.size(), &env, v, true)) out.push_back(v);
  }
  return out;
}

// The compiled Erlang export: the build's, or compiled here.
std::string Beams(Erlang::TempDir& work) {
  const std::string built = std::string(TSD_BINARY_DIR) + "/generated/messages/erlang";
  if (Erlang::exists(built + "/LGCPRoot.beam")) return built;
  const std::string gen = work.path() + "/gen";
  Erlang::run("python3 '" + std::string(TSD_SOURCE_DIR) + "/messages/gen/tsd_asngen.py' --out '" + gen +
              "' --erlang '" + gen + "/erlang' --erlc erlc '" + TSD_SOURCE_DIR + "'/messages/asn/*.asn 2>&1");
  return gen + "/erlang";
}

// What the daemon must not print.
const char* const kReports[] = {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:",
                                "PACKET ASSERTION FAILED", "SMART POINTER ASSERTION"};

TEST(RandomCommands, EveryCommandIsAnsweredOnceAndNothingGrows) {
  ASSERT_TRUE(Erlang::installed()) << Erlang::kNotInstalled;
  const char* env = std::getenv("TSD_RANDOM_COMMANDS");
  const unsigned total = env ? unsigned(std::atol(env)) : 1000;
  // Pools of values the commands draw from (Erlang takes about 0.2 s per
  // create value), made side by side.
  const unsigned pool = 120 + total / 200;
  Erlang::TempDir work("tsd-random");
  const std::string beams = Beams(work);
  std::vector<LGCP::CreateParams> creates;
  std::vector<LGCP::IoctlParams> ioctls;
  std::vector<LGCP::DisplayParams> displays;
  std::thread a([&] { creates = ErlangValues<LGCP::CreateParams>(beams, "CreateParams", pool, 11); });
  std::thread b([&] { ioctls = ErlangValues<LGCP::IoctlParams>(beams, "IoctlParams", pool, 12); });
  displays = ErlangValues<LGCP::DisplayParams>(beams, "DisplayParams", pool, 13);
  a.join();
  b.join();
  ASSERT_GT(creates.size(), pool / 2);
  ASSERT_GT(ioctls.size(), pool / 2);
  ASSERT_GT(displays.size(), pool / 2);
  // The creates by kind, so that every kind is made in turn.
  std::map<int, std::vector<const LGCP::CreateParams*>> kinds;
  for (const auto& c : creates) kinds[c.currentSelection()].push_back(&c);
  ASSERT_EQ(17u, kinds.size()) << "every create alternative among Erlang's values";

  startup_test::TempRoot root;
  const int port = startup_test::freePort();
  startup_test::Daemon daemon(root, {"--port", std::to_string(port)}, true,
                              "detect_leaks=1:quarantine_size_mb=16:malloc_context_size=10");
  ctltest::Client ctl;
  ASSERT_TRUE(startup_test::waitFor([&] { return ctl.Connect(static_cast<unsigned short>(port)); }));
  ASSERT_TRUE(root.loopRunning());
  const int fdsStart = ctltest::FdCount(daemon.pid());

  std::mt19937 rng(2027);
  auto pick = [&](std::size_t n) { return std::size_t(rng() % n); };
  std::map<int, int> answers;  // seq -> answers
  int sent = 0, outstanding = 0, successes = 0;
  auto takeAnswers = [&] {
    Bytes payload;
    while (ctl.TakeFrame(payload)) {
      LGCP::Message m;
      ASSERT_TRUE(ctltest::Decode(payload, m)) << "an undecodable frame";
      if (!m.get_pdu().response_isSelected()) continue;
      ASSERT_TRUE(m.seq_isPresent()) << "an answer without seq";
      const int seq = m.get_seq().getValue();
      ASSERT_TRUE(seq >= 1 && seq <= sent) << "an answer to no command: seq " << seq;
      if (++answers[seq] == 1) --outstanding;
      successes += m.get_pdu().get_response().success_isSelected();
    }
  };
  auto send = [&](int slot, const LGCP::Command& command) {
    LGCP::Message m;
    m.set_seq(++sent);
    if (slot >= 0) m.set_slot(unsigned(slot));
    m.set_pdu().select_command(command);
    ASSERT_TRUE(ctl.SendFrame(ctltest::Encode(m))) << "the daemon went at command " << sent;
    ++outstanding;
    // A window of commands in flight; answers that come later (a slot's
    // release that takes time) do not hold the next commands back for long.
    for (int spins = 0; outstanding > 16 && spins < 25 && !ctl.eof(); ++spins) {
      takeAnswers();
      pollfd p{ctl.fd(), POLLIN, 0};
      ::poll(&p, 1, 2);
    }
  };

  long rssWarm = 0, rssPeak = 0;
  int kind = 0;
  std::vector<int> kindIds;
  for (const auto& k : kinds) kindIds.push_back(k.first);
  while (sent < int(total) && !HasFatalFailure()) {
    const int slot = 1 + int(pick(6));
    LGCP::Command c;
    const unsigned op = unsigned(pick(100));
    const auto& ofKind = kinds[kindIds[kind % kindIds.size()]];
    if (op < 30)
      kind++, c.select_create(*ofKind[pick(ofKind.size())]);
    else if (op < 45)
      c.select_destroy();
    else if (op < 65)
      c.select_connect(unsigned(1 + pick(6)));
    else if (op < 85)
      c.select_ioctl(ioctls[pick(ioctls.size())]);
    else if (op < 93)
      c.select_display(displays[pick(displays.size())]);  // on no slot
    else
      op < 96 ? c.select_disconnect() : op < 98 ? c.select_deactivate() : c.select_query();
    send(op >= 85 && op < 93 ? -1 : slot, c);
    if (sent % std::max(50, int(total) / 40) == 0) {
      const long rss = ctltest::RssKb(daemon.pid());
      if (sent <= int(total) / 4) rssWarm = std::max(rssWarm, rss);
      rssPeak = std::max(rssPeak, rss);
    }
  }
  // Every slot goes; then every answer is in.
  for (int slot = 1; slot <= 6 && !HasFatalFailure(); ++slot) {
    LGCP::Command c;
    c.select_destroy();
    send(slot, c);
  }
  startup_test::waitFor([&] {
    takeAnswers();
    return outstanding == 0 || HasFatalFailure() || ctl.eof();
  }, 20000);
  const long rssEnd = ctltest::RssKb(daemon.pid());
  const int fdsEnd = ctltest::FdCount(daemon.pid());
  ctl.Close();
  EXPECT_EQ(0, daemon.stop(20000));

  int missing = 0, twice = 0;
  for (int seq = 1; seq <= sent; ++seq) {
    missing += answers[seq] == 0;
    twice += answers[seq] > 1;
  }
  EXPECT_EQ(0, missing) << "commands without answer";
  EXPECT_EQ(0, twice) << "commands answered more than once";
  const std::string out = daemon.out() + daemon.err();
  for (const char* r : kReports) EXPECT_EQ(std::string::npos, out.find(r)) << out.substr(0, 20000);
  // Memory after the first quarter stays within 48 MB of what it was; the
  // daemon holds its devices and sockets, no more.
  EXPECT_LT(rssPeak - rssWarm, 48 * 1024) << "warm " << rssWarm << " kB, peak " << rssPeak << " kB";
  EXPECT_LE(fdsEnd, fdsStart + 16) << "descriptors left after every slot went (" << fdsStart << " at the start)";
  std::printf("random commands: %d sent, %d succeeded, %d missing, %d twice; RSS warm %ld kB, peak %ld kB, "
              "end %ld kB; descriptors %d at the start, %d at the end\n",
              sent, successes, missing, twice, rssWarm, rssPeak, rssEnd, fdsStart, fdsEnd);
}

}  // namespace
