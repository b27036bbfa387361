"""Symbol files and the stacks walked with them, as a release and a token
holder meet them: a real service over HTTP, on SQLite with its files on
disk and on a private PostgreSQL with everything in the database. Its stack
walker is fake_walker's stand-in, so what is tested is the inbox's part:
storing and finding symbol files, filing by the functions they name, and
moving reports between signatures when they are walked again."""
import hashlib
import json
import os
import shutil
import socket
import struct
import subprocess
import unittest

import archives
import dumps
from inbox_service import PYTHON, ROOT, TOKEN, InboxService, PrivatePostgres, stop_class_services, temporary_folder

APP = "dr20100201plugin_Drovan.exe"
TIME_STAMP = archives.DLL_TIME_STAMP
IMAGE_SIZE = 0x20000


def symbol_file(function="crash_here", line=42, padding=b""):
    """A stand-in for a PE with debug information: the fake walker reads
    the function from it."""
    return (b"MZ\x90\x00" + padding
            + f" function={function} file=c:\\src\\plugin.cpp line={line}\n".encode())


def form(fields, data, boundary="symbols-test-boundary"):
    body = b"".join(f'--{boundary}\r\nContent-Disposition: form-data; name="{name}"\r\n\r\n{value}\r\n'.encode()
                    for name, value in fields.items() if value is not None)
    body += (f'--{boundary}\r\nContent-Disposition: form-data; name="file"; filename="x"\r\n\r\n'.encode()
             + data + f"\r\n--{boundary}--\r\n".encode())
    return body, {"Content-Type": f"multipart/form-data; boundary={boundary}"}


def crash(dll, text, time_stamp=TIME_STAMP):
    """A good archive whose fault is in `dll`, built at `time_stamp`."""
    return archives.archive([
        ("CRASH.DMP", archives.minidump(modules=(("C:\\app\\plugin_Drovan.exe", 0x400000, 0x10000),
                                                 (f"C:\\app\\{dll}", archives.BASE, IMAGE_SIZE, time_stamp)))),
        ("CRASHLOG.TXT", archives.crash_log(module=dll, text=text))])


