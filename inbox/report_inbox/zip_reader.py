"""Reading the members of an uploaded archive without trusting it.

Nothing from inside an archive is ever used as a path: members are found by
comparing their names with the few the reporter writes, and read into
memory. Every read is bounded, by what was actually inflated rather than by
the sizes the archive claims, so an archive bomb costs at most the limit.
"""
import struct
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
# per entry; the reporter's archives have three.
MAX_DIRECTORY_BYTES = 1 << 20
_END_RECORD = struct.Struct("<4s4H2LH")
_END_RECORD64 = struct.Struct("<4sQ2H2L4Q")
_LOCATOR64 = struct.Struct("<4sLQL")


def _directory_size(f):
    """The size the archive's end record gives its central directory, or
    None when there is no end record (ZipFile then says what is wrong)."""
    f.seek(0, 2)
    size = f.tell()
    f.seek(max(0, size - (65535 + _END_RECORD.size)))
    tail = f.read()
    at = tail.rfind(b"PK\x05\x06")
    if at < 0 or len(tail) - at < _END_RECORD.size:
        return None
    directory = _END_RECORD.unpack_from(tail, at)[5]
    locator = at - _LOCATOR64.size
    if directory == 0xFFFFFFFF and locator >= 0 and tail[locator:locator + 4] == b"PK\x06\x07":
        f.seek(_LOCATOR64.unpack_from(tail, locator)[2])
        record = f.read(_END_RECORD64.size)
        if len(record) == _END_RECORD64.size and record[:4] == b"PK\x06\x06":
            directory = _END_RECORD64.unpack(record)[8]
    return directory


class Archive:
    def __init__(self, path):
        try:
            with open(path, "rb") as f:
                directory = _directory_size(f)
            if directory is not None and directory > MAX_DIRECTORY_BYTES:
                raise BadArchive(f"the archive's directory of {directory} bytes is larger than "
                                 f"{MAX_DIRECTORY_BYTES}: too many entries")
            self._zip = zipfile.ZipFile(path)
            self._infos = self._zip.infolist()
        except _READ_ERRORS as error:
            raise BadArchive(f"the archive cannot be opened: {error}") from None

    def close(self):
        self._zip.close()

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
        try:
            return self._zip.open(info)
        except _READ_ERRORS as error:
            raise BadArchive(f"{info.filename!r} cannot be read: {error}") from None
