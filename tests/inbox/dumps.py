"""Minidumps made to order, for the stack walker's tests: a faulting thread
with the registers and stack memory a case needs, modules where it puts
them, and the lies a hostile dump tells (more threads claimed than held,
streams cut short)."""
import struct

THREAD_ID = 7
X86_OFFSETS = {"edi": 0x9C, "esi": 0xA0, "ebx": 0xA4, "edx": 0xA8, "ecx": 0xAC, "eax": 0xB0, "ebp": 0xB4,
               "eip": 0xB8, "esp": 0xC4}
AMD64_OFFSETS = {"rax": 0x78, "rcx": 0x80, "rdx": 0x88, "rbx": 0x90, "rsp": 0x98, "rbp": 0xA0, "rsi": 0xA8,
                 "rdi": 0xB0, "rip": 0xF8}


def context(architecture, registers):
    if architecture == "x86":
        data = bytearray(0x2CC)
        for name, value in registers.items():
            struct.pack_into("<I", data, X86_OFFSETS[name], value)
    else:
        data = bytearray(0x4D0)
        for name, value in registers.items():
            struct.pack_into("<Q", data, AMD64_OFFSETS[name], value)
    return bytes(data)


class DumpWriter:
    def __init__(self):
        self.body = bytearray()
        self.streams = []

    def place(self, data):
        while len(self.body) % 8:
            self.body.append(0)
        at = 4096 + len(self.body)  # the header and directory come first
        self.body += data
        return at

    def stream(self, kind, data):
        self.streams.append((kind, len(data), self.place(data)))

    def bytes(self):
        header = struct.pack("<IIIIIIQ", 0x504D444D, 0xA793, len(self.streams), 32, 0, 0, 0)
        directory = b"".join(struct.pack("<III", *s) for s in self.streams)
        head = header + directory
        assert len(head) <= 4096
        return head + bytes(4096 - len(head)) + bytes(self.body)


def minidump(architecture, registers, stack_start, stack=b"", modules=(), claimed_threads=None,
             code=0xC0000005):
    """`modules` are (name, base, size, time_stamp). `claimed_threads`
    makes the thread list claim that many threads while holding one."""
    writer = DumpWriter()
    writer.stream(7, struct.pack("<H", 0 if architecture == "x86" else 9) + bytes(54))
    context_at = writer.place(context(architecture, registers))
    context_size = 0x2CC if architecture == "x86" else 0x4D0
    pc = registers.get("eip", registers.get("rip", 0))
    record = struct.pack("<IIQQII", code, 0, 0, pc, 0, 0) + bytes(15 * 8)
    writer.stream(6, struct.pack("<II", THREAD_ID, 0) + record + struct.pack("<II", context_size, context_at))
    stack_at = writer.place(stack)
    thread = struct.pack("<IIIIQQIIII", THREAD_ID, 0, 0, 0, 0, stack_start, len(stack), stack_at,
                         context_size, context_at)
    writer.stream(3, struct.pack("<I", claimed_threads or 1) + thread)
    entries = []
    for name, base, size, time_stamp in modules:
        encoded = name.encode("utf-16-le")
        name_at = writer.place(struct.pack("<I", len(encoded)) + encoded + b"\0\0")
        entries.append(struct.pack("<QIIII", base, size, 0, time_stamp, name_at) + bytes(108 - 24))
    writer.stream(4, struct.pack("<I", len(entries)) + b"".join(entries))
    writer.stream(5, struct.pack("<I", 1) + struct.pack("<QII", stack_start, len(stack), stack_at))
    return writer.bytes()
