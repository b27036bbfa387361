// What the archive writer writes to and reads from. The Windows build backs
// these with Win32 files, the native build with ordinary files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace Zip {

class Archive_Output {
 public:
  virtual ~Archive_Output() = default;
  virtual bool write(const uint8_t* data, size_t size) = 0;
  virtual bool seek(uint64_t position) = 0;
};

// File times are Windows FILETIME values: 100 ns ticks since 1601 (UTC).
struct Source_Info {
  uint64_t size = 0;
  uint32_t attributes = 0;  // Windows file attributes
  uint64_t last_write = 0;
  uint64_t last_access = 0;
  uint64_t creation = 0;
};

class Archive_Source {
 public:
  virtual ~Archive_Source() = default;
  // Up to `size` bytes; 0 at the end or on an error (see failed()).
  virtual size_t read(uint8_t* buffer, size_t size) = 0;
  virtual bool failed() const = 0;
  virtual const Source_Info& info() const = 0;
};

// Creates (or truncates) the archive file; null when it cannot.
std::unique_ptr<Archive_Output> create_archive_file(const std::string& path);
// Opens a source file for reading and queries it; null when either fails.
std::unique_ptr<Archive_Source> open_source_file(const std::string& path);

}  // namespace Zip
