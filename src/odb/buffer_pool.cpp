// The pool behind Buffer: a few freed arrays, handed out best fit.
#include "odb/buffer_pool.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <unordered_map>

namespace odb_detail {

namespace {
struct Pool {
  std::mutex lock;
  std::multimap<std::size_t, void*> kept;          // size -> free array
  std::unordered_map<void*, std::size_t> inUse;    // array -> size
  std::size_t keptBytes = 0;

  void releaseKept() {
    for (auto& [size, p] : kept) std::free(p);
    kept.clear();
    keptBytes = 0;
  }
  ~Pool() { releaseKept(); }
};

Pool& pool() {
  static Pool p;
  return p;
}
}  // namespace

void* poolTake(std::size_t bytes) {
  Pool& p = pool();
  std::lock_guard guard(p.lock);
  auto it = p.kept.lower_bound(bytes);
  void* out = nullptr;
  std::size_t size = bytes;
  // A kept array more than twice as large would strand memory a later,
  // larger array could use.
  if (it != p.kept.end() && it->first / 2 <= bytes) {
    size = it->first;
    out = it->second;
    p.keptBytes -= size;
    p.kept.erase(it);
  } else {
    // Nothing fits: what is kept would only add to the memory in use.
    p.releaseKept();
    out = std::malloc(bytes);
    if (!out) throw std::bad_alloc();
  }
  p.inUse.emplace(out, size);
  return out;
}

void poolGive(void* ptr) noexcept {
  if (!ptr) return;
  Pool& p = pool();
  std::lock_guard guard(p.lock);
  const auto it = p.inUse.find(ptr);
  if (it == p.inUse.end()) return;
  const std::size_t size = it->second;
  p.inUse.erase(it);
  p.kept.emplace(size, ptr);
  p.keptBytes += size;
}

void poolRelease() noexcept {
  Pool& p = pool();
  std::lock_guard guard(p.lock);
  p.releaseKept();
}

std::size_t poolKeptBytes() noexcept {
  Pool& p = pool();
  std::lock_guard guard(p.lock);
  return p.keptBytes;
}

}  // namespace odb_detail
