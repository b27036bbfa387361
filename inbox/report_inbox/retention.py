"""Reports leave the inbox: by age, when all archives together grow past
their budget, past the unknown applications' bound, or at a token holder's
request. The oldest go first, each with its archive in the transaction
that removes its row; a report being received is not listed yet, so it is
never among them. Every removal is logged.
"""
import datetime
import logging
import threading

from .filing import UNKNOWN_APPLICATION

BATCH = 200
MAX_DELETED_AT_ONCE = 2000
log = logging.getLogger("report_inbox")


def delete_report(storage, report_id, who):
    deleted = storage.delete_report(report_id)
    if deleted:
        log.info("report %d deleted by %s", report_id, who)
    return deleted


def delete_signature(storage, signature_id, who, limit=MAX_DELETED_AT_ONCE):
    """Removes the signature's reports, oldest first, at most `limit` of
    them so that one request stays short, and with the last one the
    signature. Returns how many were removed and how many are left."""
    removed = 0
    while removed < limit:
        batch = storage.oldest_reports(min(BATCH, limit - removed), signature_id=signature_id)
        if not batch:
            break
        removed += sum(storage.delete_report(report_id) for report_id, _ in batch)
    left = storage.signature(signature_id)
    remaining = left["report_count"] if left else 0
    log.info("signature %d deleted by %s: %d reports%s", signature_id, who, removed,
             f", {remaining} left to delete" if remaining else "")
    return removed, remaining


def trim_unknown(storage, settings, signature_id):
    """Keeps the unknown applications' signature to its newest reports.
    The excess is read again after each batch: uploads trimming at the
    same moment would otherwise each remove the same excess."""
    removed = 0
    while True:
        signature = storage.signature(signature_id)
        if signature is None or signature["application"] != UNKNOWN_APPLICATION:
            break
        excess = signature["report_count"] - settings.max_unknown_reports
        batch = storage.oldest_reports(min(BATCH, excess), signature_id=signature_id) if excess > 0 else []
        if not batch:
            break
        removed += sum(storage.delete_report(report_id) for report_id, _ in batch)
    if removed:
        log.info("%d reports of unknown applications deleted: more than %d", removed,
                 settings.max_unknown_reports)
    return removed


def apply_retention(storage, settings, now=None):
    """One pass of the configured retention; the number of reports removed."""
    removed = 0
    if settings.keep_days:
        now = now or datetime.datetime.now(datetime.timezone.utc)
        cutoff = (now - datetime.timedelta(days=settings.keep_days)).strftime("%Y-%m-%dT%H:%M:%SZ")
        while batch := storage.oldest_reports(BATCH, received_before=cutoff):
            removed += sum(storage.delete_report(report_id) for report_id, _ in batch)
        if removed:
            log.info("%d reports older than %d days deleted", removed, settings.keep_days)
    if settings.keep_total_bytes:
        total, by_size = storage.total_archive_bytes(), 0
        while total > settings.keep_total_bytes:
            batch = storage.oldest_reports(BATCH)
            if not batch:
                break
            for report_id, size in batch:
                if total <= settings.keep_total_bytes:
                    break
                if storage.delete_report(report_id):
                    by_size += 1
                total -= size
        if by_size:
            log.info("%d reports deleted to keep the archives within %d MiB", by_size,
                     settings.keep_total_bytes >> 20)
        removed += by_size
    return removed


class RetentionThread(threading.Thread):
    """Applies the retention at start and then every few minutes."""

    def __init__(self, storage, settings):
        super().__init__(name="retention", daemon=True)
        self._storage = storage
        self._settings = settings
        self._stopping = threading.Event()

    def run(self):
        while True:
            try:
                apply_retention(self._storage, self._settings)
            except Exception:  # a database away for a moment; the next pass tries again
                log.exception("retention failed")
            if self._stopping.wait(self._settings.retention_check_seconds):
                return

    def stop(self):
        self._stopping.set()
