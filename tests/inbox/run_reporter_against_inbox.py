#!/usr/bin/env python3
"""Runs one case of reporter_tests.exe under Wine with the report inbox as
its server, then checks on the inbox's side what arrived.

    run_reporter_against_inbox.py REPORTER_TESTS_EXE CASE [LOCALE FOLDER]

The reporter's sandbox gets a crash of a known signature (a minidump and a
crash log built here) instead of the test's stand-in files. Cases that send
must leave exactly that report, filed under that signature, its archive
byte for byte the reporter's CRASH.ZIP; the others must leave none. With
LOCALE and FOLDER the reporter runs under that Linux locale (zh_CN.UTF-8: a
Chinese Windows, code page 936; en_US.UTF-8: an English one, 1252) from a
folder of that name beside the tests, which the form's file name carries
in the code page's bytes.
"""
import hashlib
import os
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from wine_loader import run_windows_program, windows_path  # noqa: E402

import archives  # noqa: E402
from inbox_service import TOKEN, InboxService, temporary_folder  # noqa: E402

SENDS = {"TheCountdownSendsOnTheEleventhTickAndTheReportArrivesWhole"}
SIGNATURE = ("plugin_Drovan.exe", "dr20100201", "0xc0000005", "plugin_Drovan.dll", "0x2c86")


def check_inbox(inbox, case, sandbox):
    """Problems found on the inbox's side, as text."""
    reports = [(tuple(signature[k] for k in ("application", "version", "exception_code", "module", "module_offset")),
                report) for signature, report in inbox.all_reports()]
    if case not in SENDS:
        return [f"{len(reports)} reports arrived, none was expected"] if reports else []
    if len(reports) != 1:
        return [f"{len(reports)} reports arrived, one was expected"]
    problems = []
    key, report = reports[0]
    if key != SIGNATURE:
        problems.append(f"filed under {key}, not {SIGNATURE}; problems: {report['problems']!r}")
    with open(os.path.join(sandbox, "CRASH.ZIP"), "rb") as f:
        sent = f.read()
    if report["archive_sha256"] != hashlib.sha256(sent).hexdigest():
        problems.append("the stored archive is not the reporter's CRASH.ZIP")
    status, stored = inbox.request("GET", f"/inbox/reports/{report['id']}/archive",
                                   headers={"Authorization": "Bearer " + TOKEN})
    if status != 200 or stored != sent:
        problems.append(f"the archive downloads as {len(stored)} bytes with status {status}")
    if report["app_ver"] != "dr20100201plugin_Drovan.exe" or report["install_id"] != "0123456789abcdef" * 2:
        problems.append(f"fields arrived as {report['app_ver']!r}, {report['install_id']!r}")
    if "It broke while adding a caf\u00e9 link" not in report["user_msg"] and "添加链接时崩溃了" not in report["user_msg"]:
        problems.append(f"the user's text arrived as {report['user_msg']!r}")
    return problems


def main():
    exe, case = sys.argv[1], sys.argv[2]
    locale, sandbox_name = (sys.argv[3], sys.argv[4]) if len(sys.argv) > 4 else (None, "reporter sandbox")
    folder = temporary_folder("reporter_inbox_")
    try:
        sample = os.path.join(folder, "sample")
        os.makedirs(sample)
        with open(os.path.join(sample, "CRASH.DMP"), "wb") as f:
            f.write(archives.minidump())
        with open(os.path.join(sample, "CRASHLOG.TXT"), "wb") as f:
            f.write(archives.crash_log(text=""))
        # An out-of-date reporter: the inbox knows a newer version.
        current = "dr20991231" if "OutOfDate" in case else "dr20100201"
        with InboxService(os.path.join(folder, "inbox"), current_version=current) as inbox:
            env = dict(os.environ, DROVAN_REPORT_ENDPOINT=inbox.url("/faultpost/submit"),
                       DROVAN_REPORT_SITE=inbox.url(""), REPORT_SAMPLE_DIR=windows_path(sample))
            env.pop("REPORT_STATE_DIR", None)
            if locale:
                env["LC_ALL"] = locale
                env["REPORTER_SANDBOX"] = sandbox_name
            done = run_windows_program([exe, f"--gtest_filter=FaultpostDialogTest.{case}"], env, 280)
            print(done.stdout, end="")
            print(done.stderr[-3000:], end="", file=sys.stderr)
            ok = done.returncode == 0 and "[  PASSED  ] 1 test" in done.stdout
            sandbox = os.path.join(os.path.dirname(exe), *sandbox_name.split("\\"))
            problems = check_inbox(inbox, case, sandbox)
            for problem in problems:
                print("inbox: " + problem)
            if not ok or problems:
                print("--- inbox log ---\n" + inbox.log()[-3000:])
            return 0 if ok and not problems else 1
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
