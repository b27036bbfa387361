"""Which Wine loader runs a given Windows program.

A 32-bit program needs /usr/lib/wine/wine and a 64-bit one
/usr/lib/wine/wine64. The loaders are called by their full paths: invoked
through a link elsewhere, wine64 cannot find itself. Which one a program
needs is read from the machine field of its PE header, so a script works
with the programs of either Windows build.
"""
import struct

LOADERS = {0x014C: "/usr/lib/wine/wine", 0x8664: "/usr/lib/wine/wine64"}

# Wine's own DLLs, by the loader that runs them.
DLL_DIRS = {
    "/usr/lib/wine/wine": "/usr/lib/i386-linux-gnu/wine/i386-windows",
    "/usr/lib/wine/wine64": "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows",
}


def loader_for(exe):
    with open(exe, "rb") as f:
        head = f.read(4096)
    if head[:2] != b"MZ" or len(head) < 0x40:
        raise ValueError(f"{exe}: not a Windows program")
    (pe,) = struct.unpack_from("<I", head, 0x3C)
    if pe + 6 > len(head) or head[pe:pe + 4] != b"PE\0\0":
        raise ValueError(f"{exe}: no PE header")
    (machine,) = struct.unpack_from("<H", head, pe + 4)
    if machine not in LOADERS:
        raise ValueError(f"{exe}: machine 0x{machine:04X} is neither x86 nor x64")
    return LOADERS[machine]


def windows_path(path):
    """A Linux path as Wine's Z: drive shows it."""
    return "Z:" + path.replace("/", "\\")


def run_windows_program(args, env, timeout):
    """Runs args[0] under its loader and returns the finished process.

    Its output goes to files, not pipes: a program it started would hold a
    pipe open after it ended, and the wait would last as long as that one.
    A run that printed nothing at all never reached the program's main:
    under load the loader can fail before it starts anything. Such a run is
    made once more; a run that printed something is never repeated.
    """
    import subprocess
    import tempfile
    command = [loader_for(args[0])] + list(args)
    for _ in range(2):
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            try:
                done = subprocess.run(command, env=env, timeout=timeout, stdin=subprocess.DEVNULL, stdout=out,
                                      stderr=err)
            except subprocess.TimeoutExpired:
                # Killed; what it printed tells where it stopped.
                done = subprocess.CompletedProcess(command, -9)
            out.seek(0)
            err.seek(0)
            done.stdout = out.read().decode("utf-8", "replace")
            done.stderr = err.read().decode("utf-8", "replace")
            if done.returncode == -9:
                done.stderr += f"\n{args[0]} did not end within {timeout} s and was killed\n"
        if done.stdout or done.stderr:
            break
    return done
