"""The tables, and how a database made by an older inbox is brought up to
date at start: each step runs once, in order, in its own transaction, and
only adds (tables, columns, indexes, counts filled in from the rows), so
the reports already stored stay as they are.

The steps' number is kept in schema_version. Several services starting on
one PostgreSQL at once take turns by an advisory lock; on SQLite the write
lock does the same.
"""

BASE = """
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
CREATE INDEX IF NOT EXISTS reports_by_time ON reports (received_at)
"""

# Distinct installs per signature, the file name as the bytes it came in,
# a report found again by its archive and install, reports per version
# counted as they are filed instead of from every row on every page.
INSTALLS_VERSIONS_AND_NAMES = """
ALTER TABLE signatures ADD COLUMN install_count BIGINT NOT NULL DEFAULT 0;
ALTER TABLE reports ADD COLUMN file_name_bytes {blob_type};
CREATE INDEX IF NOT EXISTS reports_by_install ON reports (signature_id, install_id);
CREATE INDEX IF NOT EXISTS reports_by_archive ON reports (archive_sha256, install_id);
UPDATE signatures SET install_count = (
    SELECT COUNT(DISTINCT r.install_id) FROM reports r WHERE r.signature_id = signatures.id AND r.install_id <> '');
CREATE TABLE IF NOT EXISTS versions (
    application TEXT NOT NULL,
    version TEXT NOT NULL,
    report_count BIGINT NOT NULL,
    signature_count BIGINT NOT NULL,
    PRIMARY KEY (application, version)
);
INSERT INTO versions (application, version, report_count, signature_count)
    SELECT application, version, SUM(report_count), COUNT(*) FROM signatures GROUP BY application, version
"""

# Archives kept in the database itself ("archives = database"), in pieces
# so that neither storing nor serving one holds it whole in memory.
ARCHIVE_CHUNKS = """
CREATE TABLE IF NOT EXISTS archive_chunks (
    archive_sha256 TEXT NOT NULL,
    seq INTEGER NOT NULL,
    data {blob_type} NOT NULL,
    PRIMARY KEY (archive_sha256, seq)
)
"""

# The faulting thread's stack kept with each report (JSON, empty for none);
# symbol files by module name (in lower case), time stamp and image size,
# their bytes in pieces when archives are kept in the database; and, for
# each report, the modules its walk found no symbols for, so the reports
# waiting for a symbol file just uploaded are found without reading every
# stack.
SYMBOLS_AND_STACKS = """
ALTER TABLE reports ADD COLUMN stack TEXT NOT NULL DEFAULT '';
CREATE TABLE IF NOT EXISTS symbol_files (
    module TEXT NOT NULL,
    time_stamp BIGINT NOT NULL,
    image_size BIGINT NOT NULL,
    name TEXT NOT NULL,
    sha256 TEXT NOT NULL,
    size BIGINT NOT NULL,
    uploaded_at TEXT NOT NULL,
    PRIMARY KEY (module, time_stamp, image_size)
);
CREATE TABLE IF NOT EXISTS symbol_chunks (
    sha256 TEXT NOT NULL,
    seq INTEGER NOT NULL,
    data {blob_type} NOT NULL,
    PRIMARY KEY (sha256, seq)
);
CREATE TABLE IF NOT EXISTS missing_symbols (
    report_id BIGINT NOT NULL,
    module TEXT NOT NULL,
    time_stamp BIGINT NOT NULL,
    image_size BIGINT NOT NULL,
    PRIMARY KEY (report_id, module, time_stamp, image_size)
);
CREATE INDEX IF NOT EXISTS missing_symbols_by_module ON missing_symbols (module, time_stamp, image_size)
"""

STEPS = (BASE, INSTALLS_VERSIONS_AND_NAMES, ARCHIVE_CHUNKS, SYMBOLS_AND_STACKS)
MIGRATION_LOCK = 0x7265706F7274  # any constant of our own, for pg_advisory_xact_lock


def migrate(storage):
    """Applies the steps the database has not had yet."""
    connection = storage.connection()
    cursor = connection.cursor()
    try:
        storage.begin(cursor)
        storage.lock_for_migration(cursor)
        cursor.execute("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)")
        cursor.execute("SELECT MAX(version) FROM schema_version")
        done = cursor.fetchone()[0] or 0
        if done == 0:
            # A database from before versions were counted already has the
            # base tables, or has nothing; BASE suits either.
            cursor.execute("INSERT INTO schema_version (version) VALUES (0)")
        for number, step in enumerate(STEPS, start=1):
            if number <= done:
                continue
            for statement in step.format(id_type=storage.id_type, blob_type=storage.blob_type).split(";"):
                if statement.strip():
                    cursor.execute(statement)
            cursor.execute(storage.sql("UPDATE schema_version SET version = ?"), (number,))
        connection.commit()
    except BaseException:
        connection.rollback()
        raise
    finally:
        cursor.close()
