"""Where reports and their signatures are kept: the same tables and
queries on SQLite (one file, the default) and on PostgreSQL.

A report row is written, with its signature's and its version's counts, in
one transaction, and only once its archive is complete in the archive
store: whatever is listed can be downloaded. The same archive from the same
install is one report, however often it is sent. Removing a report takes
its counts back and its archive with it, once no other report shares it.
"""
import dataclasses
import logging
import threading
import time

from . import migrations
from .symbol_keys import BadKey, check_name, lookup_name

# received_at is ISO 8601 UTC text ("2026-12-09T10:11:12Z"): it orders and
# cuts into days the same way in both databases.
ADD_SIGNATURE = """
INSERT INTO signatures (application, version, exception_code, module, module_offset, report_count,
                        first_seen, last_seen)
VALUES (?, ?, ?, ?, ?, 1, ?, ?)
ON CONFLICT (application, version, exception_code, module, module_offset) DO UPDATE SET
    report_count = signatures.report_count + 1,
    first_seen = CASE WHEN excluded.first_seen < signatures.first_seen
                      THEN excluded.first_seen ELSE signatures.first_seen END,
    last_seen = CASE WHEN excluded.last_seen > signatures.last_seen
                     THEN excluded.last_seen ELSE signatures.last_seen END
RETURNING id, report_count
"""
ADD_VERSION = """
INSERT INTO versions (application, version, report_count, signature_count) VALUES (?, ?, 1, ?)
ON CONFLICT (application, version) DO UPDATE SET
    report_count = versions.report_count + 1,
    signature_count = versions.signature_count + excluded.signature_count
"""
ADD_REPORT = """
INSERT INTO reports (signature_id, received_at, app_ver, install_id, user_msg, file_name, file_name_bytes,
                     archive_sha256, archive_size, entries, problems, crash_log, stack)
VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)
RETURNING id
"""
# An install counts once per signature: a report is its install's first
# there when no report of that signature from that install is listed yet
# (asked before the report's row is written) and its last when none is left
# (asked after the row is removed).
COUNT_INSTALL = """
UPDATE signatures SET install_count = install_count {sign} 1
WHERE id = ? AND ? <> ''
  AND NOT EXISTS (SELECT 1 FROM reports WHERE signature_id = ? AND install_id = ?)
"""
SIGNATURE_COLUMNS = ("id, application, version, exception_code, module, module_offset, report_count, "
                     "install_count, first_seen, last_seen")
REPORT_COLUMNS = ("id, signature_id, received_at, app_ver, install_id, user_msg, file_name, file_name_bytes, "
                  "archive_sha256, archive_size, entries, problems, crash_log, stack")
LISTED_REPORT_COLUMNS = ("id, signature_id, received_at, app_ver, install_id, substr(user_msg, 1, 200) AS user_msg, "
                         "file_name, archive_sha256, archive_size, substr(problems, 1, 500) AS problems")
PAGE = 100
# A write that fails on its connection (PostgreSQL restarted, its
# connections ended) is tried again on a fresh one, within about a second;
# the reporter takes any other answer than its keyword as a failure.
WRITE_ATTEMPTS = 3
RETRY_PAUSES = (0.2, 0.8)
MAX_ID = (1 << 63) - 1
MAX_LISTED_VERSIONS = 200
# A stack's modules without symbols, noted per report; the walker names
# only the modules on the stack, so more than this is a damaged dump.
MAX_MISSING_NOTED = 64
_WITH_SYMBOLS_NOW = ("JOIN symbol_files s ON s.module = m.module AND s.time_stamp = m.time_stamp "
                     "AND s.image_size = m.image_size")
OTHER_VERSIONS = "(other versions)"


class ArchiveMissing(Exception):
    """The archive a report was to be listed with is gone: removed with an
    older report of the same bytes while this one was being received."""


