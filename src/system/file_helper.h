// The host's owner of a Win32 file handle, and whole-file read and
// replace. Failures throw std::system_error with the system category and
// the failing call's last-error code.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "system/unique_handle.h"

namespace Core_Common {

class file_t {
 public:
  file_t() = default;
  ~file_t() { close(); }
  file_t(const file_t&) = delete;
  file_t& operator=(const file_t&) = delete;

  // Read-only opens an existing file; otherwise the file is opened for
  // reading and writing and created when absent.
  void open(const std::wstring& path, bool read_only);
  size_t read(void* buffer, size_t count);
  size_t write(const void* buffer, size_t count);
  // Moves to `length` from the start and ends the file there.
  void set_length(uint32_t length);
  uint32_t get_length();
  void close();
  bool is_open() const { return static_cast<bool>(handle_); }

  // Tries once per process to enable the volume-maintenance privilege in
  // the process's token, which lets a file's length change without the
  // system zero-filling the new part. Throws on any failed step.
  static void fast_allocate();

 private:
  Unique_Handle handle_;
};

// False, with the last error ERROR_FILE_NOT_FOUND, when `path` is not an
// existing regular file.
bool read_whole_file(const std::wstring& path, std::string& content);
void write_whole_file(const std::wstring& path, const std::string& content);

}  // namespace Core_Common
