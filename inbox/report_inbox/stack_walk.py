"""Walks the faulting thread's stack of a minidump, 32-bit or 64-bit.

The walk starts from the registers of the exception's context and the
thread's stack memory saved in the dump. Each caller is found by the most
certain means at hand: the module's x64 unwind codes, its DWARF call-frame
information (both from the symbol file a token holder uploaded for that
build of the module), the saved frame-pointer chain, and, as a last
resort, a scan of the stack for a word that points into a module. Every
frame says how it was found.

A dump is untrusted input: the walk is bounded in frames, in the stack
bytes it reads and in time, each caller must lie higher on the stack than
its callee (which ends every cycle), and a damaged dump ends the walk with
what was found and a problem that says why.
"""
import bisect
import os
import struct
import time

from . import dwarf_cfi, minidump, pe_image, symbolizer, x64_unwind
from .stack_trace import (CALL_FRAME_INFO, CONTEXT, FRAME_POINTER, SCAN, UNWIND_INFO, Frame, ModuleKey,
                          Stack)

MAX_FRAMES = 128
MAX_STACK_BYTES = 1 << 20       # of the stack read, from the stack pointer up
SCAN_WORDS = 1024               # looked at for one caller
MAX_SYMBOL_FILE_BYTES = 512 << 20

# CONTEXT offsets of the registers shown and walked with.
X86_CONTEXT = (("edi", 0x9C), ("esi", 0xA0), ("ebx", 0xA4), ("edx", 0xA8), ("ecx", 0xAC), ("eax", 0xB0),
               ("ebp", 0xB4), ("eip", 0xB8), ("eflags", 0xC0), ("esp", 0xC4))
AMD64_CONTEXT = (("rax", 0x78), ("rcx", 0x80), ("rdx", 0x88), ("rbx", 0x90), ("rsp", 0x98), ("rbp", 0xA0),
                 ("rsi", 0xA8), ("rdi", 0xB0), ("r8", 0xB8), ("r9", 0xC0), ("r10", 0xC8), ("r11", 0xD0),
                 ("r12", 0xD8), ("r13", 0xE0), ("r14", 0xE8), ("r15", 0xF0), ("rip", 0xF8))


class SymbolFiles:
    """Where the walk finds a module's symbol file: find(ModuleKey) gives a
    path, or None when the store has none for that build."""
    def find(self, key):
        return None


class SymbolFolder(SymbolFiles):
    """A folder laid out as a symbol store: NAME/KEY/NAME, the name matched
    without regard to case, as Windows matches module names."""

    def __init__(self, root):
        self.root = root

    def find(self, key):
        for name in _entries(self.root):
            if name.lower() == key.name.lower():
                build = os.path.join(self.root, name, key.folder())
                for file_name in _entries(build):
                    if file_name.lower() == key.name.lower():
                        return os.path.join(build, file_name)
        return None


def _entries(folder):
    try:
        return os.listdir(folder)
    except OSError:
        return []


class _Machine:
    def __init__(self, architecture):
        self.is_64bit = architecture == "amd64"
        self.word = 8 if self.is_64bit else 4
        self.pc, self.sp, self.fp = ("rip", "rsp", "rbp") if self.is_64bit else ("eip", "esp", "ebp")
        self.layout = AMD64_CONTEXT if self.is_64bit else X86_CONTEXT

    def registers(self, context):
        if len(context) < self.layout[-1][1] + self.word:
            return None
        registers = {}
        for name, offset in self.layout:
            width = 4 if name == "eflags" or not self.is_64bit else 8
            registers[name] = int.from_bytes(context[offset:offset + width], "little")
        return registers


class _SymbolBudget:
    """What one walk may spend on symbol files: a dump may name thousands of
    modules, each with a stored build's key, and point its stack at all of
    them."""
    LOOKUPS = 32
    FILES = 8
    BYTES = 512 << 20

    def __init__(self):
        self.lookups = self.files = self.bytes = 0
        self.exceeded = False
        # Reading symbol files is bounded by their number and size, not by
        # the walk's time: a loaded server must name a crash as an idle one.
        self.seconds = 0.0

    def allows_lookup(self):
        self.lookups += 1
        self.exceeded |= self.lookups > self.LOOKUPS
        return self.lookups <= self.LOOKUPS

    def allows_file(self, size):
        if self.files + 1 > self.FILES or self.bytes + size > self.BYTES:
            self.exceeded = True
            return False
        self.files += 1
        self.bytes += size
        return True


