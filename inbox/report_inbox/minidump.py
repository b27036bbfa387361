"""What a minidump says about its fault: the exception record (code,
address, the faulting thread and its registers), the module list (where
each module was loaded, and the time stamp and size that name its build),
and the memory saved with it, the threads' stacks among it.

A dump is untrusted: every read is checked against the dump's size, every
count against the stream that claims to hold it; a dump that says otherwise
raises BadMinidump.
"""
import bisect
import dataclasses
import ntpath
import struct

SIGNATURE = 0x504D444D  # "MDMP"
THREAD_LIST_STREAM = 3
MODULE_LIST_STREAM = 4
MEMORY_LIST_STREAM = 5
EXCEPTION_STREAM = 6
SYSTEM_INFO_STREAM = 7
MEMORY64_LIST_STREAM = 9
MODULE_SIZE = 108
THREAD_SIZE = 48
MAX_STREAMS = 4096
MAX_MODULES = 65536
MAX_MEMORY_RANGES = 65536
MAX_NAME_BYTES = 65536
# A module's base name, as kept: no Windows file name is longer.
MAX_BASE_NAME = 255

ARCHITECTURES = {0: "x86", 9: "amd64"}


class BadMinidump(ValueError):
    pass


@dataclasses.dataclass(frozen=True)
class Module:
    base: int
    size: int
    time_stamp: int
    name: str       # base name, as Windows loaded it


@dataclasses.dataclass(frozen=True)
class Placed:
    code: int
    address: int
    module: str     # base name, "" when no module holds the address
    offset: int     # from the module's base, or the address itself


@dataclasses.dataclass(frozen=True)
class Exception_:
    thread_id: int
    code: int
    address: int
    context: bytes  # the thread's CONTEXT at the fault, as the dump holds it


class Memory:
    """The address ranges the dump saved, read without copying them out:
    a read that leaves the saved ranges gives None."""

    def __init__(self, data, ranges):
        # (start, length, offset in the dump), sorted, overlaps dropped.
        self._data = data
        self._ranges = []
        for start, length, offset in sorted(ranges):
            if self._ranges and start < self._ranges[-1][0] + self._ranges[-1][1]:
                continue
            self._ranges.append((start, length, offset))
        self._starts = [r[0] for r in self._ranges]

    def read(self, address, length):
        i = bisect.bisect_right(self._starts, address) - 1
        if i < 0:
            return None
        start, size, offset = self._ranges[i]
        if address + length > start + size:
            return None
        at = offset + address - start
        return self._data[at:at + length]

    def word(self, address, width):
        raw = self.read(address, width)
        return None if raw is None else int.from_bytes(raw, "little")

    def range_of(self, address):
        """(start, end) of the saved range holding `address`, or None."""
        i = bisect.bisect_right(self._starts, address) - 1
        if i >= 0 and address < self._starts[i] + self._ranges[i][1]:
            return self._starts[i], self._starts[i] + self._ranges[i][1]
        return None


