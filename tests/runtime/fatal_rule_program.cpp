// Breaks one of the host's internal rules and must not survive it.
//
//   fatal_rule_program foreign-timer
//   fatal_rule_program empty-callback CONTEXT_FILE
//   fatal_rule_program huge-page-request
//
// Exits 0 only if it carried on past the broken rule, which is the fault the
// caller looks for. For empty-callback the crash context text is written to
// CONTEXT_FILE from the terminate handler before the process aborts.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <thread>

#include "base/crash_context.h"
#include "runtime/timer_queue.h"
#include "system/page_allocator.h"

namespace {

const char* g_context_file = nullptr;

void write_context_and_abort() {
  if (g_context_file != nullptr) {
    if (std::FILE* f = std::fopen(g_context_file, "wb")) {
      const std::wstring text = Core_Common::crash_context_text();
      for (wchar_t c : text) std::fputc(static_cast<char>(c), f);
      std::fclose(f);
    }
  }
  std::abort();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string mode = argv[1];
  Core_Common::create_timer_queue();

  if (mode == "foreign-timer") {
    Core_Common::timer_t* handle = nullptr;
    std::thread foreign([&] { Core_Common::set_timer(handle, 10, false, "foreign", [] {}); });
    foreign.join();
  } else if (mode == "empty-callback" && argc > 2) {
    g_context_file = argv[2];
    std::set_terminate(write_context_and_abort);
    Core_Common::timer_t* handle = nullptr;
    Core_Common::set_timer(handle, 0, false, "tick_name", nullptr);
    ::Sleep(100);
    Core_Common::run_due_timers();
  } else if (mode == "huge-page-request") {
    Core_Common::page_alloc(Core_Common::kMaxPageRequest + 1);
  } else {
    return 2;
  }
  return 0;
}
