#!/usr/bin/env python3
"""Real dumps walked and named by the report inbox's stack walker.

    check_stack_walk.py BIN_DIR

BIN_DIR is a Windows build's bin/ folder. Each case runs real programs of
that build under Wine and walks the CRASH.DMP they leave, with a symbols
folder laid out from the build's own files:

- crash_test_program faulting three named functions down: the walker finds
  fault_chain_third, _second and _first, in that order, with file and line;
- the same program with its code shifted: the offsets differ, the
  signature made of the named frames does not;
- without symbols: the same walk still gives every frame module and
  offset, and the signature falls back to them;
- a fault of the sample plug-in, called by the host from client_sim: the
  stack is named down to the plug-in's function, and the host's frames lie
  below it.

It prints how many frames each walk found, and how, and the time it took.
"""
import collections
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
sys.path.insert(0, os.path.join(ROOT, "inbox"))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
from wine_loader import run_windows_program, windows_path  # noqa: E402
from report_inbox.stack_signature import signature_place  # noqa: E402
from report_inbox.stack_walk import SymbolFiles, SymbolFolder, walk_dump  # noqa: E402
import symbols_folder  # noqa: E402

CHAIN = ["fault_chain_third", "fault_chain_second", "fault_chain_first"]
failures = []


def check(condition, message):
    print(("ok   " if condition else "FAIL ") + message)
    if not condition:
        failures.append(message)
    return condition


def summary(label, stack, seconds):
    found = collections.Counter(frame.trust for frame in stack.frames)
    named = sum(1 for frame in stack.frames if frame.function)
    print(f"     {label}: {len(stack.frames)} frames ({', '.join(f'{n} {k}' for k, n in found.items())}),"
          f" {named} named, {seconds * 1000:.0f} ms")
    for index, frame in enumerate(stack.frames[:8]):
        where = f"{os.path.basename(frame.file)}:{frame.line}" if frame.file else ""
        print(f"       {index} {frame.place()} {frame.function} {where} [{frame.trust}]")
    for problem in stack.problems:
        print(f"       problem: {problem}")


def walk(dump, symbols, label):
    with open(dump, "rb") as file:
        data = file.read()
    started = time.monotonic()
    stack = walk_dump(data, symbols)
    seconds = time.monotonic() - started
    summary(label, stack, seconds)
    return stack


def crash_program(bin_dir, build, work):
    """Runs the build's program as crash_test_program.exe, the name every
    build of it ships under, and gives its dump and the file that ran."""
    folder = os.path.join(work, build)
    os.makedirs(folder)
    program = os.path.join(folder, "crash_test_program.exe")
    shutil.copy(os.path.join(bin_dir, build), program)
    shutil.copy(os.path.join(bin_dir, "faultpost_stand_in.exe"), os.path.join(folder, "Faultpost.exe"))
    run = run_windows_program([program, "chain"], os.environ, 120)
    check(run.returncode == 100, f"{build} chain: exit {run.returncode} (100 expected) {run.stderr[-300:]}")
    return os.path.join(folder, "CRASH.DMP"), program


def chain_functions(stack):
    return [frame.function.split("(")[0] for frame in stack.frames[:3]]


def check_chain(bin_dir, work):
    symbols = os.path.join(work, "symbols")
    dumps = {}
    for name in ("crash_test_program.exe", "crash_test_program_shifted.exe"):
        dumps[name], program = crash_program(bin_dir, name, work)
        symbols_folder.main(symbols, [program])
    stacks = {}
    for name, dump in dumps.items():
        if not check(os.path.exists(dump), f"{name} left CRASH.DMP"):
            return
        stack = stacks[name] = walk(dump, SymbolFolder(symbols), name)
        check(chain_functions(stack) == CHAIN, f"{name}: the top three frames are {CHAIN}")
        check(all(f.file.endswith("fault_chain.cpp") and f.line > 0 for f in stack.frames[:3]),
              f"{name}: each of them with fault_chain.cpp and a line")
        check(stack.frames[0].trust == "context" and all(f.trust != "scan" for f in stack.frames[1:3]),
              f"{name}: the callers found by unwind information or frame pointers, not by scanning")
        check(any(f.function == "main" for f in stack.frames), f"{name}: main is on the stack")
    plain, shifted = stacks["crash_test_program.exe"], stacks["crash_test_program_shifted.exe"]
    check(plain.frames[0].offset != shifted.frames[0].offset,
          f"the shifted build faults at another offset (0x{plain.frames[0].offset:x}, 0x{shifted.frames[0].offset:x})")
    check(signature_place(plain) is not None and signature_place(plain) == signature_place(shifted),
          f"both builds get one signature: {signature_place(plain)}")

    bare = walk(dumps["crash_test_program.exe"], SymbolFiles(), "without symbols")
    check(bare.frames and bare.frames[0].module == "crash_test_program.exe"
          and bare.frames[0].offset == plain.frames[0].offset and all(f.module or f.address for f in bare.frames),
          "without symbols every frame still has its module and offset")
    check(signature_place(bare) is None, "without symbols the signature is the module and offset")
    check(any(key.name == "crash_test_program.exe" for key in bare.symbols_missing),
          "without symbols the stack says which build's symbols are missing")


def check_plugin(bin_dir, work):
    folder = os.path.join(work, "host")
    os.makedirs(folder)
    for name in ("plugin_Drovan.exe", "plugin_Drovan.dll"):
        shutil.copy(os.path.join(bin_dir, name), folder)
    shutil.copy(os.path.join(bin_dir, "faultpost_stand_in.exe"), os.path.join(folder, "Faultpost.exe"))
    with open(os.path.join(folder, "plugin_Drovan.control"), "w") as file:
        file.write("crash_slot=39\n")
    script = os.path.join(folder, "client.script")
    with open(script, "w") as file:
        file.write("start\ncall 8\nhost_exit 15000\n")
    log = os.path.join(folder, "client.log")
    run_windows_program([os.path.join(bin_dir, "client_sim.exe"), "--host",
                         windows_path(os.path.join(folder, "plugin_Drovan.exe")), "--log", windows_path(log),
                         windows_path(script)], os.environ, 90)
    lines = open(log).read().splitlines() if os.path.exists(log) else []
    check("host exit 100" in lines, "the sample plug-in faulted in slot 39 and the host ended with 100")
    dump = os.path.join(folder, "CRASH.DMP")
    if not check(os.path.exists(dump), "the host left CRASH.DMP"):
        return
    symbols = os.path.join(work, "symbols")
    symbols_folder.main(symbols, [os.path.join(bin_dir, "plugin_Drovan.exe"), os.path.join(bin_dir, "plugin_Drovan.dll")])
    stack = walk(dump, SymbolFolder(symbols), "plug-in fault")
    plugin = [f for f in stack.frames if f.module == "plugin_Drovan.dll"]
    check(bool(plugin) and stack.frames[0].module == "plugin_Drovan.dll"
          and all(f.function and f.file.endswith("sample_plugin.cpp") for f in plugin[:1]),
          "the fault is named in the plug-in's own source")
    host = [i for i, f in enumerate(stack.frames) if f.module == "plugin_Drovan.exe" and f.function]
    check(bool(host) and host[0] > 0, "the host's named frames lie below the plug-in's")
    place = signature_place(stack)
    check(place is not None and place[0] == "plugin_Drovan.dll", f"the signature names the plug-in: {place}")


def main():
    bin_dir = sys.argv[1]
    work = tempfile.mkdtemp(prefix="stack_walk_")
    try:
        check_chain(bin_dir, work)
        check_plugin(bin_dir, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"{len(failures)} failed" if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
