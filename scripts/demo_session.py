#!/usr/bin/env python3
"""The demo's session, after scripts/demo has built BUILD_DIR:

    demo_session.py BUILD_DIR

Runs everything in a Wine prefix and an Xvfb display of its own, in
build/demo/, and ends every process it started.
"""
import io
import json
import os
import secrets
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
from wine_loader import loader_for, windows_path  # noqa: E402

sys.path.insert(0, os.path.join(ROOT, "tests", "reporter"))
from run_reporter_tests import bitmap_to_png  # noqa: E402

APP_ARGUMENT = "dr20100201plugin_Drovan.exe"
INSTALL_ID = "d3m0d3m0d3m0d3m0d3m0d3m0d3m0d3m0"


class Demo:
    def __init__(self, build):
        self.build = os.path.abspath(build)
        self.bin = os.path.join(self.build, "bin")
        self.work = os.path.join(ROOT, "build", "demo")
        self.loader = loader_for(os.path.join(self.bin, "plugin_Drovan.exe"))
        self.server_bin = self.loader.replace("wine64", "wineserver64") if self.loader.endswith("64") \
            else "/usr/lib/wine/wineserver"
        self.processes = []
        self.steps = []
        self.env = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d",
                        WINEPREFIX=os.path.join(self.build, "demo-prefix"), WINELOADER=self.loader,
                        WINESERVER=self.server_bin)

    # --- transcript ---------------------------------------------------------
    def step(self, ok, text):
        self.steps.append(ok)
        print(("  ok   " if ok else "  FAIL ") + text, flush=True)
        return ok

    def say(self, text):
        print("       " + text, flush=True)

    # --- processes ----------------------------------------------------------
    def start(self, command, **kwargs):
        kwargs.setdefault("env", self.env)
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, **kwargs)
        self.processes.append(process)
        return process

    def wine(self, *args, timeout=120):
        # Output to a file, not a pipe: programs this one starts (the
        # reporter, started by the host) would hold a pipe open after it ends.
        errors = os.path.join(self.work, "wine-errors.log")
        with open(errors, "w") as err:
            done = subprocess.run([self.loader, *args], env=self.env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=err, timeout=timeout)
        done.stderr = open(errors, errors="replace").read()
        return done

    def stop_all(self):
        subprocess.run([self.server_bin, "-k"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for process in reversed(self.processes):
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)
                try:
                    process.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    process.kill()

    def wait_for(self, condition, seconds):
        end = time.time() + seconds
        while time.time() < end:
            if condition():
                return True
            time.sleep(0.2)
        return condition()

    # --- the session --------------------------------------------------------
    def prepare(self):
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        for name in ("plugin_Drovan.exe", "Faultpost.exe", "plugin_Drovan.dll"):
            shutil.copy(os.path.join(self.bin, name), self.work)
        # The sample plug-in: items of 120 bytes reported in 40-byte chunks;
        # slot 39 (method 8 of the host's interface) faults on request.
        with open(os.path.join(self.work, "plugin_Drovan.control"), "w") as f:
            f.write("data_size=120\nchunk=40\nevent_on_add=0\ncrash_slot=39\n")
        with open(os.path.join(self.work, "Orbwell.xml"), "w") as f:
            f.write(f"<Orbwell><ClientInstallID>{INSTALL_ID}</ClientInstallID></Orbwell>")

        display = 90
        while os.path.exists(f"/tmp/.X{display}-lock"):
            display += 1
        self.start(["Xvfb", f":{display}", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.env["DISPLAY"] = f":{display}"
        os.makedirs(self.env["WINEPREFIX"], exist_ok=True)
        subprocess.run([self.server_bin, "-k"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # A server that is still ending refuses a new one for a moment.
        for _ in range(50):
            if subprocess.run([self.server_bin, "-p"], env=self.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0:
                break
            time.sleep(0.1)
        subprocess.run([self.loader, "wineboot"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)

        # The report inbox, on Debian's own Python, which sees its packages.
        inbox = os.path.join(self.work, "inbox")
        os.makedirs(inbox)
        with open(os.path.join(inbox, "inbox.ini"), "w") as f:
            f.write("[service]\nlisten = 127.0.0.1:0\ndata_dir = data\n"
                    "update_page = https://example.com/drovan/?app={app_id}&lang={lang}\n\n"
                    "[application plugin_Drovan.exe]\ncurrent_version = dr20100201\n")
        self.token = secrets.token_urlsafe(18)
        port_file = os.path.join(inbox, "port")
        with open(os.path.join(inbox, "service.log"), "w") as log:
            self.start(["/usr/bin/python3", "-m", "report_inbox", "--config", os.path.join(inbox, "inbox.ini"),
                        "--port-file", port_file],
                       env=dict(self.env, PYTHONPATH=os.path.join(ROOT, "inbox"), REPORT_INBOX_TOKEN=self.token),
                       stdout=log, stderr=log)
        if not self.wait_for(lambda: os.path.exists(port_file), 20):
            return self.step(False, "the report inbox did not start; see build/demo/inbox/service.log")
        port = open(port_file).read().strip()
        self.inbox = f"http://127.0.0.1:{port}"
        self.env["DROVAN_REPORT_ENDPOINT"] = f"{self.inbox}/faultpost/submit"
        self.env["DROVAN_REPORT_SITE"] = self.inbox
        self.step(True, f"report inbox listening on {self.inbox} (SQLite in build/demo/inbox/data)")
        return self.upload_symbols()

    def upload_symbols(self):
        """The build's modules with their DWARF, laid out as a release's
        symbols folder and uploaded as a release script would."""
        folder = os.path.join(self.work, "symbols")
        subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "symbols_folder.py"), folder]
                       + [os.path.join(self.bin, name) for name in ("plugin_Drovan.exe", "plugin_Drovan.dll",
                                                                    "Faultpost.exe")],
                       check=True, stdout=subprocess.DEVNULL, timeout=60)
        upload = subprocess.run(["/usr/bin/python3", "-m", "report_inbox", "upload-symbols", "--url", self.inbox,
                                 folder], env=dict(self.env, PYTHONPATH=os.path.join(ROOT, "inbox"),
                                                   REPORT_INBOX_TOKEN=self.token),
                                capture_output=True, text=True, timeout=120, stdin=subprocess.DEVNULL)
        for line in upload.stdout.splitlines():
            self.say(line)
        return self.step(upload.returncode == 0, "the build's symbols were uploaded to the inbox"
                         + ("" if upload.returncode == 0 else ": " + upload.stderr.strip()[-300:]))

    def client_session(self):
        script = os.path.join(self.work, "client.script")
        with open(script, "w") as f:
            f.write("start\n"
                    "call 0 str:magnet:?xt=urn:demo:drovan i32:7\n"
                    "wait 5 1 5000\n"
                    "wait 3 3 5000\n"
                    "call 7\n"
                    "wait 7 1 5000\n"
                    "call 8\n"
                    "host_exit 15000\n")
        log = os.path.join(self.work, "client.log")
        done = self.wine(os.path.join(self.bin, "client_sim.exe"), "--host",
                         windows_path(os.path.join(self.work, "plugin_Drovan.exe")), "--log", windows_path(log),
                         windows_path(script), timeout=90)
        lines = open(log).read().splitlines() if os.path.exists(log) else []
        if not lines:
            self.say(f"client_sim ended with {done.returncode}: {done.stderr.strip()[-500:]}")

        def has(prefix):
            return [line for line in lines if line.startswith(prefix)]

        self.step("ready" in lines, "client_sim started plugin_Drovan.exe /host and the host set its ready event")
        self.step("reply 0 status 0" in lines, "client_sim asked the host to add magnet:?xt=urn:demo:drovan")
        new_item = has("notify 5 ")
        if self.step(bool(new_item), "the plug-in added it; the client was told its new item id"):
            fields = new_item[0].split()
            self.say(f"item id {int.from_bytes(bytes.fromhex(fields[2]), 'little')},"
                     f" cookie {int.from_bytes(bytes.fromhex(fields[3]), 'little')}")
        chunks = has("notify 3 ")
        if self.step(len(chunks) >= 3, "progress notifications arrived, one chunk each"):
            for line in chunks:
                fields = line.split()
                data = bytes.fromhex(fields[3])
                self.say(f"{len(data)} bytes at {int.from_bytes(bytes.fromhex(fields[4]), 'little')}: "
                         f"{data[:24].decode('latin-1')}...")
        listed = has("notify 7 ")
        if self.step(bool(listed), "the item list arrived"):
            raw = bytes.fromhex(listed[0].split()[2])
            self.say(f"{int.from_bytes(raw[12:16], 'little')} item(s), {len(raw)} bytes serialised")
        self.step("host exit 100" in lines, "the plug-in faulted on request; the host ended with exit code 100")
        return done.returncode == 0

    def crash_files(self):
        names = ["CRASH.DMP", "CRASHLOG.TXT", "CRASHLOG.DAT"]
        present = all(os.path.exists(os.path.join(self.work, n)) for n in names)
        self.step(present, "the host wrote CRASH.DMP, CRASHLOG.TXT and CRASHLOG.DAT beside itself")
        if present:
            text = open(os.path.join(self.work, "CRASHLOG.TXT"), "rb").read().decode("utf-16")
            for line in text.splitlines()[:2]:
                self.say(line.strip())

    def reporter(self):
        shot = os.path.join(self.work, "report_dialog.bmp")
        found = self.wine(os.path.join(self.bin, "window_shot.exe"), APP_ARGUMENT, windows_path(shot), "20000")
        self.step(found.returncode == 0, "the host started Faultpost.exe; its report dialog counts down to sending")
        arrived = self.wait_for(lambda: bool(self.inbox_reports()), 40)
        if self.step(arrived, "the dialog sent the report; the inbox stored it and answered STATUS_REPORT_OK"):
            listed_signature, listed = self.inbox_reports()[0]
            # What the transcript shows comes from the inbox's documented
            # JSON views; a field they no longer carry is a failed step.
            signature = self.fields(listed_signature, "signature", "application", "version", "exception_code",
                                    "module", "module_offset")
            report = self.fields(self.get(f"/inbox/api/reports/{listed['id']}").get("report") or {}, "report",
                                 "id", "app_ver", "install_id", "file_name", "archive_size", "archive_sha256",
                                 "crash_log", "problems")
            if signature is None or report is None:
                return
            # The place is an offset, or the top frames' functions once the
            # module's symbols named them.
            place = signature["module_offset"]
            where = f"+{place}" if place.startswith("0x") else f": {place}"
            self.say(f"filed under {signature['application']} {signature['version']}: "
                     f"{signature['exception_code']} in {signature['module']}{where}")
            for key in ("app_ver", "install_id", "file_name", "archive_size", "archive_sha256"):
                self.say(f"{key}: {report[key]}")
            log_lines = report["crash_log"].splitlines()
            self.say("crash log: " + log_lines[1].strip() if len(log_lines) > 1 else
                     "crash log: (unreadable) " + report["problems"])
            download = urllib.request.Request(f"{self.inbox}/inbox/reports/{report['id']}/archive",
                                              headers={"Authorization": "Bearer " + self.token})
            with urllib.request.urlopen(download, timeout=10) as answer:
                stored = answer.read()
            with zipfile.ZipFile(io.BytesIO(stored)) as archive:
                for entry in archive.infolist():
                    self.say(f"archive entry {entry.filename}: {entry.file_size} bytes"
                             f" ({entry.compress_size} packed)")
                bad = archive.testzip()
            same = stored == open(os.path.join(self.work, "CRASH.ZIP"), "rb").read()
            self.step(bad is None and same and signature["module"] == "plugin_Drovan.dll",
                      "the inbox filed it under the plug-in's fault; its archive downloads byte for byte")
            self.show_stack(self.get(f"/inbox/api/reports/{report['id']}").get("report") or {})
            self.inbox_screenshot()
            self.inbox_screenshot(f"/inbox/reports/{report['id']}", "inbox_report.png", "the report and its stack",
                                 "1100,1800")
        self.wine(os.path.join(self.bin, "window_shot.exe"), APP_ARGUMENT,
                  windows_path(os.path.join(self.work, "report_result.bmp")), "5000")

    def get(self, path):
        request = urllib.request.Request(self.inbox + path, headers={"Authorization": "Bearer " + self.token})
        with urllib.request.urlopen(request, timeout=10) as answer:
            return json.load(answer)

    def inbox_reports(self):
        """(signature, report) pairs the inbox lists, newest signature first."""
        found = []
        for signature in self.get("/inbox/api/signatures").get("signatures", []):
            found += [(signature, r) for r in self.get(f"/inbox/api/signatures/{signature['id']}").get("reports", [])]
        return found

    def fields(self, record, what, *names):
        """`record` when it has every one of `names`, else None and a failed step."""
        missing = [name for name in names if name not in record]
        if missing:
            self.step(False, f"the inbox's {what} lacks {', '.join(missing)}: the demo cannot show it")
            return None
        return record

    def show_stack(self, report):
        stack = report.get("stack") or {}
        frames = stack.get("frames") or []
        for index, frame in enumerate(frames[:6]):
            where = f"{os.path.basename(frame.get('file', ''))}:{frame.get('line')}" if frame.get("file") else ""
            self.say(f"frame {index}: {frame.get('place')} {frame.get('function') or '?'} {where}"
                     f" [{frame.get('trust')}]")
        top = frames[0] if frames else {}
        self.step(top.get("module") == "plugin_Drovan.dll" and bool(top.get("function"))
                  and top.get("file", "").endswith("sample_plugin.cpp")
                  and any(f.get("module") == "plugin_Drovan.exe" and f.get("function") for f in frames),
                  "the inbox walked the faulting thread's stack and named it, from the host down to the"
                  " plug-in's function")

    def inbox_screenshot(self, page="/inbox/", name="inbox.png", what="the inbox", size="1100,800"):
        if not os.path.exists("/usr/bin/chromium"):
            return
        shot = os.path.join(self.work, name)
        subprocess.run(["/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                        "--disable-background-networking", "--disable-component-update", "--disable-sync",
                        f"--user-data-dir={os.path.join(self.work, 'chromium')}", f"--window-size={size}",
                        f"--screenshot={shot}", f"{self.inbox}{page}?token={self.token}"],
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        self.say(f"{what}: {self.inbox}{page} (token {self.token}), screenshot build/demo/{name}")

    def restart(self):
        calls = os.path.join(self.work, "plugin_Drovan.calls")

        def loads():
            return open(calls).read().splitlines().count("fill") if os.path.exists(calls) else 0

        self.step(self.wait_for(lambda: loads() >= 2, 20),
                  "the reporter's exit countdown ended and it restarted the host, which loaded the plug-in again")

    def screenshots(self):
        for name in ("report_dialog", "report_result"):
            bitmap = os.path.join(self.work, name + ".bmp")
            if os.path.exists(bitmap):
                bitmap_to_png(bitmap, bitmap[:-4] + ".png")
        shots = sorted(f for f in os.listdir(self.work) if f.endswith(".png"))
        self.step(bool(shots), "screenshots saved: " + ", ".join("build/demo/" + s for s in shots))

    def run(self):
        begun = time.time()
        try:
            if self.prepare():
                self.client_session()
                self.crash_files()
                self.reporter()
                self.restart()
                self.screenshots()
        finally:
            self.stop_all()
        ok = self.steps and all(self.steps)
        print(f"{'Every step happened' if ok else 'Some steps did not happen'}"
              f" ({time.time() - begun:.0f} s); everything the demo started has been stopped.")
        return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(Demo(sys.argv[1]).run())
