// The Deflate compressor (RFC 1951): matches from the window of a
// Match_Finder, lazy match evaluation at levels 4 to 8 (greedy matching at
// 1 to 3), blocks from a Block_Encoder.
#pragma once

#include <cstdint>
#include <string>

#include "zip/deflate_io.h"
#include "zip/match_finder.h"

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
// with a final block. The output does not depend on `search`.
Deflate_Result deflate_stream(Deflate_Source& source, Deflate_Sink& sink, int level,
                              Match_Search search = Match_Search::skip_by_long_key);

}  // namespace Zip
