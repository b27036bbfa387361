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

size_t copy_crash_context_text(wchar_t* out, size_t capacity) {
  if (capacity == 0) return 0;
  out[0] = L'\0';
  std::unique_lock<std::mutex> hold(slot().lock, std::try_to_lock);
  if (!hold.owns_lock()) return 0;
  const std::wstring& text = slot().text;
  const size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
  for (size_t i = 0; i < n; ++i) out[i] = text[i];
  out[n] = L'\0';
  return n;
}

}  // namespace Core_Common
