// Splitting a URL into the parts the HTTP client connects with.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace OrbwellSearch {

enum Scheme_Kind { SCHEME_FTP = 0, SCHEME_HTTP = 1, SCHEME_HTTPS = 2 };

struct Url_Parts {
  std::string scheme;
  std::string user;
  std::string password;
  std::string host;
  int port = 0;
  std::string path;  // with the query; "/" when the URL has none
};

// Each part must stay below `part_limit` bytes (the buffers it was once
// split into); a URL with a longer part, or a port that is not a decimal
// number from 0 to 65535, is refused.
std::optional<Url_Parts> ParseUrl(const std::string& url, size_t part_limit = 1024);

// "https…" 2, "http…" 1, "ftp…" 0 (case-sensitive prefixes); anything else
// is refused.
std::optional<Scheme_Kind> scheme_kind(const std::string& scheme);

int default_port(Scheme_Kind kind);

}  // namespace OrbwellSearch
