"""Names frames with llvm-symbolizer, which reads the DWARF that MinGW
writes into a PE file: function, file and line of an offset in a module.

One symbolizer process per module on the stack, all of its offsets at
once, each run bounded in time; a symbol file it cannot read leaves its
frames with module and offset, and a problem that says so. Names the
symbolizer leaves mangled (those of the 32-bit build) are demangled by
llvm-cxxfilt.
"""
import json
import shutil
import subprocess

from .stack_trace import CONTEXT

SYMBOLIZER = "llvm-symbolizer"
DEMANGLER = "llvm-cxxfilt"
SECONDS = 10
MAX_NAME = 500


def name_frames(frames, symbol_path, problems):
    """Fills in function, file and line of the frames whose module has a
    symbol file: symbol_path(frame) gives its path, or None. Two modules of
    one name (two builds, loaded side by side) each have their own."""
    by_file = {}
    for frame in frames:
        path = symbol_path(frame)
        if path is not None:
            by_file.setdefault(path, []).append(frame)
    if not by_file:
        return
    if shutil.which(SYMBOLIZER) is None:
        problems.append(f"{SYMBOLIZER} is not installed: frames are not named")
        return
    for path, module_frames in by_file.items():
        module = module_frames[0].module
        # A return address is just past its call: the call's line is the
        # one a byte back.
        offsets = [f.offset if f.trust == CONTEXT else max(0, f.offset - 1) for f in module_frames]
        try:
            answers = _symbolize(path, offsets)
        except (OSError, subprocess.SubprocessError, ValueError) as error:
            problems.append(f"{module}: the symbols could not be read ({type(error).__name__})")
            continue
        for frame, answer in zip(module_frames, answers):
            frame.function, frame.file, frame.line = answer
    _demangle([f for f in frames if f.function.startswith("_Z")])


def _symbolize(path, offsets):
    """(function, file, line) of each offset, "" and 0 where unknown."""
    text = "".join(f"0x{offset:x}\n" for offset in offsets)
    run = subprocess.run([SYMBOLIZER, "--obj", path, "--relative-address", "--output-style=JSON",
                          "--no-inlines", "--demangle"], input=text, capture_output=True, text=True,
                         timeout=SECONDS, check=True)
    answers = []
    for line in run.stdout.splitlines():
        if not line.strip():
            continue
        item = json.loads(line)
        symbol = (item.get("Symbol") or [{}])[0]
        function = symbol.get("FunctionName", "")
        if function == "??":
            function = ""
        answers.append((function[:MAX_NAME], str(symbol.get("FileName", ""))[:MAX_NAME],
                        int(symbol.get("Line", 0) or 0)))
    if len(answers) != len(offsets):
        raise ValueError("the symbolizer answered another number of lines")
    return answers


def _demangle(frames):
    if not frames or shutil.which(DEMANGLER) is None:
        return
    try:
        run = subprocess.run([DEMANGLER], input="".join(f.function + "\n" for f in frames), capture_output=True,
                             text=True, timeout=SECONDS, check=True)
    except (OSError, subprocess.SubprocessError):
        return
    names = run.stdout.splitlines()
    if len(names) == len(frames):
        for frame, name in zip(frames, names):
            frame.function = name[:MAX_NAME]
