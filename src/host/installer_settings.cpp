#include "host/installer_settings.h"

#include <windows.h>

#include <system_error>
#include <vector>

#include "host/preferences_file.h"
#include "system/file_helper.h"

namespace Plugin_Host {

namespace {

class Registry_Key {
 public:
  Registry_Key() = default;
  ~Registry_Key() {
    if (key_ != nullptr) ::RegCloseKey(key_);
  }
  Registry_Key(const Registry_Key&) = delete;
  Registry_Key& operator=(const Registry_Key&) = delete;

  bool open_for_query(const wchar_t* path) {
    return ::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_QUERY_VALUE, &key_) == ERROR_SUCCESS;
  }
  bool create(const wchar_t* path) {
    return ::RegCreateKeyW(HKEY_CURRENT_USER, path, &key_) == ERROR_SUCCESS;
  }
  // The value's bytes, the size asked first; nothing when it is missing.
  bool read(const wchar_t* name, std::vector<BYTE>& data) const {
    DWORD size = 0;
    if (::RegQueryValueExW(key_, name, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) {
      return false;
    }
    data.assign(size + 1, 0);
    DWORD read = size;
    if (::RegQueryValueExW(key_, name, nullptr, nullptr, data.data(), &read) != ERROR_SUCCESS) {
      return false;
    }
    data.resize(read < size ? read : size);
    return true;
  }
  void delete_value(const wchar_t* name) const { ::RegDeleteValueW(key_, name); }

 private:
  HKEY key_ = nullptr;
};

// Set when "NewInstall" has at least 2 bytes and the first is 1 (a DWORD
// 1 qualifies).
bool has_fresh_install_mark(const wchar_t* key_path) {
  Registry_Key key;
  std::vector<BYTE> data;
  if (!key.open_for_query(key_path) || !key.read(L"NewInstall", data)) return false;
  return data.size() >= 2 && data[0] == 1;
}

void clear_fresh_install_mark(const wchar_t* key_path) {
  Registry_Key key;
  if (key.create(key_path)) key.delete_value(L"NewInstall");
}

// "Installer Language" without its terminator; empty when shorter than
// three bytes or missing.
std::wstring installer_language(const wchar_t* key_path) {
  Registry_Key key;
  std::vector<BYTE> data;
  if (!key.open_for_query(key_path) || !key.read(L"Installer Language", data) || data.size() < 3) {
    return std::wstring();
  }
  std::wstring text(data.size() / 2 - 1, L'\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<wchar_t>(data[2 * i] | (data[2 * i + 1] << 8));
  return text;
}

void write_language(const std::wstring& host_dir, const std::string& language) {
  const std::wstring config_dir = host_dir + L"\\config";
  const std::wstring path = config_dir + L"\\preferences.ini";
  try {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      // The plug-in reads its settings from there; a missing folder is
      // made rather than the choice lost.
      ::CreateDirectoryW(config_dir.c_str(), nullptr);
      Core_Common::write_whole_file(path, new_preferences(language));
      return;
    }
    std::string content;
    if (!Core_Common::read_whole_file(path, content)) return;
    Core_Common::write_whole_file(path, rewrite_language(content, language));
  } catch (const std::system_error&) {
    // A settings file that cannot be written keeps its old language.
  }
}

}  // namespace

void apply_installer_settings(const std::wstring& host_dir) {
  // Without the host's directory the file's path would name the drive's
  // root.
  if (host_dir.empty()) return;
  if (!has_fresh_install_mark(kReleaseKey) && !has_fresh_install_mark(kBetaKey)) return;

  // Cleared before anything else, so a failure below is not retried at the
  // next start.
  clear_fresh_install_mark(kReleaseKey);
  clear_fresh_install_mark(kBetaKey);

  std::wstring language = installer_language(kReleaseKey);
  if (language.empty()) language = installer_language(kBetaKey);
  if (!is_accepted_language(language)) return;
  write_language(host_dir, std::string(language.begin(), language.end()));  // ASCII digits
}

}  // namespace Plugin_Host
