"""The reports in one SQLite file: one connection per thread, write-ahead
log so pages read while reports arrive, and a wait for the write lock
instead of an error when uploads coincide."""
import fcntl
import os
import sqlite3
import threading

from .storage import Storage

BUSY_TIMEOUT_MS = 30000


class SqliteStorage(Storage):
    # None: a file has no connection to lose, and its errors (a full disk,
    # a lock held past the 30 s busy timeout) are not mended by asking again
    # at once.
    transient_errors = ()
    def __init__(self, path):
        super().__init__()
        self.path = path
        self._writing = threading.Lock()
        self._writer_lock = None  # (process id, descriptor of the lock file)
        # Reports hold users' words and memory: only the service's user may
        # read them, whatever the umask of whoever started it. SQLite gives
        # its journal files the database file's mode.
        os.close(os.open(path, os.O_RDWR | os.O_CREAT, 0o600))
        for name in (path, path + "-wal", path + "-shm"):
            if os.path.exists(name):
                os.chmod(name, 0o600)

    def connection(self):
        connection = getattr(self._local, "connection", None)
        if connection is None:
            connection = sqlite3.connect(self.path, timeout=BUSY_TIMEOUT_MS / 1000, isolation_level=None)
            connection.execute("PRAGMA journal_mode = WAL")
            connection.execute("PRAGMA synchronous = FULL")
            connection.execute("PRAGMA foreign_keys = ON")
            connection.execute(f"PRAGMA busy_timeout = {BUSY_TIMEOUT_MS}")
            self._local.connection = _Autocommitting(connection)
        return self._local.connection

    def _write(self, work):
        # One writer at a time, in this process and among the processes
        # sharing the file: SQLite lets one write anyway, and its busy
        # handler waits for the lock in sleeps of up to 100 ms, so writers
        # queued on it would idle long after it is free.
        with self._writing:
            descriptor = self._writer_descriptor()
            fcntl.flock(descriptor, fcntl.LOCK_EX)
            try:
                return super()._write(work)
            finally:
                fcntl.flock(descriptor, fcntl.LOCK_UN)

    def _writer_descriptor(self):
        # A lock file of its own (flock on the database itself would meet
        # SQLite's locks where flock is emulated), opened once per process:
        # a descriptor inherited over fork would share its lock.
        if self._writer_lock is None or self._writer_lock[0] != os.getpid():
            self._writer_lock = (os.getpid(), os.open(self.path + "-writer", os.O_RDWR | os.O_CREAT, 0o600))
        return self._writer_lock[1]

    def begin(self, cursor):
        # Taking the write lock first: a deferred transaction that meets a
        # writer while upgrading fails instead of waiting.
        cursor.execute("BEGIN IMMEDIATE")


class _Autocommitting:
    """An SQLite connection with the driver's transaction handling off,
    offering commit and rollback that do nothing outside a transaction."""

    def __init__(self, connection):
        self._connection = connection

    def cursor(self):
        return self._connection.cursor()

    def commit(self):
        if self._connection.in_transaction:
            self._connection.execute("COMMIT")

    def close(self):
        self._connection.close()

    def rollback(self):
        if self._connection.in_transaction:
            self._connection.execute("ROLLBACK")
