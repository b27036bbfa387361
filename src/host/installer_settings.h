// Carries the language chosen in the installer into the plug-in's settings
// file on the first start after an installation, and clears the
// installer's fresh-installation mark. Every failure is silent: the host
// starts all the same.
#pragma once

#include <string>

namespace Plugin_Host {

// Registry keys under HKEY_CURRENT_USER, consulted in this order.
inline constexpr wchar_t kReleaseKey[] = L"Software\\Orbwell Pelion plugin";
inline constexpr wchar_t kBetaKey[] = L"Software\\OrbwellBeta Pelion plugin";

// `host_dir` holds "config\preferences.ini".
void apply_installer_settings(const std::wstring& host_dir);

}  // namespace Plugin_Host
