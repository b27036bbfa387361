"""Symbol files: each build of a module as a release uploads it (its PE
with the debug information), kept under the key a minidump names that
build by, so that the stack walker finds it by that key (find).

Where archives are files, a symbol file is a file too,
<data>/symbols/<name in lower case>/<KEY>/<sha256>: received into a
temporary file, flushed and renamed into place in the transaction that
lists it, so a listed file is always whole. Where archives are kept in the
database, its bytes go there in pieces in that transaction instead, so
every service sharing the database finds it; the walker wants a path, so a
service copies it into its own cache folder the first time it is asked
for.

The row (symbol_files) is the truth: a file without a row is never found.
"""
import dataclasses
import datetime
import hashlib
import logging
import os
import tempfile

from .archive_store import IncomingArchive, _sync_folder
from .database_archives import ChunkTable
from .symbol_keys import lookup_name

SYMBOL_CHUNKS = ChunkTable("symbol_chunks", "sha256")
PAGE = 100
COPY_BLOCK = 1 << 20
log = logging.getLogger("report_inbox")


class SymbolConflict(Exception):
    """The key already has another file."""

    def __init__(self, existing_sha256):
        super().__init__(existing_sha256)
        self.existing_sha256 = existing_sha256


@dataclasses.dataclass(frozen=True)
class Added:
    sha256: str
    size: int
    stored: bool   # False: the same file was already there


