#include "http/url_parts.h"

#include <charconv>

namespace OrbwellSearch {

std::optional<Url_Parts> ParseUrl(const std::string& url, size_t part_limit) {
  Url_Parts parts;
  size_t authority = 0;
  const size_t colon = url.find(':');
  if (colon == std::string::npos || colon + 1 >= url.size() || url[colon + 1] != '/') {
    parts.scheme = "http";
  } else {
    parts.scheme = url.substr(0, colon);
    authority = colon + 3;
    if (authority > url.size()) return std::nullopt;
  }

  const size_t at = url.find('@', authority);
  if (at != std::string::npos) {
    const size_t user_end = url.find(':', authority);
    if (user_end != std::string::npos && user_end < at) {
      parts.user = url.substr(authority, user_end - authority);
      parts.password = url.substr(user_end + 1, at - user_end - 1);
    }
    authority = at + 1;
  }

  const size_t slash = url.find('/', authority);
  const std::string host_part =
      url.substr(authority, slash == std::string::npos ? std::string::npos : slash - authority);
  const size_t port_colon = host_part.find(':');
  if (port_colon != std::string::npos) {
    parts.host = host_part.substr(0, port_colon);
    const std::string digits = host_part.substr(port_colon + 1);
    int port = -1;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (error != std::errc() || end != digits.data() + digits.size() || port < 0 || port > 65535) {
      return std::nullopt;
    }
    parts.port = port;
  } else {
    parts.host = host_part;
    parts.port = parts.scheme == "https" ? 443 : parts.scheme == "ftp" ? 21 : 80;
  }
  parts.path = slash == std::string::npos ? "/" : url.substr(slash);

  for (const std::string* part : {&parts.scheme, &parts.user, &parts.password, &parts.host, &parts.path}) {
    if (part->size() >= part_limit) return std::nullopt;
  }
  return parts;
}

std::optional<Scheme_Kind> scheme_kind(const std::string& scheme) {
  if (scheme.compare(0, 5, "https") == 0) return SCHEME_HTTPS;
  if (scheme.compare(0, 4, "http") == 0) return SCHEME_HTTP;
  if (scheme.compare(0, 3, "ftp") == 0) return SCHEME_FTP;
  return std::nullopt;
}

int default_port(Scheme_Kind kind) {
  switch (kind) {
    case SCHEME_FTP: return 21;
    case SCHEME_HTTPS: return 443;
    case SCHEME_HTTP: break;
  }
  return 80;
}

}  // namespace OrbwellSearch
