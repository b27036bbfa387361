// The reporter's conversation with the report server: a version request
// and the report upload, each an asynchronous client, moved through their
// steps by one worker thread. Results reach the dialog only as posted
// window messages.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "http/async_w3_client.h"
#include "system/unique_handle.h"

namespace OrbwellSearch {

inline constexpr UINT WMU_SUBMIT_RESULT = WM_USER + 1;   // wParam 0 success, 1 failure
inline constexpr UINT WMU_REQUEST_RESULT = WM_USER + 2;  // wParam 0 current, 1 newer exists

inline constexpr char kStatusReportOk[] = "STATUS_REPORT_OK";
inline constexpr char kStatusRequestOk[] = "STATUS_REQUEST_OK";
inline constexpr char kStatusOutOfDate[] = "STATUS_VERSION_OUT_OF_DATE";

enum Submit_Kind { SUBMIT_REPORT = 0, SUBMIT_REQUEST_APP = 1 };

// What the report dialog hands over for an upload.
struct ReportForm {
  ReportForm() = default;
  ReportForm(std::string app_version, std::string user_message, std::string archive_path,
             std::string archive_file = std::string())
      : app_version(std::move(app_version)),
        user_message(std::move(user_message)),
        archive_path(std::move(archive_path)),
        archive_file(std::move(archive_file)) {}

  std::string app_version;   // the reporter's first command-line argument
  std::string user_message;  // in the system code page
  std::string archive_path;  // the file name the form carries, in the system code page
  std::string archive_file;  // the archive read, UTF-8; empty: archive_path, read as UTF-8 too
};

class TorrentSubmitClient final : public AsyncW3Client {
 public:
  TorrentSubmitClient() = default;
  ~TorrentSubmitClient() override = default;

  void OnFailure() override;
  void OnResponse(const std::string& body) override;

  // Buffers of the start step: the path with its query, and each other
  // part of the URL.
  static constexpr size_t kPathLimit = 1000;
  static constexpr size_t kPartLimit = 100;

  // Connects, adds the form and starts the request. False when it could
  // not: the client then ends as a failure.
  bool Start();

  int m_submit_kind = SUBMIT_REQUEST_APP;
  ReportForm m_form;
  HWND m_notify_wnd = nullptr;

 private:
  void post(UINT message, WPARAM result) const;
};

// The worker thread and its four events.
class SubmitWorker {
 public:
  SubmitWorker();
  ~SubmitWorker();  // signals quit and waits for the done event

  SubmitWorker(const SubmitWorker&) = delete;
  SubmitWorker& operator=(const SubmitWorker&) = delete;

  void signal_work() { ::SetEvent(work_.get()); }
  void signal_progress() { ::SetEvent(progress_.get()); }

 private:
  static DWORD WINAPI thread_main(void* self);
  void run();

  Core_Common::Unique_Handle work_;      // auto-reset
  Core_Common::Unique_Handle progress_;  // auto-reset
  Core_Common::Unique_Handle quit_;      // auto-reset
  Core_Common::Unique_Handle done_;      // manual-reset
  Core_Common::Unique_Handle thread_;
};

class TorrentSubmit {
 public:
  // A request that WinINet has reported nothing about for this long has
  // stalled (a server that accepts and never answers): it ends as a
  // failure. WinINet's own time-outs do not end it under every system.
  static constexpr DWORD kStallLimitMs = 60000;

  // Replaces any earlier manager; starts the worker.
  static TorrentSubmit& create();
  static TorrentSubmit* instance();
  // Stops the worker and deletes every client still queued, posting nothing.
  static void destroy();

  ~TorrentSubmit();

  // One pass over the clients; the worker runs it under the submission lock.
  void ProcessClients();

  void queue(std::unique_ptr<TorrentSubmitClient> client);
  size_t queued() const;

 private:
  TorrentSubmit() = default;
  // One client's next step, by its state.
  static void advance(TorrentSubmitClient& client);

  std::vector<std::unique_ptr<TorrentSubmitClient>> m_clients;
  std::unique_ptr<SubmitWorker> m_worker;
};

// Queue the report upload / the version request; see the dialog's flow.
void SubmitReport(const std::string& install_id, HWND notify_wnd, const ReportForm& form);
void RequestApp(HWND notify_wnd, const std::string& app_id);

// UTF-8 of a text in the system code page.
std::string acp_to_utf8(const std::string& text);

}  // namespace OrbwellSearch
