"""The two streams of a minidump that place a fault: the exception record
(code and address) and the module list (where each module was loaded), so
a fault can be named by module and offset, which stay the same wherever the
module happens to be loaded.

Every read is checked against the dump's size; a dump that says otherwise
raises BadMinidump.
"""
import dataclasses
import ntpath
import struct

SIGNATURE = 0x504D444D  # "MDMP"
MODULE_LIST_STREAM = 4
EXCEPTION_STREAM = 6
MODULE_SIZE = 108
MAX_STREAMS = 4096
MAX_MODULES = 65536
MAX_NAME_BYTES = 65536


class BadMinidump(ValueError):
    pass


@dataclasses.dataclass(frozen=True)
class Module:
    base: int
    size: int
    name_rva: int


@dataclasses.dataclass(frozen=True)
class Placed:
    code: int
    address: int
    module: str     # base name, "" when no module holds the address
    offset: int     # from the module's base, or the address itself


class _Reader:
    def __init__(self, stream, size):
        self.stream = stream
        self.size = size

    def read(self, offset, length):
        if offset < 0 or length < 0 or offset + length > self.size:
            raise BadMinidump(f"the dump refers to bytes {offset}..{offset + length} beyond its end")
        self.stream.seek(offset)
        data = self.stream.read(length)
        if len(data) != length:
            raise BadMinidump("the dump ended early")
        return data


def _streams(reader):
    signature, _, count, directory = struct.unpack("<IIII", reader.read(0, 16))
    if signature != SIGNATURE:
        raise BadMinidump("not a minidump")
    if count > MAX_STREAMS:
        raise BadMinidump(f"the dump claims {count} streams")
    table = reader.read(directory, 12 * count)
    streams = {}
    for i in range(count):
        kind, size, rva = struct.unpack_from("<III", table, 12 * i)
        streams.setdefault(kind, (rva, size))
    return streams


def _modules(reader, location):
    rva, size = location
    count, = struct.unpack("<I", reader.read(rva, 4))
    if count > MAX_MODULES or 4 + count * MODULE_SIZE > size:
        raise BadMinidump("the module list is larger than its stream")
    table = reader.read(rva + 4, count * MODULE_SIZE)
    for i in range(count):
        base, length, _, _, name_rva = struct.unpack_from("<QIIII", table, i * MODULE_SIZE)
        yield Module(base, length, name_rva)


def _name(reader, rva):
    length, = struct.unpack("<I", reader.read(rva, 4))
    if length > MAX_NAME_BYTES or length % 2:
        raise BadMinidump("a module name has an impossible length")
    return ntpath.basename(reader.read(rva + 4, length).decode("utf-16-le", "replace"))


def place_fault(stream, size):
    """The fault of the dump in the seekable `stream` of `size` bytes; None
    when the dump has no exception stream."""
    reader = _Reader(stream, size)
    streams = _streams(reader)
    if EXCEPTION_STREAM not in streams:
        return None
    rva, _ = streams[EXCEPTION_STREAM]
    code, _, _, address = struct.unpack("<IIQQ", reader.read(rva + 8, 24))
    if MODULE_LIST_STREAM in streams:
        for module in _modules(reader, streams[MODULE_LIST_STREAM]):
            if module.base <= address < module.base + module.size:
                return Placed(code, address, _name(reader, module.name_rva), address - module.base)
    return Placed(code, address, "", address)
