// Who the running program is, for the crash log: the application name and
// the product title. Set once at start-up, before any other thread runs;
// read while a crash is written, so the reads neither lock nor allocate.
#pragma once

#include <cstddef>

namespace Core_Common {

inline constexpr size_t kApplicationIdentityMax = 63;  // characters, longer texts are cut

void set_application_name(const wchar_t* name);
void set_product_title(const wchar_t* title);
// Never null; empty until set.
const wchar_t* application_name();
const wchar_t* product_title();

}  // namespace Core_Common
