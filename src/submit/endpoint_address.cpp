#include "submit/endpoint_address.h"

#include <cstdlib>

#ifndef DROVAN_REPORT_ENDPOINT
#define DROVAN_REPORT_ENDPOINT "http://127.0.0.1:8080/faultpost/submit"
#endif
#ifndef DROVAN_REPORT_SITE
#define DROVAN_REPORT_SITE "http://127.0.0.1:8080"
#endif

namespace OrbwellSearch {

namespace {

constexpr auto kStoredEndpoint = scramble_address(DROVAN_REPORT_ENDPOINT);

void replace_all(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

}  // namespace

std::string unscramble_address(const unsigned char* stored, size_t size) {
  std::string plain(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    plain[i] = static_cast<char>(
        (stored[i] + static_cast<unsigned char>(kEndpointKey[endpoint_key_index(i)]) - 93) & 0xff);
  }
  return plain;
}

std::string submission_endpoint() {
  if (const char* override_address = std::getenv("DROVAN_REPORT_ENDPOINT")) {
    if (*override_address != '\0') return override_address;
  }
  return unscramble_address(kStoredEndpoint.stored.data(), kStoredEndpoint.stored.size());
}

std::string report_site_address() {
  if (const char* override_site = std::getenv("DROVAN_REPORT_SITE")) {
    if (*override_site != '\0') return override_site;
  }
  return DROVAN_REPORT_SITE;
}

std::string update_page_address(const std::string& app_id, bool chinese) {
  std::string address = report_site_address() + "/client/faultpost/?app_id=${app_id}&l=${lang_id}";
  replace_all(address, "${app_id}", app_id);
  replace_all(address, "${lang_id}", chinese ? "zh_cn" : "us_en");
  return address;
}

}  // namespace OrbwellSearch