class SqliteSymbolsTest(unittest.TestCase):
    database = staticmethod(lambda folder: "")
    more_settings = ""
    in_database = False

    @classmethod
    def setUpClass(cls):
        cls.folder = temporary_folder("inbox_symbols_")
        cls.extras = []
        cls.inbox = InboxService(os.path.join(cls.folder, "inbox"), database=cls.database(cls.folder),
                                 settings="max_upload_mb = 1\nmax_symbol_mb = 2\n" + cls.more_settings, module="fake_walker")
        cls.inbox.__enter__()

    @classmethod
    def tearDownClass(cls):
        stop_class_services(cls)

    # Helpers

    def upload_symbols(self, module, data, time_stamp=f"0x{TIME_STAMP:x}", image_size=str(IMAGE_SIZE),
                       token=TOKEN, **more):
        """(status, JSON answer) of one symbol upload."""
        body, headers = form(dict(module=module, time_stamp=time_stamp, image_size=image_size, **more), data)
        if token:
            headers["Authorization"] = "Bearer " + token
        status, answer = self.inbox.request("POST", "/inbox/api/symbols", body, headers)
        return status, json.loads(answer)

    def stored_symbols(self):
        return {(s["name"], s["folder"]): s for s in self.inbox.api("/inbox/api/symbols")["symbols"]}

    def post(self, path):
        status, body = self.inbox.request("POST", path, b"", {"Authorization": "Bearer " + TOKEN})
        return status, json.loads(body) if body.startswith(b"{") else body

    def upload_report(self, data, install, app_ver=APP):
        status, body = self.inbox.upload(data, query=f"?install_id={install}", app_ver=app_ver)
        self.assertEqual((status, body), (200, b"<html>STATUS_REPORT_OK</html>"))
        digest = hashlib.sha256(data).hexdigest()
        [report] = [r for _, r in self.inbox.all_reports()
                    if r["archive_sha256"] == digest and r["install_id"] == install]
        return self.inbox.api(f"/inbox/api/reports/{report['id']}")["report"]

    def signatures_of(self, dll):
        return {(s["module"], s["module_offset"]): s for s in self.inbox.api("/inbox/api/signatures")["signatures"]
                if s["module"] == dll}

    def version_counts(self):
        rows = [(v["reports"], v["signatures"]) for v in self.inbox.api("/inbox/api/signatures")["versions"]
                if v["version"] == "dr20100201"]
        return rows[0] if rows else (0, 0)

    def walk_all_waiting(self):
        totals = {"walked": 0, "moved": 0, "failed": 0}
        while True:
            status, done = self.post("/inbox/api/symbols/walk")
            self.assertEqual(status, 200, done)
            for name in totals:
                totals[name] += done[name]
            if not done["remaining"]:
                return totals

    # Tests

    def test_only_token_holders_upload_list_and_walk(self):
        for token in (None, "wrong-token-wrong-token"):
            status, answer = self.upload_symbols("guarded.dll", symbol_file(), token=token)
            self.assertEqual((status, answer), (401, {"error": "the inbox token is required"}))
            headers = {"Authorization": "Bearer " + token} if token else {}
            for method, path in (("GET", "/inbox/api/symbols"), ("POST", "/inbox/api/symbols/walk"),
                                 ("POST", "/inbox/api/reports/1/walk"), ("POST", "/inbox/reports/1/walk")):
                self.assertEqual(self.inbox.request(method, path, b"", headers)[0], 401, path)
        self.assertNotIn("guarded.dll", {name for name, _ in self.stored_symbols()})
        self.assertEqual(self.post("/inbox/api/reports/999999/walk")[0], 404)

    def test_the_same_file_twice_is_stored_once_and_another_replaces_it_only_when_asked(self):
        first, second = symbol_file("first_build"), symbol_file("second_build")
        status, answer = self.upload_symbols("Twice.DLL", first)
        self.assertEqual(status, 201, answer)
        self.assertEqual(answer, {"module": "Twice.DLL", "time_stamp": TIME_STAMP, "image_size": IMAGE_SIZE,
                                  "folder": "6B19A26020000", "sha256": hashlib.sha256(first).hexdigest(),
                                  "size": len(first), "stored": True})
        # Windows names a module in any letter case; so does the store.
        status, again = self.upload_symbols("twice.dll", first, time_stamp=str(TIME_STAMP), image_size="0x20000")
        self.assertEqual((status, again["stored"], again["sha256"]), (200, False, answer["sha256"]))
        status, refused = self.upload_symbols("TWICE.dll", second)
        self.assertEqual((status, refused["sha256"]), (409, answer["sha256"]))
        self.assertIn("replace=yes", refused["error"])
        self.assertEqual(self.stored_symbols()[("Twice.DLL", "6B19A26020000")]["sha256"], answer["sha256"])
        status, replaced = self.upload_symbols("twice.dll", second, replace="yes")
        self.assertEqual((status, replaced["stored"], replaced["sha256"]),
                         (201, True, hashlib.sha256(second).hexdigest()))
        listed = [s for s in self.stored_symbols().values() if s["module"] == "twice.dll"]
        self.assertEqual([(s["sha256"], s["size"]) for s in listed], [(replaced["sha256"], len(second))])
        folder = os.path.join(self.inbox.folder, "data", "symbols", "twice.dll", "6B19A26020000")
        if self.in_database:
            self.assertFalse(os.path.exists(folder), "symbol files kept in the database went to disk as well")
        else:
            self.assertEqual(os.listdir(folder), [replaced["sha256"]], "the replaced file stayed beside the new one")
            with open(os.path.join(folder, replaced["sha256"]), "rb") as f:
                self.assertEqual(f.read(), second)

    def test_odd_names_and_keys_and_files_that_are_not_images_are_refused(self):
        before = self.stored_symbols()
        cases = {
            "a path": dict(module="../../escape.dll"),
            "a Windows path": dict(module="..\\escape.dll"),
            "a drive": dict(module="c:escape.dll"),
            "a dot folder": dict(module=".."),
            "a hidden name": dict(module=".incoming"),
            "an empty name": dict(module=""),
            "a long name": dict(module="m" * 129 + ".dll"),
            "a control character": dict(module="bad\x01.dll"),
            "a trailing dot": dict(module="bad.dll."),
            "a time stamp past 32 bits": dict(time_stamp="0x100000000"),
            "a negative time stamp": dict(time_stamp="-1"),
            "a time stamp in words": dict(time_stamp="yesterday"),
            "a decimal image size past 32 bits": dict(image_size="4294967296"),
            "an image size of 0": dict(image_size="0"),
            "no MZ header": dict(data=b"\x7fELF not a PE image"),
        }
        for case, change in cases.items():
            with self.subTest(case=case):
                fields = dict(module="odd.dll", data=symbol_file(), time_stamp="0x6B19A260", image_size="0x20000")
                fields.update(change)
                status, answer = self.upload_symbols(fields.pop("module"), fields.pop("data"), **fields)
                self.assertEqual((status, answer["reason"]), (400, "malformed_form"), answer)
        status, answer = self.upload_symbols("odd.dll", symbol_file(), image_size=None)
        self.assertEqual((status, answer["reason"]), (400, "malformed_form"))
        self.assertEqual(self.stored_symbols(), before)
        data = os.path.join(self.inbox.folder, "data")
        self.assertNotIn("odd.dll", os.listdir(os.path.join(data, "symbols")))
        self.assertEqual([os.path.join(folder, name) for folder, _, names in os.walk(self.inbox.folder)
                          for name in names if "escape" in name], [])
        self.assertEqual(os.listdir(os.path.join(data, "symbols", ".incoming")), [])

    def test_a_file_past_the_limit_is_refused_and_nothing_of_it_stays(self):
        # max_upload_mb = 1, max_symbol_mb = 2: a body past its path's limit
        # (the file and 1 MiB for the form's lines) is refused from its head,
        # so a report may not be as large as a symbol file.
        # Without the token a symbol upload is held to a report's limit.
        for path, announced, token in (("/faultpost/submit", (5 << 20) // 2, TOKEN),
                                       ("/inbox/api/symbols", (7 << 20) // 2, TOKEN),
                                       ("/inbox/api/symbols", (5 << 20) // 2, "not" + TOKEN)):
            with socket.create_connection(("127.0.0.1", self.inbox.port), timeout=10) as connection:
                connection.sendall(f"POST {path} HTTP/1.0\r\nAuthorization: Bearer {token}\r\n"
                                   "Content-Type: multipart/form-data; boundary=b\r\n"
                                   f"Content-Length: {announced}\r\n\r\n".encode())
                self.assertIn(b" 413 ", connection.recv(4096).split(b"\r\n")[0], path)
        status, answer = self.upload_symbols("large.dll", symbol_file(padding=bytes((2 << 20) + 1000)))
        self.assertEqual((status, answer["reason"]), (413, "too_large"))
        status, answer = self.upload_symbols("large.dll", symbol_file(padding=bytes((2 << 20) - 1000)))
        self.assertEqual(status, 201, answer)
        self.assertEqual(os.listdir(os.path.join(self.inbox.folder, "data", "symbols", ".incoming")), [])

    def test_a_release_uploads_its_symbol_store_folder_with_the_command(self):
        store = os.path.join(self.folder, "release-symbols")
        files = {("plugin_Cmd.dll", "6B19A2601D000"): symbol_file("cmd_one"),
                 ("cmd_helper.exe", "5A0000013000"): symbol_file("cmd_two")}

        def lay_out(entries):
            for (name, key), data in entries.items():
                os.makedirs(os.path.join(store, name, key), exist_ok=True)
                with open(os.path.join(store, name, key, name), "wb") as f:
                    f.write(data)

        def command(*arguments, token_file=True, token=TOKEN):
            token_path = os.path.join(self.folder, "release-token")
            with open(token_path, "w") as f:
                f.write(token + "\n")
            # -S: without the distribution's packages, as on a release
            # machine that has Python and nothing of the service.
            done = subprocess.run([PYTHON, "-S", "-m", "report_inbox", "upload-symbols", "--url", self.inbox.url("/")]
                                  + (["--token-file", token_path] if token_file else []) + list(arguments) + [store],
                                  env=dict(os.environ, PYTHONPATH=os.path.join(ROOT, "inbox"),
                                           REPORT_INBOX_TOKEN="" if token_file else token),
                                  capture_output=True, text=True, timeout=60)
            return done.returncode, sorted(done.stdout.splitlines()), done.stderr

        lay_out(files)
        self.assertEqual(command(), (0, ["cmd_helper.exe/5A0000013000/cmd_helper.exe: stored",
                                         "plugin_Cmd.dll/6B19A2601D000/plugin_Cmd.dll: stored"], ""))
        listed = self.stored_symbols()
        # The store's folders name the image size in lower case, and are read in any.
        self.assertEqual((listed[("plugin_Cmd.dll", "6B19A2601d000")]["time_stamp"],
                          listed[("plugin_Cmd.dll", "6B19A2601d000")]["image_size"]), (0x6B19A260, 0x1D000))
        self.assertEqual(listed[("cmd_helper.exe", "5A0000013000")]["sha256"],
                         hashlib.sha256(files[("cmd_helper.exe", "5A0000013000")]).hexdigest())
        # Again, the token from the environment: nothing new.
        self.assertEqual(command(token_file=False)[:2], (0, [
            "cmd_helper.exe/5A0000013000/cmd_helper.exe: already there",
            "plugin_Cmd.dll/6B19A2601D000/plugin_Cmd.dll: already there"]))
        # A rebuilt file for a stored build, and a folder that names no build.
        lay_out({("plugin_Cmd.dll", "6B19A2601D000"): symbol_file("cmd_rebuilt"),
                 ("cmd_odd.dll", "NOTAKEY"): symbol_file()})
        status, lines, _ = command()
        self.assertEqual(status, 1)
        self.assertEqual(lines[0], "cmd_helper.exe/5A0000013000/cmd_helper.exe: already there")
        self.assertTrue(lines[1].startswith("cmd_odd.dll/NOTAKEY/cmd_odd.dll: refused: "), lines)
        self.assertTrue(lines[2].startswith("plugin_Cmd.dll/6B19A2601D000/plugin_Cmd.dll: refused: 409 "), lines)
        shutil.rmtree(os.path.join(store, "cmd_odd.dll"))
        status, lines, _ = command("--replace")
        self.assertEqual((status, lines[1]), (0, "plugin_Cmd.dll/6B19A2601D000/plugin_Cmd.dll: stored"))
        status, lines, _ = command(token="wrong-token-wrong-token")
        self.assertEqual(status, 1)
        self.assertTrue(all(": refused: 401 " in line for line in lines), lines)

    def test_reports_walked_again_move_to_the_signature_their_symbols_name_with_counts_kept_right(self):
        dll = "plugin_Walk.dll"
        reports_before, signatures_before = self.version_counts()
        first = self.upload_report(crash(dll, "first"), "install1")
        second = self.upload_report(crash(dll, "second"), "install1")
        third = self.upload_report(crash(dll, "third"), "install2")
        unknown = self.upload_report(crash(dll, "unknown"), "install3", app_ver="dr1other.exe")
        # Filed by the offset while the module has no symbols.
        [offset_signature] = self.signatures_of(dll).values()
        self.assertEqual((offset_signature["module_offset"], offset_signature["report_count"],
                          offset_signature["install_count"]), ("0x2c86", 3, 2))
        self.assertEqual([(k["name"], k["folder"]) for k in first["stack"]["symbols_missing"]],
                         [(dll, "6B19A26020000"), ("plugin_Drovan.exe", "0000000010000")])
        self.assertEqual(first["stack"]["frames"][0]["place"], f"{dll}+0x2c86")
        self.assertEqual(self.version_counts(), (reports_before + 3, signatures_before + 1))

        # Uploading symbols moves nothing by itself.
        self.assertEqual(self.upload_symbols(dll, symbol_file("crash_here"))[0], 201)
        self.assertEqual(list(self.signatures_of(dll)), [(dll, "0x2c86")])

        status, walked = self.post(f"/inbox/api/reports/{first['id']}/walk")
        self.assertEqual((status, walked["moved"], walked["old_signature_id"]), (200, True, offset_signature["id"]))
        self.assertEqual(walked["stack"]["frames"][0]["function"], "crash_here")
        signatures = self.signatures_of(dll)
        counts = {place: (s["report_count"], s["install_count"]) for place, s in signatures.items()}
        # install1 still has a report under the offset, so it counts there too.
        self.assertEqual(counts, {(dll, "0x2c86"): (2, 2), (dll, "crash_here"): (1, 1)})
        self.assertEqual(signatures[(dll, "crash_here")]["id"], walked["signature_id"])
        self.assertEqual(self.version_counts(), (reports_before + 3, signatures_before + 2))
        # Walking it once more changes nothing.
        status, again = self.post(f"/inbox/api/reports/{first['id']}/walk")
        self.assertEqual((status, again["moved"], again["signature_id"]), (200, False, walked["signature_id"]))

        # The rest waiting for this module's symbols, in one go; the
        # unknown applications' report gains its stack but stays where it is.
        totals = self.walk_all_waiting()
        self.assertGreaterEqual((totals["walked"], totals["moved"]), (3, 2))
        signatures = self.signatures_of(dll)
        self.assertEqual({place: (s["report_count"], s["install_count"]) for place, s in signatures.items()},
                         {(dll, "crash_here"): (3, 2)}, "the emptied signature stayed, or counts went wrong")
        self.assertEqual(self.inbox.api(f"/inbox/api/signatures/{offset_signature['id']}")[0], 404)
        self.assertEqual(self.version_counts(), (reports_before + 3, signatures_before + 1))
        for report in (second, third):
            moved = self.inbox.api(f"/inbox/api/reports/{report['id']}")["report"]
            self.assertEqual(moved["signature_id"], walked["signature_id"])
            self.assertEqual([k["name"] for k in moved["stack"]["symbols_missing"]], ["plugin_Drovan.exe"])
        kept = self.inbox.api(f"/inbox/api/reports/{unknown['id']}")["report"]
        self.assertEqual((kept["signature_id"], kept["stack"]["frames"][0]["function"]),
                         (unknown["signature_id"], "crash_here"))
        self.assertEqual(self.post("/inbox/api/symbols/walk")[1]["walked"], 0, "walked reports still wait")

        # A report arriving now is filed by its function at once, and a
        # build of the module without symbols still by its offset.
        later = self.upload_report(crash(dll, "later"), "install4")
        self.assertEqual(later["signature_id"], walked["signature_id"])
        other_build = self.upload_report(crash(dll, "other build", time_stamp=TIME_STAMP + 1), "install4")
        self.assertEqual(self.inbox.api(f"/inbox/api/signatures/{other_build['signature_id']}")["signature"]
                         ["module_offset"], "0x2c86")
        if self.in_database:
            cache = os.path.join(self.inbox.folder, "data", "symbol-cache")
            self.assertIn(hashlib.sha256(symbol_file("crash_here")).hexdigest(), os.listdir(cache))

    def test_the_report_page_walks_again_from_its_button(self):
        dll = "plugin_Page.dll"
        report = self.upload_report(crash(dll, "page"), "install5")
        headers = {"Authorization": "Bearer " + TOKEN}
        status, page = self.inbox.request("GET", f"/inbox/reports/{report['id']}", headers=headers)
        self.assertIn(f"<code>{dll} 6B19A26020000</code>".encode(), page)
        self.upload_symbols(dll, symbol_file("page_crash"))
        status, _, answer_headers = self.inbox.request("POST", f"/inbox/reports/{report['id']}/walk",
                                                       headers=headers, with_headers=True)
        self.assertEqual((status, answer_headers["Location"]), (302, f"/inbox/reports/{report['id']}"))
        status, page = self.inbox.request("GET", f"/inbox/reports/{report['id']}", headers=headers)
        self.assertIn(b"<code>page_crash</code>", page)
        self.assertIn(f'{dll}: <span class="functions">page_crash</span>'.encode(), page)


class PostgresSymbolsTest(SqliteSymbolsTest):
    more_settings = "archives = database\n"
    in_database = True

    @classmethod
    def database(cls, folder):
        postgres = PrivatePostgres(os.path.join(folder, "postgres")).__enter__()
        cls.extras.append(postgres)
        return postgres.address()


class RealWalkerTest(unittest.TestCase):
    """The service with its own walker, on a dump with a thread, its
    registers and its stack: the stack it walks is kept and shown, and a
    symbol file it cannot use leaves the report walked, not waiting."""

    def setUp(self):
        folder = temporary_folder("inbox_real_walk_")
        self.addCleanup(shutil.rmtree, folder, True)
        self.inbox = InboxService(os.path.join(folder, "inbox")).__enter__()
        self.addCleanup(self.inbox.__exit__)

    def test_the_walkers_stack_is_kept_and_a_symbol_file_it_cannot_read_ends_the_wait(self):
        stack_start, fault = 0x10000, archives.BASE + archives.OFFSET
        memory = bytearray(0x1000)
        struct.pack_into("<II", memory, 0x100, 0, archives.BASE + 0x3000)  # saved frame pointer, return address
        dump = dumps.minidump("x86", {"eip": fault, "esp": stack_start + 0x80, "ebp": stack_start + 0x100},
                              stack_start, bytes(memory),
                              [("C:\\app\\plugin_Drovan.exe", 0x400000, 0x10000, 0),
                               ("C:\\app\\plugin_Drovan.dll", archives.BASE, IMAGE_SIZE, TIME_STAMP)])
        self.assertEqual(self.inbox.upload(archives.archive([("CRASH.DMP", dump),
                                                             ("CRASHLOG.TXT", archives.crash_log())]))[0], 200)
        [(signature, listed)] = self.inbox.all_reports()
        self.assertEqual(signature["module_offset"], "0x2c86")
        stack = self.inbox.api(f"/inbox/api/reports/{listed['id']}")["report"]["stack"]
        self.assertEqual([(f["place"], f["trust"]) for f in stack["frames"]],
                         [("plugin_Drovan.dll+0x2c86", "context"), ("plugin_Drovan.dll+0x3000", "frame_pointer")])
        self.assertEqual([(k["name"], k["folder"]) for k in stack["symbols_missing"]],
                         [("plugin_Drovan.dll", "6B19A26020000")])
        status, page = self.inbox.request("GET", f"/inbox/reports/{listed['id']}",
                                          headers={"Authorization": "Bearer " + TOKEN})
        self.assertIn(b"plugin_Drovan.dll+0x3000", page)

        body, headers = form({"module": "plugin_Drovan.dll", "time_stamp": str(TIME_STAMP),
                              "image_size": str(IMAGE_SIZE)}, b"MZ" + bytes(200))
        headers["Authorization"] = "Bearer " + TOKEN
        self.assertEqual(self.inbox.request("POST", "/inbox/api/symbols", body, headers)[0], 201)
        walk = {"Authorization": "Bearer " + TOKEN}
        status, done = self.inbox.request("POST", "/inbox/api/symbols/walk", b"", walk)
        self.assertEqual((status, json.loads(done)), (200, {"walked": 1, "moved": 0, "failed": 0, "remaining": 0}))
        status, done = self.inbox.request("POST", "/inbox/api/symbols/walk", b"", walk)
        self.assertEqual(json.loads(done)["walked"], 0, "a report whose symbols cannot help waits for ever")
        self.assertEqual(self.inbox.all_reports()[0][0]["id"], signature["id"])


if __name__ == "__main__":
    unittest.main()