class Minidump:
    """A dump held in memory as bytes."""

    def __init__(self, data):
        self.data = data
        signature, _, count, directory = struct.unpack("<IIII", self._read(0, 16))
        if signature != SIGNATURE:
            raise BadMinidump("not a minidump")
        if count > MAX_STREAMS:
            raise BadMinidump(f"the dump claims {count} streams")
        table = self._read(directory, 12 * count)
        self.streams = {}
        for i in range(count):
            kind, size, rva = struct.unpack_from("<III", table, 12 * i)
            self.streams.setdefault(kind, (rva, size))

    def _read(self, offset, length):
        if offset < 0 or length < 0 or offset + length > len(self.data):
            raise BadMinidump(f"the dump refers to bytes {offset}..{offset + length} beyond its end")
        return self.data[offset:offset + length]

    def _stream(self, kind):
        rva, size = self.streams[kind]
        self._read(rva, size)
        return rva, size

    def architecture(self):
        """"x86", "amd64", or "" for a processor the walker does not know."""
        if SYSTEM_INFO_STREAM not in self.streams:
            return ""
        rva, _ = self._stream(SYSTEM_INFO_STREAM)
        return ARCHITECTURES.get(struct.unpack("<H", self._read(rva, 2))[0], "")

    def exception(self):
        """The fault, or None when the dump has no exception stream."""
        if EXCEPTION_STREAM not in self.streams:
            return None
        rva, _ = self.streams[EXCEPTION_STREAM]
        thread_id, _, code, _, _, address = struct.unpack("<IIIIQQ", self._read(rva, 32))
        try:
            context_size, context_rva = struct.unpack("<II", self._read(rva + 160, 8))
            context = self._read(context_rva, context_size)
        except BadMinidump:
            context = b""  # the fault is still placed; only its stack is lost
        return Exception_(thread_id, code, address, context)

    def modules(self, renames=None):
        """The module list. `renames` maps paths (in lower case) to the
        names their modules really have, for paths a writer rewrote."""
        if MODULE_LIST_STREAM not in self.streams:
            return []
        rva, size = self._stream(MODULE_LIST_STREAM)
        count, = struct.unpack("<I", self._read(rva, 4))
        if count > MAX_MODULES or 4 + count * MODULE_SIZE > size:
            raise BadMinidump("the module list is larger than its stream")
        table = self._read(rva + 4, count * MODULE_SIZE)
        modules = []
        for i in range(count):
            base, length, _, time_stamp, name_rva = struct.unpack_from("<QIIII", table, i * MODULE_SIZE)
            path = self._path(name_rva)
            name = (renames or {}).get(path.lower()) or ntpath.basename(path)[:MAX_BASE_NAME]
            modules.append(Module(base, length, time_stamp, name))
        return modules

    def _path(self, rva):
        """The module's path, up to its first NUL (a writer that shortened a
        path in place ends it there); "" when the dump's name is damaged,
        which costs that module its name but not the others theirs."""
        try:
            length, = struct.unpack("<I", self._read(rva, 4))
            if length > MAX_NAME_BYTES or length % 2:
                return ""
            return self._read(rva + 4, length).decode("utf-16-le", "replace").split("\0", 1)[0]
        except BadMinidump:
            return ""

    def thread_stack(self, thread_id):
        """(start, length, dump offset) of the saved stack of the thread, or
        None when the thread list does not hold it."""
        if THREAD_LIST_STREAM not in self.streams:
            return None
        rva, size = self._stream(THREAD_LIST_STREAM)
        count, = struct.unpack("<I", self._read(rva, 4))
        if 4 + count * THREAD_SIZE > size:
            raise BadMinidump(f"the thread list claims {count} threads, more than its stream holds")
        table = self._read(rva + 4, count * THREAD_SIZE)
        for i in range(count):
            tid, _, _, _, _, start, length, stack_rva = struct.unpack_from("<IIIIQQII", table, i * THREAD_SIZE)
            if tid == thread_id:
                self._read(stack_rva, length)
                return start, length, stack_rva
        return None

    def memory(self, extra=()):
        """The saved memory: the memory lists' ranges and `extra` ranges
        (start, length, dump offset), each checked against the dump."""
        ranges = list(extra)
        if MEMORY_LIST_STREAM in self.streams:
            rva, size = self._stream(MEMORY_LIST_STREAM)
            count, = struct.unpack("<I", self._read(rva, 4))
            if count > MAX_MEMORY_RANGES or 4 + count * 16 > size:
                raise BadMinidump("the memory list is larger than its stream")
            table = self._read(rva + 4, count * 16)
            for i in range(count):
                start, length, data_rva = struct.unpack_from("<QII", table, i * 16)
                if data_rva + length <= len(self.data):
                    ranges.append((start, length, data_rva))
        if MEMORY64_LIST_STREAM in self.streams:
            rva, size = self._stream(MEMORY64_LIST_STREAM)
            count, base_rva = struct.unpack("<QQ", self._read(rva, 16))
            if count > MAX_MEMORY_RANGES or 16 + count * 16 > size:
                raise BadMinidump("the memory list is larger than its stream")
            table = self._read(rva + 16, count * 16)
            for i in range(count):
                start, length = struct.unpack_from("<QQ", table, i * 16)
                if base_rva + length > len(self.data):
                    break
                ranges.append((start, length, base_rva))
                base_rva += length
        return Memory(self.data, ranges)


def module_at(modules, address):
    for module in modules:
        if module.base <= address < module.base + module.size:
            return module
    return None


class StreamBytes:
    """A seekable stream of known size read as if it were bytes, a slice at
    a time: a large dump is placed without being held whole."""

    def __init__(self, stream, size):
        self._stream = stream
        self._size = size

    def __len__(self):
        return self._size

    def __getitem__(self, part):
        start, stop = max(0, part.start or 0), min(self._size, part.stop)
        if stop <= start:
            return b""
        self._stream.seek(start)
        data = self._stream.read(stop - start)
        if len(data) != stop - start:
            raise BadMinidump("the dump ended early")
        return data


def place_fault(stream, size, renames=None):
    """The fault of the dump in the seekable `stream` of `size` bytes; None
    when the dump has no exception stream. `renames` as for modules()."""
    dump = Minidump(StreamBytes(stream, size))
    fault = dump.exception()
    if fault is None:
        return None
    module = module_at(dump.modules(renames), fault.address)
    if module is not None:
        return Placed(fault.code, fault.address, module.name, fault.address - module.base)
    return Placed(fault.code, fault.address, "", fault.address)
