"""One frame unwound through DWARF call-frame information: the .eh_frame
the 32-bit MinGW build carries for its exceptions, and the .debug_frame
that -g adds to either build.

An FDE's program, run up to the frame's address, says where the canonical
frame address (CFA) is, as a register plus an offset, and where each
saved register lies relative to it; the return address is one of them.
Expression rules are not evaluated: a register saved by one is unknown,
a CFA given by one stops the unwind.
"""
import bisect
import struct

# DWARF register numbers of each machine, the return address last.
X86_REGISTERS = ("eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi", "eip")
AMD64_REGISTERS = ("rax", "rdx", "rcx", "rbx", "rsi", "rdi", "rbp", "rsp",
                   "r8", "r9", "r10", "r11", "r12", "r13", "r14", "r15", "rip")
# Pointer encodings of a fixed size (DW_EH_PE_udata2 ... sdata8).
FIXED_POINTERS = {0x02: "H", 0x03: "I", 0x04: "Q", 0x0A: "h", 0x0B: "i", 0x0C: "q"}
MAX_ENTRIES = 1 << 20
MAX_INSTRUCTIONS = 10000


class BadFrameInfo(ValueError):
    pass


class _Cursor:
    def __init__(self, data, at, end):
        self.data, self.at, self.end = data, at, end

    def take(self, length):
        if self.at + length > self.end:
            raise BadFrameInfo("call-frame information cut short")
        part = self.data[self.at:self.at + length]
        self.at += length
        return part

    def u8(self):
        return self.take(1)[0]

    def unpack(self, fmt):
        return struct.unpack("<" + fmt, self.take(struct.calcsize(fmt)))[0]

    def uleb(self):
        return self._leb(signed=False)

    def sleb(self):
        return self._leb(signed=True)

    def _leb(self, signed):
        """A LEB128 number; more than ten bytes of one is damage, ended there."""
        value = shift = 0
        while True:
            byte = self.u8()
            value |= (byte & 0x7F) << shift
            shift += 7
            if byte < 0x80 or shift > 70:
                return value - (1 << shift) if signed and byte & 0x40 else value

    def pointer(self, encoding, section_address, word):
        """An encoded pointer (DW_EH_PE_*): absolute, or relative to where it
        is read (pcrel); other bases do not occur in these files."""
        if encoding == 0xFF:
            return None
        place = section_address + self.at
        form = encoding & 0x0F
        if form == 0x00:
            value = self.unpack("I" if word == 4 else "Q")
        elif form == 0x01:
            value = self.uleb()
        elif form == 0x09:
            value = self.sleb()
        elif form in FIXED_POINTERS:
            value = self.unpack(FIXED_POINTERS[form])
        else:
            raise BadFrameInfo(f"pointer encoding 0x{encoding:x}")
        if encoding & 0x70 == 0x10:
            value += place
        elif encoding & 0x70:
            raise BadFrameInfo(f"pointer base 0x{encoding:x}")
        return value & ((1 << (8 * word)) - 1)


class _Cie:
    def __init__(self):
        self.code_align = 1
        self.data_align = 1
        self.return_register = 0
        self.encoding = 0
        self.augmented = False
        self.instructions = b""


