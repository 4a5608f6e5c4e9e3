// Glue between the simulated board and the daemon's event loop: one Event
// watches the board's readiness descriptor and lets it serve what is
// pending; "clock <ms>" on the control socket moves the loop's clock.
#include <poll.h>
#include <unistd.h>

#include "hardware/sim/sim.h"
#include "runtime/loop/event.h"
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

 private:
  Board& board_;
  Event event_;
};

}  // namespace

void attachToLoop(Board& b) {
  static LoopLink* link = new LoopLink(b);  // lives as long as the board
  (void)link;
  b.setClockHook([](unsigned ms) { Mux::advanceClock(ms); });
}

}  // namespace Sim
