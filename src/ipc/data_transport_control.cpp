#include "ipc/data_transport_control.h"

#include <algorithm>
#include <cstring>

#include "ipc/channel_names.h"

namespace Core_IPC {

void Data_Transport_Control::View::reset(void* base) {
  if (base_ != nullptr) ::UnmapViewOfFile(base_);
  base_ = static_cast<uint8_t*>(base);
  size_ = 0;
  MEMORY_BASIC_INFORMATION region{};
  if (base_ != nullptr && ::VirtualQuery(base_, &region, sizeof region) == sizeof region) {
    size_ = region.RegionSize;
  }
}

Data_Transport_Control::Data_Transport_Control(Transport_Medium_Int* owner) : owner_(owner) {
  mapping_.assign_name(kMappingName);
  mapping_.adopt_handle(::CreateFileMappingW(INVALID_HANDLE_VALUE,
                                             mapping_.effective_security_attributes(),
                                             PAGE_READWRITE, 0, kMappingSize, kMappingName));
  if (mapping_.handle() != nullptr) {
    // FILE_MAP_WRITE gives read access too.
    view_.reset(::MapViewOfFile(mapping_.handle(), FILE_MAP_WRITE, 0, 0, 0));
  }
  // Opening an existing section keeps its size, whatever was asked for.
  failed_ = view_.size() < kMappingSize;
  if (failed_) view_.reset();
}

size_t Data_Transport_Control::size() const {
  // A larger section made by another process is used only up to the
  // channel's size.
  return std::min<size_t>(view_.size(), kMappingSize);
}

bool Data_Transport_Control::write(const uint8_t* bytes, size_t size) {
  if (failed_ || size >= this->size()) return false;
  std::memcpy(view_.data(), bytes, size);
  return true;
}

}  // namespace Core_IPC