class CallFrameTable:
    """The FDEs of one module's .eh_frame and .debug_frame, by address."""

    def __init__(self, image):
        self.word = 8 if image.is_64bit else 4
        self.registers = AMD64_REGISTERS if image.is_64bit else X86_REGISTERS
        self._entries = []   # (begin, end, cie, instructions)
        for name in (".eh_frame", ".debug_frame"):
            data, rva = image.section_bytes(name)
            if data:
                try:
                    self._read_section(data, image.image_base + rva, name == ".eh_frame")
                except (BadFrameInfo, struct.error, IndexError, ValueError):
                    pass  # what was read before the damage stays usable
        self._entries.sort(key=lambda entry: entry[0])
        self._begins = [entry[0] for entry in self._entries]

    def __bool__(self):
        return bool(self._entries)

    def _read_section(self, data, address, is_eh_frame):
        cies = {}
        at = 0
        while at + 4 <= len(data) and len(self._entries) < MAX_ENTRIES:
            length, = struct.unpack_from("<I", data, at)
            if length == 0:
                if is_eh_frame:
                    break
                at += 4
                continue
            if length == 0xFFFFFFFF:
                raise BadFrameInfo("64-bit DWARF")  # never in a 32-bit PE section
            start, end = at + 4, at + 4 + length
            if end > len(data):
                raise BadFrameInfo("an entry runs past its section")
            cursor = _Cursor(data, start, end)
            cie_id = cursor.unpack("I")
            is_cie = cie_id == 0 if is_eh_frame else cie_id == 0xFFFFFFFF
            if is_cie:
                cies[at] = self._read_cie(cursor)
            else:
                cie_at = start - cie_id if is_eh_frame else cie_id
                cie = cies.get(cie_at)
                if cie is None:
                    cie = self._read_cie(self._cie_cursor(data, cie_at))
                    cies[cie_at] = cie
                encoding = cie.encoding if is_eh_frame else 0
                begin = cursor.pointer(encoding, address, self.word)
                size = cursor.pointer(encoding & 0x0F, address, self.word)
                if cie.augmented:
                    cursor.take(cursor.uleb())
                self._entries.append((begin, begin + size, cie, data[cursor.at:end]))
            at = end

    def _cie_cursor(self, data, at):
        if at < 0 or at + 8 > len(data):
            raise BadFrameInfo("an FDE names no CIE")
        length, = struct.unpack_from("<I", data, at)
        cursor = _Cursor(data, at + 8, min(len(data), at + 4 + length))
        return cursor

    def _read_cie(self, cursor):
        cie = _Cie()
        version = cursor.u8()
        end = cursor.data.find(b"\0", cursor.at, cursor.end)
        if end < 0:
            raise BadFrameInfo("a CIE's augmentation runs past its end")
        augmentation = cursor.data[cursor.at:end].decode("latin-1")
        cursor.at = end + 1
        if version >= 4:
            cursor.take(2)  # address and segment sizes
        cie.code_align = cursor.uleb()
        cie.data_align = cursor.sleb()
        cie.return_register = cursor.u8() if version == 1 else cursor.uleb()
        if augmentation.startswith("z"):
            cie.augmented = True
            data_end = cursor.uleb() + cursor.at
            for letter in augmentation[1:]:
                if letter == "R":
                    cie.encoding = cursor.u8()
                elif letter == "L":
                    cursor.u8()
                elif letter == "P":
                    cursor.pointer(cursor.u8() & 0x7F, 0, self.word)
            cursor.at = data_end
        elif augmentation:
            raise BadFrameInfo(f"augmentation {augmentation!r}")
        cie.instructions = cursor.data[cursor.at:cursor.end]
        return cie

    def find(self, address):
        i = bisect.bisect_right(self._begins, address) - 1
        if i >= 0 and self._entries[i][0] <= address < self._entries[i][1]:
            return self._entries[i]
        return None

    def unwind(self, registers, pc_name, sp_name, memory, lookup_pc):
        """The caller's registers, or None when no FDE covers `lookup_pc` (an
        address as the file was linked) or its rules need what the dump does
        not hold."""
        entry = self.find(lookup_pc)
        if entry is None:
            return None
        begin, _, cie, instructions = entry
        try:
            initial = _run(cie, cie.instructions, None, None, begin, lookup_pc)
            cfa_register, cfa_offset, rules = _run(cie, instructions, initial, initial, begin, lookup_pc)
        except (BadFrameInfo, IndexError, struct.error):
            return None
        if cfa_register is None or cfa_register >= len(self.registers):
            return None
        base = registers.get(self.registers[cfa_register])
        if base is None:
            return None
        cfa = (base + cfa_offset) & ((1 << (8 * self.word)) - 1)
        caller = dict(registers)
        for number, (kind, value) in rules.items():
            if number >= len(self.registers):
                continue
            name = self.registers[number]
            if kind == "offset":
                saved = memory.word(cfa + value, self.word)
                if saved is None:
                    if number == cie.return_register:
                        return None
                    caller.pop(name, None)
                else:
                    caller[name] = saved
            elif kind == "val_offset":
                caller[name] = cfa + value
            elif kind == "register" and value < len(self.registers) and self.registers[value] in registers:
                caller[name] = registers[self.registers[value]]
            elif kind == "undefined" or kind == "unknown":
                caller.pop(name, None)
        if cie.return_register >= len(self.registers):
            return None
        return_name = self.registers[cie.return_register]
        if return_name not in caller or cie.return_register not in rules:
            return None
        caller[pc_name] = caller[return_name]
        caller[sp_name] = cfa
        return caller


