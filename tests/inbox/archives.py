"""Crash archives for the inbox's tests, good and bad, built in memory.

A good one holds what the reporter zips: a minidump whose exception stream
and module list place the fault, the empty system log, and a UTF-16LE crash
log whose first lines name the same fault.
"""
import io
import struct
import zipfile

BASE = 0x6F800000
OFFSET = 0x2C86
CODE = 0xC0000005


DLL_TIME_STAMP = 0x6B19A260


def minidump(code=CODE, address=BASE + OFFSET, modules=(("C:\\app\\plugin_Drovan.exe", 0x400000, 0x10000),
                                                        ("C:\\app\\plugin_Drovan.dll", BASE, 0x20000,
                                                         DLL_TIME_STAMP))):
    """Header, a directory of two streams, the exception stream, the module
    list and the modules' names, laid out as a minidump writer does. A
    module is (path, base, size) or (path, base, size, PE time stamp)."""
    header_size, directory_size = 32, 2 * 12
    exception_rva = header_size + directory_size
    exception = struct.pack("<IIIIQQII", 1, 0, code, 0, 0, address, 2, 0) + bytes(15 * 8) + bytes(8)
    modules_rva = exception_rva + len(exception)
    names_rva = modules_rva + 4 + 108 * len(modules)
    table, names = b"", b""
    for name, base, size, *time_stamp in modules:
        encoded = name.encode("utf-16-le")
        table += struct.pack("<QIIII", base, size, 0, (time_stamp or [0])[0], names_rva + len(names)) + bytes(108 - 24)
        names += struct.pack("<I", len(encoded)) + encoded + b"\0\0"
    module_list = struct.pack("<I", len(modules)) + table
    header = struct.pack("<IIIIIIQ", 0x504D444D, 0xA793, 2, header_size, 0, 0, 0)
    directory = struct.pack("<III", 6, len(exception), exception_rva) + struct.pack("<III", 4, len(module_list),
                                                                                  modules_rva)
    return header + directory + exception + module_list + names


def crash_log(code=CODE, address=BASE + OFFSET, module="plugin_Drovan.dll", text="a caf\u00e9 crash"):
    lines = (f"plugin_Drovan caused an Access Violation (0x{code:08x}) \r\n"
             f"in module {module} at 0023:{address:08x}.\r\n\r\n"
             "Program name: Drovan Plugin\r\n"
             f"crash info: {text}\r\n")
    return b"\xff\xfe" + lines.encode("utf-16-le")


def archive(entries):
    """A ZIP of (name, bytes) pairs, deflated."""
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in entries:
            z.writestr(name, data)
    return out.getvalue()


def good(**log):
    return archive([("CRASH.DMP", minidump()), ("CRASHLOG.DAT", b""), ("CRASHLOG.TXT", crash_log(**log))])


def bomb(inflated=1 << 30, method=zipfile.ZIP_DEFLATED):
    """A CRASHLOG.TXT of `inflated` zero bytes, packed with `method`: about
    a thousandth of that with Deflate."""
    out = io.BytesIO()
    info = zipfile.ZipInfo("CRASHLOG.TXT")
    info.compress_type = method
    with zipfile.ZipFile(out, "w") as z:
        with z.open(info, "w", force_zip64=True) as member:
            chunk = bytes(1 << 20)
            for _ in range(inflated >> 20):
                member.write(chunk)
    return out.getvalue()


def packed_with(method, data, name="CRASHLOG.TXT"):
    """A ZIP whose one member is compressed with `method` (a zipfile
    constant), as no reporter writes it."""
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", method) as z:
        z.writestr(name, data)
    return out.getvalue()


def bzip2_bomb(inflated=256 << 20):
    """A few hundred bytes that bzip2 turns into `inflated` zero bytes."""
    return bomb(inflated, zipfile.ZIP_BZIP2)


def _directory(entries):
    """`entries` central directory records of empty stored members named
    e0, e1, ...; their local headers are never looked at when opening."""
    return b"".join(struct.pack("<4s4B4HL2L5H2L", b"PK\x01\x02", 20, 0, 20, 0, 0, 0, 0, 0, 0, 0, 0,
                                len(name), 0, 0, 0, 0, 0, 0) + name
                    for name in (f"e{i}".encode() for i in range(entries)))


def _end_record(entries, size, offset):
    return struct.pack("<4s4H2LH", b"PK\x05\x06", 0, 0, min(entries, 0xFFFF), min(entries, 0xFFFF), size, offset,
                       0)


def _zip64_end(entries, size, offset):
    return struct.pack("<4sQ2H2L4Q", b"PK\x06\x06", 44, 45, 45, 0, 0, entries, entries, size, offset)


def _locator(at):
    return struct.pack("<4sLQL", b"PK\x06\x07", 0, at, 1)


def oversized_directories(entries=30000):
    """Archives whose directory of `entries` records hides its size from a
    reader that finds the end records another way than zipfile does: by
    name, each as zipfile reads it."""
    directory = _directory(entries)
    size = len(directory)
    # The end record's offset field holds the bytes of its own signature,
    # so a search from the end finds a record too short to read.
    signature_in_offset = directory + _end_record(entries, size, struct.unpack("<L", b"PK\x05\x06")[0])
    # A ZIP64 record before the end record: zipfile takes its size even
    # though the 32-bit one is small and not the ZIP64 marker.
    small_32bit_size = (directory + _zip64_end(entries, size, 0) + _locator(size)
                        + _end_record(entries, 100, 0))
    # The locator points at a decoy ZIP64 record with a small size; zipfile
    # reads the record just before the locator instead.
    decoy = _zip64_end(1, 100, 0)
    decoy_at_locator = (decoy + directory + _zip64_end(entries, size, len(decoy)) + _locator(0)
                        + _end_record(entries, 0xFFFFFFFF, 0xFFFFFFFF))
    return {"signature bytes in the offset field": signature_in_offset,
            "ZIP64 record beside a small 32-bit size": small_32bit_size,
            "decoy ZIP64 record at the locator's offset": decoy_at_locator}
