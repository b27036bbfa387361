#include "submit/torrent_submit.h"

#include <algorithm>

#include "http/submit_lock.h"
#include "submit/endpoint_address.h"

namespace OrbwellSearch {

namespace {

std::unique_ptr<TorrentSubmit>& manager_slot() {
  static std::unique_ptr<TorrentSubmit> slot;
  return slot;
}

constexpr DWORD kStallCheckMs = 1000;

// The worker of the live manager; read by completions under the lock.
SubmitWorker* g_worker = nullptr;

void signal_worker_progress() {
  if (g_worker != nullptr) g_worker->signal_progress();
}

}  // namespace

std::string acp_to_utf8(const std::string& text) {
  if (text.empty()) return text;
  const int wide_length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(wide_length), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), wide_length);
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, utf8.data(), length, nullptr, nullptr);
  return utf8;
}

// --- client ------------------------------------------------------------------

void TorrentSubmitClient::post(UINT message, WPARAM result) const {
  if (m_notify_wnd != nullptr) ::PostMessageA(m_notify_wnd, message, result, 0);
}

void TorrentSubmitClient::OnFailure() { post(WMU_SUBMIT_RESULT, 1); }

void TorrentSubmitClient::OnResponse(const std::string& body) {
  if (m_status != 200) {
    post(WMU_SUBMIT_RESULT, 1);
    return;
  }
  if (m_submit_kind == SUBMIT_REPORT) {
    post(WMU_SUBMIT_RESULT, body.find(kStatusReportOk) != std::string::npos ? 0 : 1);
  } else if (body.find(kStatusRequestOk) != std::string::npos) {
    post(WMU_REQUEST_RESULT, 0);
  } else if (body.find(kStatusOutOfDate) != std::string::npos) {
    post(WMU_REQUEST_RESULT, 1);
  } else {
    post(WMU_SUBMIT_RESULT, 1);
  }
}

bool TorrentSubmitClient::Start() {
  // Parts too long for the start step's buffers are refused, not cut: the
  // path with its query has 1000 bytes, the other parts 100.
  const auto parts = ParseUrl(m_url);
  if (!parts || parts->path.size() >= kPathLimit) return false;
  for (const std::string* part : {&parts->scheme, &parts->host, &parts->user, &parts->password}) {
    if (part->size() >= kPartLimit) return false;
  }
  if (!ConnectUrl(m_url)) return false;
  int kind;
  if (m_submit_kind == SUBMIT_REPORT) {
    AddFormField("app_ver", m_form.app_version, false);
    AddFormField("user_msg", acp_to_utf8(m_form.user_message), false);
    AddFormField("Filename", m_form.archive_path, true, m_form.archive_file);
    kind = REQUEST_POST_MULTIPARTS;
  } else if (m_submit_kind == SUBMIT_REQUEST_APP) {
    kind = REQUEST_GET;
  } else {
    return true;
  }
  m_state = RS_SENDING;
  // A start that fails after the state became "sending" gets no
  // completion: it ends as a failure, reported like any other.
  if (!StartRequest(parts->path, kind)) m_state = RS_FAILED;
  return true;
}

// --- worker ------------------------------------------------------------------

SubmitWorker::SubmitWorker()
    : work_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      progress_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      quit_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      done_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  if (work_ && progress_ && quit_ && done_) {
    thread_.reset(::CreateThread(nullptr, 0, &SubmitWorker::thread_main, this, 0, nullptr));
  }
}

SubmitWorker::~SubmitWorker() {
  if (!thread_) return;
  ::SetEvent(quit_.get());
  ::WaitForSingleObject(done_.get(), INFINITE);
  ::WaitForSingleObject(thread_.get(), INFINITE);
}

DWORD WINAPI SubmitWorker::thread_main(void* self) {
  static_cast<SubmitWorker*>(self)->run();
  return 0;
}

void SubmitWorker::run() {
  const HANDLE events[3] = {quit_.get(), work_.get(), progress_.get()};
  for (;;) {
    // The one-second wake-up lets a pass notice stalled requests.
    const DWORD woke = ::WaitForMultipleObjects(3, events, FALSE, kStallCheckMs);
    // A failed wait would fail again at once: it counts as the one-second
    // pause, so the loop never spins and stalled requests still end.
    if (woke == WAIT_FAILED) ::Sleep(kStallCheckMs);
    const bool quit = woke == WAIT_OBJECT_0 ||
                      (woke == WAIT_FAILED && ::WaitForSingleObject(quit_.get(), 0) == WAIT_OBJECT_0);
    {
      std::lock_guard<std::recursive_mutex> hold(g_submit_lock);
      if (TorrentSubmit* manager = TorrentSubmit::instance()) manager->ProcessClients();
    }
    if (quit) {
      ::SetEvent(done_.get());
      return;
    }
  }
}

// --- manager -----------------------------------------------------------------

