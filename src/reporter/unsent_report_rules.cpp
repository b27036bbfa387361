#include "reporter/unsent_report_rules.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace Faultpost {

namespace {

constexpr size_t kMaxFieldsText = 1024;
constexpr size_t kMaxAppVersion = 260;

bool printable(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x20; });
}

// As the client's settings give it: exactly 32 bytes, or none.
bool install_id_shape(const std::string& id) { return id.empty() || id.size() == 32; }

}  // namespace

std::string unsent_entry_name(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                              unsigned second, unsigned sequence) {
  char name[32];
  std::snprintf(name, sizeof name, "%04u%02u%02u-%02u%02u%02u-%04u", year % 10000, month % 100, day % 100,
                hour % 100, minute % 100, second % 100, sequence % 10000);
  return name;
}

bool is_unsent_entry_name(const std::string& name) {
  static const char kShape[] = "########-######-####";
  if (name.size() != sizeof kShape - 1) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const bool digit = std::isdigit(static_cast<unsigned char>(name[i])) != 0;
    if (kShape[i] == '#' ? !digit : name[i] != kShape[i]) return false;
  }
  return true;
}

Unsent_Admission admit_unsent(std::vector<Unsent_Entry> entries, uint64_t incoming_bytes) {
  std::sort(entries.begin(), entries.end(),
            [](const Unsent_Entry& a, const Unsent_Entry& b) { return a.name < b.name; });
  Unsent_Admission admission;
  if (incoming_bytes > kMaxUnsentBytes) {
    admission.keep_incoming = false;
    return admission;
  }
  uint64_t total = incoming_bytes;
  for (const Unsent_Entry& entry : entries) total += entry.bytes;
  size_t count = entries.size() + 1;
  for (const Unsent_Entry& entry : entries) {
    if (count <= kMaxUnsentReports && total <= kMaxUnsentBytes) break;
    admission.drop.push_back(entry.name);
    total -= entry.bytes;
    --count;
  }
  return admission;
}

std::string format_unsent_fields(const Unsent_Fields& fields) {
  return "app=" + fields.app_version + "\n" + "install_id=" + fields.install_id + "\n";
}

std::optional<Unsent_Fields> parse_unsent_fields(const std::string& text) {
  if (text.size() > kMaxFieldsText) return std::nullopt;
  Unsent_Fields fields;
  bool have_app = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (!printable(value)) return std::nullopt;
    if (key == "app") {
      if (value.empty() || value.size() > kMaxAppVersion) return std::nullopt;
      fields.app_version = value;
      have_app = true;
    } else if (key == "install_id") {
      if (!install_id_shape(value)) return std::nullopt;
      fields.install_id = value;
    }
  }
  if (!have_app) return std::nullopt;
  return fields;
}

}  // namespace Faultpost
