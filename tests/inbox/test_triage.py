"""How a report is filed from its archive, the archive trusted in nothing."""
import dataclasses
import json
import os
import struct
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "inbox"))

import archives  # noqa: E402
from report_inbox.app_identity import is_out_of_date, split_app_id  # noqa: E402
from report_inbox.settings import Application, Settings, SettingsError, load  # noqa: E402
from report_inbox import stack_signature, stack_walk  # noqa: E402
from report_inbox.stack_trace import Frame, Stack  # noqa: E402
from report_inbox.triage import UNREADABLE_ARCHIVE, UNREADABLE_LOG, triage  # noqa: E402

SETTINGS = Settings(applications=(Application("plugin_Drovan.exe", "dr20100201"),),
                    max_unpacked_bytes=64 << 20)
APP = "dr20100201plugin_Drovan.exe"


class TriageTest(unittest.TestCase):
    def file(self, data):
        fd, path = tempfile.mkstemp(suffix=".zip")
        with os.fdopen(fd, "wb") as f:
            f.write(data)
        self.addCleanup(os.unlink, path)
        return path

    def test_modules_the_reporter_moved_to_its_fixed_folder_keep_their_own_names(self):
        # The reporter ends each rewritten path with a NUL inside the old
        # one's room: what follows is what is left of the old path, or
        # nothing of use.
        for remnant in ("plugin_Drovan.dll", "l", ""):
            dump = archives.minidump(modules=(("d:\\qa\\dr20100201.exe\0plugin_Drovan.exe", 0x400000, 0x10000),
                                              ("d:\\qa\\dr20100201.dll\0" + remnant, archives.BASE, 0x20000)))
            filed = triage(self.file(archives.archive([("CRASH.DMP", dump), ("CRASHLOG.TXT", archives.crash_log())])),
                           APP, SETTINGS)
            self.assertEqual((filed.signature.module, filed.signature.offset), ("plugin_Drovan.dll", "0x2c86"))
        # Another application's report keeps the name its dump gives.
        filed = triage(self.file(archives.good()), "dr20100201other.exe", SETTINGS)
        self.assertEqual(filed.signature.module, "plugin_Drovan.dll")

    def test_the_dump_turns_the_address_into_an_offset_in_its_module(self):
        filed = triage(self.file(archives.good()), APP, SETTINGS)
        self.assertEqual((filed.signature.application, filed.signature.version, filed.signature.exception_code,
                          filed.signature.module, filed.signature.offset),
                         ("plugin_Drovan.exe", "dr20100201", "0xc0000005", "plugin_Drovan.dll", "0x2c86"))
        self.assertEqual(filed.problems, [])
        self.assertIn("crash info: a caf\u00e9 crash", filed.crash_log)
        # The same fault with the module loaded elsewhere is the same signature.
        moved = archives.BASE + 0x100000
        elsewhere = archives.archive([
            ("CRASH.DMP", archives.minidump(address=moved + archives.OFFSET,
                                            modules=(("C:\\a\\plugin_Drovan.dll", moved, 0x20000),))),
            ("CRASHLOG.TXT", archives.crash_log(address=moved + archives.OFFSET))])
        self.assertEqual(triage(self.file(elsewhere), APP, SETTINGS).signature, filed.signature)

    def test_without_a_usable_dump_the_log_names_module_and_address(self):
        no_dump = archives.archive([("CRASHLOG.TXT", archives.crash_log())])
        lying = bytearray(archives.minidump())
        struct.pack_into("<I", lying, 12, 1 << 30)  # the stream directory far past the end
        for data, problem in ((no_dump, "no CRASH.DMP"),
                              (archives.archive([("CRASH.DMP", bytes(lying)),
                                                 ("CRASHLOG.TXT", archives.crash_log())]), "beyond its end"),
                              (archives.archive([("CRASH.DMP", b"MDMP"), ("CRASHLOG.TXT", archives.crash_log())]),
                               "CRASH.DMP")):
            filed = triage(self.file(data), APP, SETTINGS)
            self.assertEqual(filed.signature.module, "plugin_Drovan.dll")
            self.assertEqual(filed.signature.offset, hex(archives.BASE + archives.OFFSET))
            self.assertIn(problem, " ".join(filed.problems))

    def test_unreadable_archives_and_logs_are_filed_and_marked(self):
        cases = {
            b"not a zip at all": (UNREADABLE_ARCHIVE, "cannot be opened"),
            archives.good()[:-30]: (UNREADABLE_ARCHIVE, "cannot be opened"),
            archives.archive([("CRASH.DMP", archives.minidump())]): (UNREADABLE_LOG, "no CRASHLOG.TXT"),
            archives.archive([("CRASHLOG.TXT", "plugin_Drovan caused an Access Violation".encode())]):
                (UNREADABLE_LOG, "byte-order mark"),
            archives.archive([("CRASHLOG.TXT", b"\xff\xfe\x00\xd8A\x00")]): (UNREADABLE_LOG, "not valid UTF-16LE"),
            archives.archive([("CRASHLOG.TXT", b"\xff\xfeA")]): (UNREADABLE_LOG, "odd number"),
            archives.archive([("CRASHLOG.TXT", b"\xff\xfe" + "no fault here".encode("utf-16-le"))]):
                (UNREADABLE_LOG, "does not begin with the fault"),
        }
        for data, (module, problem) in cases.items():
            with self.subTest(problem=problem):
                filed = triage(self.file(data), APP, SETTINGS)
                self.assertEqual(filed.signature.module, module)
                self.assertEqual((filed.signature.application, filed.signature.version),
                                 ("plugin_Drovan.exe", "dr20100201"))
                self.assertIn(problem, " ".join(filed.problems))

    def test_hostile_archives_cost_no_more_than_their_limits(self):
        bomb = self.file(archives.bomb(1 << 30))
        filed = triage(bomb, APP, SETTINGS)
        self.assertEqual(filed.signature.module, UNREADABLE_LOG)
        self.assertIn("inflates to more than", " ".join(filed.problems))
        # A directory of countless entries is refused before it is read.
        many = archives.archive([(f"entry{i}", b"") for i in range(30000)])
        filed = triage(self.file(many), APP, SETTINGS)
        self.assertEqual(filed.signature.module, UNREADABLE_ARCHIVE)
        self.assertIn("too many entries", " ".join(filed.problems))
        # A first line built to make a pattern backtrack is read at once.
        hostile = b"\xff\xfe" + ("x caused " * 400_000).encode("utf-16-le")
        begun = time.monotonic()
        filed = triage(self.file(archives.archive([("CRASHLOG.TXT", hostile)])), APP, SETTINGS)
        self.assertLess(time.monotonic() - begun, 5)
        self.assertEqual(filed.signature.module, UNREADABLE_LOG)

    def test_only_stored_and_deflated_members_are_read_and_memory_stays_bounded(self):
        import zipfile
        for method in (zipfile.ZIP_BZIP2, zipfile.ZIP_LZMA):
            with self.subTest(method=method):
                data = archives.packed_with(method, archives.crash_log())
                filed = triage(self.file(data), APP, SETTINGS)
                self.assertEqual(filed.signature.module, UNREADABLE_LOG)
                self.assertIn(f"method {method}", " ".join(filed.problems))
        # A bzip2 bomb filed by a process that may not grow past 300 MiB:
        # reading it whole would take 256 MiB in one call, on top of the rest.
        bomb = self.file(archives.bzip2_bomb(256 << 20))
        self.assertLess(os.path.getsize(bomb), 4096)
        probe = ("import json, resource, sys\n"
                 "resource.setrlimit(resource.RLIMIT_AS, (300 << 20, 300 << 20))\n"
                 f"sys.path.insert(0, {os.path.join(HERE, '..', '..', 'inbox')!r})\n"
                 "from report_inbox.settings import Settings\n"
                 "from report_inbox.triage import triage\n"
                 "filed = triage(sys.argv[1], 'x', Settings(max_unpacked_bytes=64 << 20))\n"
                 "print(json.dumps([filed.signature.module, filed.problems]))\n")
        done = subprocess.run([sys.executable, "-c", probe, bomb], capture_output=True, text=True, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr[-2000:])
        module, problems = json.loads(done.stdout)
        self.assertEqual(module, UNREADABLE_LOG)
        self.assertIn("method 12", " ".join(problems))

    def test_a_directory_larger_than_allowed_is_refused_however_its_size_is_hidden(self):
        for layout, data in archives.oversized_directories().items():
            with self.subTest(layout=layout):
                begun = time.monotonic()
                filed = triage(self.file(data), APP, SETTINGS)
                self.assertLess(time.monotonic() - begun, 1)
                self.assertEqual(filed.signature.module, UNREADABLE_ARCHIVE)
                self.assertIn("too many entries", " ".join(filed.problems))

    def test_signature_parts_are_bounded(self):
        long_module = "m" * 600 + ".dll"
        data = archives.archive([("CRASHLOG.TXT", archives.crash_log(module=long_module))])
        filed = triage(self.file(data), APP, SETTINGS)
        self.assertEqual(filed.signature.module, long_module[:200])

    def test_names_inside_the_archive_are_never_paths(self):
        folder = tempfile.mkdtemp()
        self.addCleanup(lambda: os.rmdir(folder))
        data = archives.archive([("../../x", b"escape"), ("/etc/evil", b"x"), ("CRASH.DMP", archives.minidump()),
                                 ("CRASHLOG.TXT", archives.crash_log())])
        cwd = os.getcwd()
        os.chdir(folder)
        try:
            filed = triage(self.file(data), APP, SETTINGS)
        finally:
            os.chdir(cwd)
        self.assertEqual(filed.signature.module, "plugin_Drovan.dll")
        self.assertEqual(filed.entries[:2], ["../../x", "/etc/evil"])
        self.assertEqual(os.listdir(folder), [])
        self.assertFalse(os.path.exists(os.path.join(folder, "..", "..", "x")))


