#include "system/block_pool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "system/page_allocator.h"

namespace Core_Common {
namespace {

constexpr size_t K = 1024;

TEST(BlockPool, FreeingTheLastLiveBlockReleasesEveryChunk) {
  const Page_Stats before = page_stats();
  void* first = block_alloc();
  void* second = block_alloc();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(static_cast<uint8_t*>(second), static_cast<uint8_t*>(first) + kBlockSize);
  EXPECT_EQ(page_stats().committed_bytes, before.committed_bytes + 4 * K);

  // A second chunk once the first is used up.
  std::vector<void*> more;
  for (size_t i = 0; i < kBlocksPerChunk; ++i) more.push_back(block_alloc());
  EXPECT_EQ(page_stats().committed_bytes, before.committed_bytes + 8 * K);
  EXPECT_EQ(live_blocks(), kBlocksPerChunk + 2);

  for (void* p : more) block_free(p);
  block_free(second);
  EXPECT_EQ(page_stats().committed_bytes, before.committed_bytes + 8 * K);
  block_free(first);
  EXPECT_EQ(live_blocks(), 0u);
  EXPECT_EQ(page_stats().committed_bytes, before.committed_bytes);

  void* fresh = block_alloc();
  EXPECT_NE(fresh, nullptr);
  EXPECT_EQ(page_stats().committed_bytes, before.committed_bytes + 4 * K);
  block_free(fresh);
}

TEST(BlockPool, AFreeWithNoLiveBlockLeavesTheCountAtZero) {
  void* block = block_alloc();
  block_free(block);
  block_free(block);
  EXPECT_EQ(live_blocks(), 0u);
  // The count did not wrap: the next block starts a fresh chunk and its
  // free releases it again.
  const Page_Stats before = page_stats();
  void* fresh = block_alloc();
  EXPECT_EQ(live_blocks(), 1u);
  block_free(fresh);
  EXPECT_EQ(page_stats().committed_bytes, before.committed_bytes);
}

}  // namespace
}  // namespace Core_Common