class _Module:
    """A module of the dump, with what its symbol file could tell, looked up
    and read the first time the walk needs it."""

    def __init__(self, module, symbols, budget):
        self.module = module
        self.key = ModuleKey(module.name, module.time_stamp, module.size)
        self.path = None
        self.image = None
        self.function_table = None
        self.frame_table = None
        self._symbols = symbols
        self._budget = budget
        self._loaded = False

    def load(self):
        if self._loaded:
            return self
        self._loaded = True
        if not self.module.name or not self._budget.allows_lookup():
            return self
        started = time.monotonic()
        try:
            self._read(self._symbols.find(self.key))
        finally:
            self._budget.seconds += time.monotonic() - started
        return self

    def _read(self, path):
        if path is None:
            return
        try:
            size = os.path.getsize(path)
            if size > MAX_SYMBOL_FILE_BYTES or not self._budget.allows_file(size):
                return
            with open(path, "rb") as file:
                image = pe_image.PeImage(file.read())
            self.path, self.image = path, image
            self.function_table = x64_unwind.FunctionTable(image) if image.is_64bit else None
            self.frame_table = dwarf_cfi.CallFrameTable(image)
        except Exception:  # a damaged symbol file costs only its own module its names
            self.path = self.image = self.function_table = self.frame_table = None

    def holds(self, address):
        return self.module.base <= address < self.module.base + self.module.size

    def looks_like_return(self, address):
        """Whether the code before `address` may be a call: known only with
        the module's file; without it every address past the headers' page
        counts."""
        rva = address - self.module.base
        if self.load().image is None:
            return rva >= 0x1000
        before = self.image.read(rva - 7, 7) if rva >= 7 else None
        if before is None:
            return False
        return before[2] == 0xE8 or any(before[7 - n] == 0xFF and (before[8 - n] >> 3) & 7 == 2
                                        for n in range(2, 8))


class _Walk:
    def __init__(self, dump, machine, registers, stack_range, symbols, deadline, renames):
        self.machine = machine
        self.registers = registers
        self.deadline = deadline
        self.stack_low, self.stack_high, saved = stack_range
        # The thread's stack is in the memory list too, in the dumps Windows
        # writes; it is added in case a writer left it out there.
        self.memory = dump.memory(extra=[saved] if saved else ())
        self.budget = _SymbolBudget()
        self.modules = sorted((_Module(m, symbols, self.budget) for m in _modules_on(dump, renames)),
                              key=lambda m: m.module.base)
        self._bases = [m.module.base for m in self.modules]
        self.problems = []
        self.found = []

    def out_of_time(self):
        return time.monotonic() > self.deadline + self.budget.seconds

    def module_at(self, address):
        i = bisect.bisect_right(self._bases, address) - 1
        if i >= 0 and self.modules[i].holds(address):
            return self.modules[i]
        return None

    def frames(self):
        """Walks into self.found, which keeps what was found should a
        damaged dump or symbol file stop the walk."""
        m = self.machine
        regs = self.registers
        frames = self.found
        frames.append(self._frame(regs[m.pc], CONTEXT))
        while len(frames) < MAX_FRAMES:
            if self.out_of_time():
                self.problems.append(f"the walk ran out of time after {len(frames)} frames")
                break
            caller, trust = self._caller(regs, first=len(frames) == 1)
            if caller is None:
                break
            if caller[m.pc] == 0:
                break  # the outermost frame
            frames.append(self._frame(caller[m.pc], trust))
            regs = caller
        else:
            self.problems.append(f"the walk stopped at {MAX_FRAMES} frames")
        return frames

    def _frame(self, address, trust):
        module = self.module_at(address)
        if module is None:
            return Frame(address, "", address, trust)
        return Frame(address, module.module.name, address - module.module.base, trust)

    def _caller(self, regs, first):
        m = self.machine
        pc, sp = regs[m.pc], regs[m.sp]
        module = self.module_at(pc)
        if module is not None:
            module.load()
        # A return address is just past its call, which may be the last
        # instruction of its function: its rules are looked up one byte back.
        lookup = pc if first else pc - 1
        if module is not None and module.image is not None:
            if module.function_table:
                caller = x64_unwind.unwind(module.function_table, module.module.base, regs, self.memory, first)
                if self._sound(caller, sp):
                    return caller, UNWIND_INFO
            if module.frame_table:
                # The tables give addresses as the file was linked; the
                # module may have been loaded elsewhere.
                linked = lookup - module.module.base + module.image.image_base
                caller = module.frame_table.unwind(regs, m.pc, m.sp, self.memory, linked)
                if self._sound(caller, sp):
                    return caller, CALL_FRAME_INFO
        caller = self._through_frame_pointer(regs)
        if self._sound(caller, sp) and self.module_at(caller[m.pc]) is not None:
            return caller, FRAME_POINTER
        caller = self._scan(regs)
        if caller is not None:
            return caller, SCAN
        return None, None

    def _sound(self, caller, sp):
        """A caller lies higher on the stack than its callee, inside it."""
        if caller is None:
            return False
        m = self.machine
        new_sp = caller.get(m.sp)
        return (m.pc in caller and new_sp is not None and sp < new_sp <= self.stack_high + m.word)

    def _through_frame_pointer(self, regs):
        m = self.machine
        fp = regs.get(m.fp)
        if fp is None or not self.stack_low <= fp < self.stack_high:
            return None
        saved_fp, address = self.memory.word(fp, m.word), self.memory.word(fp + m.word, m.word)
        if saved_fp is None or address is None:
            return None
        caller = dict(regs)
        caller[m.fp], caller[m.pc], caller[m.sp] = saved_fp, address, fp + 2 * m.word
        return caller

    def _scan(self, regs):
        m = self.machine
        at = regs[m.sp]
        end = min(self.stack_high, at + SCAN_WORDS * m.word)
        while at < end:
            if self.out_of_time():
                return None
            word = self.memory.word(at, m.word)
            if word is None:
                return None
            module = self.module_at(word)
            if module is not None and module.looks_like_return(word):
                caller = dict(regs)
                caller[m.pc], caller[m.sp] = word, at + m.word
                return caller
            at += m.word
        return None


