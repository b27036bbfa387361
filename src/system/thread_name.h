// Labels the calling thread for debuggers and crash dumps.
#pragma once

namespace Core_Common {

void set_current_thread_name(const wchar_t* name);

}  // namespace Core_Common
