// Per-thread free lists of small blocks.
#include "asn1/values/pool.h"

#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#define TSD_POOL_OFF 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define TSD_POOL_OFF 1
#endif
#endif

namespace ASN1 {
namespace detail {

namespace {

constexpr std::size_t Grain = 16;
constexpr std::size_t Classes = 16;   // blocks of 16 .. 256 bytes

std::size_t classOf(std::size_t n)
{
    return n == 0 ? 0 : (n - 1) / Grain;
}

void* fresh(std::size_t n)
{
    std::size_t const c = classOf(n);
    void* p = std::malloc(c < Classes ? (c + 1) * Grain : n);
    if (!p)
        throw std::bad_alloc();
    return p;
}

#ifndef TSD_POOL_OFF
constexpr unsigned KeptPerClass = 512;

struct Block {
    Block* next;
};

// Plain data: still usable while the thread's other objects are destroyed.
struct Lists {
    Block* head[Classes];
    unsigned count[Classes];
    bool closed;
};
thread_local Lists lists;

// Returns the kept blocks when the thread ends; blocks freed after that go
// straight back to malloc.
struct Closer {
    bool armed = false;
    ~Closer()
    {
        for (std::size_t c = 0; c < Classes; ++c) {
            while (Block* b = lists.head[c]) {
                lists.head[c] = b->next;
                std::free(b);
            }
            lists.count[c] = 0;
        }
        lists.closed = true;
    }
};
thread_local Closer closer;
#endif

} // namespace

#ifndef TSD_POOL_OFF
void* poolAllocate(std::size_t n)
{
    std::size_t const c = classOf(n);
    if (c < Classes && !lists.closed) {
        if (Block* b = lists.head[c]) {
            lists.head[c] = b->next;
            --lists.count[c];
            return b;
        }
        closer.armed = true;  // registers the thread's clean-up
    }
    return fresh(n);
}

void poolFree(void* p, std::size_t n) noexcept
{
    std::size_t const c = classOf(n);
    if (p && c < Classes && !lists.closed && lists.count[c] < KeptPerClass) {
        Block* b = static_cast<Block*>(p);
        b->next = lists.head[c];
        lists.head[c] = b;
        ++lists.count[c];
        return;
    }
    std::free(p);
}
#else
void* poolAllocate(std::size_t n)
{
    return fresh(n);
}

void poolFree(void* p, std::size_t) noexcept
{
    std::free(p);
}
#endif

} // namespace detail
} // namespace ASN1
