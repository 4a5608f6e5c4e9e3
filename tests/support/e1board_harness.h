#pragma once
// Helpers of the board service tests (E1, CAS, SPI lines, bus test, clock):
// what a controller receives, flattened; an in-process control server with
// the services under test and a loopback controller; and the real daemon on
// the simulated board with a controller and the simulator's control socket.
#include <gtest/gtest.h>
#include <poll.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "control/acceptor.h"
#include "control/control_test_support.h"
#include "control/ctrl_server.h"
#include "control/lgcp_codec.h"
#include "support/startup_harness.h"

namespace e1test {

using Msgs = std::vector<LGCP::Message>;

inline LGCP::Message CommandMsg(int seq, const std::function<void(LGCP::Command&)>& fill) {
  LGCP::Message m;
  m.set_seq(seq);
  fill(m.set_pdu().select_command());
  return m;
}

// A trunkStatus signal, flattened.
struct Trunk {
  int trunk, state, slips, lossBF, lossCarrier, lossAIS, lossRAI, type;
  bool clockMaster;
  std::string name;
};

// The trunkStatus signals of one type (0 e1, 1 bri), in wire order.
inline std::vector<Trunk> Trunks(const Msgs& ms, int type) {
  std::vector<Trunk> v;
  for (const auto& m : ms) {
    if (!m.get_pdu().signal_isSelected() || !m.get_pdu().get_signal().trunkStatus_isSelected()) continue;
    const ACP::TrunkStatus& s = m.get_pdu().get_signal().get_trunkStatus();
    Trunk t{s.get_trunk().getValue(),  s.get_state().asInt(),   s.get_slips().getValue(),
            s.get_lossBF().getValue(), s.get_lossCarrier().getValue(), s.get_lossAIS().getValue(),
            s.get_lossRAI().getValue(), s.get_type().asInt(),   bool(s.get_clockMaster()),
            static_cast<const std::string&>(s.get_name())};
    if (t.type == type) v.push_back(t);
  }
  return v;
}

// The answer in the messages: -1 success, else the error cause; -2 none.
inline int Answer(const Msgs& ms) {
  for (const auto& m : ms) {
    if (!m.get_pdu().response_isSelected()) continue;
    const LGCP::Response& r = m.get_pdu().get_response();
    return r.success_isSelected() ? -1 : r.get_error().asInt();
  }
  return -2;
}

// The cas signals and the answer in wire order: "cas 1 5 9 5", "success",
// "error 6"; other messages are left out.
inline std::vector<std::string> CasTrace(const Msgs& ms) {
  std::vector<std::string> v;
  for (const auto& m : ms) {
    if (m.get_pdu().signal_isSelected() && m.get_pdu().get_signal().cas_isSelected()) {
      const LGCP::CasSignalling& s = m.get_pdu().get_signal().get_cas();
      v.push_back("cas " + std::to_string(s.get_channel().get_path().getValue()) + " " +
                  std::to_string(s.get_channel().get_timeslot().getValue()) + " " +
                  std::to_string(s.get_rx().getValue()) + " " + std::to_string(s.get_tx().getValue()));
    } else if (m.get_pdu().response_isSelected()) {
      int a = Answer({m});
      v.push_back(a == -1 ? "success" : "error " + std::to_string(a));
    }
  }
  return v;
}

// Every whole frame received so far, decoded.
inline Msgs TakeAll(ctltest::Client& c) {
  Msgs v;
  ctltest::Bytes f;
  while (c.TakeFrame(f)) {
    v.emplace_back();
    EXPECT_TRUE(LgcpCodec::Decode(reinterpret_cast<const char*>(f.data()),
                                  reinterpret_cast<const char*>(f.data() + f.size()), v.back()))
        << ctltest::Hex(f);
  }
  return v;
}

inline bool Send(ctltest::Client& c, const LGCP::Message& m) {
  std::vector<char> out;
  return LgcpCodec::Encode(m, out) && c.SendFrame(ctltest::Bytes(out.begin(), out.end()));
}

// A control server of the test's own with the services under test bound to
// it, reached by a controller over loopback TCP; the test's thread runs the
// event loop. Declare the services before the bench: they outlive the server.
class Bench {
 public:
  Bench() : acceptor_(new Control::AcceptorCheckConnection(0, false)) {}
  // The server owns the acceptor once activated with it; before that, we do.
  ~Bench() {
    if (!started_) delete acceptor_;
  }

  void Bind(CtrlSrv::Service* s) { server.Bind(s); }
  bool Start() {
    started_ = true;
    return server.Activate(acceptor_);
  }
  bool Connect() {
    return ctl.Connect(acceptor_->bound_port()) && loop.RunUntil([&] { return acceptor_->IsConnected(); });
  }
  bool Disconnect() {
    ctl.Close();
    return loop.RunUntil([&] { return !acceptor_->IsConnected(); });
  }
  // Sends a command and runs the loop until its answer; returns everything
  // received meanwhile, in wire order.
  Msgs Exchange(const std::function<void(LGCP::Command&)>& fill) {
    Msgs got = Take(0);
    Send(ctl, CommandMsg(++seq_, fill));
    loop.RunUntil([&] {
      for (auto& m : TakeAll(ctl)) got.push_back(m);
      return Answer(got) != -2;
    });
    return got;
  }
  // Runs the loop until n messages have come, or ms of real time pass.
  Msgs Receive(std::size_t n, unsigned ms = 3000) {
    Msgs got;
    loop.RunUntil(
        [&] {
          for (auto& m : TakeAll(ctl)) got.push_back(m);
          return got.size() >= n;
        },
        ms);
    return got;
  }
  // What has come after running the loop for ms.
  Msgs Take(unsigned ms = 20) {
    if (ms) loop.RunFor(ms);
    return TakeAll(ctl);
  }

