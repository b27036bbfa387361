#include "system/page_allocator.h"

#include <windows.h>

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

#include "base/fatal_error.h"

namespace Core_Common {

namespace {

constexpr size_t kPagesPerRegion = kRegionSize / kPageSize;

struct Region {
  uintptr_t base;
  std::vector<uintptr_t> free_pages;  // reserved, not committed; ascending
};

struct Allocator {
  std::mutex lock;
  std::vector<Region> regions;
  uint32_t committed_bytes = 0;
  uint32_t large_bytes = 0;
  uint32_t large_count = 0;
};

Allocator& allocator() {
  static Allocator instance;
  return instance;
}

void check_system_sizes() {
  static const bool sizes_ok = [] {
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    return info.dwPageSize == kPageSize && info.dwAllocationGranularity == kRegionSize;
  }();
  if (!sizes_ok) Core_Common::raise_fatal_error();
}

size_t round_to_pages(size_t size) { return (size + kPageSize - 1) & ~(kPageSize - 1); }

void* commit(uintptr_t address, size_t size) {
  return ::VirtualAlloc(reinterpret_cast<void*>(address), size, MEM_COMMIT, PAGE_READWRITE);
}

// Under the lock: n consecutive free pages of an existing region, or a new
// region. Null when the system refuses.
void* allocate_small(Allocator& a, size_t size) {
  const size_t n = size / kPageSize;
  for (Region& region : a.regions) {
    if (region.free_pages.size() < n) continue;
    size_t run_start = 0;
    for (size_t i = 0; i < region.free_pages.size(); ++i) {
      if (i > 0 && region.free_pages[i] != region.free_pages[i - 1] + kPageSize) run_start = i;
      if (i - run_start + 1 == n) {
        const uintptr_t first = region.free_pages[run_start];
        if (commit(first, size) == nullptr) return nullptr;
        region.free_pages.erase(region.free_pages.begin() + run_start,
                                region.free_pages.begin() + run_start + n);
        return reinterpret_cast<void*>(first);
      }
    }
  }

  void* base = ::VirtualAlloc(nullptr, kRegionSize, MEM_RESERVE, PAGE_READWRITE);
  if (base == nullptr) return nullptr;
  if (commit(reinterpret_cast<uintptr_t>(base), size) == nullptr) {
    ::VirtualFree(base, 0, MEM_RELEASE);
    return nullptr;
  }
  Region region{reinterpret_cast<uintptr_t>(base), {}};
  for (size_t page = n; page < kPagesPerRegion; ++page) {
    region.free_pages.push_back(region.base + page * kPageSize);
  }
  a.regions.push_back(std::move(region));
  return base;
}

}  // namespace

void* page_alloc(size_t size) {
  check_system_sizes();
  if (size > kMaxPageRequest) Core_Common::raise_fatal_error();
  if (size == 0) return nullptr;
  size = round_to_pages(size);
  Allocator& a = allocator();

  if (size < kRegionSize) {
    std::lock_guard<std::mutex> hold(a.lock);
    void* p = allocate_small(a, size);
    if (p == nullptr) throw std::bad_alloc();
    a.committed_bytes += static_cast<uint32_t>(size);
    return p;
  }

  void* p = ::VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (p == nullptr) throw std::bad_alloc();
  std::lock_guard<std::mutex> hold(a.lock);
  a.large_bytes += static_cast<uint32_t>(size);
  ++a.large_count;
  return p;
}

void page_free(size_t size, void* address) {
  if (size == 0 || address == nullptr) return;
  size = round_to_pages(size);
  Allocator& a = allocator();

  if (size >= kRegionSize) {
    // Refused for an address that is no live allocation (freed twice):
    // the counters stay as they are.
    if (!::VirtualFree(address, 0, MEM_RELEASE)) return;
    std::lock_guard<std::mutex> hold(a.lock);
    a.large_bytes -= static_cast<uint32_t>(size);
    --a.large_count;
    return;
  }

  const uintptr_t first = reinterpret_cast<uintptr_t>(address);
  if (first % kPageSize != 0) return;  // no address page_alloc gave
  std::lock_guard<std::mutex> hold(a.lock);
  const auto region = std::find_if(a.regions.begin(), a.regions.end(), [&](const Region& r) {
    return first >= r.base && first + size <= r.base + kRegionSize;
  });
  if (region == a.regions.end()) return;  // not ours: leave it alone
  // A page that is free already was freed twice: the whole call is ignored,
  // so the free list never holds a page twice and the counters stay true.
  auto& free_pages = region->free_pages;
  const auto taken = std::lower_bound(free_pages.begin(), free_pages.end(), first);
  if (taken != free_pages.end() && *taken < first + size) return;
  ::VirtualFree(address, size, MEM_DECOMMIT);
  for (uintptr_t page = first; page < first + size; page += kPageSize) {
    auto& pages = region->free_pages;
    pages.insert(std::lower_bound(pages.begin(), pages.end(), page), page);
  }
  a.committed_bytes -= static_cast<uint32_t>(size);
  if (region->free_pages.size() == kPagesPerRegion) {
    ::VirtualFree(reinterpret_cast<void*>(region->base), 0, MEM_RELEASE);
    a.regions.erase(region);
  }
}

namespace {

Page_Stats count_pages(const Allocator& a) {
  Page_Stats s;
  s.region_count = static_cast<uint32_t>(a.regions.size());
  s.region_bytes = s.region_count * kRegionSize;
  for (const Region& r : a.regions) s.free_pages += static_cast<uint32_t>(r.free_pages.size());
  s.free_bytes = s.free_pages * kPageSize;
  s.committed_bytes = a.committed_bytes;
  s.large_bytes = a.large_bytes;
  s.large_count = a.large_count;
  return s;
}

}  // namespace

Page_Stats page_stats() {
  Allocator& a = allocator();
  std::lock_guard<std::mutex> hold(a.lock);
  return count_pages(a);
}

bool try_page_stats(Page_Stats& stats) {
  Allocator& a = allocator();
  std::unique_lock<std::mutex> hold(a.lock, std::try_to_lock);
  if (!hold.owns_lock()) return false;
  stats = count_pages(a);
  return true;
}

}  // namespace Core_Common
