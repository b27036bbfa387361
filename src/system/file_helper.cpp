#include "system/file_helper.h"

#include <atomic>
#include <system_error>

#include "system/system_library.h"

namespace Core_Common {

namespace {

[[noreturn]] void throw_last_error(const char* what) {
  throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), what);
}

}  // namespace

void file_t::fast_allocate() {
  static std::atomic<bool> attempted{false};
  if (attempted.exchange(true)) return;

  using Privilege_Check_Fn = BOOL(WINAPI*)(HANDLE, PPRIVILEGE_SET, LPBOOL);
  using Lookup_Privilege_Fn = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, PLUID);
  const System_Library advapi(L"Advapi32.dll");
  const auto privilege_check = advapi.find<Privilege_Check_Fn>("PrivilegeCheck");
  const auto lookup = advapi.find<Lookup_Privilege_Fn>("LookupPrivilegeValueW");
  if (privilege_check == nullptr || lookup == nullptr) throw_last_error("file_t::fast_allocate");

  LUID privilege;
  if (!lookup(nullptr, L"SeManageVolumePrivilege", &privilege)) throw_last_error("file_t::fast_allocate");
  HANDLE opened = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, &opened)) {
    throw_last_error("file_t::fast_allocate");
  }
  Unique_Handle token(opened);
  TOKEN_PRIVILEGES enable{};
  enable.PrivilegeCount = 1;
  enable.Privileges[0].Luid = privilege;
  enable.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  PRIVILEGE_SET check{};
  check.PrivilegeCount = 1;
  check.Control = 0;
  check.Privilege[0].Luid = privilege;
  check.Privilege[0].Attributes = SE_PRIVILEGE_ENABLED;
  BOOL held = FALSE;
  const bool ok = ::AdjustTokenPrivileges(token.get(), FALSE, &enable, 0, nullptr, nullptr) &&
                  privilege_check(token.get(), &check, &held);
  const DWORD error = ::GetLastError();
  token.reset();
  if (!ok) throw std::system_error(static_cast<int>(error), std::system_category(), "file_t::fast_allocate");
  if (!held) throw std::system_error(ERROR_PRIVILEGE_NOT_HELD, std::system_category(), "file_t::fast_allocate");
}

void file_t::open(const std::wstring& path, bool read_only) {
  close();
  handle_.reset(::CreateFileW(path.c_str(), read_only ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              read_only ? OPEN_EXISTING : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle_) throw_last_error("file_t::open");
}

size_t file_t::read(void* buffer, size_t count) {
  if (count == 0) return 0;
  DWORD got = 0;
  if (!::ReadFile(handle_.get(), buffer, static_cast<DWORD>(count), &got, nullptr)) {
    throw_last_error("file_t::read");
  }
  return got;
}

size_t file_t::write(const void* buffer, size_t count) {
  if (count == 0) return 0;
  DWORD written = 0;
  if (!::WriteFile(handle_.get(), buffer, static_cast<DWORD>(count), &written, nullptr)) {
    throw_last_error("file_t::write");
  }
  return written;
}

void file_t::set_length(uint32_t length) {
  // The privilege is process-wide, so it is asked for only here, where a
  // length changes, and not by every open of a file for reading.
  try {
    fast_allocate();
  } catch (const std::system_error&) {
    // Without it lengths change all the same, only with zero-fill.
  }
  ::SetLastError(0);
  if (::SetFilePointer(handle_.get(), static_cast<LONG>(length), nullptr, FILE_BEGIN) ==
          INVALID_SET_FILE_POINTER &&
      ::GetLastError() != 0) {
    throw_last_error("file_t::seek");
  }
  if (!::SetEndOfFile(handle_.get())) throw_last_error("file_t::set_length");
}

uint32_t file_t::get_length() {
  ::SetLastError(0);
  const DWORD size = ::GetFileSize(handle_.get(), nullptr);
  if (size == INVALID_FILE_SIZE && ::GetLastError() != 0) throw_last_error("file_t::get_length");
  return size;
}

void file_t::close() { handle_.reset(); }

bool read_whole_file(const std::wstring& path, std::string& content) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  file_t file;
  file.open(path, true);
  content.resize(file.get_length());
  // A file shorter than its size said (it shrank meanwhile) keeps only
  // what was read.
  size_t total = 0;
  while (total < content.size()) {
    const size_t n = file.read(&content[total], content.size() - total);
    if (n == 0) break;
    total += n;
  }
  content.resize(total);
  return true;
}

void write_whole_file(const std::wstring& path, const std::string& content) {
  file_t file;
  file.open(path, false);
  file.set_length(0);
  size_t total = 0;
  while (total < content.size()) {
    const size_t n = file.write(content.data() + total, content.size() - total);
    if (n == 0) throw std::system_error(ERROR_WRITE_FAULT, std::system_category(), "file_t::write");
    total += n;
  }
}

}  // namespace Core_Common
