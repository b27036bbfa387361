"""The stack walker on dumps made to order: the frame-pointer chain of a
32-bit stack, and the dumps of someone who means harm, each of which must
end in bounded time with what could be found. Real dumps of both Windows
builds are walked by tests/crash/check_stack_walk.py."""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "inbox"))
sys.path.insert(0, os.path.join(HERE, "..", "..", "scripts"))

from dumps import minidump  # noqa: E402
from report_inbox.stack_signature import signature_place  # noqa: E402
from report_inbox.stack_trace import Frame, ModuleKey, Stack  # noqa: E402
from report_inbox.stack_walk import MAX_FRAMES, SymbolFiles, SymbolFolder, walk_dump  # noqa: E402
import symbols_folder  # noqa: E402

APP = ("app.exe", 0x400000, 0x10000, 0x6B19A260)
STACK = 0x10000


def words(*values, size=0x1000, at=None):
    """A 32-bit stack of `size` bytes; `at` maps offsets to words."""
    stack = bytearray(size)
    for offset, value in (at or {}).items():
        struct.pack_into("<I", stack, offset, value)
    return bytes(stack)


class StackWalkTest(unittest.TestCase):
    def walk(self, dump, symbols=None):
        started = time.monotonic()
        stack = walk_dump(dump, symbols or SymbolFiles())
        self.assertLess(time.monotonic() - started, 5)
        return stack

    def test_a_32_bit_stack_is_walked_through_its_frame_pointers_to_the_outermost_frame(self):
        stack = words(at={0x100: STACK + 0x200, 0x104: 0x401200,
                          0x200: STACK + 0x300, 0x204: 0x401300,
                          0x300: 0, 0x304: 0})
        dump = minidump("x86", {"eip": 0x401100, "esp": STACK + 0x80, "ebp": STACK + 0x100}, STACK, stack, [APP])
        walked = self.walk(dump)
        self.assertEqual("x86", walked.architecture)
        self.assertEqual([(0x1100, "context"), (0x1200, "frame_pointer"), (0x1300, "frame_pointer")],
                         [(f.offset, f.trust) for f in walked.frames])
        self.assertEqual(["app.exe"] * 3, [f.module for f in walked.frames])
        self.assertEqual(["app.exe"], [key.name for key in walked.symbols_missing])
        self.assertEqual([], walked.problems)

    def test_frame_pointers_that_cycle_end_the_walk(self):
        for chain in ({0x100: STACK + 0x100, 0x104: 0x401200},                      # itself
                      {0x100: STACK + 0x200, 0x104: 0x401200,                       # two that point
                       0x200: STACK + 0x100, 0x204: 0x401300}):                     # at each other
            dump = minidump("x86", {"eip": 0x401100, "esp": STACK + 0x80, "ebp": STACK + 0x100}, STACK,
                            words(at=chain), [APP])
            walked = self.walk(dump)
            self.assertLessEqual(len(walked.frames), 4)
            sps = [f.offset for f in walked.frames]
            self.assertEqual(0x1100, sps[0])

    def test_a_stack_pointer_outside_the_saved_stack_leaves_the_faulting_frame(self):
        dump = minidump("amd64", {"rip": 0x401100, "rsp": 0x7FFF0000, "rbp": 0}, STACK, bytes(0x1000), [APP])
        walked = self.walk(dump)
        self.assertEqual([0x1100], [f.offset for f in walked.frames])
        self.assertIn("outside the thread's saved stack", " ".join(walked.problems))

    def test_a_hundred_thousand_threads_claimed_costs_only_the_thread_list(self):
        stack = words(at={0x100: 0, 0x104: 0x401200})
        dump = minidump("x86", {"eip": 0x401100, "esp": STACK + 0x80, "ebp": STACK + 0x100}, STACK, stack, [APP],
                        claimed_threads=100000)
        walked = self.walk(dump)
        self.assertIn("claims 100000 threads", " ".join(walked.problems))
        self.assertEqual([0x1100, 0x1200], [f.offset for f in walked.frames])

    def test_a_stack_of_nothing_but_return_addresses_stops_at_the_frame_limit(self):
        stack = struct.pack("<I", 0x401234) * (1 << 18)   # a megabyte
        dump = minidump("x86", {"eip": 0x401100, "esp": STACK, "ebp": 0}, STACK, stack, [APP])
        walked = self.walk(dump)
        self.assertEqual(MAX_FRAMES, len(walked.frames))
        self.assertTrue(all(f.trust == "scan" for f in walked.frames[1:]))
        self.assertIn(f"stopped at {MAX_FRAMES} frames", " ".join(walked.problems))

    def test_a_stack_through_thousands_of_modules_looks_up_few_symbol_files(self):
        class Counting(SymbolFiles):
            asked = 0

            def find(self, key):
                Counting.asked += 1
                return None
        modules = [(f"m{i}.dll", 0x1000000 + i * 0x10000, 0x10000, i) for i in range(20000)]
        stack = b"".join(struct.pack("<I", base + 0x2000) for _, base, _, _ in modules[:4000])
        dump = minidump("x86", {"eip": 0x1000100, "esp": STACK, "ebp": 0}, STACK, stack, modules)
        walked = self.walk(dump, Counting())
        self.assertEqual(MAX_FRAMES, len(walked.frames))
        self.assertLessEqual(Counting.asked, 32)
        self.assertIn("more modules than a walk reads symbols for", " ".join(walked.problems))

    def test_every_cut_of_a_dump_ends_without_an_error(self):
        stack = words(at={0x100: STACK + 0x200, 0x104: 0x401200, 0x200: 0, 0x204: 0x401300})
        dump = minidump("x86", {"eip": 0x401100, "esp": STACK + 0x80, "ebp": STACK + 0x100}, STACK, stack, [APP])
        for end in range(0, len(dump), 61):
            walked = walk_dump(dump[:end], SymbolFiles())
            if walked is not None:
                self.assertIsInstance(walked, Stack)
                self.assertLessEqual(len(walked.frames), MAX_FRAMES)

    def test_a_symbol_file_that_is_no_pe_file_leaves_the_frames_unnamed(self):
        with tempfile.TemporaryDirectory() as folder:
            build = os.path.join(folder, "App.EXE", ModuleKey(*APP[:1], APP[3], APP[2]).folder())
            os.makedirs(build)
            with open(os.path.join(build, "app.exe"), "wb") as file:
                file.write(b"MZ" + bytes(200))
            self.assertIsNotNone(SymbolFolder(folder).find(ModuleKey("APP.exe", APP[3], APP[2])))
            stack = words(at={0x100: 0, 0x104: 0x401200})
            dump = minidump("x86", {"eip": 0x401100, "esp": STACK + 0x80, "ebp": STACK + 0x100}, STACK, stack,
                            [APP])
            walked = self.walk(dump, SymbolFolder(folder))
            self.assertEqual([0x1100, 0x1200], [f.offset for f in walked.frames])
            self.assertEqual(["", ""], [f.function for f in walked.frames])