class SymbolStore:
    def __init__(self, storage, data_dir, in_database):
        """Opens the store; what a stopped service left half-received or
        half-copied is removed."""
        self._storage = storage
        self._in_database = in_database
        self.root = os.path.join(os.path.abspath(data_dir), "symbols")
        # A dot-folder: no module name may begin with a dot.
        self._incoming = os.path.join(self.root, ".incoming")
        self._cache = os.path.join(os.path.abspath(data_dir), "symbol-cache")
        for folder in (self._incoming, self._cache) if in_database else (self._incoming,):
            os.makedirs(folder, exist_ok=True)
        for folder in (self._incoming, self._cache):
            if os.path.isdir(folder):
                for name in os.listdir(folder):
                    if name.startswith(".part-") or folder == self._incoming:
                        os.unlink(os.path.join(folder, name))

    def receive(self, limit):
        """A temporary file for an upload, refused past `limit` bytes."""
        return IncomingArchive(self._incoming, limit)

    def path(self, key, digest):
        return os.path.join(self.root, lookup_name(key.name), key.folder(), digest)

    def add(self, key, incoming, replace=False):
        """Lists the received file under `key`. The same file again is
        answered as already there. Another file for a key that has one
        raises SymbolConflict unless `replace`: a key names one build, so
        two files for it mean one of them is not that build (a rebuild
        that kept the time stamp, a stripped copy), and swapping it
        silently would change how every later walk reads that module."""
        incoming.flush()
        os.fsync(incoming.fileno())
        digest, size = incoming.hexdigest(), incoming.size
        module = lookup_name(key.name)
        placed = []

        def work(cursor):
            # Any 64 hex digits name a lock of their own: one per key, so two
            # uploads for one key take turns.
            self._storage.lock_archive(cursor, hashlib.sha256(
                f"symbols {module} {key.time_stamp} {key.image_size}".encode("utf-8")).hexdigest())
            row = self._execute(cursor, "SELECT sha256 FROM symbol_files WHERE module = ? AND time_stamp = ? "
                                        "AND image_size = ?", module, key.time_stamp, key.image_size).fetchone()
            if row and row[0] == digest:
                return Added(digest, size, False), None
            if row and not replace:
                raise SymbolConflict(row[0])
            self._keep(cursor, key, digest, incoming, placed)
            now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
            if row:
                self._execute(cursor, "UPDATE symbol_files SET name = ?, sha256 = ?, size = ?, uploaded_at = ? "
                                      "WHERE module = ? AND time_stamp = ? AND image_size = ?",
                              key.name, digest, size, now, module, key.time_stamp, key.image_size)
                if self._in_database and not self._execute(
                        cursor, "SELECT 1 FROM symbol_files WHERE sha256 = ?", row[0]).fetchone():
                    SYMBOL_CHUNKS.delete(self._storage, cursor, row[0])
            else:
                self._execute(cursor, "INSERT INTO symbol_files (module, time_stamp, image_size, name, sha256, "
                                      "size, uploaded_at) VALUES (?, ?, ?, ?, ?, ?, ?)",
                              module, key.time_stamp, key.image_size, key.name, digest, size, now)
            return Added(digest, size, True), row[0] if row else None

        try:
            added, replaced = self._storage.write(work)
        except BaseException:
            for path in placed:  # listed by no row
                _remove(path)
            raise
        if replaced and not self._in_database:
            _remove(self.path(key, replaced))
        log.info("symbol file %s %s %s: %s", key.name, key.folder(), digest,
                 "stored" if added.stored else "already there")
        return added

    def _keep(self, cursor, key, digest, incoming, placed):
        if self._in_database:
            SYMBOL_CHUNKS.write(self._storage, cursor, digest, incoming)
            return
        final = self.path(key, digest)
        folder = os.path.dirname(final)
        if not os.path.isdir(folder):
            os.makedirs(folder, exist_ok=True)
            _sync_folder(os.path.dirname(os.path.dirname(folder)))
            _sync_folder(os.path.dirname(folder))
        incoming.close()
        os.replace(incoming.path, final)
        placed.append(final)
        _sync_folder(folder)

    def _execute(self, cursor, sql, *args):
        cursor.execute(self._storage.sql(sql), args)
        return cursor

    def find(self, key):
        """The path of the symbol file of `key`'s build, or None."""
        return self.locate(key)[1]

    def locate(self, key):
        """(stored, path): whether the store lists a file for `key`'s build,
        and its path, None when it lists none or its bytes are lost."""
        rows = self._storage.fetch("SELECT sha256 FROM symbol_files WHERE module = ? AND time_stamp = ? "
                                   "AND image_size = ?", lookup_name(key.name), key.time_stamp, key.image_size)
        if not rows:
            return False, None
        digest = rows[0]["sha256"]
        if not self._in_database:
            path = self.path(key, digest)
            return True, (path if os.path.exists(path) else None)
        return True, self._cached(digest)

    def _cached(self, digest):
        """The file copied out of the database once, checked against its
        digest; processes copying it at once each write their own part
        and the renames leave one whole file."""
        path = os.path.join(self._cache, digest)
        if os.path.exists(path):
            return path
        stream = SYMBOL_CHUNKS.open(self._storage, digest)
        if stream is None:
            return None
        fd, part = tempfile.mkstemp(dir=self._cache, prefix=".part-")
        try:
            hashed = hashlib.sha256()
            with os.fdopen(fd, "wb") as out, stream:
                while block := stream.read(COPY_BLOCK):
                    hashed.update(block)
                    out.write(block)
            if hashed.hexdigest() != digest:
                log.warning("symbol file %s read from the database does not match its digest", digest)
                return None
            os.replace(part, path)
            return path
        finally:
            _remove(part)

    def listing(self, page=0):
        """One page of the stored symbol files, by module and build."""
        rows = self._storage.fetch("SELECT module, time_stamp, image_size, name, sha256, size, uploaded_at "
                                   "FROM symbol_files ORDER BY module, time_stamp, image_size "
                                   f"LIMIT {PAGE} OFFSET ?", max(0, page) * PAGE)
        for row in rows:
            row["folder"] = f"{row['time_stamp']:08X}{row['image_size']:x}"
        return rows


class LookupsOfOneWalk:
    """The store as one walk sees it, noting what it found: a module the
    walk still lacks symbols for although the store gave it a file cannot
    be helped by walking again, so only the modules not found are kept as
    waiting for symbols."""

    def __init__(self, store):
        self._store = store
        self._found = set()

    def find(self, key):
        # A build the store lists counts as found even when its bytes are
        # lost: waiting would list the report again on every request.
        stored, path = self._store.locate(key) if self._store is not None else (False, None)
        if stored:
            self._found.add((lookup_name(key.name), key.time_stamp, key.image_size))
        return path

    def not_found(self, stack):
        """The stack's modules without symbols that the store did not have."""
        if stack is None:
            return []
        return [key for key in stack.symbols_missing
                if (lookup_name(key.name), key.time_stamp, key.image_size) not in self._found]


def _remove(path):
    try:
        os.unlink(path)
    except FileNotFoundError:
        pass
