// Constant tables of the Deflate format (RFC 1951) and the fixed Huffman
// codes, computed once.
#pragma once

#include <cstdint>

namespace Zip {

inline constexpr int kMaxBits = 15;       // longest code of the literal and distance trees
inline constexpr int kMaxBlBits = 7;      // longest code of the bit-length tree
inline constexpr int kLengthCodes = 29;
inline constexpr int kLiterals = 256;
inline constexpr int kEndBlock = 256;
inline constexpr int kLCodes = kLiterals + 1 + kLengthCodes;  // 286
inline constexpr int kDCodes = 30;
inline constexpr int kBlCodes = 19;
inline constexpr int kHeapSize = 2 * kLCodes + 1;

inline constexpr int kMinMatch = 3;
inline constexpr int kMaxMatch = 258;

// Repeat codes of the bit-length alphabet.
inline constexpr int kRep3To6 = 16;
inline constexpr int kRepZero3To10 = 17;
inline constexpr int kRepZero11To138 = 18;

inline constexpr uint8_t kExtraLengthBits[kLengthCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1,
                                                           1, 1, 2, 2, 2, 2, 3, 3, 3, 3,
                                                           4, 4, 4, 4, 5, 5, 5, 5, 0};
inline constexpr uint8_t kExtraDistBits[kDCodes] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,
                                                    4, 4, 5, 5, 6, 6, 7,  7,  8,  8,
                                                    9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
inline constexpr uint8_t kExtraBlBits[kBlCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                   0, 0, 0, 0, 0, 0, 2, 3, 7};
// Order in which the bit-length code lengths are sent.
inline constexpr uint8_t kBlOrder[kBlCodes] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                               11, 4,  12, 3, 13, 2, 14, 1, 15};

struct Code_Entry {
  uint16_t code = 0;
  uint16_t len = 0;
};

struct Deflate_Tables {
  uint8_t length_code[256];   // match length - 3 -> length code
  uint8_t dist_code[512];     // see dist_code_of()
  int base_length[kLengthCodes];
  int base_dist[kDCodes];
  Code_Entry static_ltree[kLCodes + 2];
  Code_Entry static_dtree[kDCodes];
  // The first inconsistency found while building, or null.
  const char* error = nullptr;

  // Distance code of a distance minus one.
  int dist_code_of(unsigned dist) const {
    return dist < 256 ? dist_code[dist] : dist_code[256 + (dist >> 7)];
  }
};

const Deflate_Tables& deflate_tables();

// Reverses the low `len` bits of `code`.
unsigned reverse_bits(unsigned code, int len);

// Assigns canonical codes to a tree whose lengths are set, given the count
// of codes of each length.
void assign_codes(Code_Entry* tree, int max_code, const uint16_t* bl_count);

}  // namespace Zip