TorrentSubmit& TorrentSubmit::create() {
  destroy();
  std::unique_ptr<TorrentSubmit> manager(new TorrentSubmit());  // private constructor
  TorrentSubmit& created = *manager;
  {
    std::lock_guard<std::recursive_mutex> hold(g_submit_lock);
    manager_slot() = std::move(manager);
  }
  auto worker = std::make_unique<SubmitWorker>();
  std::lock_guard<std::recursive_mutex> hold(g_submit_lock);
  created.m_worker = std::move(worker);
  g_worker = created.m_worker.get();
  AsyncW3Client::set_progress_signal(&signal_worker_progress);
  return created;
}

TorrentSubmit* TorrentSubmit::instance() {
  std::lock_guard<std::recursive_mutex> hold(g_submit_lock);
  return manager_slot().get();
}

void TorrentSubmit::destroy() {
  std::unique_ptr<SubmitWorker> worker;
  {
    std::lock_guard<std::recursive_mutex> hold(g_submit_lock);
    if (!manager_slot()) return;
    worker = std::move(manager_slot()->m_worker);
    g_worker = nullptr;
  }
  // Stopped outside the lock: its last pass takes the lock itself.
  worker.reset();
  std::unique_ptr<TorrentSubmit> gone;
  {
    std::lock_guard<std::recursive_mutex> hold(g_submit_lock);
    gone = std::move(manager_slot());
  }
}

TorrentSubmit::~TorrentSubmit() {
  std::lock_guard<std::recursive_mutex> hold(g_submit_lock);
  // Deleting a client closes its handles and unregisters it, so a late
  // completion finds nothing; no message is posted.
  m_clients.clear();
}

void TorrentSubmit::queue(std::unique_ptr<TorrentSubmitClient> client) {
  std::lock_guard<std::recursive_mutex> hold(g_submit_lock);
  m_clients.push_back(std::move(client));
  if (m_worker) m_worker->signal_work();
}

size_t TorrentSubmit::queued() const {
  std::lock_guard<std::recursive_mutex> hold(g_submit_lock);
  return m_clients.size();
}

void TorrentSubmit::ProcessClients() {
  std::lock_guard<std::recursive_mutex> hold(g_submit_lock);
  std::vector<std::unique_ptr<TorrentSubmitClient>> going;
  going.reserve(m_clients.size());  // the moves below cannot throw
  for (auto& client : m_clients) {
    // No error of a step, nor of reporting its end, may leave the worker:
    // a step that fails ends its client as a failure.
    bool finished = false;
    try {
      advance(*client);
      if (client->m_state == RS_DONE) {
        finished = client->OnRequestComplete();
      } else if (client->m_state == RS_FAILED) {
        finished = client->OnRequestFailed();
      }
    } catch (const std::exception&) {
      finished = true;
      client->m_state = RS_FAILED;
      try {
        client->OnRequestFailed();
      } catch (const std::exception&) {
        // Nothing more can be reported; the client goes all the same.
      }
    }
    if (!finished) going.push_back(std::move(client));
  }
  m_clients = std::move(going);
}

void TorrentSubmit::advance(TorrentSubmitClient& client) {
  const bool stalled = ::GetTickCount() - client.m_last_activity > kStallLimitMs;
  switch (client.m_state) {
    case RS_NEW:
      // A client that cannot start ends as a failure and says so; left new
      // it would be retried every second and never report.
      if (!client.Start()) client.m_state = RS_FAILED;
      break;
    case RS_SENDING:
      if (stalled) client.m_state = RS_FAILED;
      break;
    case RS_ENDING:
      if (stalled) {
        client.m_state = RS_FAILED;
        break;
      }
      // Once only: a later pass finds the end step under way.
      if (client.end_issued()) break;
      if (client.kind() == REQUEST_POST_MULTIPARTS) {
        client.EndPostMultiParts();
      } else if (client.kind() == REQUEST_POST) {
        client.EndPost();
      } else {
        client.EndGet();
      }
      break;
    case RS_DONE:
      // An answer whose next piece never comes.
      if (client.read_pending() && stalled) client.m_state = RS_FAILED;
      break;
    default:
      break;
  }
}

void SubmitReport(const std::string& install_id, HWND notify_wnd, const ReportForm& form) {
  TorrentSubmit* manager = TorrentSubmit::instance();
  if (manager == nullptr) return;
  std::string url = submission_endpoint();
  if (!install_id.empty()) url += "?install_id=" + install_id;
  auto client = std::make_unique<TorrentSubmitClient>();
  client->m_notify_wnd = notify_wnd;
  client->m_form = form;
  client->m_url = url;
  client->m_submit_kind = SUBMIT_REPORT;
  manager->queue(std::move(client));
}

void RequestApp(HWND notify_wnd, const std::string& app_id) {
  TorrentSubmit* manager = TorrentSubmit::instance();
  if (manager == nullptr) return;
  auto client = std::make_unique<TorrentSubmitClient>();
  client->m_notify_wnd = notify_wnd;
  client->m_url = submission_endpoint() + "?request_app=" + app_id;
  client->m_submit_kind = SUBMIT_REQUEST_APP;
  manager->queue(std::move(client));
}

}  // namespace OrbwellSearch
