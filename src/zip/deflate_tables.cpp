#include "zip/deflate_tables.h"

namespace Zip {

unsigned reverse_bits(unsigned code, int len) {
  unsigned result = 0;
  do {
    result |= code & 1;
    code >>= 1;
    result <<= 1;
  } while (--len > 0);
  return result >> 1;
}

void assign_codes(Code_Entry* tree, int max_code, const uint16_t* bl_count) {
  uint16_t next_code[kMaxBits + 1];
  unsigned code = 0;
  for (int bits = 1; bits <= kMaxBits; ++bits) {
    code = (code + bl_count[bits - 1]) << 1;
    next_code[bits] = static_cast<uint16_t>(code);
  }
  for (int n = 0; n <= max_code; ++n) {
    const int len = tree[n].len;
    if (len == 0) continue;
    tree[n].code = static_cast<uint16_t>(reverse_bits(next_code[len]++, len));
  }
}

namespace {

Deflate_Tables build_tables() {
  Deflate_Tables t{};
  int length = 0;
  int code = 0;
  for (code = 0; code < kLengthCodes - 1; ++code) {
    t.base_length[code] = length;
    for (int n = 0; n < (1 << kExtraLengthBits[code]); ++n) {
      t.length_code[length++] = static_cast<uint8_t>(code);
    }
  }
  if (length != 256 && !t.error) t.error = "ct_init: length != 256";
  // Length 258 has a code of its own: overwrite the last entry.
  t.length_code[255] = static_cast<uint8_t>(code);
  t.base_length[kLengthCodes - 1] = 255;

  int dist = 0;
  for (code = 0; code < 16; ++code) {
    t.base_dist[code] = dist;
    for (int n = 0; n < (1 << kExtraDistBits[code]); ++n) t.dist_code[dist++] = static_cast<uint8_t>(code);
  }
  if (dist != 256 && !t.error) t.error = "ct_init: dist != 256";
  dist >>= 7;  // from now on, all distances are divided by 128
  for (; code < kDCodes; ++code) {
    t.base_dist[code] = dist << 7;
    for (int n = 0; n < (1 << (kExtraDistBits[code] - 7)); ++n) {
      t.dist_code[256 + dist++] = static_cast<uint8_t>(code);
    }
  }
  if (dist != 256 && !t.error) t.error = "ct_init: 256+dist != 512";

  uint16_t bl_count[kMaxBits + 1] = {};
  int n = 0;
  while (n <= 143) t.static_ltree[n++].len = 8, bl_count[8]++;
  while (n <= 255) t.static_ltree[n++].len = 9, bl_count[9]++;
  while (n <= 279) t.static_ltree[n++].len = 7, bl_count[7]++;
  while (n <= 287) t.static_ltree[n++].len = 8, bl_count[8]++;
  assign_codes(t.static_ltree, kLCodes + 1, bl_count);
  for (n = 0; n < kDCodes; ++n) {
    t.static_dtree[n].len = 5;
    t.static_dtree[n].code = static_cast<uint16_t>(reverse_bits(n, 5));
  }
  return t;
}

}  // namespace

const Deflate_Tables& deflate_tables() {
  static const Deflate_Tables tables = build_tables();
  return tables;
}

}  // namespace Zip
