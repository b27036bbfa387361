"""Uploaded archives on disk, named by the SHA-256 of their bytes.

A file is written under a temporary name in the store's own folder, flushed
to disk, and only then renamed to its hash, and the rename is flushed too
before the report is listed: a name that exists always holds the whole
archive, even after a power loss, and two uploads of the same bytes end as
one file.
"""
import hashlib
import os
import shutil
import tempfile

CHUNK = 1 << 20
# Folders in the store where uploads are read before they are stored.
SPOOL_PREFIX = "form-"


class ArchiveTooLarge(Exception):
    pass


class ArchiveStore:
    def __init__(self, root):
        """Opens the store; what a stopped service left half-written
        (archives being stored, forms being read) is removed."""
        self.root = os.path.abspath(root)
        self._incoming = os.path.join(self.root, "incoming")
        os.makedirs(self._incoming, exist_ok=True)
        for name in os.listdir(self._incoming):
            os.unlink(os.path.join(self._incoming, name))
        for name in os.listdir(self.root):
            if name.startswith(SPOOL_PREFIX):
                shutil.rmtree(os.path.join(self.root, name), ignore_errors=True)

    def path(self, digest):
        if len(digest) != 64 or any(c not in "0123456789abcdef" for c in digest):
            raise ValueError("not a SHA-256 digest")
        return os.path.join(self.root, digest[:2], digest)

    def put(self, source, limit):
        """Copies the readable `source` into the store; returns its digest
        and size. More than `limit` bytes raise ArchiveTooLarge and leave
        nothing behind."""
        digest = hashlib.sha256()
        size = 0
        fd, temporary = tempfile.mkstemp(dir=self._incoming)
        try:
            with os.fdopen(fd, "wb") as out:
                while chunk := source.read(CHUNK):
                    size += len(chunk)
                    if size > limit:
                        raise ArchiveTooLarge(f"the archive is larger than {limit} bytes")
                    digest.update(chunk)
                    out.write(chunk)
                out.flush()
                os.fsync(out.fileno())
            final = self.path(digest.hexdigest())
            if not os.path.isdir(os.path.dirname(final)):
                os.makedirs(os.path.dirname(final), exist_ok=True)
                _sync_folder(self.root)
            os.replace(temporary, final)
            _sync_folder(os.path.dirname(final))
        except BaseException:
            try:
                os.unlink(temporary)
            except FileNotFoundError:
                pass
            raise
        return digest.hexdigest(), size

    def open(self, digest):
        return open(self.path(digest), "rb")


def _sync_folder(folder):
    fd = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)
