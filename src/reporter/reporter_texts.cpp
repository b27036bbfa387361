#include "reporter/reporter_texts.h"

#include <atomic>

namespace Faultpost {

namespace {

std::atomic<bool> g_chinese{false};

}  // namespace

void set_chinese_texts(bool chinese) { g_chinese = chinese; }
bool chinese_texts() { return g_chinese; }

}  // namespace Faultpost
