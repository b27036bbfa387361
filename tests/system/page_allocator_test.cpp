#include "system/page_allocator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace Core_Common {
namespace {

constexpr size_t K = 1024;

TEST(PageAllocator, SmallRequestsFillARegionThenReserveAnother) {
  const Page_Stats before = page_stats();
  void* a = page_alloc(8 * K);
  void* b = page_alloc(8 * K);
  void* c = page_alloc(48 * K);
  Page_Stats s = page_stats();
  EXPECT_EQ(s.region_count, before.region_count + 1);
  EXPECT_EQ(s.free_pages, before.free_pages);  // the region is full
  EXPECT_EQ(s.committed_bytes, before.committed_bytes + 64 * K);
  std::memset(c, 0xAB, 48 * K);  // committed and writable

  void* d = page_alloc(4 * K);
  s = page_stats();
  EXPECT_EQ(s.region_count, before.region_count + 2);
  EXPECT_EQ(s.region_bytes, s.region_count * 64 * K);
  EXPECT_EQ(s.free_pages, before.free_pages + 15);

  for (auto [p, n] : {std::pair{a, 8 * K}, {b, 8 * K}, {c, 48 * K}, {d, 4 * K}}) page_free(n, p);
  s = page_stats();
  EXPECT_EQ(s.region_count, before.region_count);
  EXPECT_EQ(s.committed_bytes, before.committed_bytes);
}

TEST(PageAllocator, AFreedMiddlePageIsNotUsedForALargerRun) {
  ASSERT_EQ(page_stats().region_count, 0u) << "needs a process of its own";
  auto* a = static_cast<uint8_t*>(page_alloc(4 * K));
  auto* b = static_cast<uint8_t*>(page_alloc(4 * K));
  auto* c = static_cast<uint8_t*>(page_alloc(4 * K));
  EXPECT_EQ(b, a + 4 * K);
  EXPECT_EQ(c, a + 8 * K);
  page_free(4 * K, b);
  auto* d = static_cast<uint8_t*>(page_alloc(8 * K));
  EXPECT_EQ(d, a + 12 * K);  // the first two consecutive free pages
  auto* e = static_cast<uint8_t*>(page_alloc(4 * K));
  EXPECT_EQ(e, b);  // the gap serves a single page
  for (uint8_t* p : {a, c, e}) page_free(4 * K, p);
  page_free(8 * K, d);
  EXPECT_EQ(page_stats().region_count, 0u);
}

TEST(PageAllocator, SixtyFourKibibytesIsALargeAllocation) {
  const Page_Stats before = page_stats();
  void* p = page_alloc(64 * K);
  Page_Stats s = page_stats();
  EXPECT_EQ(s.region_count, before.region_count);
  EXPECT_EQ(s.large_count, before.large_count + 1);
  EXPECT_EQ(s.large_bytes, before.large_bytes + 64 * K);
  page_free(64 * K, p);
  s = page_stats();
  EXPECT_EQ(s.large_count, before.large_count);
  EXPECT_EQ(s.large_bytes, before.large_bytes);
  EXPECT_EQ(page_alloc(0), nullptr);
  page_free(0, nullptr);
}

TEST(PageAllocator, ASecondFreeOfTheSamePagesChangesNothing) {
  ASSERT_EQ(page_stats().region_count, 0u) << "needs a process of its own";
  const Page_Stats before = page_stats();
  void* a = page_alloc(4 * K);
  void* b = page_alloc(8 * K);
  page_free(4 * K, a);
  const Page_Stats once = page_stats();
  page_free(4 * K, a);
  page_free(8 * K, a);  // overlaps the freed page and a live one
  page_free(4 * K, static_cast<uint8_t*>(b) + 1);  // no page's start
  const Page_Stats twice = page_stats();
  EXPECT_EQ(twice.free_pages, once.free_pages);
  EXPECT_EQ(twice.committed_bytes, once.committed_bytes);
  // The freed page is handed out once, not twice.
  void* c = page_alloc(4 * K);
  void* d = page_alloc(4 * K);
  EXPECT_EQ(c, a);
  EXPECT_NE(d, a);
  for (void* p : {c, d}) page_free(4 * K, p);
  page_free(8 * K, b);
  EXPECT_EQ(page_stats().committed_bytes, before.committed_bytes);
}

}  // namespace
}  // namespace Core_Common
