#!/usr/bin/env python3
"""CRASH.DMP read by a reader we did not write: the test program faults
with a null write, and `winedump dump` must show an exception stream with
the access violation's code and the faulting thread's id.

    check_minidump.py CRASH_TEST_PROGRAM_EXE FAULTPOST_STAND_IN_EXE
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from wine_loader import loader_for  # noqa: E402


def main():
    program, stand_in = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp(prefix="minidump_")
    try:
        shutil.copy(program, os.path.join(work, "crash_test_program.exe"))
        shutil.copy(stand_in, os.path.join(work, "Faultpost.exe"))
        exe = os.path.join(work, "crash_test_program.exe")
        run = subprocess.run([loader_for(exe), exe, "null_write"], capture_output=True, text=True,
                             timeout=120, stdin=subprocess.DEVNULL)
        if run.returncode != 100:
            print("exit code", run.returncode, "not 100:", run.stdout, run.stderr[-2000:])
            return 1
        thread = int(re.search(r"thread (\d+)", run.stdout).group(1))
        dump = subprocess.run(["winedump", "dump", os.path.join(work, "CRASH.DMP")], capture_output=True,
                              text=True, errors="replace", timeout=120)
        stream = dump.stdout[dump.stdout.find(": Exception:"):]
        if ": Exception:" not in dump.stdout:
            print("no exception stream in the dump")
            return 1
        checks = {
            "thread": re.search(r"ThreadId: 0x([0-9a-f]+)", stream),
            "code": re.search(r"ExceptionCode: 0x([0-9a-f]+)", stream),
        }
        if not all(checks.values()):
            print("exception stream without thread or code:", stream[:800])
            return 1
        if int(checks["thread"].group(1), 16) != thread or int(checks["code"].group(1), 16) != 0xC0000005:
            print(f"stream names thread 0x{checks['thread'].group(1)} code 0x{checks['code'].group(1)};"
                  f" expected thread {thread} code 0xc0000005")
            return 1
        print(f"exception stream: code 0xc0000005, thread {thread}")
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
