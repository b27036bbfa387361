// Memory taken straight from the system's virtual memory, a page at a time.
// Requests below 64 KiB share 64 KiB reserved regions and commit only their
// pages; larger ones are committed on their own. The counters feed the
// crash log.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Core_Common {

inline constexpr size_t kPageSize = 4096;
inline constexpr size_t kRegionSize = 65536;
inline constexpr size_t kMaxPageRequest = 0x40000000;

struct Page_Stats {
  uint32_t region_count = 0;
  uint32_t region_bytes = 0;
  uint32_t free_pages = 0;
  uint32_t free_bytes = 0;
  uint32_t committed_bytes = 0;  // "commited_size"
  uint32_t large_bytes = 0;      // "notblock_size"
  uint32_t large_count = 0;      // "notblock_number"
};

// Null for size 0; throws std::bad_alloc when the system refuses. A size
// above 1 GiB, or a system whose page size or granularity differ from the
// constants above, is a fatal internal error.
void* page_alloc(size_t size);
// `size` is what was asked of page_alloc; size 0 does nothing.
void page_free(size_t size, void* address);
Page_Stats page_stats();
// For the crash log: without waiting, since the faulting thread may hold
// the lock. False, leaving `stats` alone, when it is held.
bool try_page_stats(Page_Stats& stats);

}  // namespace Core_Common
