"""Reading the members of an uploaded archive without trusting it.

Nothing from inside an archive is ever used as a path: members are found by
comparing their names with the few the reporter writes, and read into
memory. Every read is bounded, by what was actually inflated rather than by
the sizes the archive claims, so an archive bomb costs at most the limit.

Only stored and Deflate members are read: they are all the reporter writes,
and zipfile bounds only Deflate's output per read, while a bzip2 or LZMA
member of a few hundred bytes inflates to gigabytes in one call.
"""
import zipfile
import zlib

MAX_LISTED_ENTRIES = 1000
_READ_ERRORS = (zipfile.BadZipFile, zipfile.LargeZipFile, NotImplementedError, RuntimeError, EOFError,
                zlib.error, OSError, ValueError, KeyError, IndexError)


class BadArchive(ValueError):
    pass


class MemberTooLarge(BadArchive):
    pass


# The central directory is read whole into objects of a few hundred bytes
# per entry; the reporter's archives have three entries.
MAX_DIRECTORY_BYTES = 64 << 10
# ZipFile looks for the end record in the last 64 KiB and the record itself.
_END_SEARCH_BYTES = 65535 + 22
_METHODS = {zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED}


class _DirectoryTooLarge(BadArchive):
    pass


class _BoundedReads:
    """The archive file as ZipFile reads it while opening: any single read
    larger than the directory may be is refused before it happens.

    ZipFile reads the whole central directory with one read of the size it
    found in the end records. Bounding that read, rather than finding the
    end records a second time, holds whichever records ZipFile believes:
    decoys, a ZIP64 record beside a small 32-bit size, or signature bytes
    inside a record's own fields cannot lead two readers apart."""

    def __init__(self, f, size):
        self._f = f
        self._size = size
        self.opening = True

    def read(self, n=-1):
        if n is None or n < 0:
            n = self._size - self._f.tell()
        if self.opening and n > max(MAX_DIRECTORY_BYTES, _END_SEARCH_BYTES):
            raise _DirectoryTooLarge(f"the archive's directory of {n} bytes is larger than "
                                     f"{MAX_DIRECTORY_BYTES}: too many entries")
        return self._f.read(n)

    def seek(self, offset, whence=0):
        return self._f.seek(offset, whence)

    def tell(self):
        return self._f.tell()

    def seekable(self):
        return True

    def close(self):
        self._f.close()


class Archive:
    def __init__(self, path):
        f = open(path, "rb")
        try:
            bounded = _BoundedReads(f, f.seek(0, 2))
            f.seek(0)
            self._zip = zipfile.ZipFile(bounded)
            bounded.opening = False
            self._infos = self._zip.infolist()
        except _DirectoryTooLarge:
            f.close()
            raise
        except _READ_ERRORS as error:
            f.close()
            raise BadArchive(f"the archive cannot be opened: {error}") from None
        self._file = f

    def close(self):
        self._zip.close()
        self._file.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def names(self):
        """The members' names as the archive gives them, for display."""
        return [info.filename for info in self._infos[:MAX_LISTED_ENTRIES]]

    def find(self, name):
        """The member called exactly `name` (any letter case), or None."""
        for info in self._infos:
            if info.filename.upper() == name.upper():
                return info
        return None

    def read(self, info, limit):
        """The member's bytes; MemberTooLarge past `limit` inflated bytes."""
        _check_method(info)
        try:
            with self._zip.open(info) as member:
                data = member.read(limit + 1)
                if len(data) > limit:
                    raise MemberTooLarge(f"{info.filename!r} inflates to more than {limit} bytes")
                return data
        except MemberTooLarge:
            raise
        except _READ_ERRORS as error:
            raise BadArchive(f"{info.filename!r} cannot be read: {error}") from None

    def open(self, info):
        """A seekable stream of the member, for readers that pick parts."""
        _check_method(info)
        try:
            return self._zip.open(info)
        except _READ_ERRORS as error:
            raise BadArchive(f"{info.filename!r} cannot be read: {error}") from None


def _check_method(info):
    if info.compress_type not in _METHODS:
        raise BadArchive(f"{info.filename!r} is compressed with method {info.compress_type}; only stored and "
                         f"Deflate members are read")
