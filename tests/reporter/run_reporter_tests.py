#!/usr/bin/env python3
"""Runs one case of reporter_tests.exe under Wine against a fresh loopback
report server, in English or (with --chinese) as a Chinese user.

    run_reporter_tests.py REPORTER_TESTS_EXE REPORT_SERVER_PY CASE [--chinese | --locale NAME]
                          [--folder NAME] [--shots DIR]

The server's state directory reaches the test as REPORT_STATE_DIR, its
addresses reach the reporter as DROVAN_REPORT_ENDPOINT and DROVAN_REPORT_SITE.
With --shots the test saves its screenshots there as bitmaps, which become
PNG files. --locale runs the test under that Linux locale (en_US.UTF-8: an
English Windows, code page 1252, that still maps any file name); --folder
puts the reporter in a folder of that name (UTF-8) beside the tests.
"""
import argparse
import glob
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "support"))
from wine_loader import run_windows_program, windows_path  # noqa: E402


def bitmap_to_png(bitmap, png):
    """A bottom-up 24-bit BMP, as the test writes them, as a PNG file."""
    data = open(bitmap, "rb").read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    if bits != 24 or width <= 0 or height <= 0:
        return
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height - 1, -1, -1):
        row = data[offset + y * stride: offset + y * stride + width * 3]
        rgb = bytearray(row)
        rgb[0::3], rgb[2::3] = row[2::3], row[0::3]
        rows.append(b"\0" + bytes(rgb))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    with open(png, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                  + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))
    os.remove(bitmap)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("server")
    parser.add_argument("case")
    parser.add_argument("--chinese", action="store_true")
    parser.add_argument("--locale")
    parser.add_argument("--folder")
    parser.add_argument("--shots")
    args = parser.parse_args()

    state = tempfile.mkdtemp(prefix="reporter_state_")
    server = subprocess.Popen([sys.executable, args.server, state, "--lifetime", "300"],
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
                   DROVAN_REPORT_SITE=f"http://127.0.0.1:{port}",
                   REPORT_STATE_DIR=windows_path(state))
        if args.chinese:
            env["LC_ALL"] = "zh_CN.UTF-8"
        elif args.locale:
            env["LC_ALL"] = args.locale
        if args.folder:
            env["REPORTER_SANDBOX"] = args.folder
        if args.shots:
            os.makedirs(args.shots, exist_ok=True)
            env["SCREENSHOT_DIR"] = windows_path(os.path.abspath(args.shots))
        done = run_windows_program([args.exe, f"--gtest_filter=FaultpostDialogTest.{args.case}"], env, 280)
        print(done.stdout, end="")
        print(done.stderr[-3000:], end="", file=sys.stderr)
        if args.shots:
            for bitmap in glob.glob(os.path.join(args.shots, "*.bmp")):
                bitmap_to_png(bitmap, bitmap[:-4] + ".png")
        ok = done.returncode == 0 and "[  PASSED  ] 1 test" in done.stdout
        if not ok:
            print(f"reporter_tests ended with exit code {done.returncode}", file=sys.stderr)
        return 0 if ok else 1
    finally:
        server.terminate()
        server.wait(timeout=10)
        shutil.rmtree(state, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
