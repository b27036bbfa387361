"""What became of each request: a stable reason code for every refusal,
counters a scraper reads at /metrics, and one JSON line per request in the
log.

The reason codes are the deployer's words, kept as they are: dashboards
and alerts are written against them. They go into a refusal's plain-text
body ("refused: too_large"), never next to the reporter's keywords.

With `processes = N` the counters live in one small block of shared memory
made before the fork, a row per process slot, each row written only by its
own process (under a lock of that process) and summed when read: /metrics
answers the same totals whichever process the scraper reaches, and a
process started again in a slot goes on counting where its predecessor
stopped. They start from zero when the service starts.
"""
import ctypes
import json
import logging
import multiprocessing
import threading
import time

from werkzeug.wsgi import ClosingIterator

# Refusals: the answer's status, for the reader of this file.
TOO_LARGE = "too_large"                      # 413
LENGTH_REQUIRED = "length_required"          # 411
NOT_A_FORM = "not_a_form"                    # 415
MALFORMED_FORM = "malformed_form"            # 400: cut short, no archive, no app_ver...
MALFORMED_REQUEST = "malformed_request"      # 400: a request waitress or the version request cannot read
BAD_INSTALL_ID = "bad_install_id"            # 400
SLOW_CLIENT = "slow_client"                  # 408
STORAGE_UNAVAILABLE = "storage_unavailable"  # 503: the disk or the database failed
INTERNAL_ERROR = "internal_error"            # 500
NO_UPDATE_PAGE = "no_update_page"            # 404: the update link, with no page configured
# Answers the reporter understands, counted beside the refusals: its body
# stays the reporter's STATUS_VERSION_OUT_OF_DATE.
OUT_OF_DATE = "out_of_date"
REFUSALS = (TOO_LARGE, LENGTH_REQUIRED, NOT_A_FORM, MALFORMED_FORM, MALFORMED_REQUEST, BAD_INSTALL_ID,
            SLOW_CLIENT, STORAGE_UNAVAILABLE, INTERNAL_ERROR, NO_UPDATE_PAGE, OUT_OF_DATE)
# Noted in the request's log line only: a report stored though it names an
# application that is not configured (filed under the unknown
# applications), and a health check that found a part failing.
UNKNOWN_APPLICATION = "unknown_application"
UNHEALTHY = "unhealthy"

# (name, help) of the plain counters, then one per refusal reason.
_COUNTERS = (
    ("inbox_reports_stored_total", "Reports stored (the same report sent again counts once)."),
    ("inbox_reports_unknown_application_total", "Reports stored under the unknown applications."),
    ("inbox_triage_problems_total", "Stored reports whose archive, crash log or dump could not be read whole."),
    ("inbox_storage_retries_total", "Database writes tried again on a fresh connection."),
)
_REFUSED = "inbox_refusals_total"
_SLOTS = [name for name, _ in _COUNTERS] + [f"{_REFUSED}:{reason}" for reason in REFUSALS]
_INDEX = {name: i for i, name in enumerate(_SLOTS)}

request_log = logging.getLogger("report_inbox.requests")


class Counters:
    def __init__(self, processes=1):
        # Shared, not copied, by the processes forked after this.
        self._rows = multiprocessing.RawArray(ctypes.c_int64, len(_SLOTS) * processes)
        self._row = 0
        self._lock = threading.Lock()

    def use_row(self, index):
        """Called in each forked process: its slot's row."""
        self._row = index * len(_SLOTS)

    def add(self, name, amount=1):
        with self._lock:
            self._rows[self._row + _INDEX[name]] += amount

    def refused(self, reason):
        self.add(f"{_REFUSED}:{reason}")

    def totals(self):
        width = len(_SLOTS)
        values = self._rows[:]
        return {name: sum(values[i::width]) for i, name in enumerate(_SLOTS)}

    def prometheus_text(self):
        totals = self.totals()
        lines = []
        for name, text in _COUNTERS:
            lines += [f"# HELP {name} {text}", f"# TYPE {name} counter", f"{name} {totals[name]}"]
        lines += [f"# HELP {_REFUSED} Requests refused, by reason (out_of_date: the version request's answer).",
                  f"# TYPE {_REFUSED} counter"]
        lines += [f'{_REFUSED}{{reason="{reason}"}} {totals[f"{_REFUSED}:{reason}"]}' for reason in REFUSALS]
        return "\n".join(lines) + "\n"


def log_request(method, path, status, size, reason, started):
    """One JSON line: what was asked and answered, never the query (it may
    carry the token) nor anything of the body (the user's words)."""
    request_log.info(json.dumps({
        "time": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime()),
        "method": method[:16],
        "path": path[:200],
        "size": size,
        "status": status,
        "reason": reason,
        "duration_ms": round((time.monotonic() - started) * 1000, 1),
    }, ensure_ascii=True))


def setup_request_log():
    """The request lines alone on stderr, one JSON object a line, without
    the prefix of the service's other messages."""
    handler = logging.StreamHandler()
    handler.setFormatter(logging.Formatter("%(message)s"))
    request_log.addHandler(handler)
    request_log.propagate = False
    request_log.setLevel(logging.INFO)


REASON_KEY = "report_inbox.reason"


def note(environ, reason):
    """Marks the request's outcome; the middleware below logs and counts it."""
    environ[REASON_KEY] = reason


class LoggedRequests:
    """WSGI middleware: each request's log line once its answer is sent,
    and its refusal counted."""

    def __init__(self, app, counters):
        self._app = app
        self._counters = counters

    def __call__(self, environ, start_response):
        started = time.monotonic()
        answered = {}

        def starting(status, headers, exc_info=None):
            answered["status"] = int(status.split(" ", 1)[0])
            return start_response(status, headers, exc_info)

        def finished():
            reason = environ.get(REASON_KEY)
            if reason is None and answered.get("status", 500) >= 500:
                reason = INTERNAL_ERROR
            if reason in REFUSALS:
                self._counters.refused(reason)
            try:
                size = max(0, int(environ.get("CONTENT_LENGTH") or 0))
            except ValueError:
                size = 0
            log_request(environ.get("REQUEST_METHOD", ""), environ.get("PATH_INFO", ""),
                        answered.get("status", 500), size, reason, started)

        try:
            answer = self._app(environ, starting)
        except BaseException:
            finished()
            raise
        return ClosingIterator(answer, finished)