class StackInTriageTest(unittest.TestCase):
    """What triage does with the walker's answer, the walker replaced."""

    def setUp(self):
        self.walked = []
        self.named = None
        self.walker_fails = False
        for module, name, stand_in in ((stack_walk, "walk_dump", self.walk_dump),
                                       (stack_signature, "signature_place", lambda stack: self.named)):
            self.addCleanup(setattr, module, name, getattr(module, name))
            setattr(module, name, stand_in)

    def walk_dump(self, data, symbols, seconds=2.0, renames=None):
        self.walked.append((data, symbols))
        self.renames = renames
        if self.walker_fails:
            raise RuntimeError("a walker's bug")
        return Stack("x86", 1, {"eip": archives.BASE + archives.OFFSET},
                     [Frame(archives.BASE + archives.OFFSET, "plugin_Drovan.dll", archives.OFFSET)])

    file = TriageTest.file

    def test_the_dump_is_walked_with_the_symbols_given_and_named_functions_take_the_offsets_place(self):
        symbols = stack_walk.SymbolFiles()
        filed = triage(self.file(archives.good()), APP, SETTINGS, symbols)
        self.assertEqual(self.walked, [(archives.minidump(), symbols)])
        self.assertEqual(self.renames, {"d:\\qa\\dr20100201.dll": "plugin_Drovan.dll",
                                        "d:\\qa\\dr20100201.exe": "plugin_Drovan.exe"})
        self.assertEqual(filed.stack.frames[0].place(), "plugin_Drovan.dll+0x2c86")
        self.assertEqual((filed.signature.module, filed.signature.offset), ("plugin_Drovan.dll", "0x2c86"))
        self.named = ("plugin_Drovan.dll", "crash_here | caller")
        filed = triage(self.file(archives.good()), APP, SETTINGS, symbols)
        self.assertEqual((filed.signature.module, filed.signature.offset, filed.signature.exception_code),
                         ("plugin_Drovan.dll", "crash_here | caller", "0xc0000005"))
        self.assertEqual(filed.problems, [])

    def test_a_dump_past_its_bound_or_a_walker_that_fails_still_files_by_the_offset(self):
        self.named = ("plugin_Drovan.dll", "never_used")
        filed = triage(self.file(archives.good()), APP,
                       dataclasses.replace(SETTINGS, max_dump_bytes=len(archives.minidump()) - 1))
        self.assertEqual((self.walked, filed.stack, filed.signature.offset), ([], None, "0x2c86"))
        self.assertIn("its stack is not walked", " ".join(filed.problems))
        self.walker_fails = True
        filed = triage(self.file(archives.good()), APP, SETTINGS)
        self.assertEqual((len(self.walked), filed.stack, filed.signature.offset), (1, None, "0x2c86"))
        self.assertIn("the stack could not be walked: RuntimeError: a walker's bug", filed.problems)


