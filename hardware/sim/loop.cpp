// Glue between the simulated board and the daemon's event loop: one Event
// watches the board's readiness descriptor and lets it serve what is
// pending; a paused control socket is resumed a second later; "clock <ms>"
// on the control socket moves the loop's clock.
#include <poll.h>
#include <unistd.h>

#include "hardware/sim/sim.h"
#include "runtime/loop/event.h"
#include "runtime/loop/timer.h"
#include "runtime/os/clock.h"
#include "runtime/os/fd.h"

namespace Sim {

namespace {

class LoopLink {
 public:
  explicit LoopLink(Board& b) : board_(b) {
    event_.Bind("Sim::Board", &LoopLink::OnReady, this);
    event_.Schedule(Fd(::dup(b.pollFd())), POLLIN);
  }
  void OnReady(int, short revents) {
    if (revents) board_.pump();
  }
  void RetryLater() { retry_.set(kRetryMs, &LoopLink::OnRetry, this); }
  void OnRetry() { board_.resumeControl(); }

 private:
  static constexpr unsigned kRetryMs = 1000;
  Board& board_;
  Event event_;
  Timer retry_;
};

}  // namespace

void attachToLoop(Board& b) {
  static LoopLink* link = new LoopLink(b);  // lives as long as the board
  b.setRetryHook([] { link->RetryLater(); });
  b.setClockHook([](unsigned ms) { Mux::advanceClock(ms); });
}

}  // namespace Sim
