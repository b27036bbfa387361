// Unsent_Reports: the folder "Unsent Reports" beside the reporter, where a
// report that did not end with the server's acknowledgement waits for a
// later run (its archive, the user's text, the application argument and
// the install id). Bounded by the rules of unsent_report_rules.h; the
// oldest go first and are counted as dropped. An entry is written under a
// temporary name and renamed when whole, so a half-written one is never
// listed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Faultpost {

struct Unsent_Report {
  std::wstring folder;        // the entry's folder
  std::string app_version;    // the reporter's argument, system code page
  std::string install_id;
  std::string user_message;   // system code page, as the form takes it
  std::wstring archive_path;  // the entry's copy of CRASH.ZIP
};

class Unsent_Reports {
 public:
  // `directory`: the reporter's, without a final backslash.
  explicit Unsent_Reports(const std::wstring& directory);

  // Keeps a copy of `archive` with the report's fields; false when it could
  // not be kept whole (nothing is then left behind).
  bool keep(const std::wstring& archive, const std::string& app_version, const std::string& install_id,
            const std::string& user_message) const;
  // The readable entries, oldest first.
  std::vector<Unsent_Report> list() const;
  // An entry that was acknowledged, or that its server refuses for good.
  void remove(const Unsent_Report& report) const;
  // Reports dropped to keep within the bounds, ever.
  uint64_t dropped() const;

 private:
  void count_dropped(uint64_t more) const;

  std::wstring folder_;
};

}  // namespace Faultpost
