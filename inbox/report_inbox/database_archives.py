"""Archives kept in the database beside the reports ("archives =
database"), so that several services behind one proxy share one PostgreSQL
and nothing on their own disks.

An upload is still received into a temporary file (the form arrives before
it can be judged, and triage reads it there); listing the report copies it
into the archive_chunks table in the same transaction as the report's row,
one piece at a time, so a report and its archive appear and go together
and no archive is ever held whole in memory.
"""
import io
import tempfile

from .archive_store import IncomingArchive, Kept, probe_folder

CHUNK = 1 << 20


class DatabaseArchives:
    def __init__(self, storage_getter):
        # The storage is made after the store; it is asked for when needed.
        self._storage = storage_getter

    def receive(self, limit):
        return IncomingArchive(tempfile.gettempdir(), limit)

    def probe(self):
        """Uploads are received in the temporary folder before they reach
        the database: that folder must take a write."""
        probe_folder(tempfile.gettempdir())

    def place(self, incoming):
        incoming.finish()
        return Kept(incoming.hexdigest(), incoming.size, False)

    def forget(self, kept):
        pass  # nothing outlives the transaction that failed

    def attach(self, storage, cursor, digest, incoming):
        ARCHIVE_CHUNKS.write(storage, cursor, digest, incoming)
        return True

    def detach(self, storage, cursor, digest):
        ARCHIVE_CHUNKS.delete(storage, cursor, digest)

    def open(self, digest):
        return ARCHIVE_CHUNKS.open(self._storage(), digest)


class ChunkTable:
    """A table of files in pieces, keyed by their SHA-256: the archives,
    and the symbol files, which every service sharing the database must
    find as well."""

    def __init__(self, table, key_column):
        self.table = table
        self.key_column = key_column

    def write(self, storage, cursor, digest, stream):
        """Copies `stream` from its start, unless that file is there already."""
        cursor.execute(storage.sql(f"SELECT 1 FROM {self.table} WHERE {self.key_column} = ? AND seq = 0"),
                       (digest,))
        if cursor.fetchone():
            return
        insert = storage.sql(f"INSERT INTO {self.table} ({self.key_column}, seq, data) VALUES (?, ?, ?)")
        stream.seek(0)
        seq = 0
        while True:
            data = stream.read(CHUNK)
            if data or seq == 0:
                cursor.execute(insert, (digest, seq, data))
            if len(data) < CHUNK:
                return
            seq += 1

    def delete(self, storage, cursor, digest):
        cursor.execute(storage.sql(f"DELETE FROM {self.table} WHERE {self.key_column} = ?"), (digest,))

    def open(self, storage, digest):
        """The file's bytes as a stream, or None when it is not there."""
        rows = storage.fetch(f"SELECT COUNT(*) AS chunks FROM {self.table} WHERE {self.key_column} = ?", digest)
        if not rows[0]["chunks"]:
            return None
        return io.BufferedReader(_ChunkReader(storage, self, digest, rows[0]["chunks"]), CHUNK)


ARCHIVE_CHUNKS = ChunkTable("archive_chunks", "archive_sha256")


class _ChunkReader(io.RawIOBase):
    """The file's pieces in order, each read when it is reached."""

    def __init__(self, storage, table, digest, chunks):
        self._storage = storage
        self._table = table
        self._digest = digest
        self._chunks = chunks
        self._next = 0
        self._pending = b""

    def readable(self):
        return True

    def readinto(self, buffer):
        while not self._pending and self._next < self._chunks:
            rows = self._storage.fetch(f"SELECT data FROM {self._table.table} "
                                       f"WHERE {self._table.key_column} = ? AND seq = ?", self._digest, self._next)
            self._next += 1
            self._pending = bytes(rows[0]["data"]) if rows else b""
        n = min(len(buffer), len(self._pending))
        buffer[:n] = self._pending[:n]
        self._pending = self._pending[n:]
        return n
