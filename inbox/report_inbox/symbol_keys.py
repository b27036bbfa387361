"""The key of a module's build as an uploader gives it: the module's name,
and the time stamp and image size of its PE header.

The name becomes a folder of the symbol store and a key column, so it is
held to what a Windows file name may be, without any path in it; the
numbers are the header's 32-bit fields. Windows compares module names in
any letter case, and so does the store: lookup_name is the form it keys by.
"""
import re

from .stack_trace import ModuleKey

MAX_NAME = 128
MAX_NUMBER = 0xFFFFFFFF
# Windows refuses these in a file name; "/" and "\\" would make it a path.
_NOT_IN_A_NAME = re.compile(r'[\x00-\x1f\x7f/\\:*?"<>|]')
_DECIMAL = re.compile(r"[0-9]{1,10}\Z")
_HEX = re.compile(r"0[xX][0-9A-Fa-f]{1,8}\Z")
# "%08X%x": the store's folder for a build.
_FOLDER = re.compile(r"([0-9A-Fa-f]{8})([0-9A-Fa-f]{1,8})\Z")


class BadKey(ValueError):
    pass


def check_name(name):
    """The name, or BadKey saying why it cannot name a module. A leading
    dot is refused too: "." and ".." are folders, and the store keeps its
    own work in a dot-folder."""
    if not name:
        raise BadKey("the module name is empty")
    if len(name) > MAX_NAME:
        raise BadKey(f"the module name is longer than {MAX_NAME} characters")
    if _NOT_IN_A_NAME.search(name):
        raise BadKey("the module name holds a path separator or a character no file name may hold")
    if name.startswith(".") or name.endswith((".", " ")) or name != name.strip():
        raise BadKey("the module name begins with a dot or begins or ends with a space or a dot")
    return name


def parse_number(text, what):
    """A header field given as decimal or as 0x-prefixed hexadecimal."""
    text = (text or "").strip()
    if _HEX.match(text):
        value = int(text, 16)
    elif _DECIMAL.match(text):
        value = int(text)
    else:
        raise BadKey(f"{what} must be a decimal number or 0x and hexadecimal digits, not {text[:40]!r}")
    if value > MAX_NUMBER:
        raise BadKey(f"{what} must fit in 32 bits")
    return value


def module_key(name, time_stamp, image_size):
    """A checked ModuleKey from the uploader's text."""
    key = ModuleKey(check_name(name), parse_number(time_stamp, "time_stamp"), parse_number(image_size, "image_size"))
    if key.image_size == 0:
        raise BadKey("image_size must not be 0")
    return key


def parse_folder(text):
    """(time stamp, image size) of a store folder named "%08X%x"."""
    match = _FOLDER.match(text)
    if not match:
        raise BadKey(f"{text[:40]!r} is not a time stamp of 8 and an image size of 1 to 8 hexadecimal digits")
    return int(match.group(1), 16), int(match.group(2), 16)


def lookup_name(name):
    return name.lower()
