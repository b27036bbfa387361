#!/usr/bin/env python3
"""Archives written by zipwrite, checked with readers we did not write.

    check_archives.py ZIPWRITE

A zipwrite.exe of either Windows build runs under its Wine loader.

Each archive must pass `unzip -t`, read back intact with Python's zipfile,
use the method its entry name calls for (as zipinfo shows it too), and carry
the final CRC and sizes in every local header with flag bit 3 clear.
"""
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "support"))
from wine_loader import DLL_DIRS, loader_for, windows_path  # noqa: E402


def wine_dll(name, loader):
    """One of Wine's own DLLs as test data: the one of the build's loader,
    or natively whichever Wine is installed."""
    dirs = [DLL_DIRS[loader]] if loader else list(DLL_DIRS.values())
    for d in dirs:
        if os.path.exists(os.path.join(d, name)):
            return open(os.path.join(d, name), "rb").read()
    raise FileNotFoundError(f"{name} in none of {dirs}")


def run_zipwrite(zipwrite, loader, archive, files):
    path = windows_path if loader else (lambda p: p)
    cmd = ([loader] if loader else []) + [zipwrite, path(archive)] + [path(f) for f in files]
    done = subprocess.run(cmd, capture_output=True, text=True, timeout=120, stdin=subprocess.DEVNULL)
    return done.returncode, done.stdout


def check_local_headers(archive):
    with open(archive, "rb") as f:
        data = f.read()
    with zipfile.ZipFile(archive) as z:
        for info in z.infolist():
            sig, _ver, flags, method, _t, _d, crc, csize, usize, nlen, xlen = struct.unpack_from(
                "<IHHHHHIIIHH", data, info.header_offset)
            assert sig == 0x04034B50, info.filename
            assert flags & 8 == 0, f"{info.filename}: data descriptor bit set"
            assert (crc, csize, usize) == (info.CRC, info.compress_size, info.file_size), info.filename
            assert method == info.compress_type
            assert xlen == 17 and len(info.extra) == 9, info.filename


def zipinfo_methods(archive):
    """Entry name -> method as zipinfo prints it ("stor", "defX", ...)."""
    listing = subprocess.run(["zipinfo", archive], capture_output=True, text=True, timeout=120)
    assert listing.returncode == 0, listing.stdout + listing.stderr
    methods = {}
    for line in listing.stdout.splitlines():
        fields = line.split()
        if len(fields) >= 9 and fields[0].startswith("-"):
            methods[fields[-1]] = fields[5]
    return methods


def check(archive, sources, expect_stored):
    test = subprocess.run(["unzip", "-t", archive], capture_output=True, text=True, timeout=120)
    assert test.returncode == 0, test.stdout + test.stderr
    check_local_headers(archive)
    with zipfile.ZipFile(archive) as z:
        names = [i.filename for i in z.infolist()]
        assert names == [os.path.basename(s) for s in sources], names
        for info, source in zip(z.infolist(), sources):
            with open(source, "rb") as f:
                assert z.read(info) == f.read(), f"{info.filename}: content differs"
            stored = info.filename in expect_stored
            want = zipfile.ZIP_STORED if stored else zipfile.ZIP_DEFLATED
            assert info.compress_type == want, f"{info.filename}: method {info.compress_type}"
            assert info.flag_bits == (0 if stored else 2), f"{info.filename}: flags {info.flag_bits}"
    # Deflate with flag 2 is what zipinfo calls maximum compression.
    want = {os.path.basename(s): "stor" if os.path.basename(s) in expect_stored else "defX" for s in sources}
    assert zipinfo_methods(archive) == want, zipinfo_methods(archive)


def main():
    zipwrite = sys.argv[1]
    loader = loader_for(zipwrite) if zipwrite.lower().endswith(".exe") else None
    work = tempfile.mkdtemp(prefix="check_archives_")
    try:
        rng = random.Random(7)

        def make(name, data):
            path = os.path.join(work, name)
            with open(path, "wb") as f:
                f.write(data)
            return path

        dump = os.path.join(work, "CRASH.DMP")
        if loader:
            # A real minidump, written by dbghelp under Wine.
            maker = os.path.join(os.path.dirname(zipwrite), "make_minidump.exe")
            subprocess.run([loader, maker, windows_path(dump)], check=True, timeout=120,
                           stdin=subprocess.DEVNULL, capture_output=True)
        else:
            dll = wine_dll("kernel32.dll", None)
            make("CRASH.DMP", b"MDMP\x93\xa7" + dll[:300000] + bytes(rng.getrandbits(8) for _ in range(70000)))
        log = make("CRASHLOG.TXT", "".join(f"{i:08X} plugin_Drovan.exe+0x{i * 16:X}\r\n" for i in range(4000)).encode())
        dat = make("CRASHLOG.DAT", b"")
        old = make("OLD.ZIP", bytes(rng.getrandbits(8) for _ in range(5000)))
        txt = make("notes.zip.txt", "Unicode report \u5d29\u6e83\n".encode("utf-16-le") * 300)
        one = make("one.bin", b"\x00")
        user32 = make("user32.dll", wine_dll("user32.dll", loader))

        full = os.path.join(work, "full.zip")
        sources = [dump, dat, log, old, txt, one, user32]
        rc, out = run_zipwrite(zipwrite, loader, full, sources)
        assert rc == 0, out
        check(full, sources, {"OLD.ZIP"})

        missing = os.path.join(work, "missing.zip")
        os.remove(dat)
        rc, out = run_zipwrite(zipwrite, loader, missing, [dump, dat, log])
        assert "add CRASHLOG.DAT: 0x200" in out, out
        assert rc == 1, out
        check(missing, [dump, log], set())

        empty = os.path.join(work, "empty.zip")
        rc, out = run_zipwrite(zipwrite, loader, empty, [])
        assert rc == 0 and open(empty, "rb").read() == b"PK\x05\x06" + bytes(18), out
        print("archives ok")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
