// The Deflate compressor (RFC 1951): a 32 KB sliding window in a 64 KB
// buffer, hash chains over three-byte strings, and lazy match evaluation at
// levels 4 to 8 (greedy matching at 1 to 3).
#pragma once

#include <cstdint>
#include <string>

#include "zip/deflate_io.h"

namespace Zip {

struct Deflate_Result {
  bool ok = false;
  uint64_t compressed_size = 0;
  // General-purpose flag bits of a ZIP entry for this level: 2 at 8, 4 at
  // 2 or less, 0 otherwise.
  uint16_t entry_flags = 0;
  // Why it failed: a consistency text of the compressor, or that the sink
  // refused the output.
  std::string error;
};

inline constexpr int kZipDeflateLevel = 8;

// Compresses everything `source` yields into one raw Deflate stream ending
// with a final block.
Deflate_Result deflate_stream(Deflate_Source& source, Deflate_Sink& sink, int level);

}  // namespace Zip
