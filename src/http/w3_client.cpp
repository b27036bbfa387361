#include "http/w3_client.h"

#include <cstdio>

#include "http/part_file.h"

namespace OrbwellSearch {

namespace {

constexpr char kHttpVersion[] = "HTTP/1.0";
constexpr char kAcceptHeader[] = "Accept: */*\r\n";

const char* kAcceptTypes[] = {"*/*", nullptr};

DWORD request_flags(bool post, int scheme) {
  DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE;
  if (post) flags |= INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_FORMS_SUBMIT;
  if (scheme == SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
  return flags;
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
  m_request.reset();
  m_connection.reset();
  m_internet.reset();
}

bool W3Client::Connect(const std::string& host, int port, const char* user, const char* password,
                       Scheme_Kind scheme, const std::string& agent) {
  try {
    m_internet.reset(::InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!m_internet) throw W3_Error("open internet failed...");
    const int used_port = port != 0 ? port : default_port(scheme);
    const bool ftp = scheme == SCHEME_FTP;
    m_connection.reset(::InternetConnectA(m_internet.get(), host.c_str(),
                                          static_cast<INTERNET_PORT>(used_port), user, password,
                                          ftp ? INTERNET_SERVICE_FTP : INTERNET_SERVICE_HTTP,
                                          ftp ? INTERNET_FLAG_PASSIVE : 0, 0));
    if (!m_connection) throw W3_Error("connect failed...");
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
    m_connection.reset();
    m_internet.reset();
    return false;
  }
}

void W3Client::AddFormField(const std::string& name, const std::string& value, bool is_file,
                            const std::string& source) {
  m_fields.push_back({name, value, is_file, source});
}

void W3Client::AddCookie(const std::string& name, const std::string& value) {
  m_cookies.push_back({name, value});
}

void W3Client::OpenRequest(const char* verb, const std::string& object, const char* referrer,
                           DWORD_PTR context) {
  if (!m_connection) throw W3_Error("handle not opened...");
  const bool post = std::string(verb) == "POST";
  m_request.reset(::HttpOpenRequestA(m_connection.get(), verb, object.c_str(), kHttpVersion, referrer,
                                     kAcceptTypes, request_flags(post, m_scheme), context));
  if (!m_request) throw W3_Error("request failed...");
  if (!::HttpAddRequestHeadersA(m_request.get(), kAcceptHeader, sizeof kAcceptHeader - 1,
                                HTTP_ADDREQ_FLAG_REPLACE)) {
    throw W3_Error("additional header failed...");
  }
  if (m_kind == REQUEST_POST_MULTIPARTS &&
      !::HttpAddRequestHeadersA(m_request.get(), kMultipartContentType, sizeof kMultipartContentType - 1,
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
  auto body = build_multipart_body(m_fields, read_part_file);
  if (!body) throw W3_Error("file read failed...");
  return std::move(*body);
}

bool W3Client::RequestGet(const std::string& object, const char* referrer) {
  m_kind = REQUEST_GET;
  OpenRequest("GET", object, referrer, 0);
  if (!::HttpSendRequestA(m_request.get(), nullptr, 0, nullptr, 0)) throw W3_Error("request failed...");
  m_object = object;
  return true;
}

bool W3Client::RequestPost(const std::string& object, const char* referrer) {
  m_kind = REQUEST_POST;
  OpenRequest("POST", object, referrer, 0);
  std::string body = build_urlencoded_body(m_fields);
  if (!::HttpSendRequestA(m_request.get(), kUrlEncodedContentType, sizeof kUrlEncodedContentType - 1,
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
  if (!::HttpAddRequestHeadersA(m_request.get(), length, static_cast<DWORD>(-1), HTTP_ADDREQ_FLAG_ADD_IF_NEW)) {
    throw W3_Error("additional header failed...");
  }
  INTERNET_BUFFERSA buffers{};
  buffers.dwStructSize = sizeof buffers;
  DWORD written = 0;
  if (!::HttpSendRequestExA(m_request.get(), &buffers, nullptr, HSR_INITIATE, 0) ||
      !::InternetWriteFile(m_request.get(), body.data(), static_cast<DWORD>(body.size()), &written)) {
    throw W3_Error("request failed");
  }
  if (!::HttpEndRequestA(m_request.get(), nullptr, HSR_INITIATE, 0)) throw W3_Error("request failed_T(");
  m_object = object;
  return true;
}

DWORD W3Client::ReadChunk(char* buffer, DWORD size) {
  try {
    if (!m_request) throw W3_Error("connection failed...");
    DWORD got = 0;
    if (!::InternetReadFile(m_request.get(), buffer, size, &got)) throw W3_Error("response failed...");
    return got;
  } catch (const W3_Error&) {
    m_request.reset();
    return 0;
  }
}

std::string W3Client::ReadResponse() {
  std::string body;
  char buffer[kResponseReadSize];
  for (DWORD got; (got = ReadChunk(buffer, sizeof buffer)) != 0;) body.append(buffer, got);
  ReadStatus();
  return body;
}

void W3Client::ReadStatus() {
  m_status = 0;
  if (m_request) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (::HttpQueryInfoA(m_request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                         nullptr)) {
      m_status = static_cast<int>(status);
    }
  }
}

}  // namespace OrbwellSearch
