#include "zip/match_finder.h"

#include <cstring>

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the word-wise string comparison assumes a little-endian machine"
#endif

namespace Zip {

namespace {

// Slack after the window so that word-wise comparison may read a few
// bytes past the last position it can compare.
constexpr unsigned kWindowSlack = 8;

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

// Length of the common run of scan and match, which agree in their first
// three bytes, up to kMaxMatch. Compares eight bytes at a time; the result
// is what a byte-wise comparison gives.
inline unsigned match_length_at(const uint8_t* scan, const uint8_t* match) {
  unsigned len = kMinMatch;
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

// Drops the positions of the lower half and moves the rest down with it.
void rebase(uint16_t* positions, unsigned count) {
  for (unsigned n = 0; n < count; ++n) {
    const unsigned m = positions[n];
    positions[n] = static_cast<uint16_t>(m >= kWSize ? m - kWSize : kNil);
  }
}

}  // namespace

Match_Finder::Match_Finder(Search_Limits limits, Match_Search search)
    : limits_(limits),
      search_(search),
      window_(std::make_unique<uint8_t[]>(kWindowSize + kWindowSlack)),
      head_(std::make_unique<uint16_t[]>(kHashSize)),
      chain_inserts_(std::make_unique<uint16_t[]>(kHashSize)),
      prev_(std::make_unique<uint16_t[]>(kWSize)),
      rank_(std::make_unique<uint16_t[]>(kWSize)),
      long_head_(std::make_unique<uint16_t[]>(kLongHashSize)),
      long_prev_(std::make_unique<uint16_t[]>(kWSize)) {
  clear();
}

void Match_Finder::clear() {
  std::memset(window_.get(), 0, kWindowSize + kWindowSlack);
  std::memset(head_.get(), 0, kHashSize * sizeof(uint16_t));
  std::memset(chain_inserts_.get(), 0, kHashSize * sizeof(uint16_t));
  std::memset(prev_.get(), 0, kWSize * sizeof(uint16_t));
  std::memset(rank_.get(), 0, kWSize * sizeof(uint16_t));
  std::memset(long_head_.get(), 0, kLongHashSize * sizeof(uint16_t));
  std::memset(long_prev_.get(), 0, kWSize * sizeof(uint16_t));
  ins_h_ = 0;
}

// Ranks need no change: they only count, and stay comparable within the
// window.
void Match_Finder::slide() {
  std::memcpy(window_.get(), window_.get() + kWSize, kWSize);
  rebase(head_.get(), kHashSize);
  rebase(prev_.get(), kWSize);
  if (search_ == Match_Search::skip_by_long_key) {
    rebase(long_head_.get(), kLongHashSize);
    rebase(long_prev_.get(), kWSize);
  }
}

void Match_Finder::restart_hash(unsigned pos) {
  ins_h_ = window_[pos];
  roll_hash(window_[pos + 1]);
}

// The match found is the first, along the hash chain from chain_head, of
// the longest strings among the chain's first max_chain entries that lie
// within kMaxDist. The chain walk stops once a match of kLongKey - 1 bytes
// is in hand, and the long chain yields the rest.
unsigned Match_Finder::longest_match(unsigned strstart, unsigned chain_head, unsigned prev_length,
                                     unsigned& match_start) {
  const uint8_t* const window = window_.get();
  const uint16_t* const prev = prev_.get();
  const uint8_t* const scan = window + strstart;
  unsigned max_chain = limits_.max_chain;
  unsigned best_len = prev_length;
  unsigned best_start = match_start;
  const unsigned nice_match = limits_.nice_length;
  const unsigned limit = strstart > kMaxDist ? strstart - kMaxDist : kNil;

  if (prev_length >= limits_.good_length) max_chain >>= 2;
  if (strstart > kWindowSize - kMinLookahead) {
    fail("insufficient lookahead");
    return best_len;
  }
  // Every chain entry was the head before some insertion at or below
  // strstart, so all lie below it once the first does.
  if (chain_head >= strstart) {
    fail("no future");
    return best_len;
  }

  // A candidate can beat the best match only if it agrees with the scan
  // in every byte up to best_len; four of them, ending at best_len, reject
  // most candidates with one load. (Byte 2 always agrees when bytes 0 and 1
  // do, since the hash of three bytes is equal along a chain; with
  // best_len 2, bytes 1 and 2 are checked.)
  unsigned end_at = best_len >= 3 ? best_len - 3 : 0;
  uint32_t scan_end = load32(scan + end_at);
  uint32_t end_mask = best_len >= 3 ? 0xFFFFFFFFu : 0x00FFFFFFu;
  uint16_t scan_start;
  std::memcpy(&scan_start, scan, 2);
  const bool use_long_chain = search_ == Match_Search::skip_by_long_key;

  if (!use_long_chain || best_len < kLongKey - 1) {
    unsigned cur_match = chain_head;
    unsigned chain_length = max_chain;
    do {
      const uint8_t* match = window + cur_match;
      uint16_t match_first;
      std::memcpy(&match_first, match, 2);
      if (((load32(match + end_at) ^ scan_end) & end_mask) != 0 || match_first != scan_start) continue;

      const unsigned len = match_length_at(scan, match);
      if (len > best_len) {
        best_start = cur_match;
        best_len = len;
        if (len >= nice_match) break;
        end_at = best_len - 3;
        end_mask = 0xFFFFFFFFu;
        scan_end = load32(scan + end_at);
        if (use_long_chain && best_len >= kLongKey - 1) {
          best_len = search_long_chain(strstart, chain_head, best_start, max_chain, best_len,
                                       best_start);
          break;
        }
      }
    } while ((cur_match = prev[cur_match & kWMask]) > limit && --chain_length != 0);
  } else {
    best_len = search_long_chain(strstart, chain_head, strstart, max_chain, best_len, best_start);
  }

  match_start = best_start;
  return best_len;
}

// Goes on with the search below position `from`, holding a match of
// best_len >= kLongKey - 1 bytes. Only strings that agree with the scan in
// kLongKey bytes can do better, and they are all on the scan's long chain;
// a string's rank tells whether the hash chain walk would have reached it
// within max_rank entries.
unsigned Match_Finder::search_long_chain(unsigned strstart, unsigned chain_head, unsigned from,
                                         unsigned max_rank, unsigned best_len,
                                         unsigned& best_start) const {
  const uint8_t* const window = window_.get();
  const uint16_t* const rank = rank_.get();
  const uint16_t* const long_prev = long_prev_.get();
  const uint8_t* const scan = window + strstart;
  const unsigned limit = strstart > kMaxDist ? strstart - kMaxDist : kNil;
  const uint16_t scan_rank = rank[strstart & kWMask];
  const uint32_t scan_key = load32(scan) & 0x00FFFFFFu;
  unsigned end_at = best_len - 3;
  uint32_t scan_end = load32(scan + end_at);

  // The long chain of the scan starts below strstart itself; a match of
  // kLongKey bytes at `from` is on it, so the walk may start below that.
  unsigned next = long_prev[(best_len >= kLongKey ? from : strstart) & kWMask];
  // The chain head is searched even at exactly kMaxDist; later entries
  // only within it.
  for (; next > limit || next == chain_head; next = long_prev[next & kWMask]) {
    if (next >= from) continue;
    const uint8_t* match = window + next;
    // A string of another three-byte hash chain, sharing the long hash.
    if ((load32(match) & 0x00FFFFFFu) != scan_key) continue;
    // Ranks along one chain fall by one per entry, so all later strings
    // lie further along it too.
    if (static_cast<uint16_t>(scan_rank - rank[next & kWMask]) > max_rank) break;
    if (load32(match + end_at) != scan_end) continue;
    const unsigned len = match_length_at(scan, match);
    if (len > best_len) {
      best_start = next;
      best_len = len;
      if (len >= limits_.nice_length) break;
      end_at = best_len - 3;
      scan_end = load32(scan + end_at);
    }
  }
  return best_len;
}

}  // namespace Zip