class RealX86CodeTest(unittest.TestCase):
    """The fault chain compiled by the 32-bit release's compiler, with its
    flags, and a stack laid out as that code lays it out, in a module
    loaded away from its linked base: the walk must follow the build's own
    call-frame information, and, without symbols, its frame pointers. (A
    real 32-bit dump is walked where 32-bit programs run.)"""

    LOADED = 0x10000000

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="x86_chain_")
        with open(os.path.join(cls.work, "main.cpp"), "w") as file:
            file.write('#include "fault_chain.h"\nint main(int argc, char**) { return fault_chain_first(argc) + 1; }\n')
        cls.exe = os.path.join(cls.work, "chain.exe")
        crash = os.path.join(HERE, "..", "crash")
        subprocess.run(["i686-w64-mingw32-g++-posix", "-std=c++17", "-O3", "-g1", "-fno-omit-frame-pointer",
                        "-I" + crash, os.path.join(cls.work, "main.cpp"), os.path.join(crash, "fault_chain.cpp"),
                        "-static", "-o", cls.exe], check=True, timeout=120)
        listing = subprocess.run(["i686-w64-mingw32-objdump", "-d", "--no-show-raw-insn", cls.exe], check=True,
                                 capture_output=True, text=True, timeout=60).stdout
        cls.code = {}   # function -> [(address, instruction)]
        function = None
        for line in listing.splitlines():
            head = re.match(r"^([0-9a-f]+) <(.+)>:$", line)
            if head:
                function = cls.code.setdefault(head.group(2), [])
                continue
            step = re.match(r"^\s+([0-9a-f]+):\s+(.*)$", line)
            if step and function is not None:
                function.append((int(step.group(1), 16), step.group(2)))
        cls.symbols = os.path.join(cls.work, "symbols")
        symbols_folder.main(cls.symbols, [cls.exe])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def after_call(self, caller, callee):
        """The return address of caller's call of callee."""
        steps = self.code[caller]
        for (_, text), (following, _) in zip(steps, steps[1:]):
            if text.startswith("call") and callee in text:
                return following
        self.fail(f"{caller} does not call {callee}")

    def dump(self):
        with open(self.exe, "rb") as file:
            image = file.read(4096)
        pe, = struct.unpack_from("<I", image, 0x3C)
        time_stamp, = struct.unpack_from("<I", image, pe + 8)
        linked_base, image_size = struct.unpack_from("<I", image, pe + 24 + 28)[0], struct.unpack_from(
            "<I", image, pe + 24 + 56)[0]
        moved = self.LOADED - linked_base
        third = self.code["__Z17fault_chain_thirdi"]
        fault = next(address for address, text in third if re.match(r"mov\s+%e\w\w,\(%e\w\w\)", text))
        # Each function keeps its frame pointer: CFA = ebp + 8, the caller's
        # ebp at ebp, the return address at ebp + 4.
        frames = {0x40: (0x100, self.after_call("__Z18fault_chain_secondi", "fault_chain_third")),
                  0x100: (0x200, self.after_call("__Z17fault_chain_firsti", "fault_chain_second")),
                  0x200: (0x300, self.after_call("_main", "fault_chain_first")),
                  0x300: (None, None)}
        layout = {}
        for ebp, (caller_ebp, returns_to) in frames.items():
            layout[ebp] = STACK + caller_ebp if caller_ebp else 0
            layout[ebp + 4] = returns_to + moved if returns_to else 0
        registers = {"eip": fault + moved, "esp": STACK + 0x38, "ebp": STACK + 0x40}
        return minidump("x86", registers, STACK, words(at=layout),
                        [("chain.exe", self.LOADED, image_size, time_stamp)])

    def test_the_chain_is_named_in_order_through_the_builds_call_frame_information(self):
        walked = walk_dump(self.dump(), SymbolFolder(self.symbols))
        self.assertEqual([("fault_chain_third(int)", "context"), ("fault_chain_second(int)", "cfi"),
                          ("fault_chain_first(int)", "cfi"), ("main", "cfi")],
                         [(f.function, f.trust) for f in walked.frames])
        self.assertTrue(all(f.file.endswith(".cpp") and f.line > 0 for f in walked.frames))
        self.assertEqual(("chain.exe", "fault_chain_third(int) | fault_chain_second(int) | fault_chain_first(int)"),
                         signature_place(walked))

    def test_damage_anywhere_in_the_dump_or_the_symbol_file_ends_the_walk_without_an_error(self):
        import random
        chance = random.Random(29)
        dump = self.dump()
        symbol_file = SymbolFolder(self.symbols).find(walk_dump(dump, SymbolFiles()).symbols_missing[0])
        with open(symbol_file, "rb") as file:
            pristine = file.read()
        damaged_symbols = os.path.join(self.work, "damaged")
        shutil.copytree(self.symbols, damaged_symbols)
        damaged_file = symbol_file.replace(self.symbols, damaged_symbols)
        for _ in range(300):
            broken = bytearray(dump)
            for _ in range(chance.randint(1, 8)):
                # The header and directory, or the streams after them.
                at = chance.randrange(92) if chance.random() < 0.3 else chance.randrange(4096, len(broken))
                broken[at] = chance.randrange(256)
            image = bytearray(pristine)
            for _ in range(chance.randint(0, 64)):
                image[chance.randrange(len(image))] = chance.randrange(256)
            with open(damaged_file, "wb") as file:
                file.write(image)
            started = time.monotonic()
            walked = walk_dump(bytes(broken), SymbolFolder(damaged_symbols), name=False)
            self.assertLess(time.monotonic() - started, 3)
            self.assertTrue(walked is None or len(walked.frames) <= MAX_FRAMES)

    def test_without_symbols_the_frame_pointers_give_the_same_frames(self):
        named = walk_dump(self.dump(), SymbolFolder(self.symbols))
        bare = walk_dump(self.dump(), SymbolFiles())
        self.assertEqual([f.offset for f in named.frames], [f.offset for f in bare.frames])
        self.assertEqual(["context"] + ["frame_pointer"] * 3, [f.trust for f in bare.frames])


