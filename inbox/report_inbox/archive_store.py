"""Uploaded archives on disk, named by the SHA-256 of their bytes.

An archive is received straight into a temporary file in the store's own
folder, hashed as it is written; placing it flushes it to disk, renames it
to its hash and flushes the rename before the report is listed. A name
that exists always holds the whole archive, even after a power loss, and
two uploads of the same bytes end as one file.

The storage calls attach and detach inside the transaction that lists or
removes a report, under the lock of that archive: listing checks the file
is still there, since removing the last report of the same bytes may have
taken it meanwhile.
"""
import dataclasses
import hashlib
import os
import re
import tempfile

_DIGEST = re.compile(r"[0-9a-f]{64}")


class ArchiveTooLarge(Exception):
    pass


class IncomingArchive:
    """A file being received: written, hashed and counted at once, and
    refused past its limit. Readable and seekable like the file it is, for
    the form parser that fills it."""

    def __init__(self, folder, limit):
        fd, self.path = tempfile.mkstemp(dir=folder)
        self._file = os.fdopen(fd, "w+b")
        self._digest = hashlib.sha256()
        self._limit = limit
        self.size = 0

    def write(self, data):
        self.size += len(data)
        if self.size > self._limit:
            raise ArchiveTooLarge(f"the archive is larger than {self._limit} bytes")
        self._digest.update(data)
        return self._file.write(data)

    def hexdigest(self):
        return self._digest.hexdigest()

    def finish(self):
        """Everything written is in the file, for reading it by its path."""
        self._file.flush()

    def discard(self):
        """Removes the file unless it was kept; safe to call again."""
        if not self._file.closed:
            self._file.close()
        try:
            os.unlink(self.path)
        except FileNotFoundError:
            pass

    def __getattr__(self, name):
        return getattr(self._file, name)


@dataclasses.dataclass(frozen=True)
class Kept:
    digest: str
    size: int
    created: bool  # False when the same bytes were already stored


class ArchiveStore:
    def __init__(self, root):
        """Opens the store; what a stopped service left half-received is
        removed."""
        self.root = os.path.abspath(root)
        self._incoming = os.path.join(self.root, "incoming")
        os.makedirs(self._incoming, exist_ok=True)
        for name in os.listdir(self._incoming):
            os.unlink(os.path.join(self._incoming, name))

    def path(self, digest):
        if not _DIGEST.fullmatch(digest):
            raise ValueError("not a SHA-256 digest")
        return os.path.join(self.root, digest[:2], digest)

    def receive(self, limit):
        return IncomingArchive(self._incoming, limit)

    def probe(self):
        """Writes, flushes and removes a small file where archives are
        received: raises OSError when the disk would refuse an upload."""
        probe_folder(self._incoming)

    def place(self, incoming):
        """Stores a received archive under its hash."""
        incoming.flush()
        os.fsync(incoming.fileno())
        incoming.close()
        digest = incoming.hexdigest()
        final = self.path(digest)
        if not os.path.isdir(os.path.dirname(final)):
            os.makedirs(os.path.dirname(final), exist_ok=True)
            _sync_folder(self.root)
        created = not os.path.exists(final)
        os.replace(incoming.path, final)
        _sync_folder(os.path.dirname(final))
        return Kept(digest, incoming.size, created)

    def forget(self, kept):
        """Removes an archive this process just created but could not list."""
        if kept.created:
            try:
                os.unlink(self.path(kept.digest))
            except OSError:
                pass

    def attach(self, storage, cursor, digest, incoming):
        return os.path.exists(self.path(digest))

    def detach(self, storage, cursor, digest):
        try:
            os.unlink(self.path(digest))
        except FileNotFoundError:
            pass

    def open(self, digest):
        """The archive's bytes as a file, or None when it is gone."""
        try:
            return open(self.path(digest), "rb")
        except FileNotFoundError:
            return None


def probe_folder(folder):
    fd, path = tempfile.mkstemp(dir=folder, prefix="probe-")
    try:
        os.write(fd, b"report inbox probe")
        os.fsync(fd)
    finally:
        os.close(fd)
        os.unlink(path)


def _sync_folder(folder):
    fd = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)
