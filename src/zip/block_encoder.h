// Collects the literals and matches of one Deflate block and writes the
// block stored, with the fixed codes or with dynamic Huffman codes,
// whichever is smallest.
#pragma once

#include <cstdint>
#include <memory>

#include "zip/bit_writer.h"
#include "zip/deflate_tables.h"

namespace Zip {

class Block_Encoder {
 public:
  static constexpr unsigned kLitBufSize = 0x8000;
  static constexpr unsigned kDistBufSize = 0x8000;

  Block_Encoder(Bit_Writer& out, int level);

  // Records a literal (dist 0, lc the byte) or a match (dist >= 1, lc =
  // length - 3). Returns true when the block should end now. `block_input`
  // is the count of input bytes the block covers so far.
  bool tally(unsigned dist, unsigned lc, long block_input);

  // Ends the block. `stored` points at its input when that is still in the
  // window (null otherwise); `eof` marks the last block.
  void flush_block(const uint8_t* stored, unsigned long stored_len, bool eof);

  // Compressed bits sent so far, the final block padded to a byte.
  uint64_t compressed_bits() const { return compressed_len_; }

  // The first inconsistency found, or null.
  const char* error() const { return error_; }

 private:
  struct Tree_Desc {
    Code_Entry* dyn_tree;
    const Code_Entry* static_tree;
    const uint8_t* extra_bits;
    int extra_base;
    int elems;
    int max_length;
    int max_code = 0;
  };

  void init_block();
  bool smaller(const Code_Entry* tree, const uint32_t* freq, int n, int m) const;
  void pq_down_heap(const uint32_t* freq, const Code_Entry* tree, int k);
  void gen_bit_lengths(Tree_Desc& desc, uint32_t* freq, uint16_t* dad);
  void build_tree(Tree_Desc& desc, uint32_t* freq);
  void scan_tree(Code_Entry* tree, int max_code);
  void send_tree(const Code_Entry* tree, int max_code);
  int build_bl_tree();
  void send_all_trees(int lcodes, int dcodes, int blcodes);
  void compress_block(const Code_Entry* ltree, const Code_Entry* dtree);
  void send_code(int c, const Code_Entry* tree) { out_.send_bits(tree[c].code, tree[c].len); }
  void fail(const char* text) {
    if (error_ == nullptr) error_ = text;
  }

  Bit_Writer& out_;
  const Deflate_Tables& tables_;
  const int level_;

  Code_Entry dyn_ltree_[kHeapSize];
  Code_Entry dyn_dtree_[2 * kDCodes + 1];
  Code_Entry bl_tree_[2 * kBlCodes + 1];
  uint32_t lfreq_[kHeapSize];
  uint32_t dfreq_[2 * kDCodes + 1];
  uint32_t blfreq_[2 * kBlCodes + 1];
  Tree_Desc l_desc_;
  Tree_Desc d_desc_;
  Tree_Desc bl_desc_;

  uint16_t bl_count_[kMaxBits + 1];
  int heap_[kHeapSize];
  int heap_len_ = 0;
  int heap_max_ = 0;
  uint8_t depth_[kHeapSize];

  // The symbols of the block: dist_ is 0 for a literal.
  std::unique_ptr<uint8_t[]> lc_buf_;
  std::unique_ptr<uint16_t[]> dist_buf_;
  unsigned last_lit_ = 0;
  unsigned last_dist_ = 0;

  uint64_t opt_len_ = 0;     // bits of the block with dynamic trees
  uint64_t static_len_ = 0;  // bits of the block with the fixed trees
  uint64_t compressed_len_ = 0;
  const char* error_ = nullptr;
};

}  // namespace Zip
