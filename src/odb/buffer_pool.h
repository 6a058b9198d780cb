// Storage for the reader's large arrays. A database run reads the same
// shapes frame after frame: freed arrays are kept and handed out again, so a
// new array neither zero-fills nor page-faults its memory anew. Each open
// database has its own pool (none in the plain-allocation mode of
// odb_OpenOptions); the reader's blocks and the program's working arrays
// for the set statistics take their storage from the pool of the database
// they came from. Every array holds its pool alive, so an array that
// outlives its database (a handle kept after close) stays valid.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace odb_detail {

// Kept arrays, handed out best fit. One pool may serve several threads at
// once (the program computes one block while it reads the next): it locks.
class ArrayPool {
 public:
  ArrayPool();
  ArrayPool(const ArrayPool&) = delete;
  ArrayPool& operator=(const ArrayPool&) = delete;
  ~ArrayPool();

  // Returns at least `bytes` bytes, from a kept array when one is large
  // enough and at most twice as large, else from a new mapping. Kept arrays
  // are released, largest first, when kept and in use together exceed the
  // most ever in use.
  void* take(std::size_t bytes);
  // Gives back what take returned, for later calls to reuse.
  void give(void* p) noexcept;
  // Bytes now kept for reuse, and now handed out (for tests).
  std::size_t keptBytes() const;
  std::size_t inUseBytes() const;

 private:
  struct State;
  mutable std::mutex lock_;
  std::unique_ptr<State> state_;
};

using PoolRef = std::shared_ptr<ArrayPool>;

// Arrays from 1 MiB up come from the pool; smaller ones, and all of them
// without a pool, from the heap. resize leaves new elements uninitialised,
// for arrays that a read fills whole. The allocator holds its pool, so a
// container keeps the pool alive as long as it owns memory from it.
template <class T>
struct PoolAllocator {
  using value_type = T;
  using propagate_on_container_copy_assignment = std::true_type;
  using propagate_on_container_move_assignment = std::true_type;
  using propagate_on_container_swap = std::true_type;
  static constexpr std::size_t kPooled = std::size_t{1} << 20;

  PoolRef pool;  // null: plain allocation

  PoolAllocator() = default;
  explicit PoolAllocator(PoolRef p) noexcept : pool(std::move(p)) {}
  template <class U>
  PoolAllocator(const PoolAllocator<U>& o) noexcept : pool(o.pool) {}

  T* allocate(std::size_t n) {
    if (pool && n * sizeof(T) >= kPooled) return static_cast<T*>(pool->take(n * sizeof(T)));
    return static_cast<T*>(::operator new(n * sizeof(T), std::align_val_t{alignof(std::max_align_t)}));
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if (pool && n * sizeof(T) >= kPooled) pool->give(p);
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
  bool operator==(const PoolAllocator<U>& o) const noexcept {
    return pool == o.pool;
  }
};

template <class T>
using Buffer = std::vector<T, PoolAllocator<T>>;

// An empty array that takes its storage from pool (null: the heap).
template <class T>
Buffer<T> bufferIn(const PoolRef& pool) {
  return Buffer<T>(PoolAllocator<T>(pool));
}

struct BlockData;
// The pool of the database a block came from; null for none or the plain mode.
PoolRef poolOf(const BlockData* block);

}  // namespace odb_detail
