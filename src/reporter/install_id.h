// The main client's install id, from "<ClientInstallID>" in "Orbwell.xml"
// beside the reporter. The file is the client's; the reporter only reads it.
#pragma once

#include <string>

namespace Faultpost {

// The text between the first "<ClientInstallID>" and the next
// "</ClientInstallID>" when it is exactly 32 bytes; empty otherwise.
std::string install_id_from(const std::string& configuration);

}  // namespace Faultpost
