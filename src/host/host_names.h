// Names the host shares with the main client and with other starts of
// itself. Both sides must spell them exactly so.
#pragma once

namespace Plugin_Host {

// Created, not owned, by every starting host; the running one keeps it.
inline constexpr wchar_t kHostInstanceMutex[] = L"{VORANTIX-53DE14D9-A616-4ff0-BA62-9DF424D0665C}";
// Created by the main client; the host only probes it.
inline constexpr wchar_t kClientInstanceMutex[] = L"{VORANTIX-D19EACFB-5FD1-4615-A179-A9B9E38A6506}";
// Registered window message a host window answers with the message's id.
inline constexpr wchar_t kWhereAreYouMessage[] =
    L"WM_WHERE_ARE_YOU-{E67CC07E-ACF5-42b5-8AFF-6DE349BDFC6B}";
// Set once a host is ready to serve the main client.
inline constexpr wchar_t kReadyEvent[] = L"OrbwellPluginHostProcessCreated";

// The host's application name, read by the crash capture.
inline constexpr wchar_t kApplicationName[] = L"dr20100201";

}  // namespace Plugin_Host
