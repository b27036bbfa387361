#include "zip/zip_archive.h"

#include <algorithm>
#include <cctype>
#include <functional>

#include "zip/crc32.h"
#include "zip/deflater.h"
#include "zip/zip_time.h"

namespace Zip {

namespace {

constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kCopyBufferSize = 16 * 1024;
constexpr uint16_t kFlagDataDescriptor = 8;
constexpr uint64_t kMaxEntrySize = 0xFFFFFFFFu;

// Appends little-endian fields to a header under construction.
class Header_Bytes {
 public:
  Header_Bytes& u16(uint32_t v) {
    bytes_.push_back(static_cast<uint8_t>(v));
    bytes_.push_back(static_cast<uint8_t>(v >> 8));
    return *this;
  }
  Header_Bytes& u32(uint32_t v) { return u16(v & 0xffff).u16(v >> 16); }
  Header_Bytes& raw(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), p, p + size);
    return *this;
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// Reads a source to the full request (so the compressor's window is filled
// the same way whatever the file system returns), counting the bytes and
// running the CRC over them.
class Counting_Source final : public Deflate_Source {
 public:
  explicit Counting_Source(Archive_Source& source) : source_(source) {}

  size_t read(uint8_t* buffer, size_t size) override {
    size_t total = 0;
    while (total < size) {
      const size_t n = source_.read(buffer + total, size - total);
      if (n == 0) break;
      total += n;
    }
    crc_ = crc32_update(crc_, buffer, total);
    count_ += total;
    return total;
  }

  uint32_t crc() const { return crc_; }
  uint64_t count() const { return count_; }
  bool failed() const { return source_.failed(); }

 private:
  Archive_Source& source_;
  uint32_t crc_ = 0;
  uint64_t count_ = 0;
};

class Archive_Sink final : public Deflate_Sink {
 public:
  explicit Archive_Sink(std::function<bool(const uint8_t*, size_t)> write) : write_(std::move(write)) {}
  bool write(const uint8_t* data, size_t size) override { return write_(data, size); }

