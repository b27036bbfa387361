// A pool of 64-byte blocks carved from whole pages of the page allocator.
// It takes no lock of its own: its caller serialises. When the last live
// block is freed, every page goes back at once.
#pragma once

#include <cstddef>

namespace Core_Crash {

inline constexpr size_t kBlockSize = 64;

// Null when no page can be had.
void* block_alloc();
void block_free(void* block);

// Blocks handed out and not yet freed.
size_t live_blocks();

}  // namespace Core_Crash
