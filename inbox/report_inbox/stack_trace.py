"""The faulting thread's stack as a report shows it: each frame's module
and offset always, its function, file and line where the module's symbols
named it, and how the walk found it.

A Stack is kept with its report as JSON (to_json, from_json), so pages and
the API show it without opening the archive again.
"""
import dataclasses

# How a frame was found, from the most to the least certain.
CONTEXT = "context"              # the exception's own registers
CALL_FRAME_INFO = "cfi"          # DWARF call-frame information
UNWIND_INFO = "unwind_info"      # x64 .pdata/.xdata
FRAME_POINTER = "frame_pointer"  # the saved frame-pointer chain
SCAN = "scan"                    # a stack word that points into a module


@dataclasses.dataclass
class Frame:
    address: int
    module: str = ""        # base name, "" when no module holds the address
    offset: int = 0         # from the module's base, or the address itself
    trust: str = CONTEXT
    function: str = ""
    file: str = ""
    line: int = 0

    def place(self):
        """module+0xoffset, as the report has always named a place."""
        return f"{self.module}+0x{self.offset:x}" if self.module else f"0x{self.address:x}"


@dataclasses.dataclass(frozen=True)
class ModuleKey:
    """How a symbol store keys a module: its name and the time stamp and
    image size of its PE header."""
    name: str
    time_stamp: int
    image_size: int

    def folder(self):
        """The store's folder name for this build: %08X then %x."""
        return f"{self.time_stamp:08X}{self.image_size:x}"


@dataclasses.dataclass
class Stack:
    architecture: str = ""          # "x86" or "amd64"
    thread_id: int = 0
    registers: dict = dataclasses.field(default_factory=dict)   # name -> value
    frames: list = dataclasses.field(default_factory=list)      # of Frame
    symbols_missing: list = dataclasses.field(default_factory=list)  # of ModuleKey, modules on the stack
    problems: list = dataclasses.field(default_factory=list)    # of str: where the walk had to stop

    def to_json(self):
        return {
            "architecture": self.architecture,
            "thread_id": self.thread_id,
            "registers": {name: f"0x{value:x}" for name, value in self.registers.items()},
            "frames": [dict(dataclasses.asdict(frame), address=f"0x{frame.address:x}",
                            offset=f"0x{frame.offset:x}", place=frame.place()) for frame in self.frames],
            "symbols_missing": [dict(dataclasses.asdict(key), folder=key.folder()) for key in self.symbols_missing],
            "problems": list(self.problems),
        }

    @classmethod
    def from_json(cls, data):
        frames = []
        for item in data.get("frames", []):
            frames.append(Frame(int(item["address"], 16), item.get("module", ""), int(item.get("offset", "0"), 16),
                                item.get("trust", SCAN), item.get("function", ""), item.get("file", ""),
                                int(item.get("line", 0))))
        return cls(data.get("architecture", ""), int(data.get("thread_id", 0)),
                   {name: int(value, 16) for name, value in data.get("registers", {}).items()}, frames,
                   [ModuleKey(item["name"], int(item["time_stamp"]), int(item["image_size"]))
                    for item in data.get("symbols_missing", [])],
                   list(data.get("problems", [])))
