#include "zip/deflater.h"

#include <cstring>
#include <memory>

#include "zip/bit_writer.h"
#include "zip/block_encoder.h"
#include "zip/deflate_tables.h"

namespace Zip {

namespace {

constexpr unsigned kWSize = 0x8000;
constexpr unsigned kWMask = kWSize - 1;
constexpr unsigned kWindowSize = 2 * kWSize;
constexpr unsigned kHashBits = 15;
constexpr unsigned kHashSize = 1u << kHashBits;
constexpr unsigned kHashMask = kHashSize - 1;
constexpr unsigned kHashShift = (kHashBits + kMinMatch - 1) / kMinMatch;  // 5
constexpr unsigned kMinLookahead = kMaxMatch + kMinMatch + 1;             // 262
constexpr unsigned kMaxDist = kWSize - kMinLookahead;                     // 32506
constexpr unsigned kTooFar = 4096;  // a length-3 match farther back is not worth it
constexpr unsigned kNil = 0;

// Slack after the window so that word-wise match comparison may read a
// few bytes past the last position it can compare.
constexpr unsigned kWindowSlack = 8;

struct Level_Config {
  uint16_t good_length;  // reduce the chain search above this match length
  uint16_t max_lazy;     // do not look for a better match above this length
  uint16_t nice_length;  // stop searching at a match this long
  uint16_t max_chain;
};

constexpr Level_Config kLevels[9] = {
    {0, 0, 0, 0},        {4, 4, 8, 4},        {4, 5, 16, 8},
    {4, 6, 32, 32},      {4, 4, 16, 16},      {8, 16, 32, 32},
    {8, 16, 128, 128},   {8, 32, 128, 256},   {32, 128, 258, 1024},
};

inline uint32_t load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline uint64_t load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Index of the first differing byte of two little-endian words that differ.
inline unsigned first_difference(uint64_t x) {
#if defined(__GNUC__)
  return static_cast<unsigned>(__builtin_ctzll(x)) >> 3;
#else
  unsigned n = 0;
  while ((x & 0xff) == 0) x >>= 8, ++n;
  return n;
#endif
}

class Deflater {
 public:
  Deflater(Deflate_Source& source, Deflate_Sink& sink, int level)
      : source_(source),
        out_(sink),
        encoder_(out_, level),
        level_(level),
        config_(kLevels[level]),
        window_(std::make_unique<uint8_t[]>(kWindowSize + kWindowSlack)),
        prev_(std::make_unique<uint16_t[]>(kWSize)),
        head_(std::make_unique<uint16_t[]>(kHashSize)) {}

  Deflate_Result run();

 private:
  void fail(const char* text) {
    if (error_ == nullptr) error_ = text;
  }
  void start();
  void fill_window();
  void update_hash(uint8_t c) { ins_h_ = ((ins_h_ << kHashShift) ^ c) & kHashMask; }
  // Inserts the string at `pos` and returns the previous head of its chain.
  unsigned insert_string(unsigned pos) {
    update_hash(window_[pos + kMinMatch - 1]);
    const unsigned match_head = head_[ins_h_];
    prev_[pos & kWMask] = static_cast<uint16_t>(match_head);
    head_[ins_h_] = static_cast<uint16_t>(pos);
    return match_head;
  }
  unsigned longest_match(unsigned cur_match);
  unsigned match_length_at(const uint8_t* scan, const uint8_t* match) const;
  void flush_block(bool eof) {
    const uint8_t* stored = block_start_ >= 0 ? window_.get() + block_start_ : nullptr;
    encoder_.flush_block(stored, static_cast<unsigned long>(strstart_ - block_start_), eof);
  }
  bool tally(unsigned dist, unsigned lc) {
    return encoder_.tally(dist, lc, static_cast<long>(strstart_) - block_start_);
  }
  void deflate_fast();
  void deflate_lazy();

  Deflate_Source& source_;
  Bit_Writer out_;
  Block_Encoder encoder_;
  const int level_;
  const Level_Config config_;

  std::unique_ptr<uint8_t[]> window_;
  std::unique_ptr<uint16_t[]> prev_;  // previous position in the same hash chain
  std::unique_ptr<uint16_t[]> head_;  // most recent position of each hash

