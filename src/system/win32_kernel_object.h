// Named kernel objects shared with the other end of the channel. Each
// object builds its own security descriptor: a NULL DACL (everyone has full
// access) and a Low mandatory integrity label, so that a process running at
// a lower integrity level can open what this process creates. Where the
// system cannot build such a descriptor the object gets default security.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "system/unique_handle.h"

namespace Core_Common {

class Win32_Kernel_Object {
 public:
  Win32_Kernel_Object();
  virtual ~Win32_Kernel_Object();

  // The security attributes point into the object itself.
  Win32_Kernel_Object(const Win32_Kernel_Object&) = delete;
  Win32_Kernel_Object& operator=(const Win32_Kernel_Object&) = delete;

  virtual HANDLE handle() const { return handle_.get(); }
  virtual std::wstring name() const { return name_; }
  virtual SECURITY_ATTRIBUTES* security_attributes() { return &attributes_; }
  // The embedded attributes when the low-integrity descriptor was built,
  // otherwise null (default security).
  virtual SECURITY_ATTRIBUTES* effective_security_attributes() {
    return descriptor_valid_ ? &attributes_ : nullptr;
  }

  // Creates (or opens, when it exists) a named event, initially
  // non-signalled. Returns whether a handle was obtained.
  bool create_event(const std::wstring& name, bool manual_reset);

  // Stores the name for an object created later by the owner.
  void assign_name(const std::wstring& name);

  // Takes ownership of a handle the owner created under the assigned name.
  void adopt_handle(HANDLE handle) { handle_.reset(handle); }

 private:
  struct Local_Free {
    void operator()(void* p) const { ::LocalFree(p); }
  };

  void build_descriptor();

  SECURITY_ATTRIBUTES attributes_{};
  bool descriptor_valid_ = false;
  Unique_Handle handle_;
  std::wstring name_;
  std::unique_ptr<SECURITY_DESCRIPTOR> descriptor_;
  // The label's SACL lives inside this converted descriptor, so it must
  // outlive descriptor_.
  std::unique_ptr<void, Local_Free> label_descriptor_;
};

// The two kinds the channel names: its events and its mapping.
class Adapt_Win32_Event : public Win32_Kernel_Object {};
class Adapt_Win32_MappingFile : public Win32_Kernel_Object {};

}  // namespace Core_Common
