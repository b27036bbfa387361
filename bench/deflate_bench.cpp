// deflate_bench FILE...
// Compresses each file at level 8 with our Deflate and with zlib (raw
// deflate, window bits -15, memory level 8) in the same run, and prints the
// sizes and speeds of both, per file and in total.
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "zip/deflater.h"
#include "zip/memory_source.h"

namespace {

class Counting_Sink final : public Zip::Deflate_Sink {
 public:
  bool write(const uint8_t*, size_t size) override {
    bytes += size;
    return true;
  }
  size_t bytes = 0;
};

using Clock = std::chrono::steady_clock;

// Best of a few runs, to keep scheduling noise out of the figures.
constexpr int kRuns = 3;

size_t ours(const std::vector<uint8_t>& data, double& seconds) {
  size_t size = 0;
  seconds = 1e9;
  for (int run = 0; run < kRuns; ++run) {
    Zip::Memory_Source source(data.data(), data.size());
    Counting_Sink sink;
    const auto start = Clock::now();
    const Zip::Deflate_Result result = Zip::deflate_stream(source, sink, 8);
    seconds = std::min(seconds, std::chrono::duration<double>(Clock::now() - start).count());
    if (!result.ok) std::fprintf(stderr, "deflate failed: %s\n", result.error.c_str());
    size = sink.bytes;
  }
  return size;
}

size_t zlib(const std::vector<uint8_t>& data, double& seconds) {
  std::vector<uint8_t> out(deflateBound(nullptr, data.size()) + 1024);
  size_t size = 0;
  seconds = 1e9;
  for (int run = 0; run < kRuns; ++run) {
    const auto start = Clock::now();
    z_stream z{};
    deflateInit2(&z, 8, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    size = z.total_out;
    deflateEnd(&z);
    seconds = std::min(seconds, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return size;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: deflate_bench FILE...\n");
    return 2;
  }
  size_t total_in = 0, total_ours = 0, total_zlib = 0;
  double time_ours = 0, time_zlib = 0;
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    const std::vector<uint8_t> data(std::istreambuf_iterator<char>(in), {});
    double t_ours, t_zlib;
    const size_t s_ours = ours(data, t_ours);
    const size_t s_zlib = zlib(data, t_zlib);
    std::printf("%-40s in=%zu ours=%zu zlib=%zu ours_MBps=%.1f zlib_MBps=%.1f\n", argv[i],
                data.size(), s_ours, s_zlib, data.size() / t_ours / 1e6, data.size() / t_zlib / 1e6);
    total_in += data.size();
    total_ours += s_ours;
    total_zlib += s_zlib;
    time_ours += t_ours;
    time_zlib += t_zlib;
  }
  std::printf("total in=%zu ours=%zu zlib=%zu ours_MBps=%.1f zlib_MBps=%.1f size_ratio=%.4f speed_ratio=%.2f\n",
              total_in, total_ours, total_zlib, total_in / time_ours / 1e6, total_in / time_zlib / 1e6,
              static_cast<double>(total_ours) / total_zlib, time_zlib / time_ours);
  return 0;
}
