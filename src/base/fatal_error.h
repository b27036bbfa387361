// The fatal internal error of the host: a broken internal rule (a timer
// used from a foreign thread, a timer without a callback, an impossible
// block or page size) throws this, and nothing catches it, so the process
// ends abnormally and the crash capture records it. Everything that raises
// it goes through raise_fatal_error(), the one place to take it over.
#pragma once

#include <stdexcept>

namespace Core_Common {

class Fatal_Error : public std::runtime_error {
 public:
  Fatal_Error() : std::runtime_error("crash") {}
};

[[noreturn]] void raise_fatal_error();

}  // namespace Core_Common
