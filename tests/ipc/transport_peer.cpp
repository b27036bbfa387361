// The other endpoint for the transport tests: a separate process that
// answers every PDU it receives with a receipt (its size and digest), sent
// back to the PDU's source from its main thread. "quit" ends it; so does
// its lifetime running out, so it never outlives a broken test.
//
//   transport_peer {OWN-ENDPOINT-ID} [LIFETIME_MS]
#include <windows.h>

#include <cstdlib>
#include <string>

#include "ipc/channel_identity.h"
#include "ipc/transport_detector.h"
#include "support/pdu_inbox.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  const std::wstring id_text = argv[1];
  const auto own = Core_IPC::parse_guid(std::string(id_text.begin(), id_text.end()));
  if (!own) return 2;
  const DWORD lifetime_ms = argc > 2 ? std::wcstoul(argv[2], nullptr, 10) : 60000;

  Core_IPC::set_own_endpoint_id(*own);
  Test_Support::Pdu_Inbox inbox;
  Core_IPC::Transport_Detector detector(&inbox);
  if (!detector.valid() || !detector.start()) return 3;

  const DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < lifetime_ms) {
    const auto pdu = inbox.wait_next(100);
    if (!pdu) continue;
    if (pdu->text() == "quit") return 0;
    const std::string receipt = Test_Support::receipt_for(pdu->bytes.data(), pdu->bytes.size());
    detector.send(reinterpret_cast<const uint8_t*>(receipt.data()), receipt.size(), pdu->source,
                  5000);
  }
  return 4;
}