 private:
  std::function<bool(const uint8_t*, size_t)> write_;
};

// The fields local and central headers share, from "version needed" to
// the name length.
void put_common_fields(Header_Bytes& h, const ArchiveEntry& entry, uint16_t flags) {
  h.u16(entry.version_needed)
      .u16(flags)
      .u16(entry.method)
      .u16(entry.dos_time & 0xffff)
      .u16(entry.dos_time >> 16)
      .u32(entry.crc32)
      .u32(entry.compressed_size)
      .u32(entry.uncompressed_size)
      .u16(static_cast<uint32_t>(entry.name.size()));
}

std::string to_lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

void fill_extra_fields(ArchiveEntry& entry, const Source_Info& info) {
  // Info-ZIP extended timestamp: "UT", data length 13, flags 7
  // (modification, access and creation time), then the three times.
  uint8_t* e = entry.local_extra;
  e[0] = 'U';
  e[1] = 'T';
  e[2] = 13;
  e[3] = 0;
  e[4] = 7;
  const uint32_t times[3] = {unix_seconds(info.last_write), unix_seconds(info.last_access),
                             unix_seconds(info.creation)};
  for (int i = 0; i < 3; ++i) {
    for (int b = 0; b < 4; ++b) e[5 + 4 * i + b] = static_cast<uint8_t>(times[i] >> (8 * b));
  }
  // The central copy holds the modification time only.
  std::copy(e, e + ArchiveEntry::kCentralExtraSize, entry.central_extra);
  entry.central_extra[2] = 5;
}

}  // namespace

bool has_stored_only_extension(const std::string& name) {
  static const char* const kStored[] = {".z", ".zip", ".zoo", ".arc", ".lzh", ".arj", ".gz", ".tgz"};
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string extension = to_lower(name.substr(dot));
  return std::any_of(std::begin(kStored), std::end(kStored),
                     [&](const char* s) { return extension == s; });
}

uint32_t external_attributes_for(uint32_t windows_attributes) {
  constexpr uint32_t kReadOnly = 0x01;
  constexpr uint32_t kDirectory = 0x10;
  uint32_t mode = (windows_attributes & kDirectory) ? 0x4000 : 0x8000;
  mode |= 0x0100;                                      // owner read
  if (!(windows_attributes & kReadOnly)) mode |= 0x0080;  // owner write
  return mode << 16 | (windows_attributes & 0x37);
}

ZipArchive::ZipArchive(std::unique_ptr<Archive_Output> output) : output_(std::move(output)) {}

bool ZipArchive::write(const uint8_t* data, size_t size) {
  if (error_ != AR_OK) return false;
  if (!output_->write(data, size)) {
    error_ = AR_WRITE_FAILED;
    return false;
  }
  return true;
}

bool ZipArchive::write_local_header(const ArchiveEntry& entry) {
  Header_Bytes h;
  h.raw("PK\x03\x04", 4);
  put_common_fields(h, entry, entry.local_flags);
  h.u16(ArchiveEntry::kLocalExtraSize);
  return write(h.bytes().data(), h.bytes().size());
}

bool ZipArchive::write_central_header(const ArchiveEntry& entry) {
  Header_Bytes h;
  h.raw("PK\x01\x02", 4).u16(entry.version_made_by);
  put_common_fields(h, entry, entry.flags);
  h.u16(ArchiveEntry::kCentralExtraSize)
      .u16(entry.comment_length)
      .u16(entry.disk_number)
      .u16(entry.internal_attributes)
      .u32(entry.external_attributes)
      .u32(entry.local_header_offset)
      .raw(entry.name.data(), entry.name.size())
      .raw(entry.central_extra, ArchiveEntry::kCentralExtraSize);
  return write(h.bytes().data(), h.bytes().size());
}

uint32_t ZipArchive::copy_data(Archive_Source& source, ArchiveEntry& entry) {
  Counting_Source counted(source);
  uint64_t written = 0;
  bool ok;
  if (entry.method == kMethodDeflate) {
    Archive_Sink sink([&](const uint8_t* data, size_t size) { return write(data, size); });
    const Deflate_Result result = deflate_stream(counted, sink, kZipDeflateLevel);
    written = result.compressed_size;
    ok = result.ok;
  } else {
    std::vector<uint8_t> buffer(kCopyBufferSize);
    ok = true;
    for (;;) {
      const size_t n = counted.read(buffer.data(), buffer.size());
      if (n == 0) break;
      if (!write(buffer.data(), n)) {
        ok = false;
        break;
      }
      written += n;
    }
  }
  position_ += written;
  if (error_ != AR_OK) return error_;
  if (!ok || counted.failed() || counted.count() > kMaxEntrySize || written > kMaxEntrySize) {
    return AR_WRITE_FAILED;
  }
  entry.crc32 = counted.crc();
  entry.compressed_size = static_cast<uint32_t>(written);
  entry.uncompressed_size = static_cast<uint32_t>(counted.count());
  return AR_OK;
}

uint32_t ZipArchive::add(const std::string& name, std::unique_ptr<Archive_Source> source) {
  if (error_ != AR_OK) return AR_ALREADY_FAILED;
  if (closed_) return AR_ALREADY_CLOSED;
  if (name.empty() || name.size() > ArchiveEntry::kMaxNameLength) return AR_BAD_ARGUMENT;
  if (!source) return AR_CANNOT_OPEN;
  const Source_Info& info = source->info();
  if (info.size > kMaxEntrySize) return AR_CANNOT_OPEN;

  ArchiveEntry entry;
  entry.name = name;
  std::replace(entry.name.begin(), entry.name.end(), '\\', '/');
  entry.method = has_stored_only_extension(entry.name) ? kMethodStore : kMethodDeflate;
  entry.flags = entry.local_flags = kFlagDataDescriptor;
  entry.dos_time = dos_date_time(info.last_write);
  entry.compressed_size = entry.method == kMethodStore ? static_cast<uint32_t>(info.size) : 0;
  entry.uncompressed_size = static_cast<uint32_t>(info.size);
  entry.external_attributes = external_attributes_for(info.attributes);
  entry.local_header_offset = static_cast<uint32_t>(position_);
  fill_extra_fields(entry, info);

  if (!write_local_header(entry) ||
      !write(reinterpret_cast<const uint8_t*>(entry.name.data()), entry.name.size()) ||
      !write(entry.local_extra, ArchiveEntry::kLocalExtraSize)) {
    return AR_WRITE_FAILED;
  }
  position_ += kLocalHeaderSize + entry.name.size() + ArchiveEntry::kLocalExtraSize;

  const uint32_t copied = copy_data(*source, entry);
  const bool size_mismatch = entry.uncompressed_size != info.size;
  source.reset();
  if (copied != AR_OK) return copied;

  // The deflate flags carry the compression level; the descriptor bit goes.
  entry.flags = entry.method == kMethodDeflate ? 2 : 0;
  entry.local_flags = entry.flags;
  if (!output_->seek(archive_offset_ + entry.local_header_offset)) {
    error_ = AR_CANNOT_SEEK;
    return error_;
  }
  if (!write_local_header(entry)) return AR_WRITE_FAILED;
  if (!output_->seek(archive_offset_ + position_)) {
    error_ = AR_CANNOT_SEEK;
    return error_;
  }

  entries_.push_back(std::move(entry));
  return size_mismatch ? AR_SIZE_MISMATCH : AR_OK;
}

uint32_t ZipArchive::add_file(const std::string& name, const std::string& source_path) {
  if (error_ != AR_OK) return AR_ALREADY_FAILED;
  if (closed_) return AR_ALREADY_CLOSED;
  if (name.empty() || name.size() > ArchiveEntry::kMaxNameLength) return AR_BAD_ARGUMENT;
  return add(name, open_source_file(source_path));
}

uint32_t ZipArchive::close() {
  if (closed_) return AR_ALREADY_CLOSED;
  uint32_t result = AR_OK;
  const uint64_t central_start = position_;
  for (const ArchiveEntry& entry : entries_) {
    if (result == AR_OK && !write_central_header(entry)) result = AR_WRITE_FAILED;
    position_ += kCentralHeaderSize + entry.name.size() + ArchiveEntry::kCentralExtraSize +
                 entry.comment_length;
  }
  if (result == AR_OK) {
    const uint32_t count = static_cast<uint32_t>(entries_.size());
    Header_Bytes end;
    end.raw("PK\x05\x06", 4)
        .u16(0)
        .u16(0)
        .u16(count)
        .u16(count)
        .u32(static_cast<uint32_t>(position_ - central_start))
        .u32(static_cast<uint32_t>(central_start + archive_offset_))
        .u16(0);
    if (write(end.bytes().data(), end.bytes().size())) {
      position_ += kEndRecordSize;
    } else {
      result = AR_WRITE_FAILED;
    }
  }
  entries_.clear();
  closed_ = true;
  output_.reset();
  return result;
}

std::unique_ptr<ArchiveHandle> OpenArchive(const std::string& path) {
  std::unique_ptr<Archive_Output> output = create_archive_file(path);
  if (!output) return nullptr;
  auto handle = std::make_unique<ArchiveHandle>();
  handle->archive = std::make_unique<ZipArchive>(std::move(output));
  return handle;
}

uint32_t AddArchiveEntry(ArchiveHandle* handle, const std::string& entry_name,
                         const std::string& source_path) {
  if (handle == nullptr || !handle->archive) return AR_BAD_ARGUMENT;
  if (handle->mode != ArchiveHandle::kCreating) return AR_WRONG_MODE;
  return handle->archive->add_file(entry_name, source_path);
}

uint32_t CloseArchive(std::unique_ptr<ArchiveHandle> handle) {
  if (!handle || !handle->archive) return AR_BAD_ARGUMENT;
  if (handle->mode != ArchiveHandle::kCreating) return AR_WRONG_MODE;
  return handle->archive->close();
}

}  // namespace Zip
