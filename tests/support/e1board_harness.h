#pragma once
// Helpers of the board service tests (E1, CAS, SPI lines, bus test, clock):
// decoding what a controller receives, an in-process control server with
// the services under test and a loopback controller, and the real daemon on
// the simulated board with a controller and the simulator's control socket.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <cstring>
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

using Bytes = ctltest::Bytes;

inline Bytes Encode(const LGCP::Message& m) {
  std::vector<char> out;
  EXPECT_TRUE(LgcpCodec::Encode(m, out));
  return Bytes(out.begin(), out.end());
}

inline bool Decode(const Bytes& b, LGCP::Message& m) {
  return LgcpCodec::Decode(reinterpret_cast<const char*>(b.data()), reinterpret_cast<const char*>(b.data() + b.size()),
                           m);
}

// A command message; a negative slot leaves the slot out.
inline LGCP::Message CommandMsg(int seq, const std::function<void(LGCP::Command&)>& fill, int slot = -1) {
  LGCP::Message m;
  m.set_seq(seq);
  if (slot >= 0) m.set_slot(static_cast<unsigned int>(slot));
  fill(m.set_pdu().select_command());
  return m;
}

// A trunkStatus signal, flattened.
struct Trunk {
  int trunk = -1, state = -1, slips = 0, lossBF = 0, lossCarrier = 0, lossAIS = 0, lossRAI = 0, type = -1;
  bool clockMaster = false;
  std::string name;
};

inline bool AsTrunk(const LGCP::Message& m, Trunk& t) {
  if (!m.get_pdu().signal_isSelected() || !m.get_pdu().get_signal().trunkStatus_isSelected()) return false;
  const ACP::TrunkStatus& s = m.get_pdu().get_signal().get_trunkStatus();
  t.trunk = s.get_trunk().getValue();
  t.state = s.get_state().asInt();
  t.slips = s.get_slips().getValue();
  t.lossBF = s.get_lossBF().getValue();
  t.lossCarrier = s.get_lossCarrier().getValue();
  t.lossAIS = s.get_lossAIS().getValue();
  t.lossRAI = s.get_lossRAI().getValue();
  t.type = s.get_type().asInt();
  t.clockMaster = bool(s.get_clockMaster());
  t.name = static_cast<const std::string&>(s.get_name());
  return true;
}

// The trunkStatus signals of one type (0 e1, 1 bri) among messages.
inline std::vector<Trunk> Trunks(const std::vector<LGCP::Message>& ms, int type) {
  std::vector<Trunk> v;
  for (const auto& m : ms) {
    Trunk t;
    if (AsTrunk(m, t) && t.type == type) v.push_back(t);
  }
  return v;
}

// A cas signal as {path, timeslot, rx, tx}.
using Cas = std::vector<int>;

inline bool AsCas(const LGCP::Message& m, Cas& c) {
  if (!m.get_pdu().signal_isSelected() || !m.get_pdu().get_signal().cas_isSelected()) return false;
  const LGCP::CasSignalling& s = m.get_pdu().get_signal().get_cas();
  c = {s.get_channel().get_path().getValue(), s.get_channel().get_timeslot().getValue(), s.get_rx().getValue(),
       s.get_tx().getValue()};
  return true;
}

inline bool IsResponse(const LGCP::Message& m) { return m.get_pdu().response_isSelected(); }
inline bool IsSuccess(const LGCP::Message& m) {
  return IsResponse(m) && m.get_pdu().get_response().success_isSelected();
}
// The error cause of an error response; -1 for anything else.
inline int ErrorOf(const LGCP::Message& m) {
  if (!IsResponse(m) || !m.get_pdu().get_response().error_isSelected()) return -1;
  return m.get_pdu().get_response().get_error().asInt();
}

// The cas signals and the response, in wire order, as text ("cas 1 0 0 0",
// "success", "error 6"); other messages are left out.
inline std::vector<std::string> CasTrace(const std::vector<LGCP::Message>& ms) {
  std::vector<std::string> v;
  for (const auto& m : ms) {
    Cas c;
    if (AsCas(m, c))
      v.push_back("cas " + std::to_string(c[0]) + " " + std::to_string(c[1]) + " " + std::to_string(c[2]) + " " +
                  std::to_string(c[3]));
    else if (IsSuccess(m))
      v.push_back("success");
    else if (ErrorOf(m) >= 0)
      v.push_back("error " + std::to_string(ErrorOf(m)));
  }
  return v;
}

// A controller's TCP connection, decoding what it receives.
class Controller {
 public:
  bool Connect(unsigned short port) { return client_.Connect(port); }
  void Close() { client_.Close(); }
  bool eof() { return client_.eof(); }
  bool Send(const LGCP::Message& m) { return client_.SendFrame(Encode(m)); }
  // Decodes every complete frame received so far.
  std::vector<LGCP::Message> Take() {
    std::vector<LGCP::Message> v;
    Bytes f;
    while (client_.TakeFrame(f)) {
      LGCP::Message m;
      EXPECT_TRUE(Decode(f, m)) << ctltest::Hex(f);
      v.push_back(m);
    }
    return v;
  }
  int fd() const { return client_.fd(); }

 private:
  ctltest::Client client_;
};

inline bool HasResponse(const std::vector<LGCP::Message>& ms) {
  for (const auto& m : ms)
    if (IsResponse(m)) return true;
  return false;
}

