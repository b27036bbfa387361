// Archive files of the native build, over stdio and stat().
#include <sys/stat.h>

#include <cstdio>

#include "zip/archive_io.h"

namespace Zip {

namespace {

constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrArchive = 0x20;

uint64_t file_time_of(const struct timespec& t) {
  const int64_t seconds = static_cast<int64_t>(t.tv_sec) + 11644473600;
  if (seconds < 0) return 0;
  return static_cast<uint64_t>(seconds) * 10000000 + static_cast<uint64_t>(t.tv_nsec) / 100;
}

struct File_Close {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using Unique_File = std::unique_ptr<std::FILE, File_Close>;

class Posix_Output final : public Archive_Output {
 public:
  explicit Posix_Output(Unique_File file) : file_(std::move(file)) {}
  ~Posix_Output() override = default;

  bool write(const uint8_t* data, size_t size) override {
    return std::fwrite(data, 1, size, file_.get()) == size;
  }
  bool seek(uint64_t position) override {
    return fseeko(file_.get(), static_cast<off_t>(position), SEEK_SET) == 0;
  }

 private:
  Unique_File file_;
};

class Posix_Source final : public Archive_Source {
 public:
  Posix_Source(Unique_File file, const Source_Info& info) : file_(std::move(file)), info_(info) {}

  size_t read(uint8_t* buffer, size_t size) override {
    const size_t n = std::fread(buffer, 1, size, file_.get());
    if (n < size && std::ferror(file_.get())) failed_ = true;
    return n;
  }
  bool failed() const override { return failed_; }
  const Source_Info& info() const override { return info_; }

 private:
  Unique_File file_;
  Source_Info info_;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<Archive_Output> create_archive_file(const std::string& path) {
  Unique_File file(std::fopen(path.c_str(), "wb"));
  if (!file) return nullptr;
  return std::make_unique<Posix_Output>(std::move(file));
}

std::unique_ptr<Archive_Source> open_source_file(const std::string& path) {
  Unique_File file(std::fopen(path.c_str(), "rb"));
  if (!file) return nullptr;
  struct stat st;
  if (fstat(fileno(file.get()), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  Source_Info info;
  info.size = static_cast<uint64_t>(st.st_size);
  info.attributes = kAttrArchive | ((st.st_mode & S_IWUSR) ? 0 : kAttrReadOnly);
  info.last_write = file_time_of(st.st_mtim);
  info.last_access = file_time_of(st.st_atim);
  info.creation = file_time_of(st.st_ctim);
  return std::make_unique<Posix_Source>(std::move(file), info);
}

}  // namespace Zip
