// The submission lock: guards the queued clients and the success
// transitions of every client's state. Recursive, so that a completion
// delivered inside a WinINet call of the worker passes.
#pragma once

#include <mutex>

namespace OrbwellSearch {

extern std::recursive_mutex g_submit_lock;

}  // namespace OrbwellSearch
