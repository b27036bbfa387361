// A pool of fixed-size blocks carved from whole pages of the page allocator.
// It takes no lock of its own: its caller serialises. When the last live
// block is freed, every page goes back at once.
#pragma once

#include <cstddef>

namespace Core_Common {

// 64 bytes in the 32-bit build. The one record drawn from the pool (a timer)
// is mostly pointers and a std::function, which double in the 64-bit build,
// and so does the block there.
inline constexpr size_t kBlockSize = sizeof(void*) == 4 ? 64 : 128;
inline constexpr size_t kChunkSize = 4096;  // one page
inline constexpr size_t kBlocksPerChunk = kChunkSize / kBlockSize;

// Null when no page can be had.
void* block_alloc();
void block_free(void* block);

// Blocks handed out and not yet freed.
size_t live_blocks();

}  // namespace Core_Common
