"""CRASHLOG.TXT as the host's crash capture writes it: UTF-16LE after a
byte-order mark, its first lines naming the fault:

    plugin_Drovan caused an Access Violation (0xc0000005) \r\n
    in module plugin_Drovan.dll at 0023:6f802c86.\r\n

(a 64-bit host prints the instruction pointer with 16 digits).
"""
import dataclasses
import re

# The two lines are looked at only up to this many characters: nothing
# beyond them is needed, and no text of any length can make parsing slow.
MAX_LINE = 1024
_HEX = re.compile(r"[0-9a-fA-F]+\Z")


class NotACrashLog(ValueError):
    pass


@dataclasses.dataclass(frozen=True)
class Fault:
    application: str
    description: str
    code: int
    module: str
    address: int


def decode(data):
    """The log's text; NotACrashLog unless it is UTF-16LE with its mark."""
    if not data.startswith(b"\xff\xfe"):
        raise NotACrashLog("the crash log does not start with the UTF-16LE byte-order mark")
    if len(data) % 2:
        raise NotACrashLog("the crash log has an odd number of bytes, so it is not UTF-16")
    try:
        return data[2:].decode("utf-16-le")
    except UnicodeDecodeError as error:
        raise NotACrashLog(f"the crash log is not valid UTF-16LE at byte {error.start + 2}") from None


def fault(text):
    """The fault the log's first lines name, or None."""
    first, _, rest = text[:2 * MAX_LINE + 4].partition(" \r\n")
    second = rest.partition("\r\n")[0]
    application, caused, described = first.partition(" caused ")
    description, opening, code = described.rpartition(" (0x")
    if not caused or not opening or len(code) != 9 or not code.endswith(")") or not _HEX.match(code[:8]):
        return None
    module_part, at, location = second.rpartition(" at ")
    if not module_part.startswith("in module ") or not at or not location.endswith("."):
        return None
    selector, colon, address = location[:-1].partition(":")
    if not colon or len(selector) != 4 or len(address) not in (8, 16) or not _HEX.match(selector + address):
        return None
    return Fault(application, description, int(code[:8], 16), module_part[len("in module "):], int(address, 16))

