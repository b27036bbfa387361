#include "base/fatal_error.h"

namespace Core_Common {

void raise_fatal_error() { throw Fatal_Error(); }

}  // namespace Core_Common
