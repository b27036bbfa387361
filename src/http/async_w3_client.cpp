#include "http/async_w3_client.h"

#include <cstdio>
#include <map>

#include "http/submit_lock.h"

namespace OrbwellSearch {

namespace {

constexpr char kAsyncAgent[] = "Mozilla/4.0 (compatible; )";

// Live asynchronous clients by id; guarded by g_submit_lock. WinINet's
// callbacks carry the id, so one that arrives after its client is gone
// finds nothing.
std::map<DWORD_PTR, AsyncW3Client*>& live_clients() {
  static std::map<DWORD_PTR, AsyncW3Client*> clients;
  return clients;
}
DWORD_PTR g_next_id = 1;
void (*g_progress_signal)() = nullptr;

// Read slots of clients that went while a read was pending, by client id;
// guarded by g_submit_lock.
std::map<DWORD_PTR, std::unique_ptr<AsyncW3Client::Read_Slot>>& orphaned_reads() {
  static std::map<DWORD_PTR, std::unique_ptr<AsyncW3Client::Read_Slot>> slots;
  return slots;
}

}  // namespace

AsyncW3Client::AsyncW3Client() {
  std::lock_guard<std::recursive_mutex> hold(g_submit_lock);
  m_id = g_next_id++;
  live_clients()[m_id] = this;
}

AsyncW3Client::~AsyncW3Client() {
  {
    std::lock_guard<std::recursive_mutex> hold(g_submit_lock);
    live_clients().erase(m_id);
    if (m_read_in_flight) orphaned_reads()[m_id] = std::move(m_read);
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
    m_internet.reset(::InternetOpenA(kAsyncAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                                     INTERNET_FLAG_ASYNC));
    if (!m_internet) throw W3_Error("open internet failed...");
    ::InternetSetStatusCallbackA(m_internet.get(), &AsyncW3Client::StatusCallback);
    const bool ftp = *scheme == SCHEME_FTP;
    m_connection.reset(::InternetConnectA(
        m_internet.get(), parts->host.c_str(), static_cast<INTERNET_PORT>(parts->port),
        parts->user.empty() ? nullptr : parts->user.c_str(),
        parts->password.empty() ? nullptr : parts->password.c_str(),
        ftp ? INTERNET_SERVICE_FTP : INTERNET_SERVICE_HTTP, ftp ? INTERNET_FLAG_PASSIVE : 0, m_id));
    if (!m_connection) throw W3_Error("connect failed...");
    if (::InternetAttemptConnect(0) != ERROR_SUCCESS) throw W3_Error("connect failed...");
  } catch (const W3_Error&) {
    m_connection.reset();
    m_internet.reset();
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
    m_request.reset();
    return false;
  }
  m_object = object;
  return true;
}

bool AsyncW3Client::RequestGet(const std::string& object, const char* referrer) {
  OpenRequest("GET", object, referrer, m_id);
  if (!::HttpSendRequestA(m_request.get(), nullptr, 0, nullptr, 0) && ::GetLastError() != ERROR_IO_PENDING) {
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
  if (!::HttpSendRequestExA(m_request.get(), &buffers, nullptr, HSR_INITIATE, m_id) &&
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
  if (!::HttpAddRequestHeadersA(m_request.get(), length, static_cast<DWORD>(-1), HTTP_ADDREQ_FLAG_ADD_IF_NEW)) {
    m_buf_post2.reset();
    throw W3_Error("additional header failed...");
  }
  INTERNET_BUFFERSA buffers{};
  buffers.dwStructSize = sizeof buffers;
  buffers.lpvBuffer = m_buf_post2->data();
  buffers.dwBufferLength = static_cast<DWORD>(m_buf_post2->size());
  if (!::HttpSendRequestExA(m_request.get(), &buffers, nullptr, HSR_INITIATE, m_id) &&
      ::GetLastError() != ERROR_IO_PENDING) {
    m_buf_post2.reset();
    throw W3_Error("request failed");
  }
  return true;
}

bool AsyncW3Client::EndRequest(std::unique_ptr<std::vector<uint8_t>>& body, const char* missing) {
  if (!body) throw W3_Error(missing);
  m_end_issued = true;
  const bool ended = ::HttpEndRequestA(m_request.get(), nullptr, HSR_INITIATE | HSR_ASYNC, m_id) ||
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

bool AsyncW3Client::ReadArrived() {
  for (;;) {
    if (m_read_pending) {
      if (!m_read_completed) return false;
      m_read_pending = false;
      if (m_read->got == 0) return true;
      m_response.append(m_read->buffer, m_read->got);
    }
    // As the blocking read: a failed read or a missing request ends the
    // answer with what was read so far, and the status reads as 0.
    if (!m_request) return true;
    m_read->got = 0;
    m_read_completed = false;
    m_read_in_flight = true;
    if (::InternetReadFile(m_request.get(), m_read->buffer, sizeof m_read->buffer, &m_read->got)) {
      m_read_in_flight = false;
      if (m_read->got == 0) return true;
      m_response.append(m_read->buffer, m_read->got);
    } else if (::GetLastError() == ERROR_IO_PENDING) {
      m_read_pending = true;  // its completion may have come already
    } else {
      m_read_in_flight = false;
      m_request.reset();
      return true;
    }
  }
}

bool AsyncW3Client::OnRequestComplete() {
  if (!ReadArrived()) return false;
  ReadStatus();
  CloseHandles();
  OnResponse(m_response);
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
  if (found == live_clients().end()) {
    // Its client is gone. A read it left pending is over once it completes
    // or its request closes; then its slot may go.
    if (status == INTERNET_STATUS_REQUEST_COMPLETE || status == INTERNET_STATUS_HANDLE_CLOSING) {
      orphaned_reads().erase(context);
    }
    return;
  }
  AsyncW3Client& client = *found->second;
  client.m_last_activity = ::GetTickCount();
  if (status != INTERNET_STATUS_REQUEST_COMPLETE || information == nullptr) return;
  const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(information);
  if (result->dwError != ERROR_SUCCESS) {
    client.m_state = RS_FAILED;
    client.m_read_in_flight = false;  // a failed read is over too
  } else if (client.m_state == RS_DONE) {
    // Only a read of the answer completes now.
    if (client.m_read_in_flight) {
      client.m_read_in_flight = false;
      client.m_read_completed = true;
    }
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
