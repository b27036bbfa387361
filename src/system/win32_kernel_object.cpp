#include "system/win32_kernel_object.h"

#include <sddl.h>

#include "system/system_library.h"

namespace Core_Common {

namespace {

using InitializeSecurityDescriptor_Fn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, DWORD);
using SetSecurityDescriptorDacl_Fn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, BOOL, PACL, BOOL);
using GetSecurityDescriptorSacl_Fn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, LPBOOL, PACL*, LPBOOL);
using SetSecurityDescriptorSacl_Fn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, BOOL, PACL, BOOL);
using ConvertStringSecurityDescriptor_Fn = BOOL(WINAPI*)(LPCWSTR, DWORD, PSECURITY_DESCRIPTOR*,
                                                         PULONG);

// A SACL holding one mandatory label: integrity Low, no write-up.
constexpr wchar_t kLowIntegrityLabel[] = L"S:(ML;;NW;;;LW)";

}  // namespace

Win32_Kernel_Object::Win32_Kernel_Object() {
  attributes_.nLength = sizeof(SECURITY_ATTRIBUTES);
  attributes_.bInheritHandle = FALSE;
  build_descriptor();
}

Win32_Kernel_Object::~Win32_Kernel_Object() = default;

void Win32_Kernel_Object::build_descriptor() {
  // The functions are looked up at run time so that systems without
  // integrity labels still run, with default security.
  const System_Library advapi(L"Advapi32.dll");

  const auto initialize =
      advapi.find<InitializeSecurityDescriptor_Fn>("InitializeSecurityDescriptor");
  const auto set_dacl =
      advapi.find<SetSecurityDescriptorDacl_Fn>("SetSecurityDescriptorDacl");
  const auto get_sacl =
      advapi.find<GetSecurityDescriptorSacl_Fn>("GetSecurityDescriptorSacl");
  const auto set_sacl =
      advapi.find<SetSecurityDescriptorSacl_Fn>("SetSecurityDescriptorSacl");
  const auto convert = advapi.find<ConvertStringSecurityDescriptor_Fn>(
      "ConvertStringSecurityDescriptorToSecurityDescriptorW");
  if (!initialize || !set_dacl || !get_sacl || !set_sacl || !convert) return;

  // Any failing step leaves the object with default security.
  auto descriptor = std::make_unique<SECURITY_DESCRIPTOR>();
  if (!initialize(descriptor.get(), SECURITY_DESCRIPTOR_REVISION)) return;
  if (!set_dacl(descriptor.get(), TRUE, nullptr, FALSE)) return;

  PSECURITY_DESCRIPTOR converted = nullptr;
  if (!convert(kLowIntegrityLabel, SDDL_REVISION_1, &converted, nullptr)) return;
  std::unique_ptr<void, Local_Free> label(converted);

  BOOL sacl_present = FALSE;
  BOOL sacl_defaulted = FALSE;
  PACL sacl = nullptr;
  if (!get_sacl(converted, &sacl_present, &sacl, &sacl_defaulted)) return;
  if (!set_sacl(descriptor.get(), TRUE, sacl, FALSE)) return;

  label_descriptor_ = std::move(label);
  descriptor_ = std::move(descriptor);
  attributes_.lpSecurityDescriptor = descriptor_.get();
  descriptor_valid_ = true;
}

bool Win32_Kernel_Object::create_event(const std::wstring& name, bool manual_reset) {
  assign_name(name);
  handle_.reset(::CreateEventW(effective_security_attributes(), manual_reset ? TRUE : FALSE, FALSE,
                               name_.c_str()));
  return static_cast<bool>(handle_);
}

void Win32_Kernel_Object::assign_name(const std::wstring& name) {
  name_ = name;
}

}  // namespace Core_Common
