// Result codes of the archive writer.
#pragma once

#include <cstdint>

namespace Zip {

enum Archive_Result : uint32_t {
  AR_OK = 0,
  AR_CANNOT_OPEN = 0x200,        // archive not created, or a source not opened or queried
  AR_WRITE_FAILED = 0x400,       // a header not written, or compressing or copying failed
  AR_BAD_ARGUMENT = 0x10000,     // no handle, or an empty or over-long entry name
  AR_ALREADY_FAILED = 0x40000,   // a write or seek error was recorded earlier
  AR_ALREADY_CLOSED = 0x50000,
  AR_SIZE_MISMATCH = 0x60000,    // a source yielded another count of bytes than its size said
  AR_WRONG_MODE = 0x80000,       // the handle is not in the creating mode
  AR_CANNOT_SEEK = 0x2000000,
  AR_DEFLATE_ERROR = 0x5000000,  // the compressor recorded an inconsistency
};

}  // namespace Zip
