// The other end for the RPC tests: a process with its own endpoint id that
// serves the peer interface and calls back into the test's interface.
//
//   rpc_peer {OWN-ENDPOINT-ID} {TEST-ENDPOINT-ID} [LIFETIME_MS]
#include <windows.h>

#include <cstdlib>
#include <string>

#include "ipc/channel_identity.h"
#include "ipc/procedure_calls.h"
#include "rpc_test_interface.h"
#include "system/unique_handle.h"

namespace {

using namespace Core_IPC;
using namespace Rpc_Test;

std::optional<Guid> guid_argument(const wchar_t* text) {
  const std::wstring w = text;
  return parse_guid(std::string(w.begin(), w.end()));
}

class Peer_Stub final : public Local_Procedure_Stub {
 public:
  Peer_Stub(const Guid& test_endpoint, HANDLE quit) : test_{kTestInterface, test_endpoint}, quit_(quit) {}

  bool dispatch(uint32_t method_id, const Argument_List& args,
                std::unique_ptr<Respond_Data> respond) override {
    switch (method_id) {
      case kEcho:
        return respond_with_arguments(method_id, std::move(respond), kStatusSuccess, args);
      case kStatus:
        return Core_IPC::respond(method_id, std::move(respond),
                                 args.empty() ? 0 : argument_as_u32(args[0]).value_or(0));
      case kNoResult:
        return service_point().invokor().reply_without_result(std::move(respond), kCallTimeoutMs);
      case kSleepThenEcho: {
        ::Sleep(args.empty() ? 0 : argument_as_u32(args[0]).value_or(0));
        const Argument_List rest(args.empty() ? args.end() : args.begin() + 1, args.end());
        return respond_with_arguments(method_id, std::move(respond), kStatusSuccess, rest);
      }
      case kNeverReply:
        return true;
      case kReport: {
        const char* how = respond ? "data" : "null";
        const bool sent = service_point().invokor().reply(method_id, std::move(respond), 0,
                                                          kCallTimeoutMs);
        uint32_t status = 0;
        return call(test_, status, kReceiveReport,
                    {argument_text(how, 4), argument_text(sent ? "1" : "0", 1)});
      }
      case kQuit:
        Core_IPC::respond(method_id, std::move(respond), kStatusSuccess);
        ::SetEvent(quit_);
        return true;
      case kCallBack: {
        uint32_t status = 0;
        Argument_List results;
        call_with_result(test_, status, kDouble, args, results);
        return respond_with_arguments(method_id, std::move(respond), status, results);
      }
      case kWorkerCount: {
        const auto count = static_cast<uint32_t>(service_point().invokor().worker_count());
        return respond_with_arguments(method_id, std::move(respond), kStatusSuccess,
                                      {argument_u32(count)});
      }
      default:
        return Core_IPC::respond(method_id, std::move(respond), kStatusUnknownMethod);
    }
  }

 private:
  Service_Address test_;
  HANDLE quit_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const auto own = guid_argument(argv[1]);
  const auto test = guid_argument(argv[2]);
  if (!own || !test) return 2;
  const DWORD lifetime_ms = argc > 3 ? std::wcstoul(argv[3], nullptr, 10) : 60000;

  set_own_endpoint_id(*own);
  Core_Common::Unique_Handle quit(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  int code = 3;
  {
    Peer_Stub stub(*test, quit.get());
    register_stub(&stub, kPeerInterface);
    if (service_point().valid()) {
      code = ::WaitForSingleObject(quit.get(), lifetime_ms) == WAIT_OBJECT_0 ? 0 : 4;
      // Let the quit reply leave before the channel goes.
      ::Sleep(50);
    }
    IPC_Service_Point::shut_down();
  }
  return code;
}