def _symbol_path(walk, frame):
    module = walk.module_at(frame.address)
    return module.path if module is not None else None


def _modules_on(dump, renames):
    try:
        return dump.modules(renames)
    except minidump.BadMinidump:
        return []


def walk_dump(data, symbols, seconds=2.0, name=True, renames=None):
    """The stack of the dump in `data` (bytes); None when the dump names no
    faulting thread. Never raises for a damaged dump: what could not be
    read is in the Stack's problems. `seconds` bounds the walk; naming the
    frames (`name`) has bounds of its own. `renames` gives the modules
    whose paths the reporter rewrote their names back
    (patched_paths.original_names)."""
    deadline = time.monotonic() + seconds
    try:
        dump = minidump.Minidump(data)
        fault = dump.exception()
    except (minidump.BadMinidump, struct.error) as error:
        return Stack(problems=[f"the dump cannot be read: {error}"])
    if fault is None:
        return None
    stack = Stack(thread_id=fault.thread_id)
    try:
        stack.architecture = dump.architecture()
        if not stack.architecture:
            stack.problems.append("the dump is of a processor the walk does not know")
            return stack
        machine = _Machine(stack.architecture)
        registers = machine.registers(fault.context)
        if registers is None:
            stack.problems.append("the exception's context is missing or cut short")
            return stack
        stack.registers = registers
        stack_range = _stack_range(dump, fault.thread_id, registers[machine.sp], stack.problems)
        walk = _Walk(dump, machine, registers, stack_range, symbols, deadline, renames)
        try:
            walk.frames()
        except Exception as error:  # what was found so far is kept
            walk.problems.append(f"the walk stopped: {type(error).__name__}: {error}")
        stack.frames = walk.found
        stack.problems.extend(walk.problems)
        on_stack = [walk.module_at(frame.address) for frame in stack.frames]
        on_stack = list({id(m): m.load() for m in on_stack if m is not None}.values())
        stack.symbols_missing = [m.key for m in on_stack if m.image is None]
        if walk.budget.exceeded:
            stack.problems.append(f"the stack touches more modules than a walk reads symbols for"
                                  f" ({_SymbolBudget.FILES} files, {_SymbolBudget.LOOKUPS} lookups)")
        if name:
            symbolizer.name_frames(stack.frames, lambda frame: _symbol_path(walk, frame), stack.problems)
    except (minidump.BadMinidump, struct.error) as error:
        stack.problems.append(f"the walk stopped: {error}")
        if not stack.frames and stack.registers:
            stack.frames = [Frame(stack.registers.get("rip", stack.registers.get("eip", 0)))]
    return stack


def _stack_range(dump, thread_id, sp, problems):
    """(low, high, saved): the faulting thread's saved stack, at most
    MAX_STACK_BYTES above the stack pointer, and the thread list's range
    of it (start, length, dump offset), or None."""
    saved = None
    try:
        saved = dump.thread_stack(thread_id)
    except minidump.BadMinidump as error:
        problems.append(str(error))
    if saved is not None:
        low, high = saved[0], saved[0] + saved[1]
    else:
        found = dump.memory().range_of(sp)
        low, high = found if found else (sp, sp)
    if not low <= sp < high:
        problems.append(f"the stack pointer 0x{sp:x} is outside the thread's saved stack")
        return sp, sp, None
    return low, min(high, sp + MAX_STACK_BYTES), saved
