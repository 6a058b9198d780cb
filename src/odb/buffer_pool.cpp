// The pool behind Buffer: a few freed arrays, handed out best fit.
//
// A fresh array is mapped on its own, aligned to 2 MiB, asked to be backed
// by huge pages and populated in one call: faulting a few hundred megabytes
// in 4 KiB pages, one trap each, cost a large run more than reading its
// data. Only whole 2 MiB pieces get huge pages: an array is rounded up to
// one when that adds at most a quarter to it, otherwise its tail gets small
// pages and costs no more than it holds. Each array is a mapping of its
// own, so one the pool lets go of leaves no hole in the heap.
#include "odb/buffer_pool.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <mutex>
#include <unordered_map>

namespace odb_detail {

namespace {
constexpr std::size_t kHuge = std::size_t{2} << 20;
constexpr std::size_t kPage = 4096;

void* mapArray(std::size_t size) {
  // Over-map by one huge page and trim both ends to an aligned range.
  char* raw = static_cast<char*>(mmap(nullptr, size + kHuge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const std::size_t head = (kHuge - reinterpret_cast<std::uintptr_t>(raw) % kHuge) % kHuge;
  if (head > 0) munmap(raw, head);
  munmap(raw + head + size, kHuge - head);
  char* out = raw + head;
  // Advice only: a kernel without huge pages or populate still maps the array.
  madvise(out, size, MADV_HUGEPAGE);
#ifdef MADV_POPULATE_WRITE
  madvise(out, size, MADV_POPULATE_WRITE);
#endif
  return out;
}

}  // namespace

struct ArrayPool::State {
  std::multimap<std::size_t, void*> kept;        // size -> free array
  std::unordered_map<void*, std::size_t> inUse;  // array -> size
  std::size_t keptBytes = 0, inUseBytes = 0, mostInUse = 0;

  // Unmaps kept arrays, largest first, until what is kept and what is in use
  // together is no more than the most ever in use: the pool never holds
  // more than a run needed at its peak, and kept arrays of sizes that never
  // come back cannot pile up.
  void trim() {
    while (!kept.empty() && keptBytes + inUseBytes > mostInUse) {
      const auto last = std::prev(kept.end());
      munmap(last->second, last->first);
      keptBytes -= last->first;
      kept.erase(last);
    }
  }
};

ArrayPool::ArrayPool() : state_(std::make_unique<State>()) {}

// No array can still be in use here: each holds the pool alive.
ArrayPool::~ArrayPool() {
  for (auto& [size, p] : state_->kept) munmap(p, size);
}

// The mapped size of an array of `bytes`.
static std::size_t mappedSize(std::size_t bytes) {
  const std::size_t huge = (bytes + kHuge - 1) / kHuge * kHuge;
  return huge - bytes <= bytes / 4 ? huge : (bytes + kPage - 1) / kPage * kPage;
}

void* ArrayPool::take(std::size_t bytes) {
  std::lock_guard guard(lock_);
  State& p = *state_;
  const std::size_t size = mappedSize(bytes);
  auto it = p.kept.lower_bound(size);
  void* out = nullptr;
  std::size_t got = size;
  // A kept array more than twice as large would strand memory a later,
  // larger array could use.
  if (it != p.kept.end() && it->first / 2 <= size) {
    out = it->second;
    got = it->first;
    p.keptBytes -= got;
    p.kept.erase(it);
  } else {
    out = mapArray(size);
  }
  p.inUse.emplace(out, got);
  p.inUseBytes += got;
  p.mostInUse = std::max(p.mostInUse, p.inUseBytes);
  p.trim();
  return out;
}

void ArrayPool::give(void* ptr) noexcept {
  if (!ptr) return;
  std::lock_guard guard(lock_);
  State& p = *state_;
  const auto it = p.inUse.find(ptr);
  if (it == p.inUse.end()) return;
  p.kept.emplace(it->second, ptr);
  p.keptBytes += it->second;
  p.inUseBytes -= it->second;
  p.inUse.erase(it);
}

std::size_t ArrayPool::keptBytes() const {
  std::lock_guard guard(lock_);
  return state_->keptBytes;
}

std::size_t ArrayPool::inUseBytes() const {
  std::lock_guard guard(lock_);
  return state_->inUseBytes;
}

}  // namespace odb_detail
