#include "base/crash_context.h"

#include <mutex>

namespace Core_Common {

namespace {

struct Slot {
  std::mutex lock;
  std::wstring text;
};

Slot& slot() {
  static Slot instance;
  return instance;
}

}  // namespace

void set_crash_context_text(const std::wstring& text) {
  std::lock_guard<std::mutex> hold(slot().lock);
  slot().text = text.substr(0, kCrashContextMax);
}

std::wstring crash_context_text() {
  std::lock_guard<std::mutex> hold(slot().lock);
  return slot().text;
}

}  // namespace Core_Common
