// Storage for the reader's large arrays. A database run reads the same
// shapes frame after frame: freed arrays are kept and handed out again, so a
// new array neither zero-fills nor page-faults its memory anew. The reader's
// blocks and the set statistics' working arrays take their storage here.
#pragma once

#include <cstddef>
#include <new>
#include <utility>
#include <vector>

namespace odb_detail {

// Returns at least `bytes` bytes, from a kept array when one is large enough
// and at most twice as large, else from a new mapping. Kept arrays are
// released, largest first, when kept and in use together exceed the most
// ever in use.
void* poolTake(std::size_t bytes);
// Gives back what poolTake returned, for later calls to reuse.
void poolGive(void* p) noexcept;

// Arrays from 1 MiB up come from the pool; resize leaves new elements
// uninitialised, for arrays that a read fills whole.
template <class T>
struct PoolAllocator {
  using value_type = T;
  static constexpr std::size_t kPooled = std::size_t{1} << 20;
  PoolAllocator() = default;
  template <class U>
  PoolAllocator(const PoolAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (n * sizeof(T) >= kPooled) return static_cast<T*>(poolTake(n * sizeof(T)));
    return static_cast<T*>(::operator new(n * sizeof(T), std::align_val_t{alignof(std::max_align_t)}));
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if (n * sizeof(T) >= kPooled) poolGive(p);
    else ::operator delete(p, std::align_val_t{alignof(std::max_align_t)});
  }
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  template <class U>
  bool operator==(const PoolAllocator<U>&) const noexcept {
    return true;
  }
};

template <class T>
using Buffer = std::vector<T, PoolAllocator<T>>;

}  // namespace odb_detail
