#include "system/block_pool.h"

#include <cstdint>
#include <new>
#include <vector>

#include "base/fatal_error.h"
#include "system/page_allocator.h"

namespace Core_Common {

namespace {

static_assert(kChunkSize == kPageSize, "a chunk is one page of the page allocator");

struct Free_Block {
  Free_Block* next;
};

struct Pool {
  std::vector<void*> chunks;
  Free_Block* free_list = nullptr;
  size_t live = 0;
};

Pool& pool() {
  static Pool instance;
  return instance;
}

// The block size is a build-time constant here; the check stays so that a
// change of it cannot go unnoticed.
void check_block_size() {
  static_assert(kBlockSize >= sizeof(Free_Block), "a free block holds its link");
  if (kBlockSize != (sizeof(void*) == 4 ? 64 : 128)) Core_Common::raise_fatal_error();
}

}  // namespace

void* block_alloc() {
  check_block_size();
  Pool& p = pool();
  ++p.live;
  if (p.free_list == nullptr) {
    void* chunk = nullptr;
    try {
      p.chunks.reserve(p.chunks.size() + 1);
      chunk = page_alloc(kPageSize);
    } catch (const std::bad_alloc&) {
      --p.live;
      return nullptr;
    }
    p.chunks.push_back(chunk);
    // Thread the blocks in address order: the lowest comes out first.
    auto* bytes = static_cast<uint8_t*>(chunk);
    for (size_t i = kBlocksPerChunk; i-- > 0;) {
      auto* block = reinterpret_cast<Free_Block*>(bytes + i * kBlockSize);
      block->next = p.free_list;
      p.free_list = block;
    }
  }
  Free_Block* block = p.free_list;
  p.free_list = block->next;
  return block;
}

void block_free(void* block) {
  check_block_size();
  Pool& p = pool();
  // Nothing is handed out: a caller's second free, ignored.
  if (block == nullptr || p.live == 0) return;
  if (--p.live == 0) {
    for (void* chunk : p.chunks) page_free(kPageSize, chunk);
    p.chunks.clear();
    p.free_list = nullptr;
    return;
  }
  auto* freed = static_cast<Free_Block*>(block);
  freed->next = p.free_list;
  p.free_list = freed;
}

size_t live_blocks() { return pool().live; }

}  // namespace Core_Common
