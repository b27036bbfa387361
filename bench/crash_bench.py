#!/usr/bin/env python3
"""Time from a fault to the reporter's start: the capture's test program
faults with a null write (dump, crash log, reporter start) and a stand-in
reporter notes when it started; median over repeated crashes, beside the
floor measured in the same run (the same program writing a bare dump of
its own thread in place, then starting the stand-in) and the start of the
stand-in alone.

    crash_bench.py BUILD_BIN_DIR [RUNS]

BUILD_BIN_DIR holds crash_test_program.exe and faultpost_stand_in.exe.
Needs a running Wine server for the prefix (as scripts/test has).
"""
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
from wine_loader import loader_for  # noqa: E402


def delay_ms(work, mode):
    exe = os.path.join(work, "crash_test_program.exe")
    stamp = os.path.join(work, "Faultpost.time")
    if os.path.exists(stamp):
        os.remove(stamp)
    run = subprocess.run([loader_for(exe), exe, mode], capture_output=True, text=True, timeout=120,
                         stdin=subprocess.DEVNULL)
    fault_at = int(re.search(r"fault_at (\d+)", run.stdout).group(1))
    for _ in range(100):
        if os.path.exists(stamp) and open(stamp).read().strip():
            break
        subprocess.run(["sleep", "0.05"])
    return (int(open(stamp).read()) - fault_at) / 10000.0


def main():
    bin_dir = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 15
    work = tempfile.mkdtemp(prefix="crash_bench_")
    try:
        shutil.copy(os.path.join(bin_dir, "crash_test_program.exe"), work)
        shutil.copy(os.path.join(bin_dir, "faultpost_stand_in.exe"), os.path.join(work, "Faultpost.exe"))
        # Interleaved, so a machine that slows down mid-run weighs on both.
        crashes, floors, starts = [], [], []
        for _ in range(runs):
            crashes.append(delay_ms(work, "null_write"))
            floors.append(delay_ms(work, "plain_dump"))
            starts.append(delay_ms(work, "start_only"))
        crash, floor = statistics.median(crashes), statistics.median(floors)
        print(f"fault to reporter start: median {crash:.1f} ms over {runs} crashes (max {max(crashes):.1f} ms);"
              f" floor (bare dump in place, then the start): median {floor:.1f} ms, ratio {crash / floor:.2f};"
              f" starting the reporter alone: median {statistics.median(starts):.1f} ms")
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
