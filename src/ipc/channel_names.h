// Names and sizes of the kernel objects that make up the shared-memory
// channel. Both ends must agree on them byte for byte.
#pragma once

#include <cstdint>

namespace Core_IPC {

inline constexpr wchar_t kMappingName[] = L"DD5C2804_E054_4804_A0CE_09887910EC62";
inline constexpr wchar_t kWriterMutexName[] = L"75DAD82D-A77F-49e5-ADD3-8F11C1940689";
inline constexpr wchar_t kAcknowledgeEventName[] = L"8A54EF8C-30F0-4aeb-B1A8-0D5E51727811";
inline constexpr wchar_t kWakeAllEventName[] = L"9562875F_56EE_4564_A45F_3E34F9F5ECAD";

// The mapping holds one message at a time.
inline constexpr uint32_t kMappingSize = 0xA00000;

// Fixed waits of a send, in milliseconds.
inline constexpr uint32_t kWriterMutexWaitMs = 2000;
inline constexpr uint32_t kAcknowledgeWaitMs = 1000;

}  // namespace Core_IPC
