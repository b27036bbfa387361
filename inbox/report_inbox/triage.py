"""Filing a report: what its archive says about the fault.

A report's signature is the application, its version, the exception code,
and the faulting module with the offset of the fault inside it. The log's
first lines give the code and module; the dump's module list, when it can
be read, turns the absolute address into the offset. A report whose
archive or log cannot be read is still filed, under a signature that says
what was wrong, and its problems are kept beside it.

The dump's faulting thread is walked too, with the symbol files stored so
far. When symbols name the functions at the top of its stack
(stack_signature), those name the fault instead of the offset: the
signature's module is the module of those frames and its offset part (the
module_offset column) holds the functions' text, so the same crash in
builds whose code moved is one signature. Without symbols for that module
the offset stays, until the report is walked again once they are uploaded.
"""
import dataclasses
import io

from . import crash_log, minidump, patched_paths, stack_signature, stack_walk
from .app_identity import split_app_id
from .zip_reader import Archive, BadArchive

MAX_LOG_BYTES = 4 << 20
UNREADABLE_ARCHIVE = "(archive unreadable)"
UNREADABLE_LOG = "(crash log unreadable)"


# Each part of a signature is a key column: bounded, so an index entry
# always fits (PostgreSQL refuses one of more than about 2.7 KB).
MAX_SIGNATURE_PART = 200


@dataclasses.dataclass(frozen=True)
class Signature:
    application: str
    version: str
    exception_code: str   # "0xc0000005", or "" when unknown
    module: str
    offset: str           # "0x2c86", the functions symbols named, or "" when unknown

    def __post_init__(self):
        for field in dataclasses.fields(self):
            object.__setattr__(self, field.name, getattr(self, field.name)[:MAX_SIGNATURE_PART])


@dataclasses.dataclass
class Triage:
    signature: Signature
    crash_log: str = ""
    entries: list = dataclasses.field(default_factory=list)
    problems: list = dataclasses.field(default_factory=list)
    stack: object = None  # the faulting thread's stack_trace.Stack; None when the dump was not walked


def triage(archive_path, app_ver, settings, symbols=None):
    """`symbols`: where the walk finds symbol files (stack_walk.SymbolFiles);
    None walks without any."""
    identity = split_app_id(app_ver, settings)
    result = Triage(Signature(identity.application, identity.version, "", UNREADABLE_ARCHIVE, ""))
    walk = _Walk(symbols if symbols is not None else stack_walk.SymbolFiles(), settings.max_dump_bytes,
                 patched_paths.original_names(app_ver, identity.application))
    try:
        with Archive(archive_path) as archive:
            result.entries = archive.names()
            _read_fault(archive, result, identity, settings.max_unpacked_bytes, walk)
    except BadArchive as error:
        result.problems.append(str(error))
    return result


@dataclasses.dataclass(frozen=True)
class _Walk:
    symbols: object
    max_dump_bytes: int
    renames: dict  # the modules' names for the paths the reporter rewrote


def _read_fault(archive, result, identity, unpacked_limit, walk):
    log_info = archive.find("CRASHLOG.TXT")
    if log_info is None:
        result.problems.append("the archive holds no CRASHLOG.TXT")
        result.signature = dataclasses.replace(result.signature, module=UNREADABLE_LOG)
        return
    try:
        text = crash_log.decode(archive.read(log_info, min(MAX_LOG_BYTES, unpacked_limit)))
    except (BadArchive, crash_log.NotACrashLog) as error:
        result.problems.append(str(error))
        result.signature = dataclasses.replace(result.signature, module=UNREADABLE_LOG)
        return
    result.crash_log = text
    fault = crash_log.fault(text)
    if fault is None:
        result.problems.append("the crash log does not begin with the fault's description")
        result.signature = dataclasses.replace(result.signature, module=UNREADABLE_LOG)
        return
    placed = _place(archive, result, unpacked_limit, walk)
    if placed is not None and placed.code == fault.code and placed.address == fault.address and placed.module:
        module, offset = placed.module, f"0x{placed.offset:x}"
    else:
        # Without the dump's module list only the absolute address is known.
        module, offset = fault.module, f"0x{fault.address:x}"
    named = stack_signature.signature_place(result.stack) if result.stack is not None else None
    if named is not None:
        module, offset = named
    application = identity.application if identity.version else fault.application
    result.signature = Signature(application, identity.version, f"0x{fault.code:08x}", module, offset)


def _place(archive, result, unpacked_limit, walk):
    info = archive.find("CRASH.DMP")
    if info is None:
        result.problems.append("the archive holds no CRASH.DMP")
        return None
    if info.file_size > unpacked_limit:
        result.problems.append(f"CRASH.DMP claims {info.file_size} bytes, more than the limit of {unpacked_limit}")
        return None
    try:
        if info.file_size > walk.max_dump_bytes:
            result.problems.append(f"CRASH.DMP is larger than {walk.max_dump_bytes} bytes: its stack is not walked")
            with archive.open(info) as dump:
                return minidump.place_fault(dump, info.file_size, walk.renames)
        # Read once, for placing the fault and for the walk.
        data = archive.read(info, walk.max_dump_bytes)
        _walk(data, walk, result)
        return minidump.place_fault(io.BytesIO(data), len(data), walk.renames)
    except (BadArchive, minidump.BadMinidump) as error:
        result.problems.append(f"CRASH.DMP: {error}")
    except Exception as error:  # a damaged stream fails in many ways; none may stop the filing
        result.problems.append(f"CRASH.DMP cannot be read: {type(error).__name__}: {error}")
    return None


def _walk(data, walk, result):
    try:
        result.stack = stack_walk.walk_dump(data, walk.symbols, renames=walk.renames)
    except Exception as error:  # the walker promises not to raise; filing must not depend on it
        result.problems.append(f"the stack could not be walked: {type(error).__name__}: {error}")
