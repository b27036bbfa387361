#include "http/submit_lock.h"

namespace OrbwellSearch {

std::recursive_mutex g_submit_lock;

}  // namespace OrbwellSearch
