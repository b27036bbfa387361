"""One frame of an x64 stack unwound as Windows does it, through the
module's function table (.pdata) and each function's unwind codes (.xdata).

The codes undo the prologue in reverse: pushes popped, allocations
released, saved registers reloaded, until the return address is on top of
the stack. A function with no entry in the table is a leaf: its return
address is at the stack pointer. Epilogues are not recognised: a fault
inside one is unwound as if the body were still running, which holds for
every caller frame (a return address is never inside an epilogue that has
begun).
"""
import bisect
import struct

# Register numbers of the unwind codes.
REGISTERS = ("rax", "rcx", "rdx", "rbx", "rsp", "rbp", "rsi", "rdi",
             "r8", "r9", "r10", "r11", "r12", "r13", "r14", "r15")
PUSH_NONVOL, ALLOC_LARGE, ALLOC_SMALL, SET_FPREG, SAVE_NONVOL, SAVE_NONVOL_FAR = 0, 1, 2, 3, 4, 5
EPILOG, SPARE, SAVE_XMM128, SAVE_XMM128_FAR, PUSH_MACHFRAME = 6, 7, 8, 9, 10
CHAIN_INFO = 0x4
MAX_CHAIN = 32
MASK = (1 << 64) - 1


def _slots(op, info):
    """How many 16-bit slots a code takes, itself included."""
    if op == ALLOC_LARGE:
        return 3 if info else 2
    if op in (SAVE_NONVOL, EPILOG, SAVE_XMM128):
        return 2
    if op in (SAVE_NONVOL_FAR, SPARE, SAVE_XMM128_FAR):
        return 3
    return 1


class FunctionTable:
    """The sorted RUNTIME_FUNCTION entries of one module's .pdata."""

    def __init__(self, image):
        self.image = image
        data, _ = image.section_bytes(".pdata")
        entries = sorted(struct.iter_unpack("<III", data[:len(data) - len(data) % 12]))
        self._entries = [e for e in entries if e[0] < e[1]]
        self._begins = [e[0] for e in self._entries]

    def __bool__(self):
        return bool(self._entries)

    def find(self, rva):
        i = bisect.bisect_right(self._begins, rva) - 1
        if i >= 0 and self._entries[i][0] <= rva < self._entries[i][1]:
            return self._entries[i]
        return None


def unwind(table, module_base, registers, memory, first):
    """The caller's registers, or None when the table cannot tell (no
    entry read, a register the walk lost, or a saved value outside the
    dump's memory). The faulting frame's function without an entry is a
    leaf; a caller always has one, having made a call, so a caller without
    one is left to other means. A caller's return address is just past its
    call, which may end its function: it is looked up a byte back."""
    regs = dict(registers)
    pc_rva = regs["rip"] - module_base
    function = table.find(pc_rva if first else pc_rva - 1)
    if function is None:
        return _return_from(regs, memory) if first else None
    machine_frame = False
    for _ in range(MAX_CHAIN):
        begin, _, info_rva = function
        header = table.image.read(info_rva, 4)
        if header is None:
            return None
        flags, prolog_size, count, frame = header[0] >> 3, header[1], header[2], header[3]
        codes = table.image.read(info_rva + 4, 2 * count + 2 * (count % 2) + 12)
        if codes is None:
            codes = table.image.read(info_rva + 4, 2 * count)
            if codes is None:
                return None
        frame_register, frame_offset = frame & 0xF, (frame >> 4) * 16
        established = regs["rsp"]
        if frame_register:
            if REGISTERS[frame_register] not in regs:
                return None
            established = (regs[REGISTERS[frame_register]] - frame_offset) & MASK
        in_prolog = begin <= pc_rva < begin + prolog_size
        prolog_offset = pc_rva - begin if in_prolog else 1 << 32
        i = 0
        while i < count:
            offset, op, info = codes[2 * i], codes[2 * i + 1] & 0xF, codes[2 * i + 1] >> 4
            size = _slots(op, info)
            if i + size > count:
                return None
            operand = lambda k: struct.unpack_from("<H", codes, 2 * (i + k))[0]
            if prolog_offset >= offset:
                if op == PUSH_NONVOL:
                    value = memory.word(regs["rsp"], 8)
                    if value is None:
                        return None
                    regs[REGISTERS[info]] = value
                    regs["rsp"] += 8
                elif op == ALLOC_LARGE:
                    regs["rsp"] += (operand(1) | operand(2) << 16) if info else operand(1) * 8
                elif op == ALLOC_SMALL:
                    regs["rsp"] += (info + 1) * 8
                elif op == SET_FPREG:
                    regs["rsp"] = established
                elif op in (SAVE_NONVOL, SAVE_NONVOL_FAR):
                    at = established + (operand(1) * 8 if op == SAVE_NONVOL else operand(1) | operand(2) << 16)
                    value = memory.word(at, 8)
                    if value is None:
                        return None
                    regs[REGISTERS[info]] = value
                elif op == PUSH_MACHFRAME:
                    if info:
                        regs["rsp"] += 8
                    rip, rsp = memory.word(regs["rsp"], 8), memory.word(regs["rsp"] + 24, 8)
                    if rip is None or rsp is None:
                        return None
                    regs["rip"], regs["rsp"] = rip, rsp
                    machine_frame = True
                elif op not in (EPILOG, SAVE_XMM128, SAVE_XMM128_FAR, SPARE):
                    return None  # a code no compiler writes
            i += size
        if not flags & CHAIN_INFO:
            break
        chained = codes[2 * (count + count % 2):2 * (count + count % 2) + 12]
        if len(chained) != 12:
            return None
        function = struct.unpack("<III", chained)
    else:
        return None  # a chain that does not end
    return regs if machine_frame else _return_from(regs, memory)


def _return_from(regs, memory):
    address = memory.word(regs["rsp"], 8)
    if address is None:
        return None
    regs = dict(regs)
    regs["rip"], regs["rsp"] = address, regs["rsp"] + 8
    return regs
