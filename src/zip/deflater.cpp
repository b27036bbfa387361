#include "zip/deflater.h"

#include <memory>

#include "zip/bit_writer.h"
#include "zip/block_encoder.h"
#include "zip/deflate_tables.h"

namespace Zip {

namespace {

constexpr unsigned kTooFar = 4096;  // a length-3 match farther back is not worth it

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

class Deflater {
 public:
  Deflater(Deflate_Source& source, Deflate_Sink& sink, int level, Match_Search search)
      : source_(source),
        out_(sink),
        encoder_(out_, level),
        level_(level),
        max_lazy_(kLevels[level].max_lazy),
        finder_({kLevels[level].good_length, kLevels[level].nice_length, kLevels[level].max_chain},
                search),
        window_(finder_.window()) {}

  Deflate_Result run();

 private:
  void fail(const char* text) {
    if (error_ == nullptr) error_ = text;
  }
  void start();
  void fill_window();
  unsigned longest_match(unsigned hash_head) {
    return finder_.longest_match(strstart_, hash_head, prev_length_, match_start_);
  }
  void flush_block(bool eof) {
    const uint8_t* stored = block_start_ >= 0 ? window_ + block_start_ : nullptr;
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
  const unsigned max_lazy_;
  Match_Finder finder_;
  uint8_t* const window_;

  long block_start_ = 0;  // window position where the block starts; negative once slid out
  unsigned strstart_ = 0;
  unsigned match_start_ = 0;
  unsigned lookahead_ = 0;
  unsigned prev_length_ = 0;
  bool eofile_ = false;
  const char* error_ = nullptr;
};

void Deflater::start() {
  strstart_ = 0;
  block_start_ = 0;
  lookahead_ = static_cast<unsigned>(source_.read(window_, kWindowSize));
  if (lookahead_ == 0) {
    eofile_ = true;
    return;
  }
  eofile_ = false;
  while (lookahead_ < kMinLookahead && !eofile_) fill_window();
  finder_.restart_hash(0);
}

// Reads more input when the lookahead runs short, first sliding the upper
// half of the window down once the position has passed it.
void Deflater::fill_window() {
  unsigned more = kWindowSize - lookahead_ - strstart_;
  if (strstart_ >= kWSize + kMaxDist) {
    finder_.slide();
    match_start_ -= kWSize;
    strstart_ -= kWSize;
    block_start_ -= static_cast<long>(kWSize);
    more += kWSize;
  }
  if (eofile_) return;
  if (more < 2) {
    fail("more < 2");
    eofile_ = true;
    return;
  }
  const size_t n = source_.read(window_ + strstart_ + lookahead_, more);
  if (n == 0) {
    eofile_ = true;
  } else {
    lookahead_ += static_cast<unsigned>(n);
  }
}

// Levels 1 to 3: take each match found, no lazy evaluation.
void Deflater::deflate_fast() {
  unsigned match_length = 0;
  prev_length_ = kMinMatch - 1;
  while (lookahead_ != 0) {
    const unsigned hash_head = finder_.insert(strstart_);
    if (hash_head != kNil && strstart_ - hash_head <= kMaxDist) {
      match_length = longest_match(hash_head);
      if (match_length > lookahead_) match_length = lookahead_;
    }
    bool flush;
    if (match_length >= kMinMatch) {
      flush = tally(strstart_ - match_start_, match_length - kMinMatch);
      lookahead_ -= match_length;
      if (match_length <= max_lazy_) {
        // Short match: insert every string of it into the hash table.
        --match_length;
        do {
          ++strstart_;
          finder_.insert(strstart_);
        } while (--match_length != 0);
        ++strstart_;
      } else {
        strstart_ += match_length;
        match_length = 0;
        finder_.restart_hash(strstart_);
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
    const unsigned hash_head = finder_.insert(strstart_);
    prev_length_ = match_length;
    const unsigned prev_match = match_start_;
    match_length = kMinMatch - 1;

    if (hash_head != kNil && prev_length_ < max_lazy_ && strstart_ - hash_head <= kMaxDist) {
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
        finder_.insert(strstart_);
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

  if (error_ == nullptr) error_ = finder_.error();
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

Deflate_Result deflate_stream(Deflate_Source& source, Deflate_Sink& sink, int level,
                              Match_Search search) {
  if (level < 1 || level > 8) {
    Deflate_Result result;
    result.error = "bad pack level";
    return result;
  }
  return std::make_unique<Deflater>(source, sink, level, search)->run();
}

}  // namespace Zip
