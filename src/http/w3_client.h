// A small HTTP client over WinINet: one connection, one request at a time.
// W3Client blocks until its request is sent; its asynchronous form is
// AsyncW3Client.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "http/form_body.h"
#include "http/internet_handle.h"
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

  // `source`: the file a file field reads, when it is not `value` (UTF-8).
  void AddFormField(const std::string& name, const std::string& value, bool is_file,
                    const std::string& source = std::string());
  void AddCookie(const std::string& name, const std::string& value);

  int status() const { return m_status; }
  static constexpr DWORD kResponseReadSize = 100;
  // Reads the whole answer of a completed synchronous request.
  std::string ReadResponse();

 protected:
  // Opens m_request for the verb and adds the common headers.
  void OpenRequest(const char* verb, const std::string& object, const char* referrer,
                   DWORD_PTR context);
  std::vector<uint8_t> BuildMultipartBody() const;
  void CloseHandles();
  DWORD ReadChunk(char* buffer, DWORD size);
  // The answer's status code into m_status; 0 when the request is gone or
  // the query fails.
  void ReadStatus();

  int m_kind = REQUEST_GET;
  // Closed request first: members go in reverse order.
  Unique_Internet_Handle m_internet;
  Unique_Internet_Handle m_connection;
  Unique_Internet_Handle m_request;
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

}  // namespace OrbwellSearch
