// The rules of the unsent reports kept beside the reporter: a report that
// did not end with the server's acknowledgement waits in a folder of its
// own until a later run reaches the server. The folder is bounded; its
// files may have been edited by anyone, so everything read back is checked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Faultpost {

inline constexpr size_t kMaxUnsentReports = 10;
inline constexpr uint64_t kMaxUnsentBytes = 50ull * 1024 * 1024;

// An entry's folder name: "YYYYMMDD-hhmmss-NNNN" (UTC, then a sequence
// number), so that names sort by age. Anything else in the folder is not
// an entry.
std::string unsent_entry_name(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                              unsigned second, unsigned sequence);
bool is_unsent_entry_name(const std::string& name);

struct Unsent_Entry {
  std::string name;
  uint64_t bytes = 0;
};

// The entries to remove, oldest first, so that one more of `incoming_bytes`
// stays within both bounds. Every entry goes, and the incoming one is not
// kept either (`keep_incoming` false), when it alone is beyond the bytes.
struct Unsent_Admission {
  std::vector<std::string> drop;
  bool keep_incoming = true;
};
Unsent_Admission admit_unsent(std::vector<Unsent_Entry> entries, uint64_t incoming_bytes);

// What an entry keeps beside its archive and the user's text: lines
// "app=..." and "install_id=...". The app is the reporter's argument, the
// install id 32 bytes or empty.
struct Unsent_Fields {
  std::string app_version;
  std::string install_id;
};
std::string format_unsent_fields(const Unsent_Fields& fields);
// Nothing for a text beyond 1 KiB, without its app, or with a value that
// could not have been written.
std::optional<Unsent_Fields> parse_unsent_fields(const std::string& text);

}  // namespace Faultpost
