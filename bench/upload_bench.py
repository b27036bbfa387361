#!/usr/bin/env python3
"""Times a 20 MB report upload by our client (under Wine) beside curl
posting the same file as multipart to the same loopback server (without
curl's "Expect: 100-continue" wait, which this HTTP/1.0 server never answers).

    upload_bench.py UPLOAD_BENCH_EXE [SIZE_MB]

Works with either Windows build. Needs a running Wine server for the
prefix (as scripts/test starts one).
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
from wine_loader import loader_for, windows_path  # noqa: E402


def main():
    exe = sys.argv[1]
    size_mb = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    state = tempfile.mkdtemp(prefix="upload_bench_")
    server = subprocess.Popen([sys.executable, os.path.join(ROOT, "tools", "report_server.py"), state,
                               "--lifetime", "300"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    try:
        port_file = os.path.join(state, "port")
        while not os.path.exists(port_file):
            time.sleep(0.05)
        url = f"http://127.0.0.1:{open(port_file).read().strip()}/faultpost/submit"
        archive = os.path.join(state, "CRASH.ZIP")
        with open(archive, "wb") as f:
            f.write(random.Random(1).randbytes(size_mb * 1024 * 1024))

        runs = []
        for _ in range(3):
            done = subprocess.run([loader_for(exe), exe, windows_path(archive)], capture_output=True,
                                  text=True, timeout=240, stdin=subprocess.DEVNULL,
                                  env=dict(os.environ, DROVAN_REPORT_ENDPOINT=url))
            line = done.stdout.strip().splitlines()[-1] if done.stdout.strip() else ""
            if done.returncode != 0 or not line.startswith("ours_ms="):
                print("our upload failed:", done.stdout, done.stderr)
                return 1
            runs.append(float(line.split()[0].split("=")[1]))
        curl_runs = []
        for _ in range(3):
            start = time.perf_counter()
            subprocess.run(["curl", "-s", "-o", "/dev/null", "-H", "Expect:", "-F", "app_ver=bench", "-F", "user_msg=upload benchmark",
                            "-F", f"Filename=@{archive}", url], check=True, timeout=240)
            curl_runs.append((time.perf_counter() - start) * 1000)
        ours, curl = min(runs), min(curl_runs)
        print(f"upload {size_mb} MB: ours_ms={ours:.1f} curl_ms={curl:.1f} (best of 3 each)")
        print(f"ratio_to_curl={ours / curl:.2f}")
        return 0
    finally:
        server.terminate()
        server.wait(timeout=10)
        shutil.rmtree(state, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
