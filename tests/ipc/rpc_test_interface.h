// The interfaces the RPC tests and their peer program serve to each other.
#pragma once

#include <cstdint>

namespace Rpc_Test {

// Served by rpc_peer.
inline constexpr uint32_t kPeerInterface = 654;
enum Peer_Method : uint32_t {
  kEcho = 0,           // replies with its arguments, status 0
  kStatus = 1,         // replies with status = argument 0, no results
  kNoResult = 2,       // replies without result (PDU type 5)
  kSleepThenEcho = 3,  // sleeps argument 0 ms, then echoes the rest
  kNeverReply = 4,     // drops the reply address
  kReport = 5,         // reports to the caller's interface how it was asked
  kQuit = 6,           // replies, then ends the peer
  kCallBack = 7,       // calls the caller's interface, replies with its results
  kWorkerCount = 8,    // replies with the peer's number of worker threads
};

// Served by the test process.
inline constexpr uint32_t kTestInterface = 987;
enum Test_Method : uint32_t {
  kReceiveReport = 1,  // arguments: "null" or "data", then "1" or "0" (reply sent)
  kDouble = 2,         // replies with each argument repeated twice
};

}  // namespace Rpc_Test
