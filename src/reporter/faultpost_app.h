// CFaultpostApp: the reporter from start to end. It reads the crash log,
// packs the crash files and shows the report dialog once; it has no message
// loop of its own.
#pragma once

namespace Faultpost {

class CFaultpostApp {
 public:
  // The process's exit code.
  int main();
};

}  // namespace Faultpost
