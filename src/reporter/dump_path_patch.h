// Rewrites, inside a minidump, the paths of the host's executable and of
// the plug-in library so that they name the fixed directory "d:\qa\"
// instead of the user's install directory. The two paths are found near
// the first "ntdll.dll" of the module list; each is replaced in place,
// followed by a UTF-16 NUL, only where the old path has room for it.
#pragma once

#include <string>

namespace Faultpost {

// The name the replacement paths use: the app argument, or its first 10
// characters and ".exe" when it is longer than 12.
std::u16string dump_replacement_tag(const std::u16string& app_argument);

// One step: in `window_bytes` from `window_begin`, find `search` (ASCII
// letters compared case-insensitively) and the first zero pair at or after
// it; write `replacement` and a NUL there when they fit before that pair.
// True when the dump changed.
bool replace_path_in_window(std::string& dump, size_t window_begin, size_t window_bytes,
                            const std::u16string& search, const std::u16string& replacement);

// Both steps, the executable's first; `reporter_dir` without a final
// backslash. True when the dump changed.
bool patch_dump_paths(std::string& dump, const std::u16string& reporter_dir,
                      const std::u16string& app_argument);

}  // namespace Faultpost