class DamagedCallFrameInfoTest(unittest.TestCase):
    def test_a_cie_cut_short_or_without_its_terminator_leaves_an_empty_table(self):
        from report_inbox.dwarf_cfi import CallFrameTable

        class Image:
            is_64bit = False
            image_base = 0x400000

            def __init__(self, data):
                self.data = data

            def section_bytes(self, name):
                return (self.data, 0x1000) if name == ".eh_frame" else (b"", 0)
        no_terminator = struct.pack("<II", 8, 0) + b"\x01zRz"
        cut_short = struct.pack("<II", 400, 0) + b"\x01zR\0"
        fde_of_nothing = struct.pack("<III", 12, 0, 8) + bytes(8)
        for data in (no_terminator, cut_short, no_terminator + fde_of_nothing, fde_of_nothing):
            self.assertFalse(CallFrameTable(Image(data)), data)


class StackSignatureTest(unittest.TestCase):
    def test_the_runtime_and_the_system_are_passed_over_and_a_scanned_frame_ends_the_signature(self):
        stack = Stack(frames=[
            Frame(1, "ntdll.dll", 0x10, "context", "RtlRaiseException"),
            Frame(2, "plugin_Drovan.dll", 0x20, "cfi", "memcpy"),
            Frame(3, "plugin_Drovan.dll", 0x30, "cfi", "Reader::copy(int)"),
            Frame(4, "plugin_Drovan.dll", 0x40, "cfi", "Reader::run()"),
            Frame(5, "plugin_Drovan.exe", 0x50, "scan", "main"),
        ])
        self.assertEqual(("plugin_Drovan.dll", "Reader::copy(int) | Reader::run()"), signature_place(stack))

    def test_an_unnamed_top_frame_leaves_the_module_and_offset(self):
        stack = Stack(frames=[Frame(1, "plugin_Drovan.dll", 0x10, "context"),
                              Frame(2, "plugin_Drovan.dll", 0x20, "cfi", "Reader::run()")])
        self.assertIsNone(signature_place(stack))


if __name__ == "__main__":
    unittest.main()
