// A small HTTP client over WinINet: one connection, one request at a time.
// W3Client blocks until its request is sent; AsyncW3Client uses WinINet's
// asynchronous mode and is driven step by step by the submission worker.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "http/form_body.h"
#include "http/url_parts.h"

namespace OrbwellSearch {

enum Request_Kind { REQUEST_GET = 0, REQUEST_POST = 1, REQUEST_POST_MULTIPARTS = 2 };

enum Request_State { RS_NEW = 0, RS_SENDING = 1, RS_ENDING = 2, RS_DONE = 3, RS_FAILED = 4 };

// A failing step; its text says which.
class W3_Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Cookie {
  std::string name;
  std::string value;
};

class W3Client {
 public:
  W3Client() = default;
  virtual ~W3Client();

  W3Client(const W3Client&) = delete;
  W3Client& operator=(const W3Client&) = delete;

  virtual bool Connect(const std::string& host, int port, const char* user, const char* password,
                       Scheme_Kind scheme, const std::string& agent);
  virtual bool RequestPostMultiParts(const std::string& object, const char* referrer);
  virtual bool RequestPost(const std::string& object, const char* referrer);
  virtual bool RequestGet(const std::string& object, const char* referrer);

  void AddFormField(const std::string& name, const std::string& value, bool is_file);
  void AddCookie(const std::string& name, const std::string& value);

  int status() const { return m_status; }
  // Reads the whole answer of a completed synchronous request.
  std::string ReadResponse();

 protected:
  // Opens m_request for the verb and adds the common headers.
  void OpenRequest(const char* verb, const std::string& object, const char* referrer,
                   DWORD_PTR context);
  std::vector<uint8_t> BuildMultipartBody() const;
  void CloseHandles();
  DWORD ReadChunk(char* buffer, DWORD size);

  int m_kind = REQUEST_GET;
  HINTERNET m_internet = nullptr;
  HINTERNET m_connection = nullptr;
  HINTERNET m_request = nullptr;
  std::string m_host;
  std::string m_user;
  std::string m_password;
  std::string m_object;
  int m_port = 0;
  int m_scheme = SCHEME_HTTP;
  int m_status = 0;
  std::vector<FormField> m_fields;
  std::vector<Cookie> m_cookies;
};

class AsyncW3Client : public W3Client {
 public:
  AsyncW3Client();
  ~AsyncW3Client() override;

  bool RequestPostMultiParts(const std::string& object, const char* referrer) override;
  bool RequestPost(const std::string& object, const char* referrer) override;
  bool RequestGet(const std::string& object, const char* referrer) override;

  virtual bool OnRequestFailed();
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

 protected:
  bool EndRequest(std::unique_ptr<std::vector<uint8_t>>& body, const char* missing);

  std::unique_ptr<std::vector<uint8_t>> m_buf_post2;
  std::unique_ptr<std::vector<uint8_t>> m_buf_post;
  DWORD_PTR m_id;
  bool m_end_issued = false;
};

}  // namespace OrbwellSearch