// A control server of the test's own with the services under test bound to
// it, reached by a controller over loopback TCP; the test's thread runs the
// event loop. Declare the services before the bench, so that they outlive
// the server.
class Bench {
 public:
  Bench() : acceptor_(new Control::AcceptorCheckConnection(0, false)) {}

  void Bind(CtrlSrv::Service* s) { server.Bind(s); }
  bool Start() { return server.Activate(acceptor_); }
  bool Connect() {
    if (!ctl.Connect(static_cast<unsigned short>(acceptor_->bound_port()))) return false;
    return loop.RunUntil([&] { return acceptor_->IsConnected(); });
  }
  bool Disconnect() {
    ctl.Close();
    return loop.RunUntil([&] { return !acceptor_->IsConnected(); });
  }
  // Sends a command and runs the loop until its response has come; returns
  // everything received meanwhile, in wire order.
  std::vector<LGCP::Message> Exchange(const LGCP::Message& m) {
    std::vector<LGCP::Message> got = Take();
    ctl.Send(m);
    loop.RunUntil([&] {
      for (auto& x : ctl.Take()) got.push_back(x);
      return HasResponse(got);
    });
    return got;
  }
  // Runs the loop until `n` messages have come, or `ms` of real time pass.
  std::vector<LGCP::Message> Receive(std::size_t n, unsigned ms = 3000) {
    std::vector<LGCP::Message> got;
    loop.RunUntil(
        [&] {
          for (auto& x : ctl.Take()) got.push_back(x);
          return got.size() >= n;
        },
        ms);
    return got;
  }
  // What has arrived so far, after a short run of the loop.
  std::vector<LGCP::Message> Take(unsigned ms = 20) {
    loop.RunFor(ms);
    return ctl.Take();
  }

  CtrlSrv::Server server;
  Controller ctl;
  ctltest::Loop loop;

 private:
  Control::AcceptorCheckConnection* acceptor_;
};

// The real daemon on the simulated board, with a controller and the
// simulator's control socket.
class DaemonBench {
 public:
  explicit DaemonBench(std::vector<std::string> extra = {}) {
    port_ = static_cast<unsigned short>(startup_test::freePort());
    std::vector<std::string> args = {"--port", std::to_string(port_)};
    args.insert(args.end(), extra.begin(), extra.end());
    daemon_.reset(new startup_test::Daemon(root_, args));
  }
  ~DaemonBench() {
    if (daemon_->running()) {
      daemon_->signal(SIGTERM);
      daemon_->wait(10000);
    }
  }

  // Waits for the daemon's loop and its listener.
  bool Ready() {
    return root_.loopRunning(20000) && startup_test::waitFor([&] {
             return startup_test::exists(root_ / "/run/tessarod-sim.sock");
           });
  }
  // Connects as the controller: a ping is answered; whatever came before the
  // answer (the signals of the connect) is kept for Received().
  bool Attach() {
    return startup_test::waitFor(
        [&] {
          received_.clear();
          if (!ctl.Connect(port_)) return false;
          ctl.Send(CommandMsg(9999, [](LGCP::Command& c) { c.select_ping(); }));
          return Wait([&](const std::vector<LGCP::Message>& ms) { return HasResponse(ms); }, 2000);
        },
        10000);
  }
  // Collects messages until `done` holds for what arrived since the last
  // Clear(), or `ms` pass.
  bool Wait(const std::function<bool(const std::vector<LGCP::Message>&)>& done, int ms = 5000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      for (auto& m : ctl.Take()) received_.push_back(m);
      if (done(received_)) return true;
      if (std::chrono::steady_clock::now() > deadline || ctl.eof()) return false;
      pollfd p{ctl.fd(), POLLIN, 0};
      ::poll(&p, 1, 20);
    }
  }
  const std::vector<LGCP::Message>& Received() const { return received_; }
  void Clear() { received_.clear(); }
  // Sends a command and waits for its response; true when it came.
  bool Command(int seq, const std::function<void(LGCP::Command&)>& fill, int ms = 5000) {
    ctl.Send(CommandMsg(seq, fill));
    return Wait(
        [seq](const std::vector<LGCP::Message>& ms) {
          for (const auto& m : ms)
            if (IsResponse(m) && m.seq_isPresent() && m.get_seq().getValue() == seq) return true;
          return false;
        },
        ms);
  }
  // One command line to the simulated board; its reply.
  std::string Sim(const std::string& line) {
    int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::string path = root_ / "/run/tessarod-sim.sock";
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    std::string reply;
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
      std::string l = line + "\n";
      if (::write(s, l.data(), l.size()) == ssize_t(l.size())) {
        char buf[4096];
        while (reply.find("ok\n") == std::string::npos && reply.find("error") == std::string::npos) {
          pollfd p{s, POLLIN, 0};
          if (::poll(&p, 1, 5000) <= 0) break;
          ssize_t n = ::read(s, buf, sizeof buf);
          if (n <= 0) break;
          reply.append(buf, size_t(n));
        }
      }
    }
    ::close(s);
    return reply;
  }
  startup_test::Daemon& daemon() { return *daemon_; }
  const startup_test::TempRoot& root() const { return root_; }

  Controller ctl;

 private:
  startup_test::TempRoot root_;
  unsigned short port_ = 0;
  std::unique_ptr<startup_test::Daemon> daemon_;
  std::vector<LGCP::Message> received_;
};

}  // namespace e1test
