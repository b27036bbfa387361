#!/usr/bin/env python3
"""Lays out a release's symbols folder, keyed as Windows symbol stores key
a module: NAME/KEY/NAME, KEY the time stamp (%08X) and image size (%x) of
the PE header of the file that ships.

    symbols_folder.py FOLDER DEBUG_FILE[:SHIPPED_FILE] ...

DEBUG_FILE is the module as linked, with its DWARF; SHIPPED_FILE is what
users run (stripped), whose header the key is read from: stripping gives
the file a new time stamp and a smaller image. Without SHIPPED_FILE the
debug file is the one that runs, as in the tests and the demo.
"""
import os
import shutil
import struct
import sys


def build_key(path):
    with open(path, "rb") as file:
        head = file.read(4096)
    pe, = struct.unpack_from("<I", head, 0x3C)
    if head[pe:pe + 4] != b"PE\0\0":
        sys.exit(f"{path}: not a PE file")
    time_stamp, = struct.unpack_from("<I", head, pe + 8)
    image_size, = struct.unpack_from("<I", head, pe + 24 + 56)
    return f"{time_stamp:08X}{image_size:x}"


def main(folder, specs):
    for spec in specs:
        debug, _, shipped = spec.partition(":")
        name = os.path.basename(shipped or debug)
        target = os.path.join(folder, name, build_key(shipped or debug))
        os.makedirs(target, exist_ok=True)
        shutil.copyfile(debug, os.path.join(target, name))
        print(os.path.join(name, os.path.basename(target), name))
    return 0


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2:]))
