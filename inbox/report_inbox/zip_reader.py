"""Reading the members of an uploaded archive without trusting it.

Nothing from inside an archive is ever used as a path: members are found by
comparing their names with the few the reporter writes, and read into
memory. Every read is bounded, by what was actually inflated rather than by
the sizes the archive claims, so an archive bomb costs at most the limit.
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


class Archive:
    def __init__(self, path):
        try:
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