  unsigned ins_h_ = 0;
  long block_start_ = 0;  // window position where the block starts; negative once slid out
  unsigned strstart_ = 0;
  unsigned match_start_ = 0;
  unsigned lookahead_ = 0;
  unsigned prev_length_ = 0;
  bool eofile_ = false;
  const char* error_ = nullptr;
};

void Deflater::start() {
  std::memset(window_.get(), 0, kWindowSize + kWindowSlack);
  std::memset(head_.get(), 0, kHashSize * sizeof(uint16_t));
  std::memset(prev_.get(), 0, kWSize * sizeof(uint16_t));
  strstart_ = 0;
  block_start_ = 0;
  lookahead_ = static_cast<unsigned>(source_.read(window_.get(), kWindowSize));
  if (lookahead_ == 0) {
    eofile_ = true;
    return;
  }
  eofile_ = false;
  while (lookahead_ < kMinLookahead && !eofile_) fill_window();
  ins_h_ = 0;
  for (int j = 0; j < kMinMatch - 1; ++j) update_hash(window_[j]);
}

// Reads more input when the lookahead runs short, first sliding the upper
// half of the window down once the position has passed it.
void Deflater::fill_window() {
  unsigned more = kWindowSize - lookahead_ - strstart_;
  if (strstart_ >= kWSize + kMaxDist) {
    std::memcpy(window_.get(), window_.get() + kWSize, kWSize);
    match_start_ -= kWSize;
    strstart_ -= kWSize;
    block_start_ -= static_cast<long>(kWSize);
    for (unsigned n = 0; n < kHashSize; ++n) {
      const unsigned m = head_[n];
      head_[n] = static_cast<uint16_t>(m >= kWSize ? m - kWSize : kNil);
    }
    for (unsigned n = 0; n < kWSize; ++n) {
      const unsigned m = prev_[n];
      prev_[n] = static_cast<uint16_t>(m >= kWSize ? m - kWSize : kNil);
    }
    more += kWSize;
  }
  if (eofile_) return;
  if (more < 2) {
    fail("more < 2");
    eofile_ = true;
    return;
  }
  const size_t n = source_.read(window_.get() + strstart_ + lookahead_, more);
  if (n == 0) {
    eofile_ = true;
  } else {
    lookahead_ += static_cast<unsigned>(n);
  }
}

// Length of the common run of scan and match, which agree in their first
// three bytes (the third is implied by the hash), up to kMaxMatch. Compares
// eight bytes at a time; the result is what a byte-wise comparison gives.
inline unsigned Deflater::match_length_at(const uint8_t* scan, const uint8_t* match) const {
  unsigned len = 3;
  while (len < kMaxMatch) {
    const uint64_t diff = load64(scan + len) ^ load64(match + len);
    if (diff != 0) {
      len += first_difference(diff);
      return len < kMaxMatch ? len : kMaxMatch;
    }
    len += 8;
  }
  return kMaxMatch;
}

unsigned Deflater::longest_match(unsigned cur_match) {
  // Locals rather than members in the loop: the compiler cannot keep
  // members in registers across the stores the loop makes.
  const uint8_t* const window = window_.get();
  const uint16_t* const prev = prev_.get();
  const unsigned strstart = strstart_;
  const uint8_t* const scan = window + strstart;
  unsigned chain_length = config_.max_chain;
  unsigned best_len = prev_length_;
  unsigned best_start = match_start_;
  const unsigned nice_match = config_.nice_length;
  const unsigned limit = strstart > kMaxDist ? strstart - kMaxDist : kNil;

  if (prev_length_ >= config_.good_length) chain_length >>= 2;
  if (strstart > kWindowSize - kMinLookahead) {
    fail("insufficient lookahead");
    return best_len;
  }

  // A candidate can beat the best match only if it agrees with the scan
  // in every byte up to best_len; four of them, ending at best_len, reject
  // most candidates with one load. (Byte 2 always agrees when bytes 0 and 1
  // do, since the hash of three bytes is equal along a chain; with
  // best_len 2, bytes 1 and 2 are checked.)
  unsigned end_at = best_len >= 3 ? best_len - 3 : 0;
  uint32_t scan_end = load32(scan + end_at);
  uint16_t scan_start;
  std::memcpy(&scan_start, scan, 2);
  uint32_t end_mask = best_len >= 3 ? 0xFFFFFFFFu : 0x00FFFFFFu;

  // Every chain entry was the head before some insertion at or below
  // strstart, so all lie below it once the first does.
  if (cur_match >= strstart) {
    fail("no future");
    return best_len;
  }
  do {
    const uint8_t* match = window + cur_match;
    uint16_t match_start;
    std::memcpy(&match_start, match, 2);
    if (((load32(match + end_at) ^ scan_end) & end_mask) != 0 || match_start != scan_start) continue;

    const unsigned len = match_length_at(scan, match);
    if (len > best_len) {
      best_start = cur_match;
      best_len = len;
      if (len >= nice_match) break;
      end_at = best_len - 3;
      end_mask = 0xFFFFFFFFu;
      scan_end = load32(scan + end_at);
    }
  } while ((cur_match = prev[cur_match & kWMask]) > limit && --chain_length != 0);

  match_start_ = best_start;
  return best_len;
}

// Levels 1 to 3: take each match found, no lazy evaluation.
void Deflater::deflate_fast() {
  unsigned match_length = 0;
  prev_length_ = kMinMatch - 1;
  while (lookahead_ != 0) {
    const unsigned hash_head = insert_string(strstart_);
    if (hash_head != kNil && strstart_ - hash_head <= kMaxDist) {
      match_length = longest_match(hash_head);
      if (match_length > lookahead_) match_length = lookahead_;
    }
    bool flush;
    if (match_length >= kMinMatch) {
      flush = tally(strstart_ - match_start_, match_length - kMinMatch);
      lookahead_ -= match_length;
      if (match_length <= config_.max_lazy) {
        // Short match: insert every string of it into the hash table.
        --match_length;
        do {
          ++strstart_;
          insert_string(strstart_);
        } while (--match_length != 0);
        ++strstart_;
      } else {
        strstart_ += match_length;
        match_length = 0;
        ins_h_ = window_[strstart_];
        update_hash(window_[strstart_ + 1]);
      }
    } else {
      flush = tally(0, window_[strstart_]);
      --lookahead_;
      ++strstart_;
    }
    if (flush) {
      flush_block(false);
      block_start_ = strstart_;
    }
    while (lookahead_ < kMinLookahead && !eofile_) fill_window();
  }
  flush_block(true);
}

// Levels 4 to 8: a match is emitted only when the match at the next
// position is no longer.
void Deflater::deflate_lazy() {
  unsigned match_length = kMinMatch - 1;
  bool match_available = false;
  while (lookahead_ != 0) {
    const unsigned hash_head = insert_string(strstart_);
    prev_length_ = match_length;
    const unsigned prev_match = match_start_;
    match_length = kMinMatch - 1;

    if (hash_head != kNil && prev_length_ < config_.max_lazy && strstart_ - hash_head <= kMaxDist) {
      match_length = longest_match(hash_head);
      if (match_length > lookahead_) match_length = lookahead_;
      if (match_length == kMinMatch && strstart_ - match_start_ > kTooFar) --match_length;
    }

    if (prev_length_ >= kMinMatch && match_length <= prev_length_) {
      const bool flush = tally(strstart_ - 1 - prev_match, prev_length_ - kMinMatch);
      // Insert the strings of the match, except the first one (already in)
      // and the last, which is the current position.
      lookahead_ -= prev_length_ - 1;
      prev_length_ -= 2;
      do {
        ++strstart_;
        insert_string(strstart_);
      } while (--prev_length_ != 0);
      match_available = false;
      match_length = kMinMatch - 1;
      ++strstart_;
      if (flush) {
        flush_block(false);
        block_start_ = strstart_;
      }
    } else if (match_available) {
      if (tally(0, window_[strstart_ - 1])) {
        flush_block(false);
        block_start_ = strstart_;
      }
      ++strstart_;
      --lookahead_;
    } else {
      match_available = true;
      ++strstart_;
      --lookahead_;
    }
    while (lookahead_ < kMinLookahead && !eofile_) fill_window();
  }
  if (match_available) tally(0, window_[strstart_ - 1]);
  flush_block(true);
}

Deflate_Result Deflater::run() {
  Deflate_Result result;
  if (level_ < 1 || level_ > 8) {
    result.error = "bad pack level";
    return result;
  }
  result.entry_flags = level_ <= 2 ? 4 : level_ >= 8 ? 2 : 0;

  start();
  if (level_ <= 3) {
    deflate_fast();
  } else {
    deflate_lazy();
  }
  out_.flush_buffer();

  if (error_ == nullptr) error_ = encoder_.error();
  if (error_ == nullptr && (encoder_.compressed_bits() >> 3) != out_.bytes_out()) {
    error_ = "bad compressed size";
  }
  result.compressed_size = out_.bytes_out();
  if (error_ != nullptr) {
    result.error = error_;
  } else if (out_.failed()) {
    result.error = "write failed";
  } else {
    result.ok = true;
  }
  return result;
}

}  // namespace

Deflate_Result deflate_stream(Deflate_Source& source, Deflate_Sink& sink, int level) {
  if (level < 1 || level > 8) {
    Deflate_Result result;
    result.error = "bad pack level";
    return result;
  }
  return std::make_unique<Deflater>(source, sink, level)->run();
}

}  // namespace Zip
