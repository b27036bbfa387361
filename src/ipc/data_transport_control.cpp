#include "ipc/data_transport_control.h"

#include <cstring>

#include "ipc/channel_names.h"

namespace Core_IPC {

size_t Data_Transport_Control::View::size() const { return base_ ? kMappingSize : 0; }

Data_Transport_Control::Data_Transport_Control(Transport_Medium_Int* owner) : owner_(owner) {
  mapping_.assign_name(kMappingName);
  mapping_.adopt_handle(::CreateFileMappingW(INVALID_HANDLE_VALUE,
                                             mapping_.effective_security_attributes(),
                                             PAGE_READWRITE, 0, kMappingSize, kMappingName));
  failed_ = mapping_.handle() == nullptr;
}

bool Data_Transport_Control::write(const uint8_t* bytes, size_t size) {
  if (failed_ || size >= kMappingSize) return false;
  View view(::MapViewOfFile(mapping_.handle(), FILE_MAP_WRITE, 0, 0, 0));
  if (!view) return false;
  std::memcpy(view.data(), bytes, size);
  return true;
}

Data_Transport_Control::View Data_Transport_Control::map_for_reading() const {
  if (failed_) return View();
  return View(::MapViewOfFile(mapping_.handle(), FILE_MAP_READ, 0, 0, 0));
}

}  // namespace Core_IPC
