// Recycled storage for value objects and their field tables. Decoding builds
// and drops many small objects of a few sizes; each thread keeps the freed
// blocks of each size (up to a bound) for the next allocation instead of
// returning them to malloc. Sanitizer builds allocate every block afresh so
// that use after free is still caught.
#ifndef TSD_ASN1_VALUES_POOL_H
#define TSD_ASN1_VALUES_POOL_H

#include <cstddef>
#include <new>

namespace ASN1 {
namespace detail {

void* poolAllocate(std::size_t n);
void poolFree(void* p, std::size_t n) noexcept;

// std::allocator's interface over the pool.
template <class T>
struct PoolAllocator {
    using value_type = T;
    PoolAllocator() = default;
    template <class U>
    PoolAllocator(PoolAllocator<U> const&) {}
    T* allocate(std::size_t n) { return static_cast<T*>(poolAllocate(n * sizeof(T))); }
    void deallocate(T* p, std::size_t n) noexcept { poolFree(p, n * sizeof(T)); }
    template <class U>
    bool operator==(PoolAllocator<U> const&) const { return true; }
    template <class U>
    bool operator!=(PoolAllocator<U> const&) const { return false; }
};

} // namespace detail
} // namespace ASN1

#endif
