// The shared mapping that carries one message at a time, mapped once for
// the channel's life.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "system/win32_kernel_object.h"

namespace Core_IPC {

class Transport_Medium_Int;

class Data_Transport_Control {
 public:
  // A mapped view of the whole mapping, unmapped when it goes. Its size is
  // what the system really mapped: another process may have created the
  // section first, and smaller.
  class View {
   public:
    View() = default;
    View(const View&) = delete;
    View& operator=(const View&) = delete;
    ~View() { reset(); }

    explicit operator bool() const { return base_ != nullptr; }
    uint8_t* data() const { return base_; }
    size_t size() const { return base_ != nullptr ? size_ : 0; }
    // Unmaps the view held and takes `base`, a view MapViewOfFile returned.
    void reset(void* base = nullptr);

   private:
    uint8_t* base_ = nullptr;
    size_t size_ = 0;
  };

  explicit Data_Transport_Control(Transport_Medium_Int* owner);

  // Also true when the section that exists under the channel's name is
  // smaller than the channel's size.
  bool failed() const { return failed_; }

  // Copies a whole message to offset 0. Refuses one of the mapping's size
  // or more.
  bool write(const uint8_t* bytes, size_t size);

  // The mapping as it is now; null when the channel failed. The bytes
  // change when another process writes.
  const uint8_t* data() const { return view_.data(); }
  size_t size() const;

 private:
  Core_Common::Adapt_Win32_MappingFile mapping_;
  View view_;
  bool failed_ = false;
  Transport_Medium_Int* owner_;
};

}  // namespace Core_IPC
