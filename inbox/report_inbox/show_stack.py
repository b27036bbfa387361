"""Prints the faulting thread's stack of a minidump, as the inbox walks and
names it:

    python3 -m report_inbox.show_stack CRASH.DMP [--symbols FOLDER] [--app-id ID] [--json]

FOLDER is laid out as a symbol store (NAME/KEY/NAME), as a release's
symbols folder is. ID is the report's app id ("dr20100201plugin_Drovan.exe"),
which names back the modules whose paths the reporter rewrote.
"""
import argparse
import json
import sys
import time
import types

from .app_identity import split_app_id
from .patched_paths import original_names
from .stack_signature import signature_place
from .stack_walk import SymbolFiles, SymbolFolder, walk_dump


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m report_inbox.show_stack")
    parser.add_argument("dump")
    parser.add_argument("--symbols", help="a folder laid out as a symbol store")
    parser.add_argument("--app-id", default="", help="the report's app id, e.g. dr20100201plugin_Drovan.exe")
    parser.add_argument("--json", action="store_true", help="the stack as the inbox keeps it")
    options = parser.parse_args(argv)
    with open(options.dump, "rb") as file:
        data = file.read()
    started = time.monotonic()
    renames = None
    if options.app_id:
        application = split_app_id(options.app_id, types.SimpleNamespace(applications=())).application
        renames = original_names(options.app_id, application)
    stack = walk_dump(data, SymbolFolder(options.symbols) if options.symbols else SymbolFiles(), renames=renames)
    seconds = time.monotonic() - started
    if stack is None:
        print("the dump names no faulting thread")
        return 1
    if options.json:
        print(json.dumps(dict(stack.to_json(), signature=signature_place(stack), seconds=round(seconds, 3)),
                         indent=1))
        return 0
    print(f"thread {stack.thread_id} ({stack.architecture}), {len(stack.frames)} frames in {seconds:.3f} s")
    for index, frame in enumerate(stack.frames):
        where = f"{frame.file}:{frame.line}" if frame.file else ""
        print(f"{index:3} {frame.place():32} {frame.function or '?':40} {where:40} [{frame.trust}]")
    for key in stack.symbols_missing:
        print(f"no symbols: {key.name} {key.folder()}")
    for problem in stack.problems:
        print(f"problem: {problem}")
    print(f"signature: {signature_place(stack)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
