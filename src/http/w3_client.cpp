#include "http/w3_client.h"

#include <cstdio>
#include <algorithm>
#include <map>
#include <optional>

#include "system/unique_handle.h"
#include "http/submit_lock.h"

namespace OrbwellSearch {

std::recursive_mutex g_submit_lock;

namespace {

constexpr char kHttpVersion[] = "HTTP/1.0";
constexpr char kAsyncAgent[] = "Mozilla/4.0 (compatible; )";
constexpr char kAcceptHeader[] = "Accept: */*\r\n";
constexpr DWORD kResponseReadSize = 100;

const char* kAcceptTypes[] = {"*/*", nullptr};

// Live asynchronous clients by id; guarded by g_submit_lock.
std::map<DWORD_PTR, AsyncW3Client*>& live_clients() {
  static std::map<DWORD_PTR, AsyncW3Client*> clients;
  return clients;
}
DWORD_PTR g_next_id = 1;
void (*g_progress_signal)() = nullptr;

void close_handle(HINTERNET& handle) {
  if (handle != nullptr) ::InternetCloseHandle(handle);
  handle = nullptr;
}

DWORD request_flags(bool post, int scheme) {
  DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE;
  if (post) flags |= INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_FORMS_SUBMIT;
  if (scheme == SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
  return flags;
}

// Reads a file for a multipart file part, as the send does: CreateFileA in
// the system code page, reads of 1024 bytes, never past the size it had
// when opened.
std::optional<std::vector<uint8_t>> read_part_file(const std::string& path) {
  Core_Common::Unique_Handle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  const DWORD size = ::GetFileSize(file.get(), nullptr);
  std::vector<uint8_t> content;
  content.reserve(size == INVALID_FILE_SIZE ? 0 : size);
  uint8_t buffer[1024];
  DWORD got = 0;
  while (content.size() < size && ::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got != 0) {
    const size_t keep = std::min<size_t>(got, size - content.size());
    content.insert(content.end(), buffer, buffer + keep);
  }
  return content;
}

}  // namespace

W3Client::~W3Client() {
  // The last step of a request closes its handles; a client that never got
  // there must not leak them.
  CloseHandles();
  m_fields.clear();
  m_cookies.clear();
}

void W3Client::CloseHandles() {
  close_handle(m_request);
  close_handle(m_connection);
  close_handle(m_internet);
}

bool W3Client::Connect(const std::string& host, int port, const char* user, const char* password,
                       Scheme_Kind scheme, const std::string& agent) {
  try {
    m_internet = ::InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (m_internet == nullptr) throw W3_Error("open internet failed...");
    const int used_port = port != 0 ? port : default_port(scheme);
    const bool ftp = scheme == SCHEME_FTP;
    m_connection = ::InternetConnectA(m_internet, host.c_str(), static_cast<INTERNET_PORT>(used_port),
                                      user, password, ftp ? INTERNET_SERVICE_FTP : INTERNET_SERVICE_HTTP,
                                      ftp ? INTERNET_FLAG_PASSIVE : 0, 0);
    if (m_connection == nullptr) throw W3_Error("connect failed...");
    if (::InternetAttemptConnect(0) != ERROR_SUCCESS) throw W3_Error("connect failed...");
    m_host = host;
    m_port = used_port;
    m_scheme = scheme;
    if (user != nullptr) m_user = user;
    if (password != nullptr) m_password = password;
    m_cookies.clear();
    m_fields.clear();
    return true;
  } catch (const W3_Error&) {
    close_handle(m_connection);
    close_handle(m_internet);
    return false;
  }
}

void W3Client::AddFormField(const std::string& name, const std::string& value, bool is_file) {
  m_fields.push_back({name, value, is_file});
}

void W3Client::AddCookie(const std::string& name, const std::string& value) {
  m_cookies.push_back({name, value});
}

void W3Client::OpenRequest(const char* verb, const std::string& object, const char* referrer,
                           DWORD_PTR context) {
  if (m_connection == nullptr) throw W3_Error("handle not opened...");
  const bool post = std::string(verb) == "POST";
  m_request = ::HttpOpenRequestA(m_connection, verb, object.c_str(), kHttpVersion, referrer,
                                 kAcceptTypes, request_flags(post, m_scheme), context);
  if (m_request == nullptr) throw W3_Error("request failed...");
  if (!::HttpAddRequestHeadersA(m_request, kAcceptHeader, sizeof kAcceptHeader - 1,
                                HTTP_ADDREQ_FLAG_REPLACE)) {
    throw W3_Error("additional header failed...");
  }
  if (m_kind == REQUEST_POST_MULTIPARTS &&
      !::HttpAddRequestHeadersA(m_request, kMultipartContentType, sizeof kMultipartContentType - 1,
                                HTTP_ADDREQ_FLAG_ADD_IF_NEW)) {
    throw W3_Error("additional header failed...");
  }
  if (m_cookies.empty()) return;
  std::string url = m_scheme == SCHEME_HTTP ? "http://" : m_scheme == SCHEME_HTTPS ? "https://" : "";
  url += m_host;
  if (!((m_port == 80 && m_scheme == SCHEME_HTTP) || (m_port == 443 && m_scheme == SCHEME_HTTPS))) {
    url += ":" + std::to_string(m_port);
  }
  url += object;
  for (const Cookie& c : m_cookies) {
    if (!::InternetSetCookieA(url.c_str(), c.name.c_str(), c.value.c_str())) {
      throw W3_Error("add cookie failed...");
    }
  }
}

std::vector<uint8_t> W3Client::BuildMultipartBody() const {
  return build_multipart_body(m_fields, read_part_file);
}

bool W3Client::RequestGet(const std::string& object, const char* referrer) {
  m_kind = REQUEST_GET;
  OpenRequest("GET", object, referrer, 0);
  if (!::HttpSendRequestA(m_request, nullptr, 0, nullptr, 0)) throw W3_Error("request failed...");
  m_object = object;
  return true;
}

bool W3Client::RequestPost(const std::string& object, const char* referrer) {
  m_kind = REQUEST_POST;
  OpenRequest("POST", object, referrer, 0);
  std::string body = build_urlencoded_body(m_fields);
  if (!::HttpSendRequestA(m_request, kUrlEncodedContentType, sizeof kUrlEncodedContentType - 1,
                          body.data(), static_cast<DWORD>(body.size())) &&
      ::GetLastError() != ERROR_HTTP_REDIRECT_NEEDS_CONFIRMATION) {
    throw W3_Error("request failed...");
  }
  m_object = object;
  return true;
}

bool W3Client::RequestPostMultiParts(const std::string& object, const char* referrer) {
  m_kind = REQUEST_POST_MULTIPARTS;
  OpenRequest("POST", object, referrer, 0);
  const std::vector<uint8_t> body = BuildMultipartBody();
  char length[64];
  std::snprintf(length, sizeof length, "Content-Length: %d\r\n", static_cast<int>(body.size()));
  if (!::HttpAddRequestHeadersA(m_request, length, static_cast<DWORD>(-1), HTTP_ADDREQ_FLAG_ADD_IF_NEW)) {
    throw W3_Error("additional header failed...");
  }
  INTERNET_BUFFERSA buffers{};
  buffers.dwStructSize = sizeof buffers;
  DWORD written = 0;
  if (!::HttpSendRequestExA(m_request, &buffers, nullptr, HSR_INITIATE, 0) ||
      !::InternetWriteFile(m_request, body.data(), static_cast<DWORD>(body.size()), &written)) {
    throw W3_Error("request failed");
  }
  if (!::HttpEndRequestA(m_request, nullptr, HSR_INITIATE, 0)) throw W3_Error("request failed_T(");
  m_object = object;
  return true;
}

DWORD W3Client::ReadChunk(char* buffer, DWORD size) {
  try {
    if (m_request == nullptr) throw W3_Error("connection failed...");
    DWORD got = 0;
    if (!::InternetReadFile(m_request, buffer, size, &got)) throw W3_Error("response failed...");
    return got;
  } catch (const W3_Error&) {
    close_handle(m_request);
    return 0;
  }
}

std::string W3Client::ReadResponse() {
  std::string body;
  char buffer[kResponseReadSize];
  for (DWORD got; (got = ReadChunk(buffer, sizeof buffer)) != 0;) body.append(buffer, got);
  m_status = 0;
  if (m_request != nullptr) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (::HttpQueryInfoA(m_request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                         nullptr)) {
      m_status = static_cast<int>(status);
    }
  }
  return body;
}

// --- asynchronous ------------------------------------------------------------

AsyncW3Client::AsyncW3Client() {
  std::lock_guard<std::recursive_mutex> hold(g_submit_lock);
  m_id = g_next_id++;
  live_clients()[m_id] = this;
}

AsyncW3Client::~AsyncW3Client() {
  {
    std::lock_guard<std::recursive_mutex> hold(g_submit_lock);
    live_clients().erase(m_id);
  }
  // Unregistered first, so the callbacks that closing the handles still
  // sends find nothing to touch.
  CloseHandles();
}

void AsyncW3Client::set_progress_signal(void (*signal)()) {
  std::lock_guard<std::recursive_mutex> hold(g_submit_lock);
  g_progress_signal = signal;
}

bool AsyncW3Client::ConnectUrl(const std::string& url) {
  const auto parts = ParseUrl(url);
  if (!parts) return false;
  const auto scheme = scheme_kind(parts->scheme);
  if (!scheme) return false;
  m_object = parts->path;
  try {
    m_internet = ::InternetOpenA(kAsyncAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                                 INTERNET_FLAG_ASYNC);
    if (m_internet == nullptr) throw W3_Error("open internet failed...");
    ::InternetSetStatusCallbackA(m_internet, &AsyncW3Client::StatusCallback);
    const bool ftp = *scheme == SCHEME_FTP;
    m_connection = ::InternetConnectA(
        m_internet, parts->host.c_str(), static_cast<INTERNET_PORT>(parts->port),
        parts->user.empty() ? nullptr : parts->user.c_str(),
        parts->password.empty() ? nullptr : parts->password.c_str(),
        ftp ? INTERNET_SERVICE_FTP : INTERNET_SERVICE_HTTP, ftp ? INTERNET_FLAG_PASSIVE : 0, m_id);
    if (m_connection == nullptr) throw W3_Error("connect failed...");
    if (::InternetAttemptConnect(0) != ERROR_SUCCESS) throw W3_Error("connect failed...");
  } catch (const W3_Error&) {
    close_handle(m_connection);
    close_handle(m_internet);
    return false;
  }
  m_host = parts->host;
  m_port = parts->port;
  m_scheme = *scheme;
  m_user = parts->user;
  m_password = parts->password;
  m_cookies.clear();
  m_fields.clear();
  return true;
}

bool AsyncW3Client::StartRequest(const std::string& object, int kind) {
  m_kind = kind;
  m_last_activity = ::GetTickCount();
  bool started = false;
  try {
    switch (kind) {
      case REQUEST_GET: started = RequestGet(object, nullptr); break;
      case REQUEST_POST: started = RequestPost(object, nullptr); break;
      case REQUEST_POST_MULTIPARTS: started = RequestPostMultiParts(object, nullptr); break;
      default: break;
    }
  } catch (const W3_Error&) {
    started = false;
  }
  if (!started) {
    close_handle(m_request);
    return false;
  }
  m_object = object;
  return true;
}

bool AsyncW3Client::RequestGet(const std::string& object, const char* referrer) {
  OpenRequest("GET", object, referrer, m_id);
  if (!::HttpSendRequestA(m_request, nullptr, 0, nullptr, 0) && ::GetLastError() != ERROR_IO_PENDING) {
    throw W3_Error("asynchronized request failed...");
  }
  return true;
}

bool AsyncW3Client::RequestPost(const std::string& object, const char* referrer) {
  OpenRequest("POST", object, referrer, m_id);
  m_buf_post.reset();
  const std::string body = build_urlencoded_body(m_fields);
  m_buf_post = std::make_unique<std::vector<uint8_t>>(body.begin(), body.end());
  INTERNET_BUFFERSA buffers{};
  buffers.dwStructSize = sizeof buffers;
  buffers.lpcszHeader = kUrlEncodedContentType;
  buffers.dwHeadersLength = sizeof kUrlEncodedContentType - 1;
  buffers.lpvBuffer = m_buf_post->data();
  buffers.dwBufferLength = static_cast<DWORD>(m_buf_post->size());
  buffers.dwBufferTotal = 0;
  if (!::HttpSendRequestExA(m_request, &buffers, nullptr, HSR_INITIATE, m_id) &&
      ::GetLastError() != ERROR_IO_PENDING) {
    m_buf_post.reset();
    throw W3_Error("request failed");
  }
  return true;
}

bool AsyncW3Client::RequestPostMultiParts(const std::string& object, const char* referrer) {
  OpenRequest("POST", object, referrer, m_id);
  m_buf_post2.reset();
  m_buf_post2 = std::make_unique<std::vector<uint8_t>>(BuildMultipartBody());
  char length[64];
  std::snprintf(length, sizeof length, "Content-Length: %d\r\n", static_cast<int>(m_buf_post2->size()));
  if (!::HttpAddRequestHeadersA(m_request, length, static_cast<DWORD>(-1), HTTP_ADDREQ_FLAG_ADD_IF_NEW)) {
    m_buf_post2.reset();
    throw W3_Error("additional header failed...");
  }
  INTERNET_BUFFERSA buffers{};
  buffers.dwStructSize = sizeof buffers;
  buffers.lpvBuffer = m_buf_post2->data();
  buffers.dwBufferLength = static_cast<DWORD>(m_buf_post2->size());
  if (!::HttpSendRequestExA(m_request, &buffers, nullptr, HSR_INITIATE, m_id) &&
      ::GetLastError() != ERROR_IO_PENDING) {
    m_buf_post2.reset();
    throw W3_Error("request failed");
  }
  return true;
}

bool AsyncW3Client::EndRequest(std::unique_ptr<std::vector<uint8_t>>& body, const char* missing) {
  if (!body) throw W3_Error(missing);
  m_end_issued = true;
  const bool ended = ::HttpEndRequestA(m_request, nullptr, HSR_INITIATE | HSR_ASYNC, m_id) ||
                     ::GetLastError() == ERROR_IO_PENDING;
  body.reset();
  if (!ended) throw W3_Error("request failed");
  return true;
}

bool AsyncW3Client::EndPostMultiParts() { return EndRequest(m_buf_post2, "m_buf_post2 is null"); }
bool AsyncW3Client::EndPost() { return EndRequest(m_buf_post, "m_buf_post is null"); }
bool AsyncW3Client::EndGet() {
  m_end_issued = true;
  return true;
}

bool AsyncW3Client::OnRequestComplete() {
  const std::string body = ReadResponse();
  CloseHandles();
  OnResponse(body);
  return true;
}

bool AsyncW3Client::OnRequestFailed() {
  CloseHandles();
  OnFailure();
  return true;
}

void CALLBACK AsyncW3Client::StatusCallback(HINTERNET, DWORD_PTR context, DWORD status,
                                            LPVOID information, DWORD) {
  std::lock_guard<std::recursive_mutex> hold(g_submit_lock);
  const auto found = live_clients().find(context);
  if (found == live_clients().end()) return;  // its client is gone
  AsyncW3Client& client = *found->second;
  client.m_last_activity = ::GetTickCount();
  if (status != INTERNET_STATUS_REQUEST_COMPLETE || information == nullptr) return;
  const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(information);
  if (result->dwError != ERROR_SUCCESS) {
    client.m_state = RS_FAILED;
  } else if (client.m_kind == REQUEST_GET) {
    if (client.m_state == RS_SENDING) client.m_state = RS_DONE;
  } else if (client.m_state == RS_SENDING) {
    client.m_state = RS_ENDING;
  } else if (client.m_state == RS_ENDING) {
    client.m_state = RS_DONE;
  }
  if (g_progress_signal != nullptr) g_progress_signal();
}

}  // namespace OrbwellSearch
