#include "reporter/install_id.h"

namespace Faultpost {

std::string install_id_from(const std::string& configuration) {
  constexpr char kOpen[] = "<ClientInstallID>";
  constexpr char kClose[] = "</ClientInstallID>";
  constexpr size_t kIdBytes = 32;
  const size_t open = configuration.find(kOpen);
  if (open == std::string::npos) return std::string();
  const size_t begin = open + sizeof kOpen - 1;
  const size_t close = configuration.find(kClose, begin);
  if (close == std::string::npos || close - begin != kIdBytes) return std::string();
  return configuration.substr(begin, kIdBytes);
}

}  // namespace Faultpost
