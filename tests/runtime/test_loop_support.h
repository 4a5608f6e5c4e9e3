#pragma once
// Helpers shared by the runtime tests: stream capture, temp root folders and
// a guard that keeps the loop from hanging.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "runtime/loop/dpc.h"
#include "runtime/loop/event.h"
#include "runtime/loop/multiplexer.h"
#include "runtime/loop/timer.h"
#include "runtime/os/fd.h"
#include "runtime/os/paths.h"

// Redirects a standard stream into a string while alive.
class StreamCapture {
 public:
  explicit StreamCapture(std::ostream& os) : os_(os), old_(os.rdbuf(buf_.rdbuf())) {}
  ~StreamCapture() { os_.rdbuf(old_); }
  std::string text() const { return buf_.str(); }

 private:
  std::ostream& os_;
  std::ostringstream buf_;
  std::streambuf* old_;
};

// A fresh folder set as $TESSAROD_ROOT while alive.
class TempRoot {
 public:
  TempRoot() {
    char tmpl[] = "/tmp/tsd-rt-XXXXXX";
    const char* d = ::mkdtemp(tmpl);
    path_ = d ? d : "/tmp";
    ::setenv("TESSAROD_ROOT", path_.c_str(), 1);
    RootPath::reload();
  }
  ~TempRoot() {
    std::string cmd = "rm -rf '" + path_ + "'";
    if (std::system(cmd.c_str()) != 0) {
    }
    ::unsetenv("TESSAROD_ROOT");
    RootPath::reload();
  }
  const std::string& path() const { return path_; }
  std::string file(const std::string& abs) const { return path_ + abs; }
  void mkdirs(const std::string& abs) const {
    std::string cmd = "mkdir -p '" + path_ + abs + "'";
    if (std::system(cmd.c_str()) != 0) {
    }
  }

 private:
  std::string path_;
};

inline std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// A pipe whose two ends close with it; flags as for pipe2.
struct Pipe {
  explicit Pipe(int flags = 0) {
    int p[2];
    if (::pipe2(p, flags) == 0) {
      rd = Fd(p[0]);
      wr = Fd(p[1]);
    }
  }
  // Makes the read end ready.
  bool fill() { return ::write(wr.lowlevel_fd(), "x", 1) == 1; }
  Fd rd, wr;
};

// Stops the loop without the rest of the pass waiting in its poll: after
// the due timers it arms a 0 ms timer, so the poll returns at once.
class LoopStopper {
 public:
  LoopStopper() { wake_.Bind(this, &LoopStopper::Wake); }
  void stop() {
    multiplexer.terminate();
    wake_.Activate();
  }

 private:
  void Wake() {
    wake_.Deactivate();
    due_.set(0, &LoopStopper::Idle, this);
  }
  void Idle() {}
  Dpc wake_;
  Timer due_;
};

// Runs one pass of the loop: the timers due on its clock fire, and the
// pass's poll returns at once.
inline void runOnePass() {
  LoopStopper stopper;
  Dpc stop;
  stop.Bind(&stopper, &LoopStopper::stop);
  stop.Activate();
  multiplexer.run(false, true);
}

// Stops the loop after a real-time limit so that a broken test fails
// instead of hanging.
class LoopDeadline {
 public:
  explicit LoopDeadline(unsigned int ms) { t_.set(ms, &LoopDeadline::OnExpire, this); }
  bool expired() const { return expired_; }

 private:
  void OnExpire() {
    expired_ = true;
    stopper_.stop();
  }
  Timer t_;
  LoopStopper stopper_;
  bool expired_ = false;
};

// Stops the loop at the n-th deferred-call run (two runs per pass); that
// pass still polls but serves nothing, so with 3 the handlers are served
// exactly once. A ready descriptor keeps the passes going without waiting;
// with `ready` false it stays idle.
struct StopAfterRuns {
  explicit StopAfterRuns(int n, bool ready = true) : left(n) {
    dpc.Bind(this, &StopAfterRuns::Run);
    dpc.Activate();
    if (ready && !idle.fill()) ADD_FAILURE();
    idle_ev.Schedule(idle.rd, POLLIN);
  }
  void Run() {
    if (--left == 0) {
      multiplexer.terminate();
      dpc.Deactivate();
    }
  }
  int left;
  Dpc dpc;
  Pipe idle;
  Event idle_ev;
};
