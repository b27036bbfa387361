#include "zip/block_encoder.h"

#include <algorithm>
#include <iterator>

namespace Zip {

namespace {

constexpr int kStoredBlock = 0;
constexpr int kStaticTrees = 1;
constexpr int kDynTrees = 2;
constexpr int kSmallest = 1;  // heap index of the least frequent node

// How long the next run of equal code lengths may grow, and how long it
// must be to use a repeat code, given the length that ended the last run.
void set_run_limits(int curlen, int nextlen, int& max_count, int& min_count) {
  if (nextlen == 0) {
    max_count = 138, min_count = 3;
  } else if (curlen == nextlen) {
    max_count = 6, min_count = 3;
  } else {
    max_count = 7, min_count = 4;
  }
}

}  // namespace

Block_Encoder::Block_Encoder(Bit_Writer& out, int level)
    : out_(out),
      tables_(deflate_tables()),
      level_(level),
      lc_buf_(std::make_unique<uint8_t[]>(kLitBufSize)),
      dist_buf_(std::make_unique<uint16_t[]>(kLitBufSize)) {
  l_desc_ = {dyn_ltree_, tables_.static_ltree, kExtraLengthBits, kLiterals + 1, kLCodes, kMaxBits};
  d_desc_ = {dyn_dtree_, tables_.static_dtree, kExtraDistBits, 0, kDCodes, kMaxBits};
  bl_desc_ = {bl_tree_, nullptr, kExtraBlBits, 0, kBlCodes, kMaxBlBits};
  if (tables_.error) fail(tables_.error);
  init_block();
}

void Block_Encoder::init_block() {
  std::fill(std::begin(lfreq_), std::end(lfreq_), 0u);
  std::fill(std::begin(dfreq_), std::end(dfreq_), 0u);
  std::fill(std::begin(blfreq_), std::end(blfreq_), 0u);
  lfreq_[kEndBlock] = 1;
  opt_len_ = static_len_ = 0;
  last_lit_ = last_dist_ = 0;
}

bool Block_Encoder::tally(unsigned dist, unsigned lc, long block_input) {
  lc_buf_[last_lit_] = static_cast<uint8_t>(lc);
  if (dist == 0) {
    lfreq_[lc]++;
    dist_buf_[last_lit_] = 0;
  } else {
    --dist;  // now the match distance - 1
    const int dcode = tables_.dist_code_of(dist);
    if (dist >= 32768 || lc > kMaxMatch - kMinMatch || dcode >= kDCodes) {
      fail("ct_tally: bad match");
      return false;
    }
    lfreq_[tables_.length_code[lc] + kLiterals + 1]++;
    dfreq_[dcode]++;
    dist_buf_[last_lit_] = static_cast<uint16_t>(dist + 1);
    ++last_dist_;
  }
  ++last_lit_;

  // End the block early when it compresses well and is mostly literals:
  // a fresh set of codes may then pay off.
  if (level_ > 2 && (last_lit_ & 0xfff) == 0) {
    uint64_t out_length = static_cast<uint64_t>(last_lit_) * 8;
    const uint64_t in_length = static_cast<uint64_t>(block_input);
    for (int dcode = 0; dcode < kDCodes; ++dcode) {
      out_length += static_cast<uint64_t>(dfreq_[dcode]) * (5 + kExtraDistBits[dcode]);
    }
    out_length >>= 3;
    if (last_dist_ < last_lit_ / 2 && out_length < in_length / 2) return true;
  }
  return last_lit_ == kLitBufSize - 1 || last_dist_ == kDistBufSize;
}

// Orders heap nodes by frequency, then by depth so that trees stay shallow.
bool Block_Encoder::smaller(const Code_Entry*, const uint32_t* freq, int n, int m) const {
  return freq[n] < freq[m] || (freq[n] == freq[m] && depth_[n] <= depth_[m]);
}

void Block_Encoder::pq_down_heap(const uint32_t* freq, const Code_Entry* tree, int k) {
  const int v = heap_[k];
  int j = k << 1;
  while (j <= heap_len_) {
    if (j < heap_len_ && smaller(tree, freq, heap_[j + 1], heap_[j])) ++j;
    if (smaller(tree, freq, v, heap_[j])) break;
    heap_[k] = heap_[j];
    k = j;
    j <<= 1;
  }
  heap_[k] = v;
}

// Sets the code lengths from the tree's shape, limited to max_length, and
// adds the block's size under these lengths to opt_len_ and static_len_.
void Block_Encoder::gen_bit_lengths(Tree_Desc& desc, uint32_t* freq, uint16_t* dad) {
  Code_Entry* tree = desc.dyn_tree;
  const int max_code = desc.max_code;
  const int max_length = desc.max_length;
  int overflow = 0;

  std::fill(std::begin(bl_count_), std::end(bl_count_), 0);
  tree[heap_[heap_max_]].len = 0;  // the root

  int h;
  for (h = heap_max_ + 1; h < kHeapSize; ++h) {
    const int n = heap_[h];
    int bits = tree[dad[n]].len + 1;
    if (bits > max_length) bits = max_length, ++overflow;
    tree[n].len = static_cast<uint16_t>(bits);
    if (n > max_code) continue;  // not a leaf
    bl_count_[bits]++;
    const int xbits = n >= desc.extra_base ? desc.extra_bits[n - desc.extra_base] : 0;
    const uint64_t f = freq[n];
    opt_len_ += f * static_cast<uint64_t>(bits + xbits);
    if (desc.static_tree) static_len_ += f * static_cast<uint64_t>(desc.static_tree[n].len + xbits);
  }
  if (overflow == 0) return;

  // Move overflowing leaves up: take a leaf from the deepest level that
  // has one and make it the parent of a leaf at max_length.
  do {
    int bits = max_length - 1;
    while (bl_count_[bits] == 0) --bits;
    bl_count_[bits]--;
    bl_count_[bits + 1] += 2;
    bl_count_[max_length]--;
    overflow -= 2;
  } while (overflow > 0);

  // Reassign lengths, longest first, to the leaves in frequency order.
  for (int bits = max_length; bits != 0; --bits) {
    int n = bl_count_[bits];
    while (n != 0) {
      const int m = heap_[--h];
      if (m > max_code) continue;
      if (tree[m].len != bits) {
        opt_len_ += (static_cast<int64_t>(bits) - tree[m].len) * static_cast<int64_t>(freq[m]);
        tree[m].len = static_cast<uint16_t>(bits);
      }
      --n;
    }
  }
}

void Block_Encoder::build_tree(Tree_Desc& desc, uint32_t* freq) {
  Code_Entry* tree = desc.dyn_tree;
  const int elems = desc.elems;
  int max_code = -1;
  uint16_t dad[kHeapSize];

  heap_len_ = 0;
  heap_max_ = kHeapSize;
  for (int n = 0; n < elems; ++n) {
    if (freq[n] != 0) {
      heap_[++heap_len_] = max_code = n;
      depth_[n] = 0;
    } else {
      tree[n].len = 0;
    }
  }

  // A valid code needs two symbols at least: force frequencies of 1.
  while (heap_len_ < 2) {
    const int node = heap_[++heap_len_] = (max_code < 2 ? ++max_code : 0);
    freq[node] = 1;
    depth_[node] = 0;
    opt_len_--;
    if (desc.static_tree) static_len_ -= desc.static_tree[node].len;
  }
  desc.max_code = max_code;

  for (int n = heap_len_ / 2; n >= 1; --n) pq_down_heap(freq, tree, n);

  int node = elems;
  do {
    const int n = heap_[kSmallest];
    heap_[kSmallest] = heap_[heap_len_--];
    pq_down_heap(freq, tree, kSmallest);
    const int m = heap_[kSmallest];

    heap_[--heap_max_] = n;
    heap_[--heap_max_] = m;
    freq[node] = freq[n] + freq[m];
    depth_[node] = static_cast<uint8_t>(std::max(depth_[n], depth_[m]) + 1);
    dad[n] = dad[m] = static_cast<uint16_t>(node);
    heap_[kSmallest] = node++;
    pq_down_heap(freq, tree, kSmallest);
  } while (heap_len_ >= 2);
  heap_[--heap_max_] = heap_[kSmallest];

  gen_bit_lengths(desc, freq, dad);
  assign_codes(tree, max_code, bl_count_);
}

namespace {

// Walks a tree's code lengths as runs, the way the bit-length code sends
// them: calls emit(curlen, count, prevlen) for each run that ends.
template <typename Emit>
void for_each_length_run(const Code_Entry* tree, int max_code, Emit emit) {
  int prevlen = -1;
  int nextlen = tree[0].len;
  int count = 0;
  int max_count = 7;
  int min_count = 4;
  if (nextlen == 0) max_count = 138, min_count = 3;

  for (int n = 0; n <= max_code; ++n) {
    const int curlen = nextlen;
    nextlen = tree[n + 1].len;
    if (++count < max_count && curlen == nextlen) continue;
    emit(curlen, count, min_count, prevlen);
    count = 0;
    prevlen = curlen;
    set_run_limits(curlen, nextlen, max_count, min_count);
  }
}

}  // namespace

// Counts the bit-length codes needed to send a tree's lengths.
void Block_Encoder::scan_tree(Code_Entry* tree, int max_code) {
  tree[max_code + 1].len = 0xffff;  // guard: ends the last run
  for_each_length_run(tree, max_code, [this](int curlen, int count, int min_count, int prevlen) {
    if (count < min_count) {
      blfreq_[curlen] += count;
    } else if (curlen != 0) {
      if (curlen != prevlen) blfreq_[curlen]++;
      blfreq_[kRep3To6]++;
    } else if (count <= 10) {
      blfreq_[kRepZero3To10]++;
    } else {
      blfreq_[kRepZero11To138]++;
    }
  });
}

// Sends a tree's lengths in the bit-length code, as scan_tree counted them.
void Block_Encoder::send_tree(const Code_Entry* tree, int max_code) {
  for_each_length_run(tree, max_code, [this](int curlen, int count, int min_count, int prevlen) {
    if (count < min_count) {
      do send_code(curlen, bl_tree_);
      while (--count != 0);
    } else if (curlen != 0) {
      if (curlen != prevlen) {
        send_code(curlen, bl_tree_);
        --count;
      }
      if (count < 3 || count > 6) fail(" 3_6?");
      send_code(kRep3To6, bl_tree_);
      out_.send_bits(count - 3, 2);
    } else if (count <= 10) {
      send_code(kRepZero3To10, bl_tree_);
      out_.send_bits(count - 3, 3);
    } else {
      send_code(kRepZero11To138, bl_tree_);
      out_.send_bits(count - 11, 7);
    }
  });
}

int Block_Encoder::build_bl_tree() {
  scan_tree(dyn_ltree_, l_desc_.max_code);
  scan_tree(dyn_dtree_, d_desc_.max_code);
  build_tree(bl_desc_, blfreq_);

  // At least four bit-length codes are sent; trailing zero lengths are not.
  int max_blindex;
  for (max_blindex = kBlCodes - 1; max_blindex >= 3; --max_blindex) {
    if (bl_tree_[kBlOrder[max_blindex]].len != 0) break;
  }
  opt_len_ += 3 * (static_cast<uint64_t>(max_blindex) + 1) + 5 + 5 + 4;
  return max_blindex;
}

void Block_Encoder::send_all_trees(int lcodes, int dcodes, int blcodes) {
  if (lcodes < 257 || dcodes < 1 || blcodes < 4) fail("not enough codes");
  if (lcodes > kLCodes || dcodes > kDCodes || blcodes > kBlCodes) fail("too many codes");
  out_.send_bits(lcodes - 257, 5);
  out_.send_bits(dcodes - 1, 5);
  out_.send_bits(blcodes - 4, 4);
  for (int rank = 0; rank < blcodes; ++rank) out_.send_bits(bl_tree_[kBlOrder[rank]].len, 3);
  send_tree(dyn_ltree_, lcodes - 1);
  send_tree(dyn_dtree_, dcodes - 1);
}

void Block_Encoder::compress_block(const Code_Entry* ltree, const Code_Entry* dtree) {
  for (unsigned i = 0; i < last_lit_; ++i) {
    unsigned lc = lc_buf_[i];
    unsigned dist = dist_buf_[i];
    if (dist == 0) {
      send_code(lc, ltree);
      continue;
    }
    int code = tables_.length_code[lc];
    send_code(code + kLiterals + 1, ltree);
    int extra = kExtraLengthBits[code];
    if (extra != 0) out_.send_bits(lc - tables_.base_length[code], extra);

    --dist;
    code = tables_.dist_code_of(dist);
    if (code >= kDCodes) fail("bad d_code");
    send_code(code, dtree);
    extra = kExtraDistBits[code];
    if (extra != 0) out_.send_bits(dist - tables_.base_dist[code], extra);
  }
  send_code(kEndBlock, ltree);
}

void Block_Encoder::flush_block(const uint8_t* stored, unsigned long stored_len, bool eof) {
  build_tree(l_desc_, lfreq_);
  build_tree(d_desc_, dfreq_);
  const int max_blindex = build_bl_tree();

  uint64_t opt_lenb = (opt_len_ + 3 + 7) >> 3;
  const uint64_t static_lenb = (static_len_ + 3 + 7) >> 3;
  if (static_lenb <= opt_lenb) opt_lenb = static_lenb;

  if (stored_len + 4 <= opt_lenb && stored != nullptr) {
    // Two 16-bit words for the length and its complement.
    out_.send_bits((kStoredBlock << 1) + eof, 3);
    compressed_len_ = (compressed_len_ + 3 + 7) & ~uint64_t{7};
    compressed_len_ += (static_cast<uint64_t>(stored_len) + 4) << 3;
    out_.align_to_byte();
    const uint16_t len = static_cast<uint16_t>(stored_len);
    const uint16_t nlen = static_cast<uint16_t>(~len);
    out_.put_byte(static_cast<uint8_t>(len));
    out_.put_byte(static_cast<uint8_t>(len >> 8));
    out_.put_byte(static_cast<uint8_t>(nlen));
    out_.put_byte(static_cast<uint8_t>(nlen >> 8));
    out_.put_bytes(stored, stored_len);
  } else if (static_lenb == opt_lenb) {
    out_.send_bits((kStaticTrees << 1) + eof, 3);
    compress_block(tables_.static_ltree, tables_.static_dtree);
    compressed_len_ += 3 + static_len_;
  } else {
    out_.send_bits((kDynTrees << 1) + eof, 3);
    send_all_trees(l_desc_.max_code + 1, d_desc_.max_code + 1, max_blindex + 1);
    compress_block(dyn_ltree_, dyn_dtree_);
    compressed_len_ += 3 + opt_len_;
  }
  init_block();

  if (eof) {
    out_.align_to_byte();
    compressed_len_ += 7;
  }
}

}  // namespace Zip
