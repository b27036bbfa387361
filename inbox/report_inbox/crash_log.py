"""CRASHLOG.TXT as the host's crash capture writes it: UTF-16LE after a
byte-order mark, its first lines naming the fault:

    plugin_Drovan caused an Access Violation (0xc0000005) \r\n
    in module plugin_Drovan.dll at 0023:6f802c86.\r\n

(a 64-bit host prints the instruction pointer with 16 digits).
"""
import dataclasses
import re

_FAULT = re.compile(
    r"\A(?P<application>[^\r\n]*?) caused (?P<description>[^\r\n]*?) \(0x(?P<code>[0-9a-fA-F]{8})\) \r\n"
    r"in module (?P<module>[^\r\n]*?) at [0-9a-fA-F]{4}:(?P<address>[0-9a-fA-F]{8}(?:[0-9a-fA-F]{8})?)\.\r\n")


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
    match = _FAULT.match(text)
    if not match:
        return None
    return Fault(match["application"], match["description"], int(match["code"], 16), match["module"],
                 int(match["address"], 16))


def value(text, key):
    """The rest of the first line starting with `key`, or None."""
    for line in text.split("\r\n"):
        if line.startswith(key):
            return line[len(key):]
    return None
