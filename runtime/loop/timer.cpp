#include "runtime/loop/timer.h"

#include <new>

#include "runtime/loop/multiplexer.h"
#include "runtime/os/clock.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define TSD_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define TSD_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define TSD_POISON(p, n) ((void)(p), (void)(n))
#define TSD_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace {

// The free blocks, most recently freed first (still warm in the cache).
// A block comes from the heap the first time the list is empty and is
// recycled from then on; it is never given back, so the list holds as
// many blocks as were ever pending at once. Constant-initialised: usable
// by timers armed during static initialisation.
//
// The link to the next free block sits in a block's last word; the rest of
// a free block is poisoned under the address sanitizer, so that a stale use
// of a destroyed event is caught (and the link stays visible to the leak
// checker).
const std::size_t kLinkAt = TimerEvent::kBlockSize - sizeof(void*);
void*& link(void* block) { return *reinterpret_cast<void**>(static_cast<char*>(block) + kLinkAt); }

void* g_free_blocks = nullptr;

}  // namespace

void* TimerEvent::operator new(std::size_t size) {
  if (size > kBlockSize) return ::operator new(size);
  void* b = g_free_blocks;
  if (!b) return ::operator new(kBlockSize);
  TSD_UNPOISON(b, kLinkAt);
  g_free_blocks = link(b);
  return b;
}

void TimerEvent::operator delete(void* p, std::size_t size) noexcept {
  if (!p) return;
  if (size > kBlockSize) {
    ::operator delete(p);
    return;
  }
  link(p) = g_free_blocks;
  g_free_blocks = p;
  TSD_POISON(p, kLinkAt);
}

TimerEvent::~TimerEvent() { reset(); }

void TimerEvent::schedule(unsigned int ms) {
  expiry = Mux::milliseconds() + ms;
  multiplexer.set(this);
}

void TimerEvent::reset() { multiplexer.reset(this); }

void Timer::reset() { delete Unbind(); }

unsigned int Timer::remaining() const {
  if (!event_) return 0;
  int d = static_cast<int>(event_->expiry - Mux::milliseconds());
  return d > 0 ? static_cast<unsigned int>(d) : 0u;
}
