"""Which frames of a stack name a crash.

The functions on top of the stack stay the same when code moves between
builds, where offsets do not. Frames in the system's DLLs and in the C and
C++ runtime (linked into every module) are passed over, as they are where
a fault surfaces, not where it was made: the first frames of our own code
name it. Only frames the symbols named and that were not found by scanning
count; the signature ends at the first that is not.
"""
import re

SIGNATURE_FRAMES = 3
SEPARATOR = " | "

SYSTEM_MODULES = re.compile(
    r"^(ntdll|kernel32|kernelbase|user32|gdi32|win32u|advapi32|msvcrt|ucrtbase|ucrtbased|msvcp\d*|vcruntime\d*"
    r"|api-ms-win-.*|dbghelp|combase|ole32|rpcrt4|wininet|ws2_32|comctl32|shell32|shlwapi|libgcc_s_.*"
    r"|libstdc\+\+-\d+|libwinpthread-\d+)\.dll$", re.IGNORECASE)

# Functions of the runtime that a fault passes through on its way up.
RUNTIME_FUNCTIONS = re.compile(
    r"^(abort|raise|_?assert|_wassert|memcpy|memmove|memset|memcmp|strlen|wcslen|strcpy|wcscpy|__chkstk"
    r"|___chkstk_ms|_alloca|std::terminate\(\)|std::__terminate.*|__cxa_.*|__cxxabiv1::.*|_Unwind_.*"
    r"|__gnu_cxx::__verbose_terminate_handler\(\)|__mingw.*|__tmainCRTStartup|mainCRTStartup|.l_start)$")


def is_runtime_frame(frame):
    if SYSTEM_MODULES.match(frame.module or ""):
        return True
    name = frame.function.split("(")[0] + ("()" if frame.function.endswith("()") else "")
    return bool(RUNTIME_FUNCTIONS.match(frame.function) or RUNTIME_FUNCTIONS.match(name))


def signature_place(stack):
    """(module, functions) from the top frames that symbols named, frames of
    the C runtime and the system skipped; None when no such frame is named."""
    if stack is None:
        return None
    named = []
    module = ""
    for frame in stack.frames:
        if frame.module and is_runtime_frame(frame):
            continue
        if not frame.function or frame.trust == "scan":
            break
        if not named:
            module = frame.module
        named.append(frame.function)
        if len(named) == SIGNATURE_FRAMES:
            break
    if not named:
        return None
    return module, SEPARATOR.join(named)
