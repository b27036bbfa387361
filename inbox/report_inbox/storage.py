"""Where reports and their signatures are kept: the same tables and
queries on SQLite (one file, the default) and on PostgreSQL. A report row
is written, with its signature's count, in one transaction, and only after
its archive is complete in the archive store: whatever is listed can be
downloaded.
"""
import dataclasses
import threading

SCHEMA = """
CREATE TABLE IF NOT EXISTS signatures (
    id {id_type} PRIMARY KEY,
    application TEXT NOT NULL,
    version TEXT NOT NULL,
    exception_code TEXT NOT NULL,
    module TEXT NOT NULL,
    module_offset TEXT NOT NULL,
    report_count BIGINT NOT NULL,
    first_seen TEXT NOT NULL,
    last_seen TEXT NOT NULL,
    UNIQUE (application, version, exception_code, module, module_offset)
);
CREATE TABLE IF NOT EXISTS reports (
    id {id_type} PRIMARY KEY,
    signature_id BIGINT NOT NULL REFERENCES signatures (id),
    received_at TEXT NOT NULL,
    app_ver TEXT NOT NULL,
    install_id TEXT NOT NULL,
    user_msg TEXT NOT NULL,
    file_name TEXT NOT NULL,
    archive_sha256 TEXT NOT NULL,
    archive_size BIGINT NOT NULL,
    entries TEXT NOT NULL,
    problems TEXT NOT NULL,
    crash_log TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS reports_by_signature ON reports (signature_id, id);
CREATE INDEX IF NOT EXISTS reports_by_time ON reports (received_at);
"""

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
RETURNING id
"""
ADD_REPORT = """
INSERT INTO reports (signature_id, received_at, app_ver, install_id, user_msg, file_name, archive_sha256,
                     archive_size, entries, problems, crash_log)
VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)
RETURNING id
"""
SIGNATURE_COLUMNS = ("id, application, version, exception_code, module, module_offset, report_count, "
                     "first_seen, last_seen")
REPORT_COLUMNS = ("id, signature_id, received_at, app_ver, install_id, user_msg, file_name, archive_sha256, "
                  "archive_size, entries, problems, crash_log")
LISTED_REPORT_COLUMNS = ("id, signature_id, received_at, app_ver, install_id, substr(user_msg, 1, 200) AS user_msg, "
                         "file_name, archive_sha256, archive_size, substr(problems, 1, 500) AS problems")
PAGE = 100
MAX_ID = (1 << 63) - 1


@dataclasses.dataclass(frozen=True)
class NewReport:
    received_at: str
    app_ver: str
    install_id: str
    user_msg: str
    file_name: str
    archive_sha256: str
    archive_size: int
    entries: str      # one name per line
    problems: str     # one problem per line; empty for a report read whole
    crash_log: str


class Storage:
    """The queries; a subclass supplies connections and the parameter
    marker of its driver."""
    id_type = "INTEGER"
    marker = "?"

    def __init__(self):
        self._local = threading.local()

    def connection(self):
        raise NotImplementedError

    def _sql(self, text):
        return text if self.marker == "?" else text.replace("?", self.marker)

    def _fetch(self, sql, *args):
        connection = self.connection()
        cursor = connection.cursor()
        try:
            cursor.execute(self._sql(sql), args)
            columns = [d[0] for d in cursor.description]
            return [dict(zip(columns, row)) for row in cursor.fetchall()]
        finally:
            cursor.close()
            _quietly_roll_back(connection)

    def create_schema(self):
        connection = self.connection()
        cursor = connection.cursor()
        for statement in SCHEMA.format(id_type=self.id_type).split(";"):
            if statement.strip():
                cursor.execute(statement)
        cursor.close()
        connection.commit()

    def add_report(self, signature, report):
        """Files the report; returns its id."""
        connection = self.connection()
        cursor = connection.cursor()
        try:
            self._begin(cursor)
            cursor.execute(self._sql(ADD_SIGNATURE), (*dataclasses.astuple(signature), report.received_at,
                                                      report.received_at))
            signature_id = cursor.fetchone()[0]
            cursor.execute(self._sql(ADD_REPORT), (signature_id, *dataclasses.astuple(report)))
            report_id = cursor.fetchone()[0]
            connection.commit()
            return report_id
        except BaseException:
            _quietly_roll_back(connection)
            raise
        finally:
            cursor.close()

    def _begin(self, cursor):
        pass

    def signatures(self, page=0):
        """One page of signatures, the most reported first."""
        return self._fetch(f"SELECT {SIGNATURE_COLUMNS} FROM signatures "
                           f"ORDER BY report_count DESC, last_seen DESC, id LIMIT {PAGE} OFFSET ?",
                           max(0, page) * PAGE)

    def signature(self, signature_id):
        rows = self._fetch(f"SELECT {SIGNATURE_COLUMNS} FROM signatures WHERE id = ?", signature_id)
        return rows[0] if rows else None

    def reports_of(self, signature_id, before=None):
        """One page of a signature's reports, newest first, older than the
        report `before` when given. The listed columns only: a report's log
        and entries are read when it is opened."""
        return self._fetch(f"SELECT {LISTED_REPORT_COLUMNS} FROM reports WHERE signature_id = ? AND id < ? "
                           f"ORDER BY id DESC LIMIT {PAGE}", signature_id,
                           before if before is not None else MAX_ID)

    def report(self, report_id):
        rows = self._fetch(f"SELECT {REPORT_COLUMNS} FROM reports WHERE id = ?", report_id)
        return rows[0] if rows else None

    def counts_per_version(self):
        return self._fetch("SELECT s.application, s.version, COUNT(*) AS reports, "
                           "COUNT(DISTINCT s.id) AS signatures "
                           "FROM reports r JOIN signatures s ON s.id = r.signature_id "
                           "GROUP BY s.application, s.version ORDER BY s.application, s.version")

    def reports_per_day(self):
        return self._fetch("SELECT substr(received_at, 1, 10) AS day, COUNT(*) AS reports FROM reports "
                           "GROUP BY substr(received_at, 1, 10) ORDER BY day")


def _quietly_roll_back(connection):
    """Ends a read or a failed write. On a connection the server dropped
    the rollback fails too; the error worth reporting is the first one,
    and the connection is opened again at its next use."""
    try:
        connection.rollback()
    except Exception:
        pass


def open_storage(settings):
    if settings.database.startswith(("postgresql://", "postgres://")):
        from .postgres_storage import PostgresStorage
        storage = PostgresStorage(settings.database)
    elif settings.database:
        raise ValueError(f"database must be empty (SQLite) or a postgresql:// address, not {settings.database!r}")
    else:
        import os
        from .sqlite_storage import SqliteStorage
        storage = SqliteStorage(os.path.join(settings.data_dir, "inbox.sqlite3"))
    storage.create_schema()
    return storage
