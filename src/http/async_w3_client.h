// The HTTP client in WinINet's asynchronous mode, driven step by step by
// the submission worker; completions arrive on WinINet's threads.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <memory>
#include <string>
#include <vector>

#include "http/w3_client.h"

namespace OrbwellSearch {

class AsyncW3Client : public W3Client {
 public:
  // Where an asynchronous read writes its bytes and count when it
  // completes. A client that goes with a read still pending leaves it to
  // the status callback, which frees it once WinINet is done with it.
  struct Read_Slot {
    char buffer[kResponseReadSize] = {};
    DWORD got = 0;
  };

  AsyncW3Client();
  ~AsyncW3Client() override;

  bool RequestPostMultiParts(const std::string& object, const char* referrer) override;
  bool RequestPost(const std::string& object, const char* referrer) override;
  bool RequestGet(const std::string& object, const char* referrer) override;

  virtual bool OnRequestFailed();
  // Reads the answer and hands it on. False while a read is still pending
  // in WinINet: its completion wakes the worker, which calls this again.
  virtual bool OnRequestComplete();
  virtual bool EndPostMultiParts();
  virtual bool EndPost();
  virtual bool EndGet();
  virtual void OnFailure() {}
  virtual void OnResponse(const std::string& body) {}

  bool ConnectUrl(const std::string& url);
  bool StartRequest(const std::string& object, int kind);

  // The WinINet status callback of every asynchronous root handle. Its
  // context is the client's id, never its address, so a completion that
  // arrives after the client is gone finds nothing to touch.
  static void CALLBACK StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status,
                                      LPVOID information, DWORD information_length);

  // Called (under the submission lock) when a completion changed the
  // state; the submission manager points it at its worker.
  static void set_progress_signal(void (*signal)());

  int m_state = RS_NEW;
  std::string m_url;
  // When WinINet last reported anything about this request (tick count).
  DWORD m_last_activity = 0;
  int kind() const { return m_kind; }
  bool end_issued() const { return m_end_issued; }
  bool read_pending() const { return m_read_pending; }

 protected:
  bool EndRequest(std::unique_ptr<std::vector<uint8_t>>& body, const char* missing);

  // Reads into the answer so far; false while a read pends.
  bool ReadArrived();

  std::unique_ptr<Read_Slot> m_read = std::make_unique<Read_Slot>();
  bool m_read_in_flight = false;  // between a read's call and its completion
  bool m_read_pending = false;
  bool m_read_completed = false;  // set by the completion, under the lock
  std::string m_response;

  std::unique_ptr<std::vector<uint8_t>> m_buf_post2;
  std::unique_ptr<std::vector<uint8_t>> m_buf_post;
  DWORD_PTR m_id;
  bool m_end_issued = false;
};

}  // namespace OrbwellSearch
