// The report server's submission address, kept scrambled in the program:
// character i is stored as (c - key[(3i XOR 6) mod 15] + 93) mod 256 and
// restored at run time. The scrambling happens at compile time, so the
// plain address never stands in the binary.
#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace OrbwellSearch {

inline constexpr char kEndpointKey[16] = "k7Qe2ZrT9mWx4Hc";

constexpr size_t endpoint_key_index(size_t i) { return ((3 * i) ^ 6) % 15; }

template <size_t N>
struct Scrambled_Address {
  std::array<unsigned char, N> stored{};
};

template <size_t N>
constexpr Scrambled_Address<N - 1> scramble_address(const char (&plain)[N]) {
  Scrambled_Address<N - 1> out;
  for (size_t i = 0; i + 1 < N; ++i) {
    out.stored[i] = static_cast<unsigned char>(
        static_cast<unsigned char>(plain[i]) - static_cast<unsigned char>(kEndpointKey[endpoint_key_index(i)]) + 93);
  }
  return out;
}

std::string unscramble_address(const unsigned char* stored, size_t size);

// The submission address: the build's, unless the environment variable
// DROVAN_REPORT_ENDPOINT names another (for tests and staging servers).
std::string submission_endpoint();

// The update page for an application, in Chinese or English.
std::string update_page_address(const std::string& app_id, bool chinese);
// The report server's site address, the update link's visible text.
std::string report_site_address();

}  // namespace OrbwellSearch
