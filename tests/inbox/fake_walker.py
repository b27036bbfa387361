"""The inbox with a stand-in for its stack walker, so the tests of what
the inbox does with stacks and symbol files (filing, walking again, the
report page) do not depend on the real walker:

    python3 -m fake_walker --config ...     (as python3 -m report_inbox)

The stand-in reads the test dumps of archives.py: the faulting frame in
its module, and below it a frame in the first module, found by scanning.
A module's symbol file, when the store has one, names the function with a
line "function=NAME file=FILE line=N"; without one the module is listed as
missing symbols. The signature is named by the top frame's function.
"""
import re
import struct
import sys

from report_inbox import stack_signature, stack_walk
from report_inbox.stack_trace import CONTEXT, SCAN, Frame, ModuleKey, Stack

_SYMBOL = re.compile(rb"function=(\w+) file=(\S+) line=(\d+)")


def _modules(data):
    """(code, address, [(name, base, size, time stamp)]) of a test dump."""
    _, _, count, directory = struct.unpack_from("<IIII", data, 0)
    streams = {}
    for i in range(count):
        kind, size, rva = struct.unpack_from("<III", data, directory + 12 * i)
        streams[kind] = rva
    code, _, _, address = struct.unpack_from("<IIQQ", data, streams[6] + 8)
    modules = []
    number, = struct.unpack_from("<I", data, streams[4])
    for i in range(number):
        base, size, _, time_stamp, name_rva = struct.unpack_from("<QIIII", data, streams[4] + 4 + 108 * i)
        length, = struct.unpack_from("<I", data, name_rva)
        name = data[name_rva + 4:name_rva + 4 + length].decode("utf-16-le").rsplit("\\", 1)[-1]
        modules.append((name, base, size, time_stamp))
    return code, address, modules


def _frame(address, module, trust, symbols, stack):
    name, base, size, time_stamp = module
    frame = Frame(address, name, address - base, trust)
    key = ModuleKey(name, time_stamp, size)
    path = symbols.find(key)
    if path is None:
        if key not in stack.symbols_missing:
            stack.symbols_missing.append(key)
        return frame
    with open(path, "rb") as f:
        found = _SYMBOL.search(f.read())
    if found:
        frame.function, frame.file, frame.line = (found.group(1).decode(), found.group(2).decode(),
                                                  int(found.group(3)))
    return frame


def walk_dump(data, symbols, seconds=2.0, renames=None):
    try:
        code, address, modules = _modules(data)
    except (KeyError, struct.error, UnicodeDecodeError) as error:
        return Stack(problems=[f"not a test dump: {error}"])
    stack = Stack("x86", 1234, {"eip": address, "esp": 0x12FF00, "ebp": 0x12FF40})
    for module in modules:
        name, base, size, _ = module
        if base <= address < base + size:
            stack.frames.append(_frame(address, module, CONTEXT, symbols, stack))
    if modules:
        stack.frames.append(_frame(modules[0][1] + 0x1234, modules[0], SCAN, symbols, stack))
    return stack


def signature_place(stack):
    top = stack.frames[0] if stack.frames else None
    return (top.module, top.function) if top is not None and top.function else None


def install():
    stack_walk.walk_dump = walk_dump
    stack_signature.signature_place = signature_place


if __name__ == "__main__":
    install()
    from report_inbox.__main__ import main
    sys.exit(main())
