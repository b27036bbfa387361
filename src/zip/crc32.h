// CRC-32 of ISO 3309 / ITU-T V.42 as ZIP uses it: reflected polynomial
// 0xEDB88320, initial value and final XOR all ones.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Zip {

// Continues a CRC: pass 0 to start, and the previous result to go on.
uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t size);

}  // namespace Zip
