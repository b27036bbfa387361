"""Walking a report's dump again with the symbols stored since it arrived.

Uploading symbols changes no report by itself: a signature's reports stay
where they were filed until a token holder asks, for one report or for the
reports still waiting for a module that now has symbols. A report walked
again keeps its new stack and, when the symbols name its fault otherwise,
moves to that signature (storage.refile_report); its application and
version stay those it was filed under, and the unknown applications' reports
never move.
"""
import contextlib
import logging
import os
import shutil
import tempfile
import time

from .filing import UNKNOWN_APPLICATION, storable
from .submission import stack_text
from .symbol_store import LookupsOfOneWalk
from .triage import Signature, triage

# One request stays well within a proxy's read timeout: a walk may take
# its two seconds and the naming of each module's frames ten more.
MAX_WALKED_AT_ONCE = 20
MAX_SECONDS_AT_ONCE = 30
log = logging.getLogger("report_inbox")


class ArchiveGone(Exception):
    """The report's archive cannot be read any more."""


def walk_report(storage, store, symbols, settings, report_id):
    """Walks the report again: a storage.Refiled, which says whether it
    moved, or None when there is no such report. Raises
    ArchiveGone when its archive cannot be read, and then no longer counts
    it as waiting for symbols."""
    report = storage.report(report_id)
    if report is None:
        return None
    signature = storage.signature(report["signature_id"])
    lookups = LookupsOfOneWalk(symbols)
    with _archive_file(store, report) as path:
        if path is None:
            storage.forget_missing(report_id)
            raise ArchiveGone(f"the archive of report {report_id} is gone")
        filed = triage(path, report["app_ver"], settings, lookups)
    if signature is not None and signature["application"] == UNKNOWN_APPLICATION:
        fault = Signature("", "", signature["exception_code"], signature["module"], signature["module_offset"])
    else:
        fault = storable(filed.signature)
    refiled = storage.refile_report(report_id, fault, stack_text(filed.stack), lookups.not_found(filed.stack))
    if refiled is not None and refiled.moved:
        log.info("report %d walked again: moved from signature %d to %d", report_id, refiled.old_signature_id,
                 refiled.signature_id)
    return refiled


def walk_waiting(storage, store, symbols, settings, limit=MAX_WALKED_AT_ONCE):
    """Walks again, oldest first, at most `limit` of the reports whose walk
    lacked a symbol file stored since, and no more once MAX_SECONDS_AT_ONCE
    have passed. {walked, moved, failed, remaining}."""
    walked = moved = failed = 0
    deadline = time.monotonic() + MAX_SECONDS_AT_ONCE
    for report_id in storage.reports_awaiting_symbols(min(limit, MAX_WALKED_AT_ONCE)):
        if time.monotonic() > deadline:
            break
        try:
            result = walk_report(storage, store, symbols, settings, report_id)
        except ArchiveGone:
            failed += 1
            continue
        except Exception:
            # Not asked for again, or one bad report would stop every
            # later request at the same place.
            log.exception("report %d could not be walked again", report_id)
            storage.forget_missing(report_id)
            failed += 1
            continue
        if result is not None:
            walked += 1
            moved += result.moved
    return {"walked": walked, "moved": moved, "failed": failed, "remaining": storage.count_awaiting_symbols()}


@contextlib.contextmanager
def _archive_file(store, report):
    """A path of the report's archive, which triage reads: the stored file
    itself, or a temporary copy of an archive kept in the database."""
    digest = report["archive_sha256"]
    if hasattr(store, "path"):
        path = store.path(digest)
        yield path if os.path.exists(path) else None
        return
    stream = store.open(digest)
    if stream is None:
        yield None
        return
    with tempfile.NamedTemporaryFile(prefix="walk-", suffix=".zip") as copy:
        with stream:
            shutil.copyfileobj(stream, copy, 1 << 20)
        copy.flush()
        yield copy.name
