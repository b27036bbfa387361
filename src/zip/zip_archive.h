// A ZIP archive written straight to its output, entry after entry. Each
// local header is rewritten with the final CRC and sizes once its data is
// written, so no data descriptor is needed; the central directory and the
// end record follow on close.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zip/archive_io.h"
#include "zip/archive_result.h"

namespace Zip {

struct ArchiveEntry {
  static constexpr size_t kMaxNameLength = 259;
  static constexpr size_t kLocalExtraSize = 17;
  static constexpr size_t kCentralExtraSize = 9;

  uint16_t version_made_by = 0x0B17;
  uint16_t version_needed = 20;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t dos_time = 0;  // date in the high half, time in the low half
  uint32_t crc32 = 0;
  uint32_t compressed_size = 0;
  uint32_t uncompressed_size = 0;
  uint16_t comment_length = 0;
  uint16_t disk_number = 0;
  uint16_t internal_attributes = 0;
  uint16_t local_flags = 0;
  uint32_t external_attributes = 0;
  uint32_t local_header_offset = 0;
  std::string name;
  uint8_t local_extra[kLocalExtraSize] = {};
  uint8_t central_extra[kCentralExtraSize] = {};
};

inline constexpr uint16_t kMethodStore = 0;
inline constexpr uint16_t kMethodDeflate = 8;

// Whether a name's extension marks data that is already compressed.
bool has_stored_only_extension(const std::string& name);

// External attributes: Windows attributes in the low half, a Unix mode in
// the high half.
uint32_t external_attributes_for(uint32_t windows_attributes);

class ZipArchive {
 public:
  explicit ZipArchive(std::unique_ptr<Archive_Output> output);

  // Adds the bytes of `source` under `name`; see Archive_Result.
  uint32_t add(const std::string& name, std::unique_ptr<Archive_Source> source);
  // Opens the source file itself; a missing file leaves no trace.
  uint32_t add_file(const std::string& name, const std::string& source_path);
  // Writes the central directory and end record and releases the output.
  uint32_t close();

  bool closed() const { return closed_; }

 private:
  bool write(const uint8_t* data, size_t size);
  bool write_local_header(const ArchiveEntry& entry);
  bool write_central_header(const ArchiveEntry& entry);
  uint32_t copy_data(Archive_Source& source, ArchiveEntry& entry);

  std::unique_ptr<Archive_Output> output_;
  uint64_t archive_offset_ = 0;
  uint64_t position_ = 0;
  uint32_t error_ = AR_OK;  // the first write or seek error
  bool closed_ = false;
  std::vector<ArchiveEntry> entries_;
};

struct ArchiveHandle {
  static constexpr int kCreating = 2;
  int mode = kCreating;
  std::unique_ptr<ZipArchive> archive;
};

std::unique_ptr<ArchiveHandle> OpenArchive(const std::string& path);
uint32_t AddArchiveEntry(ArchiveHandle* handle, const std::string& entry_name,
                         const std::string& source_path);
// Closes the archive and releases the handle, whatever the result.
uint32_t CloseArchive(std::unique_ptr<ArchiveHandle> handle);

}  // namespace Zip
