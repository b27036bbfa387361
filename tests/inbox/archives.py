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


def minidump(code=CODE, address=BASE + OFFSET, modules=(("C:\\app\\plugin_Drovan.exe", 0x400000, 0x10000),
                                                        ("C:\\app\\plugin_Drovan.dll", BASE, 0x20000))):
    """Header, a directory of two streams, the exception stream, the module
    list and the modules' names, laid out as a minidump writer does."""
    header_size, directory_size = 32, 2 * 12
    exception_rva = header_size + directory_size
    exception = struct.pack("<IIIIQQII", 1, 0, code, 0, 0, address, 2, 0) + bytes(15 * 8) + bytes(8)
    modules_rva = exception_rva + len(exception)
    names_rva = modules_rva + 4 + 108 * len(modules)
    table, names = b"", b""
    for name, base, size in modules:
        encoded = name.encode("utf-16-le")
        table += struct.pack("<QIIII", base, size, 0, 0, names_rva + len(names)) + bytes(108 - 24)
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


def bomb(inflated=1 << 30):
    """A CRASHLOG.TXT of `inflated` zero bytes, about a thousandth of that
    packed."""
    out = io.BytesIO()
    info = zipfile.ZipInfo("CRASHLOG.TXT")
    info.compress_type = zipfile.ZIP_DEFLATED
    with zipfile.ZipFile(out, "w") as z:
        with z.open(info, "w", force_zip64=True) as member:
            chunk = bytes(1 << 20)
            for _ in range(inflated >> 20):
                member.write(chunk)
    return out.getvalue()
