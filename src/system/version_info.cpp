#include "system/version_info.h"

#include <cstdio>

namespace Core_Common {

namespace {

constexpr size_t kFileVersionTextMax = 199;

std::array<uint16_t, 4> parts_of(DWORD high, DWORD low) {
  return {static_cast<uint16_t>(high >> 16), static_cast<uint16_t>(high & 0xffff),
          static_cast<uint16_t>(low >> 16), static_cast<uint16_t>(low & 0xffff)};
}

}  // namespace

bool read_version_info(const std::wstring& path, version_info& info) {
  info = version_info{};
  info.path = path.substr(0, kVersionTextMax);

  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(info.path.c_str(), &ignored);
  if (size == 0) return false;
  info.block.assign(size + 1, 0);
  if (!::GetFileVersionInfoW(info.path.c_str(), 0, size, info.block.data())) {
    info.block.clear();
    return false;
  }

  void* fixed = nullptr;
  UINT fixed_size = 0;
  if (::VerQueryValueW(info.block.data(), L"\\", &fixed, &fixed_size) && fixed != nullptr &&
      fixed_size >= sizeof(VS_FIXEDFILEINFO)) {
    const auto* f = static_cast<const VS_FIXEDFILEINFO*>(fixed);
    info.file_version = parts_of(f->dwFileVersionMS, f->dwFileVersionLS);
    info.product_version = parts_of(f->dwProductVersionMS, f->dwProductVersionLS);
    info.file_flags = f->dwFileFlags;
    info.file_os = f->dwFileOS;
    info.file_type = f->dwFileType;
    info.file_subtype = f->dwFileSubtype;
  }

  query_version_string(info, L"CompanyName", info.company_name);
  query_version_string(info, L"ProductName", info.product_name);
  query_version_string(info, L"FileDescription", info.file_description);
  query_version_string(info, L"LegalCopyright", info.legal_copyright);
  query_version_string(info, L"FileVersion", info.file_version_text);
  query_version_string(info, L"ProductVersion", info.product_version_text);
  return true;
}

std::unique_ptr<version_info> make_version_info(const std::wstring& path) {
  auto info = std::make_unique<version_info>();
  if (!read_version_info(path, *info)) return nullptr;
  return info;
}

bool query_version_string(const version_info& info, const wchar_t* name, std::wstring& text) {
  text.clear();
  if (info.block.empty()) return false;
  void* block = const_cast<uint8_t*>(info.block.data());

  struct Translation {
    WORD language;
    WORD code_page;
  };
  void* table = nullptr;
  UINT table_size = 0;
  if (!::VerQueryValueW(block, L"\\VarFileInfo\\Translation", &table, &table_size) ||
      table == nullptr || table_size < sizeof(Translation)) {
    return false;
  }
  const auto* first = static_cast<const Translation*>(table);

  wchar_t query[128];
  std::swprintf(query, sizeof query / sizeof query[0], L"\\StringFileInfo\\%04x%04x\\%ls",
                first->language, first->code_page, name);
  void* value = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(block, query, &value, &length) || value == nullptr) return false;
  // The length counts characters, the terminator included where present.
  std::wstring found(static_cast<const wchar_t*>(value), length);
  found = found.substr(0, found.find(L'\0'));
  text = found.substr(0, kVersionTextMax);
  return true;
}

std::wstring file_version_text(const version_info& info) {
  return info.file_version_text.substr(0, kFileVersionTextMax);
}

}  // namespace Core_Common
