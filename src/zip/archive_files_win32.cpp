// Archive files of the Windows build: paths in UTF-8, opened through the
// system's wide functions, so that any folder name works.
#include <windows.h>

#include "system/unique_handle.h"
#include "system/utf8_text.h"
#include "zip/archive_io.h"

namespace Zip {

namespace {

using Core_Common::Unique_Handle;

uint64_t to_u64(const FILETIME& t) {
  return static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime;
}

class Win32_Output final : public Archive_Output {
 public:
  explicit Win32_Output(Unique_Handle file) : file_(std::move(file)) {}

  bool write(const uint8_t* data, size_t size) override {
    while (size > 0) {
      const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
      DWORD written = 0;
      if (!::WriteFile(file_.get(), data, chunk, &written, nullptr) || written != chunk) return false;
      data += chunk;
      size -= chunk;
    }
    return true;
  }
  bool seek(uint64_t position) override {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(position);
    return ::SetFilePointerEx(file_.get(), to, nullptr, FILE_BEGIN) != 0;
  }

 private:
  Unique_Handle file_;
};

class Win32_Source final : public Archive_Source {
 public:
  Win32_Source(Unique_Handle file, const Source_Info& info) : file_(std::move(file)), info_(info) {}

  size_t read(uint8_t* buffer, size_t size) override {
    DWORD got = 0;
    const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!::ReadFile(file_.get(), buffer, want, &got, nullptr)) {
      failed_ = true;
      return 0;
    }
    return got;
  }
  bool failed() const override { return failed_; }
  const Source_Info& info() const override { return info_; }

 private:
  Unique_Handle file_;
  Source_Info info_;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<Archive_Output> create_archive_file(const std::string& path) {
  Unique_Handle file(::CreateFileW(Core_Common::widen_utf8(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return nullptr;
  return std::make_unique<Win32_Output>(std::move(file));
}

std::unique_ptr<Archive_Source> open_source_file(const std::string& path) {
  Unique_Handle file(::CreateFileW(Core_Common::widen_utf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return nullptr;
  BY_HANDLE_FILE_INFORMATION by_handle;
  if (!::GetFileInformationByHandle(file.get(), &by_handle)) return nullptr;
  Source_Info info;
  info.size = static_cast<uint64_t>(by_handle.nFileSizeHigh) << 32 | by_handle.nFileSizeLow;
  info.attributes = by_handle.dwFileAttributes;
  info.last_write = to_u64(by_handle.ftLastWriteTime);
  info.last_access = to_u64(by_handle.ftLastAccessTime);
  info.creation = to_u64(by_handle.ftCreationTime);
  if (::SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return nullptr;
  return std::make_unique<Win32_Source>(std::move(file), info);
}

}  // namespace Zip
