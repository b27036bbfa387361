#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "zip/crc32.h"
#include "zip_test_support.h"

namespace Zip {
namespace {

std::vector<uint8_t> random_bytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// Text-like data: words from a small vocabulary, as UTF-16LE when asked.
std::vector<uint8_t> words(size_t n, bool utf16, uint32_t seed) {
  static const char* const kWords[] = {"crash", "report", "plugin", "host", "thread",
                                       "module", "\xe5\xb4\xa9", "0x00401000", "\r\n"};
  std::mt19937 rng(seed);
  std::vector<uint8_t> v;
  while (v.size() < n) {
    for (const char* c = kWords[rng() % 9]; *c; ++c) {
      v.push_back(static_cast<uint8_t>(*c));
      if (utf16) v.push_back(static_cast<uint8_t>(rng() % 16 == 0 ? 0x4e : 0));
    }
    v.push_back(' ');
    if (utf16) v.push_back(0);
  }
  v.resize(n);
  return v;
}

void expect_round_trip(const std::vector<uint8_t>& input, const std::string& what, int level = 8) {
  SCOPED_TRACE(what + " at level " + std::to_string(level));
  const auto compressed = deflate_bytes(input, level);
  EXPECT_EQ(inflate_raw(compressed, input.size()), input);
}

TEST(Deflate, InflatesWithZlibOverGeneratedData) {
  expect_round_trip({}, "empty");
  expect_round_trip({'A'}, "one byte");
  expect_round_trip({'A', 'B'}, "two bytes");
  expect_round_trip(random_bytes(200000, 1), "random");
  expect_round_trip(std::vector<uint8_t>(300000, 0), "zeros");
  expect_round_trip(words(400000, false, 2), "text");
  expect_round_trip(words(400000, true, 3), "UTF-16 text");

  // A period just inside and just outside the reach of a match, and data
  // that crosses the 64 KB window refill many times.
  for (size_t period : {32506u, 32507u, 40000u}) {
    auto block = random_bytes(period, 4);
    std::vector<uint8_t> v;
    for (int i = 0; i < 5; ++i) v.insert(v.end(), block.begin(), block.end());
    expect_round_trip(v, "period " + std::to_string(period));
  }
  auto mixed = words(150000, false, 5);
  auto noise = random_bytes(70000, 6);
  mixed.insert(mixed.begin() + 65536 - 100, noise.begin(), noise.end());
  expect_round_trip(mixed, "text around noise at the refill");
}

TEST(Deflate, EveryLevelInflatesAndBadLevelsAreRefused) {
  const auto input = words(120000, false, 7);
  for (int level = 1; level <= 8; ++level) expect_round_trip(input, "text", level);

  for (int level : {0, 9, -1}) {
    Memory_Source source(input.data(), input.size());
    Memory_Sink sink;
    const Deflate_Result result = deflate_stream(source, sink, level);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "bad pack level");
  }
  Memory_Source source(input.data(), input.size());
  Memory_Sink sink;
  EXPECT_EQ(deflate_stream(source, sink, 8).entry_flags, 2);
}

// Data whose strings share their first three or four bytes far more often
// than their fifth: copies from up to 40000 bytes back, short runs, noise,
// and bytes that differ only where the three-byte hash does not look.
std::vector<uint8_t> near_repeats(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v = random_bytes(2000, seed);
  while (v.size() < n) {
    switch (rng() % 4) {
      case 0:
        for (unsigned k = rng() % 200; k-- != 0;) v.push_back(static_cast<uint8_t>(rng()));
        break;
      case 1: {
        const size_t back = 1 + rng() % std::min<size_t>(v.size(), 40000);
        for (unsigned k = 3 + rng() % 300; k-- != 0;) v.push_back(v[v.size() - back]);
        v.push_back(static_cast<uint8_t>(rng()));
        break;
      }
      case 2:
        v.insert(v.end(), 1 + rng() % 600, static_cast<uint8_t>(rng() % 3));
        break;
      default:
        for (unsigned k = 0; k < 8; ++k) {
          const uint8_t key[] = {0x00, 0x00, 0x00, static_cast<uint8_t>(rng() % 4), 0x01};
          v.insert(v.end(), key, key + 3 + rng() % 3);
          v.push_back(static_cast<uint8_t>((rng() % 2) << 5 | 0x41));  // 'A' or 'a'
        }
    }
  }
  v.resize(n);
  return v;
}

// A 37-byte match, then a string whose 60-byte match lies 302 entries down
// its hash chain: past the quarter of the chain a search holding a match
// of 32 bytes or more looks at (level 8).
std::vector<uint8_t> far_longer_match() {
  const auto p = random_bytes(60, 11);
  const auto noise = random_bytes(1200, 12);
  std::vector<uint8_t> v = random_bytes(100, 13);
  v.push_back('R');
  v.insert(v.end(), p.begin(), p.end());
  for (size_t i = 0; i < 300; ++i) {
    v.insert(v.end(), p.begin(), p.begin() + 3);
    v.insert(v.end(), noise.begin() + 4 * i, noise.begin() + 4 * i + 4);
  }
  v.push_back('Q');
  v.insert(v.end(), p.begin(), p.begin() + 36);
  v.push_back(static_cast<uint8_t>(~p[36]));
  v.push_back('Q');
  v.insert(v.end(), p.begin(), p.end());
  v.insert(v.end(), noise.begin(), noise.begin() + 100);
  return v;
}

TEST(Deflate, LongKeySearchGivesTheBytesOfTheFullChainWalk) {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> inputs = {
      {"near repeats", near_repeats(400000, 8)},
      {"far longer match", far_longer_match()},
      {"text", words(200000, false, 9)},
      {"UTF-16 text", words(200000, true, 10)},
  };
  for (unsigned period = 1; period <= 7; ++period) {
    auto v = random_bytes(period, period);
    while (v.size() < 100000) v.push_back(v[v.size() - period]);
    for (unsigned tail = 0; tail < period; ++tail) v.push_back(static_cast<uint8_t>(tail));
    inputs.emplace_back("period " + std::to_string(period), v);
  }
  for (const auto& [what, input] : inputs) {
    for (int level = 1; level <= 8; ++level) {
      SCOPED_TRACE(what + " at level " + std::to_string(level));
      const auto fast = deflate_bytes(input, level, Match_Search::skip_by_long_key);
      const auto plain = deflate_bytes(input, level, Match_Search::every_chain_entry);
      EXPECT_EQ(fast, plain);
      if (level == 8) {
        EXPECT_EQ(inflate_raw(fast, input.size()), input);
      }
    }
  }
}

TEST(Deflate, EmptyInputIsOneFixedBlockOfTwoBytes) {
  EXPECT_EQ(deflate_bytes({}), (std::vector<uint8_t>{0x03, 0x00}));
}

// Machine code and symbol tables, as a dump or a module carries them: the
// files this build itself made, so the data exists wherever the test runs.
TEST(Deflate, InflatesWithZlibOverRealFiles) {
  std::vector<std::string> paths = {"/proc/self/exe"};
  const std::string built = DROVAN_BUILT_FILES;
  for (size_t start = 0, end; start < built.size(); start = end + 1) {
    end = std::min(built.find('|', start), built.size());
    paths.push_back(built.substr(start, end - start));
  }
  for (const auto& path : paths) {
    const auto data = read_file(path);
    ASSERT_FALSE(data.empty()) << path;
    expect_round_trip(data, path);
  }
}

}  // namespace
}  // namespace Zip

namespace Zip {
namespace {

// The compressed bytes are defined by the algorithm, not only their
// meaning: speed work on the compressor must leave them unchanged.
TEST(Deflate, OutputBytesArePinned) {
  std::vector<uint8_t> input;
  uint32_t x = 12345;
  for (int i = 0; i < 300000; ++i) {
    x = x * 1103515245u + 12345u;
    input.push_back(static_cast<uint8_t>("abcdefgh  \n"[(x >> 16) % 11]));
    if (i % 5000 == 0) input.insert(input.end(), input.begin(), input.begin() + i / 10);
  }
  const auto compressed = deflate_bytes(input);
  EXPECT_EQ(inflate_raw(compressed, input.size()), input);
  EXPECT_EQ(compressed.size(), 192849u);
  EXPECT_EQ(crc32_update(0, compressed.data(), compressed.size()), 0xfaa70d35u);
}

}  // namespace
}  // namespace Zip
