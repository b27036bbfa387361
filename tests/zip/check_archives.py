#!/usr/bin/env python3
"""Archives written by zipwrite, checked with readers we did not write.

    check_archives.py ZIPWRITE [--wine]

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

DLL_DIR = "/usr/lib/i386-linux-gnu/wine/i386-windows"


def native_path(path, wine):
    return "Z:" + path.replace("/", "\\") if wine else path


def run_zipwrite(zipwrite, wine, archive, files):
    cmd = (["wine"] if wine else []) + [zipwrite, native_path(archive, wine)]
    cmd += [native_path(f, wine) for f in files]
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
    zipwrite, wine = sys.argv[1], "--wine" in sys.argv[2:]
    work = tempfile.mkdtemp(prefix="check_archives_")
    try:
        rng = random.Random(7)

        def make(name, data):
            path = os.path.join(work, name)
            with open(path, "wb") as f:
                f.write(data)
            return path

        dump = os.path.join(work, "CRASH.DMP")
        if wine:
            # A real minidump, written by dbghelp under Wine.
            maker = os.path.join(os.path.dirname(zipwrite), "make_minidump.exe")
            subprocess.run(["wine", maker, native_path(dump, wine)], check=True, timeout=120,
                           stdin=subprocess.DEVNULL, capture_output=True)
        else:
            dll = open(os.path.join(DLL_DIR, "kernel32.dll"), "rb").read()
            make("CRASH.DMP", b"MDMP\x93\xa7" + dll[:300000] + bytes(rng.getrandbits(8) for _ in range(70000)))
        log = make("CRASHLOG.TXT", "".join(f"{i:08X} plugin_Drovan.exe+0x{i * 16:X}\r\n" for i in range(4000)).encode())
        dat = make("CRASHLOG.DAT", b"")
        old = make("OLD.ZIP", bytes(rng.getrandbits(8) for _ in range(5000)))
        txt = make("notes.zip.txt", "Unicode report \u5d29\u6e83\n".encode("utf-16-le") * 300)
        one = make("one.bin", b"\x00")
        wine_dll = make("user32.dll", open(os.path.join(DLL_DIR, "user32.dll"), "rb").read())

        full = os.path.join(work, "full.zip")
        sources = [dump, dat, log, old, txt, one, wine_dll]
        rc, out = run_zipwrite(zipwrite, wine, full, sources)
        assert rc == 0, out
        check(full, sources, {"OLD.ZIP"})

        missing = os.path.join(work, "missing.zip")
        os.remove(dat)
        rc, out = run_zipwrite(zipwrite, wine, missing, [dump, dat, log])
        assert "add CRASHLOG.DAT: 0x200" in out, out
        assert rc == 1, out
        check(missing, [dump, log], set())

        empty = os.path.join(work, "empty.zip")
        rc, out = run_zipwrite(zipwrite, wine, empty, [])
        assert rc == 0 and open(empty, "rb").read() == b"PK\x05\x06" + bytes(18), out
        print("archives ok")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
