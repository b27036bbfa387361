// The dictionary of the Deflate compressor: a 32 KB sliding window held in
// a 64 KB buffer, hash chains over its three-byte strings, and the search
// for the longest earlier string that matches the current one.
#pragma once

#include <cstdint>
#include <memory>

#include "zip/deflate_tables.h"

namespace Zip {

inline constexpr unsigned kWSize = 0x8000;
inline constexpr unsigned kWMask = kWSize - 1;
inline constexpr unsigned kWindowSize = 2 * kWSize;
inline constexpr unsigned kMinLookahead = kMaxMatch + kMinMatch + 1;  // 262
inline constexpr unsigned kMaxDist = kWSize - kMinLookahead;           // 32506
inline constexpr unsigned kNil = 0;                           // end of a chain

// How hard a search tries, from the level table.
struct Search_Limits {
  unsigned good_length;  // search a quarter of the chain above this match length
  unsigned nice_length;  // stop searching at a match this long
  unsigned max_chain;    // chain entries to look at
};

// Both ways find the same match for every search; the second walks each
// hash chain entry by entry and is kept as the reference the first is
// tested against.
enum class Match_Search { skip_by_long_key, every_chain_entry };

class Match_Finder {
 public:
  Match_Finder(Search_Limits limits, Match_Search search);

  // The window buffer: kWindowSize bytes and a few readable bytes after.
  uint8_t* window() { return window_.get(); }
  const uint8_t* window() const { return window_.get(); }

  // Empties the window and every chain.
  void clear();

  // Moves the upper half of the window down by kWSize and forgets the
  // strings that fall out of it.
  void slide();

  // Starts the rolling hash over the two bytes at `pos`; the next insert()
  // must be at `pos`.
  void restart_hash(unsigned pos);

  // Inserts the string at `pos` (the hash has rolled up to pos - 1) and
  // returns the previous head of its chain, kNil if none.
  unsigned insert(unsigned pos) {
    roll_hash(window_[pos + 2]);
    const unsigned h = ins_h_;
    const unsigned match_head = head_[h];
    prev_[pos & kWMask] = static_cast<uint16_t>(match_head);
    head_[h] = static_cast<uint16_t>(pos);
    if (search_ == Match_Search::skip_by_long_key) {
      rank_[pos & kWMask] = ++chain_inserts_[h];
      const unsigned lh = long_hash(window_.get() + pos);
      long_prev_[pos & kWMask] = long_head_[lh];
      long_head_[lh] = static_cast<uint16_t>(pos);
    }
    return match_head;
  }

  // Searches the chain that starts at `chain_head` (the value insert()
  // returned for `strstart`) for a match longer than `prev_length`. On
  // success returns its length (at most 258, not cut to the lookahead) and
  // sets `match_start`; otherwise returns prev_length and leaves
  // match_start alone.
  unsigned longest_match(unsigned strstart, unsigned chain_head, unsigned prev_length,
                         unsigned& match_start);

  // The first consistency failure of a search, or null.
  const char* error() const { return error_; }

 private:
  static constexpr unsigned kHashBits = 15;
  static constexpr unsigned kHashSize = 1u << kHashBits;
  static constexpr unsigned kHashMask = kHashSize - 1;
  static constexpr unsigned kHashShift = (kHashBits + kMinMatch - 1) / kMinMatch;  // 5
  // Strings that agree in their first kLongKey bytes are chained a second
  // time, so that a search already holding a match of kLongKey - 1 bytes
  // passes over the many strings that share only the first three.
  // The long hash reads those bytes when a string goes in. Strings go in
  // at most kMaxMatch - 2 bytes past a position with kMinLookahead bytes
  // read, so the bytes are final by then and the hash stays true.
  static constexpr unsigned kLongKey = 5;
  static_assert(kLongKey <= kMinLookahead - (kMaxMatch - 2));
  static constexpr unsigned kLongHashBits = 15;
  static constexpr unsigned kLongHashSize = 1u << kLongHashBits;

  void roll_hash(uint8_t c) { ins_h_ = ((ins_h_ << kHashShift) ^ c) & kHashMask; }
  static unsigned long_hash(const uint8_t* p) {
    const uint32_t first4 = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                            static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    return (first4 * 0x9E3779B1u ^ p[4] * 0x85EBCA6Bu) >> (32 - kLongHashBits);
  }
  void fail(const char* text) {
    if (error_ == nullptr) error_ = text;
  }
  unsigned search_long_chain(unsigned strstart, unsigned chain_head, unsigned from,
                             unsigned max_rank, unsigned best_len, unsigned& best_start) const;

  const Search_Limits limits_;
  const Match_Search search_;
  std::unique_ptr<uint8_t[]> window_;
  // Per hash value: the most recent string, and how many strings were
  // ever inserted under it (mod 2^16).
  std::unique_ptr<uint16_t[]> head_;
  std::unique_ptr<uint16_t[]> chain_inserts_;
  // Per window position: the previous string of the same hash, and the
  // string's rank, chain_inserts_ of its hash just after it went in. Two
  // strings of one chain lie rank difference apart along it.
  std::unique_ptr<uint16_t[]> prev_;
  std::unique_ptr<uint16_t[]> rank_;
  // The chains by the hash of kLongKey bytes.
  std::unique_ptr<uint16_t[]> long_head_;
  std::unique_ptr<uint16_t[]> long_prev_;
  unsigned ins_h_ = 0;
  const char* error_ = nullptr;
};

}  // namespace Zip
