#!/usr/bin/env python3
"""End-to-end latency of the bridge: from a call of the host's interface
(987, method 2: query an item) to the notification it causes on the
client's interface (654, method 8), with client_sim in the main client's
place and the sample plug-in answering at once. The figures stand beside
the channel's own round trip, measured in the same run (a call the host's
worker answers without its main thread), and the host's 100 ms heartbeat,
which a task posted from a worker no longer waits for: it wakes the main
thread.

    bridge_bench.py BUILD_BIN_DIR [CALLS]

BUILD_BIN_DIR holds client_sim.exe, plugin_Drovan.exe and the sample
plugin_Drovan.dll (build/windows/bin or build/windows64/bin). Needs a
running Wine server for the prefix and a display (as scripts/test has).
"""
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
from wine_loader import loader_for, windows_path  # noqa: E402


def main():
    bin_dir = sys.argv[1]
    calls = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    work = tempfile.mkdtemp(prefix="bridge_bench_")
    try:
        for name in ("plugin_Drovan.exe", "plugin_Drovan.dll"):
            shutil.copy(os.path.join(bin_dir, name), work)
        script = os.path.join(work, "bench.script")
        with open(script, "w") as f:
            f.write("start\ncall 0 str:link://bench i32:1\nwait 5 1 5000\n"
                    f"latency {calls} 1\n")
        log = os.path.join(work, "bench.log")
        exe = os.path.join(bin_dir, "client_sim.exe")
        done = subprocess.run([loader_for(exe), exe, "--host", windows_path(os.path.join(work, "plugin_Drovan.exe")),
                               "--log", windows_path(log), windows_path(script)],
                              capture_output=True, text=True, timeout=600, stdin=subprocess.DEVNULL)
        lines = open(log).read().splitlines() if os.path.exists(log) else []
        figures = [line for line in lines if line.startswith("latency ")]
        if done.returncode != 0 or not figures:
            print("bridge bench failed:", lines, done.stderr[-2000:])
            return 1
        print(figures[0])
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