@dataclasses.dataclass(frozen=True)
class NewReport:
    received_at: str
    app_ver: str
    install_id: str
    user_msg: str
    file_name: str
    file_name_bytes: bytes  # the name as it came, in whatever encoding
    archive_sha256: str
    archive_size: int
    entries: str      # one name per line
    problems: str     # one problem per line; empty for a report read whole
    crash_log: str
    stack: str = ""   # JSON of the faulting thread's stack; empty when none was walked


@dataclasses.dataclass(frozen=True)
class Refiled:
    old_signature_id: int
    signature_id: int   # the same as old_signature_id when the report stayed

    @property
    def moved(self):
        return self.signature_id != self.old_signature_id


@dataclasses.dataclass(frozen=True)
class Filed:
    report_id: int
    signature_id: int
    again: bool  # the same archive from the same install was already filed


log = logging.getLogger("report_inbox")


class Storage:
    """The queries; a subclass supplies connections, the parameter marker
    of its driver and how it locks."""
    # The driver's errors of a connection or a moment, worth a new attempt.
    transient_errors = ()
    id_type = "INTEGER"
    blob_type = "BLOB"
    marker = "?"

    def __init__(self):
        self._local = threading.local()
        self.archives = None  # the archive store, set by open_storage
        self.max_versions = 100

    def connection(self):
        raise NotImplementedError

    def close_connections(self):
        """Closes this thread's connection, before the process forks: each
        process must open its own."""
        connection = getattr(self._local, "connection", None)
        if connection is not None:
            connection.close()
        self._local = threading.local()

    def drop_connection(self):
        """Closes this thread's connection, whatever state it is in; the
        next use opens a fresh one."""
        connection = getattr(self._local, "connection", None)
        self._local.connection = None
        if connection is not None:
            try:
                connection.close()
            except Exception:
                pass

    def sql(self, text):
        return text if self.marker == "?" else text.replace("?", self.marker)

    def begin(self, cursor):
        pass

    def lock_for_migration(self, cursor):
        pass

    def lock_archive(self, cursor, digest):
        """Serialises everything done to the reports of one archive: filing
        a report of it and removing its last report (and with it the
        archive) never interleave. SQLite's write lock already serialises
        every write."""

    def _execute(self, cursor, sql, *args):
        cursor.execute(self.sql(sql), args)
        return cursor

    def fetch(self, sql, *args):
        try:
            return self._fetch_once(sql, args)
        except self.transient_errors:
            # The server dropped this thread's connection (it restarted, or
            # ended its connections): a read is asked again on a fresh one.
            self.drop_connection()
            return self._fetch_once(sql, args)

    def _fetch_once(self, sql, args):
        connection = self.connection()
        cursor = connection.cursor()
        try:
            cursor.execute(self.sql(sql), args)
            columns = [d[0] for d in cursor.description]
            return [dict(zip(columns, row)) for row in cursor.fetchall()]
        finally:
            cursor.close()
            _quietly_roll_back(connection)

    def _write(self, work):
        """Runs work(cursor) in one transaction and returns what it returns."""
        connection = self.connection()
        cursor = connection.cursor()
        try:
            self.begin(cursor)
            result = work(cursor)
            connection.commit()
            return result
        except BaseException:
            _quietly_roll_back(connection)
            raise
        finally:
            cursor.close()

    def write(self, work):
        """Runs work(cursor) in one transaction, for the stores kept beside
        the reports."""
        return self._write(work)

    def create_schema(self):
        migrations.migrate(self)

    # Filing

    def add_report(self, signature, report, incoming, missing=()):
        """Files the report, its archive attached from `incoming` by the
        archive store; a report of the same archive and install already
        filed is answered instead. `missing`: the ModuleKeys its walk
        wanted symbols for and the symbol store did not have."""
        def work(cursor):
            self.lock_archive(cursor, report.archive_sha256)
            found = self._execute(cursor, "SELECT id, signature_id FROM reports WHERE archive_sha256 = ? "
                                          "AND install_id = ? ORDER BY id LIMIT 1",
                                  report.archive_sha256, report.install_id).fetchone()
            if found:
                return Filed(found[0], found[1], True)
            if not self.archives.attach(self, cursor, report.archive_sha256, incoming):
                raise ArchiveMissing(report.archive_sha256)
            filed_as = self._bounded_version(cursor, signature)
            signature_id, count = self._execute(cursor, ADD_SIGNATURE, *_values(filed_as),
                                                report.received_at, report.received_at).fetchone()
            self._execute(cursor, COUNT_INSTALL.format(sign="+"), signature_id, report.install_id,
                          signature_id, report.install_id)
            self._execute(cursor, ADD_VERSION, filed_as.application, filed_as.version, 1 if count == 1 else 0)
            report_id = self._execute(cursor, ADD_REPORT, signature_id, *_values(report)).fetchone()[0]
            self._note_missing(cursor, report_id, missing)
            return Filed(report_id, signature_id, False)
        return self._write(work)

    def add_report_retrying(self, signature, report, incoming, retried=lambda: None, missing=()):
        """add_report, tried again on a fresh connection after a transient
        error. A first attempt whose commit went through but whose answer
        was lost is found by the next as the same report, never filed
        twice. retried() is called before each new attempt."""
        for attempt in range(WRITE_ATTEMPTS):
            try:
                return self.add_report(signature, report, incoming, missing)
            except self.transient_errors as error:
                if attempt + 1 == WRITE_ATTEMPTS:
                    raise
                log.warning("storing report %s failed (%s: %s); trying again on a fresh connection",
                            report.archive_sha256, type(error).__name__, str(error).strip()[:200])
                self.drop_connection()
                retried()
                time.sleep(RETRY_PAUSES[attempt])

    def _bounded_version(self, cursor, signature):
        """The signature, its version replaced by OTHER_VERSIONS when its
        application already has as many versions as it may: the version
        is the sender's word, and each one is a row. (Uploads filed at the
        same moment on PostgreSQL may pass the bound by a few.)"""
        listed, known = self._execute(
            cursor, "SELECT EXISTS (SELECT 1 FROM versions WHERE application = ? AND version = ?), "
                    "(SELECT COUNT(*) FROM versions WHERE application = ?)",
            signature.application, signature.version, signature.application).fetchone()
        if listed or known < self.max_versions:
            return signature
        return dataclasses.replace(signature, version=OTHER_VERSIONS)

    # Removing

    def delete_report(self, report_id):
        """Removes the report, its counts and, when no other report shares
        it, its archive. False when there was no such report."""
        def work(cursor):
            row = self._execute(cursor, "SELECT signature_id, install_id, archive_sha256 FROM reports WHERE id = ?",
                                report_id).fetchone()
            if row is None:
                return False
            signature_id, install_id, digest = row
            self.lock_archive(cursor, digest)
            if self._execute(cursor, "DELETE FROM reports WHERE id = ?", report_id).rowcount != 1:
                return False  # removed meanwhile by another process
            self._execute(cursor, "DELETE FROM missing_symbols WHERE report_id = ?", report_id)
            count, application, version = self._execute(
                cursor, "UPDATE signatures SET report_count = report_count - 1 WHERE id = ? "
                        "RETURNING report_count, application, version", signature_id).fetchone()
            self._execute(cursor, COUNT_INSTALL.format(sign="-"), signature_id, install_id, signature_id,
                          install_id)
            if count == 0:
                self._execute(cursor, "DELETE FROM signatures WHERE id = ?", signature_id)
            self._execute(cursor, "UPDATE versions SET report_count = report_count - 1, "
                                  "signature_count = signature_count - ? WHERE application = ? AND version = ?",
                          1 if count == 0 else 0, application, version)
            self._execute(cursor, "DELETE FROM versions WHERE application = ? AND version = ? AND report_count <= 0",
                          application, version)
            if not self._execute(cursor, "SELECT 1 FROM reports WHERE archive_sha256 = ? LIMIT 1",
                                 digest).fetchone():
                self.archives.detach(self, cursor, digest)
            return True
        return self._write(work)

    # Walking again

    def refile_report(self, report_id, fault, stack, missing):
        """Keeps the report's newly walked stack and, when `fault` (a
        Signature, of which only the exception code, module and offset
        count) differs from its signature's, moves the report there: both
        signatures' report and install counts and its version's signature
        count follow, and a signature left without reports goes as it
        would on deletion. The application and version stay those the
        report was filed under, "(other versions)" included. One
        transaction, under the lock of the report's archive, which a
        deletion of the report takes too. None when there is no such
        report."""
        def work(cursor):
            row = self._execute(cursor, "SELECT archive_sha256 FROM reports WHERE id = ?", report_id).fetchone()
            if row is None:
                return None
            self.lock_archive(cursor, row[0])
            # Read again under the lock: another walk may have moved it.
            row = self._execute(cursor, "SELECT signature_id, install_id, received_at FROM reports WHERE id = ?",
                                report_id).fetchone()
            if row is None:
                return None
            old_id, install_id, received_at = row
            application, version, *old_fault = self._execute(
                cursor, "SELECT application, version, exception_code, module, module_offset FROM signatures "
                        "WHERE id = ?", old_id).fetchone()
            self._execute(cursor, "UPDATE reports SET stack = ? WHERE id = ?", stack, report_id)
            self._execute(cursor, "DELETE FROM missing_symbols WHERE report_id = ?", report_id)
            self._note_missing(cursor, report_id, missing)
            new_fault = [fault.exception_code, fault.module, fault.offset]
            if new_fault == old_fault:
                return Refiled(old_id, old_id)
            new_id, new_count = self._execute(cursor, ADD_SIGNATURE, application, version, *new_fault,
                                              received_at, received_at).fetchone()
            self._execute(cursor, COUNT_INSTALL.format(sign="+"), new_id, install_id, new_id, install_id)
            self._execute(cursor, "UPDATE reports SET signature_id = ? WHERE id = ?", new_id, report_id)
            old_count = self._execute(cursor, "UPDATE signatures SET report_count = report_count - 1 WHERE id = ? "
                                              "RETURNING report_count", old_id).fetchone()[0]
            self._execute(cursor, COUNT_INSTALL.format(sign="-"), old_id, install_id, old_id, install_id)
            if old_count == 0:
                self._execute(cursor, "DELETE FROM signatures WHERE id = ?", old_id)
            self._execute(cursor, "UPDATE versions SET signature_count = signature_count + ? "
                                  "WHERE application = ? AND version = ?",
                          (1 if new_count == 1 else 0) - (1 if old_count == 0 else 0), application, version)
            return Refiled(old_id, new_id)
        return self._write(work)

    def _note_missing(self, cursor, report_id, keys):
        # A name no upload may carry never gets symbols: not worth waiting for.
        keys = [k for k in list(keys)[:MAX_MISSING_NOTED] if _uploadable(k.name)]
        for key in {(lookup_name(k.name), k.time_stamp, k.image_size) for k in keys}:
            self._execute(cursor, "INSERT INTO missing_symbols (report_id, module, time_stamp, image_size) "
                                  "VALUES (?, ?, ?, ?)", report_id, *key)

    def forget_missing(self, report_id):
        """The report is no longer waiting for symbols: its dump cannot be
        walked again (its archive is gone, or the walk failed)."""
        self._write(lambda cursor: self._execute(cursor, "DELETE FROM missing_symbols WHERE report_id = ?",
                                                 report_id))

    def reports_awaiting_symbols(self, limit):
        """Ids of the oldest reports whose walk lacked a symbol file that
        has been stored since."""
        return [row["report_id"] for row in self.fetch(
            f"SELECT DISTINCT m.report_id FROM missing_symbols m {_WITH_SYMBOLS_NOW} "
            f"ORDER BY m.report_id LIMIT {int(limit)}")]

    def count_awaiting_symbols(self):
        return self.fetch(f"SELECT COUNT(DISTINCT m.report_id) AS waiting FROM missing_symbols m "
                          f"{_WITH_SYMBOLS_NOW}")[0]["waiting"]

    def oldest_reports(self, limit, signature_id=None, received_before=None):
        """(id, archive size) of the oldest reports, of one signature or
        received before a time when given."""
        where, args = [], []
        if signature_id is not None:
            where.append("signature_id = ?")
            args.append(signature_id)
        if received_before is not None:
            where.append("received_at < ?")
            args.append(received_before)
        clause = ("WHERE " + " AND ".join(where)) if where else ""
        return [(row["id"], row["archive_size"]) for row in self.fetch(
            f"SELECT id, archive_size FROM reports {clause} ORDER BY id LIMIT {int(limit)}", *args)]

    def total_archive_bytes(self):
        return self.fetch("SELECT COALESCE(SUM(archive_size), 0) AS total FROM reports")[0]["total"]

    # Reading

    def signatures(self, page=0):
        """One page of signatures, the most reported first."""
        return self.fetch(f"SELECT {SIGNATURE_COLUMNS} FROM signatures "
                           f"ORDER BY report_count DESC, last_seen DESC, id LIMIT {PAGE} OFFSET ?",
                           max(0, page) * PAGE)

    def signature(self, signature_id):
        rows = self.fetch(f"SELECT {SIGNATURE_COLUMNS} FROM signatures WHERE id = ?", signature_id)
        return rows[0] if rows else None

    def find_signature(self, application):
        """The id of the one signature of `application`, if it has one."""
        rows = self.fetch("SELECT id FROM signatures WHERE application = ? ORDER BY id LIMIT 1", application)
        return rows[0]["id"] if rows else None

    def reports_of(self, signature_id, before=None):
        """One page of a signature's reports, newest first, older than the
        report `before` when given. The listed columns only: a report's log
        and entries are read when it is opened."""
        return self.fetch(f"SELECT {LISTED_REPORT_COLUMNS} FROM reports WHERE signature_id = ? AND id < ? "
                           f"ORDER BY id DESC LIMIT {PAGE}", signature_id,
                           before if before is not None else MAX_ID)

    def report(self, report_id):
        rows = self.fetch(f"SELECT {REPORT_COLUMNS} FROM reports WHERE id = ?", report_id)
        if not rows:
            return None
        row = rows[0]
        row["file_name_bytes"] = bytes(row["file_name_bytes"]) if row["file_name_bytes"] is not None else None
        return row

    def counts_per_version(self):
        """Reports and signatures per version, counted as they were filed."""
        return self.fetch("SELECT application, version, report_count AS reports, signature_count AS signatures "
                           f"FROM versions ORDER BY application, version LIMIT {MAX_LISTED_VERSIONS}")

    def reports_per_day(self, since):
        return self.fetch("SELECT substr(received_at, 1, 10) AS day, COUNT(*) AS reports FROM reports "
                           "WHERE received_at >= ? GROUP BY substr(received_at, 1, 10) ORDER BY day", since)


def _values(record):
    """A dataclass's fields in order; astuple would deep-copy each."""
    return tuple(getattr(record, field.name) for field in dataclasses.fields(record))


def _quietly_roll_back(connection):
    """Ends a read or a failed write. On a connection the server dropped
    the rollback fails too; the error worth reporting is the first one,
    and the connection is opened again at its next use."""
    try:
        connection.rollback()
    except Exception:
        pass


def open_storage(settings, archives):
    if settings.database.startswith(("postgresql://", "postgres://")):
        from .postgres_storage import PostgresStorage
        storage = PostgresStorage(settings.database)
    elif settings.database:
        raise ValueError(f"database must be empty (SQLite) or a postgresql:// address, not {settings.database!r}")
    else:
        import os
        from .sqlite_storage import SqliteStorage
        storage = SqliteStorage(os.path.join(settings.data_dir, "inbox.sqlite3"))
    storage.archives = archives
    storage.max_versions = settings.max_versions
    storage.create_schema()
    return storage


def _uploadable(name):
    try:
        check_name(name)
        return True
    except BadKey:
        return False
