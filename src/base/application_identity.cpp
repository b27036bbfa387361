#include "base/application_identity.h"

namespace Core_Common {

namespace {

wchar_t g_application_name[kApplicationIdentityMax + 1];
wchar_t g_product_title[kApplicationIdentityMax + 1];

void copy_cut(wchar_t (&to)[kApplicationIdentityMax + 1], const wchar_t* from) {
  size_t n = 0;
  for (; from != nullptr && n < kApplicationIdentityMax && from[n] != L'\0'; ++n) to[n] = from[n];
  to[n] = L'\0';
}

}  // namespace

void set_application_name(const wchar_t* name) { copy_cut(g_application_name, name); }
void set_product_title(const wchar_t* title) { copy_cut(g_product_title, title); }
const wchar_t* application_name() { return g_application_name; }
const wchar_t* product_title() { return g_product_title; }

}  // namespace Core_Common
