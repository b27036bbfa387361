#!/usr/bin/env python3
"""Runs submit_tests.exe under Wine against a fresh loopback report server.

    run_submit_tests.py SUBMIT_TESTS_EXE REPORT_SERVER_PY [GTEST_FILTER]

Each test case runs in its own Wine process with an empty state directory,
so the server's request numbering starts at 1 for every case.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "support"))
from wine_loader import loader_for, run_windows_program, windows_path  # noqa: E402


def list_tests(exe):
    out = subprocess.run([loader_for(exe), exe, "--gtest_list_tests"], capture_output=True, text=True,
                         timeout=120, stdin=subprocess.DEVNULL).stdout
    tests, suite = [], ""
    for line in out.splitlines():
        if not line.strip() or line.startswith(" " * 4):
            continue
        if not line.startswith(" "):
            suite = line.strip()
        else:
            tests.append(suite + line.strip().split()[0])
    return tests


def run_case(exe, server, name):
    state = tempfile.mkdtemp(prefix="submit_state_")
    proc = subprocess.Popen([sys.executable, server, state, "--lifetime", "400"],
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    try:
        port_file = os.path.join(state, "port")
        for _ in range(200):
            if os.path.exists(port_file):
                break
            time.sleep(0.05)
        port = open(port_file).read().strip()
        env = dict(os.environ,
                   DROVAN_REPORT_ENDPOINT=f"http://127.0.0.1:{port}/faultpost/submit",
                   SUBMIT_STATE_DIR=windows_path(state))
        done = run_windows_program([exe, f"--gtest_filter={name}"], env, 360)
        print(done.stdout, end="")
        return done.returncode == 0
    finally:
        proc.terminate()
        proc.wait(timeout=10)
        shutil.rmtree(state, ignore_errors=True)


def main():
    exe, server = sys.argv[1], sys.argv[2]
    wanted = sys.argv[3] if len(sys.argv) > 3 else None
    failed = [t for t in list_tests(exe) if (wanted is None or wanted in t) and not run_case(exe, server, t)]
    if failed:
        print("FAILED:", " ".join(failed))
        sys.exit(1)


if __name__ == "__main__":
    main()