class AppIdentityTest(unittest.TestCase):
    def test_the_app_id_splits_into_version_and_application(self):
        self.assertEqual(split_app_id(APP, SETTINGS).version, "dr20100201")
        self.assertEqual(split_app_id("DR20200101PLUGIN_DROVAN.EXE", SETTINGS).application, "plugin_Drovan.exe")
        self.assertFalse(is_out_of_date("DR20100201PLUGIN_DROVAN.EXE", SETTINGS))
        # Not configured: a version-like prefix is still split off.
        self.assertEqual(split_app_id("dr20200101other.exe", SETTINGS).application, "other.exe")
        self.assertEqual(split_app_id("weird", SETTINGS).application, "weird")

    def test_only_a_configured_application_at_another_version_is_out_of_date(self):
        self.assertFalse(is_out_of_date(APP, SETTINGS))
        self.assertTrue(is_out_of_date("dr20090101plugin_Drovan.exe", SETTINGS))
        self.assertFalse(is_out_of_date("dr20090101other.exe", SETTINGS))


class SettingsTest(unittest.TestCase):
    def load(self, text):
        fd, path = tempfile.mkstemp(suffix=".ini")
        with os.fdopen(fd, "w") as f:
            f.write(text)
        self.addCleanup(os.unlink, path)
        return load(path)

    def test_plain_http_is_allowed_only_on_the_loopback(self):
        self.assertFalse(self.load("[service]\n").plain_http_on_loopback)
        self.assertTrue(self.load("[service]\nlisten = 127.0.0.1:8080\nplain_http_on_loopback = yes\n")
                        .plain_http_on_loopback)
        self.assertTrue(self.load("[service]\nlisten = [::1]:8080\nplain_http_on_loopback = yes\n")
                        .plain_http_on_loopback)
        for listen in ("0.0.0.0:8080", "192.0.2.7:80", "[::]:8080"):
            with self.assertRaises(SettingsError):
                self.load(f"[service]\nlisten = {listen}\nplain_http_on_loopback = yes\n")


if __name__ == "__main__":
    unittest.main()
