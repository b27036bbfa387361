#include "ipc/data_transport_control.h"

#include <cstring>

#include "ipc/channel_names.h"

namespace Core_IPC {

Data_Transport_Control::View::View(void* base) : base_(static_cast<uint8_t*>(base)) {
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
  // Opening an existing section keeps its size, whatever was asked for.
  failed_ = mapping_.handle() == nullptr || map_for_reading().size() < kMappingSize;
}

bool Data_Transport_Control::write(const uint8_t* bytes, size_t size) {
  if (failed_ || size >= kMappingSize) return false;
  View view(::MapViewOfFile(mapping_.handle(), FILE_MAP_WRITE, 0, 0, 0));
  if (!view || size >= view.size()) return false;
  std::memcpy(view.data(), bytes, size);
  return true;
}

Data_Transport_Control::View Data_Transport_Control::map_for_reading() const {
  if (failed_) return View();
  return View(::MapViewOfFile(mapping_.handle(), FILE_MAP_READ, 0, 0, 0));
}

}  // namespace Core_IPC