def _run(cie, program, state, initial, begin, target):
    """Runs a CFA program up to `target`: (cfa register, cfa offset, rules
    by register number)."""
    if state is None:
        cfa_register, cfa_offset, rules = None, 0, {}
    else:
        cfa_register, cfa_offset, rules = state[0], state[1], dict(state[2])
    initial_rules = initial[2] if initial else {}
    stack = []
    location = begin
    cursor = _Cursor(program, 0, len(program))
    for _ in range(MAX_INSTRUCTIONS):
        if cursor.at >= cursor.end:
            break
        op = cursor.u8()
        high, low = op >> 6, op & 0x3F
        if high == 1:
            location += low * cie.code_align
        elif high == 2:
            rules[low] = ("offset", cursor.uleb() * cie.data_align)
        elif high == 3:
            _restore(rules, initial_rules, low)
        elif op == 0x00:
            pass
        elif op in (0x02, 0x03, 0x04):
            location += cursor.unpack({0x02: "B", 0x03: "H", 0x04: "I"}[op]) * cie.code_align
        elif op == 0x01:
            raise BadFrameInfo("DW_CFA_set_loc")
        elif op == 0x05:
            register = cursor.uleb()
            rules[register] = ("offset", cursor.uleb() * cie.data_align)
        elif op == 0x06:
            _restore(rules, initial_rules, cursor.uleb())
        elif op == 0x07:
            rules[cursor.uleb()] = ("undefined", 0)
        elif op == 0x08:
            rules.pop(cursor.uleb(), None)
        elif op == 0x09:
            register = cursor.uleb()
            rules[register] = ("register", cursor.uleb())
        elif op == 0x0A:
            if len(stack) > 64:
                raise BadFrameInfo("remembered states too deep")
            stack.append((cfa_register, cfa_offset, dict(rules)))
        elif op == 0x0B:
            if not stack:
                raise BadFrameInfo("DW_CFA_restore_state with nothing remembered")
            cfa_register, cfa_offset, rules = stack.pop()
        elif op == 0x0C:
            cfa_register, cfa_offset = cursor.uleb(), cursor.uleb()
        elif op == 0x0D:
            cfa_register = cursor.uleb()
        elif op == 0x0E:
            cfa_offset = cursor.uleb()
        elif op == 0x0F:
            cursor.take(cursor.uleb())
            cfa_register = None  # an expression: not evaluated
        elif op in (0x10, 0x16):
            register = cursor.uleb()
            cursor.take(cursor.uleb())
            rules[register] = ("unknown", 0)
        elif op == 0x11:
            register = cursor.uleb()
            rules[register] = ("offset", cursor.sleb() * cie.data_align)
        elif op == 0x12:
            cfa_register, cfa_offset = cursor.uleb(), cursor.sleb() * cie.data_align
        elif op == 0x13:
            cfa_offset = cursor.sleb() * cie.data_align
        elif op == 0x14:
            register = cursor.uleb()
            rules[register] = ("val_offset", cursor.uleb() * cie.data_align)
        elif op == 0x15:
            register = cursor.uleb()
            rules[register] = ("val_offset", cursor.sleb() * cie.data_align)
        elif op == 0x2E:
            cursor.uleb()
        elif op == 0x2F:
            register = cursor.uleb()
            rules[register] = ("offset", -cursor.uleb() * cie.data_align)
        else:
            raise BadFrameInfo(f"CFA instruction 0x{op:x}")
        if location > target:
            # The row in force at `target` is the one before this advance;
            # an advance is the only instruction that moves the location.
            break
    return cfa_register, cfa_offset, rules


def _restore(rules, initial_rules, register):
    if register in initial_rules:
        rules[register] = initial_rules[register]
    else:
        rules.pop(register, None)