  CtrlSrv::Server server;
  ctltest::Client ctl;
  ctltest::Loop loop;

 private:
  Control::AcceptorCheckConnection* acceptor_;
  bool started_ = false;
  int seq_ = 0;
};

// The real daemon on the simulated board, with a controller and the
// simulator's control socket.
class DaemonBench {
 public:
  explicit DaemonBench(std::vector<std::string> extra = {}) : port_(startup_test::freePort()) {
    std::vector<std::string> args = {"--port", std::to_string(port_)};
    args.insert(args.end(), extra.begin(), extra.end());
    daemon_.reset(new startup_test::Daemon(root_, args));
  }
  ~DaemonBench() { daemon_->stop(); }

  // Waits for the daemon's loop and the simulator's control socket.
  bool Ready() {
    return root_.loopRunning(20000) &&
           startup_test::waitFor([&] { return startup_test::exists(startup_test::simSocketPath(root_)); });
  }
  // Connects as the controller, retried while an earlier connection winds
  // down; what came before the answer to a ping stays in Received().
  bool Attach() {
    return startup_test::waitFor(
        [&] {
          received_.clear();
          return ctl.Connect(static_cast<unsigned short>(port_)) &&
                 Command([](LGCP::Command& c) { c.select_ping(); }, 2000);
        },
        10000);
  }
  // Collects messages until `done` holds for what came since Clear(), or
  // ms pass.
  bool Wait(const std::function<bool(const Msgs&)>& done, int ms = 5000) {
    bool closed = false;
    startup_test::waitFor(
        [&] {
          pollfd p{ctl.fd(), POLLIN, 0};
          ::poll(&p, 1, 10);
          for (auto& m : TakeAll(ctl)) received_.push_back(m);
          closed = ctl.eof();
          return closed || done(received_);
        },
        ms);
    return done(received_);
  }
  const Msgs& Received() const { return received_; }
  void Clear() { received_.clear(); }
  // Sends a command and waits for its answer, which Answer(Received())
  // then gives.
  bool Command(const std::function<void(LGCP::Command&)>& fill, int ms = 5000) {
    Clear();
    return Send(ctl, CommandMsg(++seq_, fill)) && Wait([](const Msgs& m) { return Answer(m) != -2; }, ms);
  }
  // Sends a command to a slot and waits for its answer: -1 success, else
  // the error cause (-2 none came).
  int Ask(unsigned slot, const std::function<void(LGCP::Command&)>& fill) {
    LGCP::Message m = CommandMsg(++seq_, fill);
    m.set_slot(slot);
    Clear();
    EXPECT_TRUE(Send(ctl, m));
    Wait([](const Msgs& ms) { return Answer(ms) != -2; });
    return Answer(received_);
  }
  // The resource report a query brings (empty when none came).
  LGCP::Resources Query() {
    EXPECT_TRUE(Command([](LGCP::Command& c) { c.select_query(); }));
    const LGCP::Message* report = nullptr;
    Wait([&](const Msgs& ms) {
      for (const auto& m : ms)
        if (m.get_pdu().signal_isSelected() && m.get_pdu().get_signal().query_isSelected()) report = &m;
      return report != nullptr;
    });
    return report ? report->get_pdu().get_signal().get_query() : LGCP::Resources();
  }
  // Waits for a signal of the slot that `match` accepts; true when it came.
  bool SignalCame(unsigned slot, const std::function<bool(const LGCP::Signal&)>& match, int ms = 5000) {
    return Wait([&](const Msgs& got) {
      for (const auto& m : got)
        if (m.get_pdu().signal_isSelected() && m.slot_isPresent() && m.get_slot().getValue() == slot &&
            match(m.get_pdu().get_signal()))
          return true;
      return false;
    }, ms);
  }
  // One command line to the simulated board; its reply.
  std::string Sim(const std::string& line) { return startup_test::simCommand(root_, line); }
  // True when the reply to `command` has `line` as one of its lines.
  bool SimHas(const std::string& command, const std::string& line) {
    return ("\n" + Sim(command)).find("\n" + line + "\n") != std::string::npos;
  }
  const std::string& root() const { return root_.path(); }
  startup_test::Daemon& daemon() { return *daemon_; }
  // Everything the daemon has logged so far.
  std::string log() { return daemon_->out() + daemon_->err(); }

  ctltest::Client ctl;

 private:
  startup_test::TempRoot root_;
  int port_;
  std::unique_ptr<startup_test::Daemon> daemon_;
  Msgs received_;
  int seq_ = 0;
};

// A test on the real daemon: started for each test, `Prepare` given its
// root folder (stand-in programs), then the controller attached.
class DaemonTest : public ::testing::Test {
 protected:
  using Fill = std::function<void(LGCP::Command&)>;
  void SetUp() override {
    ASSERT_TRUE(d.Ready()) << d.log();
    Prepare(d.root());
    ASSERT_TRUE(d.Attach()) << d.log();
  }
  virtual void Prepare(const std::string&) {}
  int Ask(unsigned slot, const Fill& fill) { return d.Ask(slot, fill); }

  DaemonBench d;
};

}  // namespace e1test
