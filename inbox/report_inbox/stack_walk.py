"""Walks the faulting thread's stack of a minidump (placeholder: the
exception's own frame only, until the walker lands)."""
from .stack_trace import Stack


class SymbolFiles:
    """Where the walk finds a module's symbol file: find(ModuleKey) gives a
    path, or None when the store has none for that build."""
    def find(self, key):
        return None


def walk_dump(data, symbols, seconds=2.0):
    """The stack of the dump in `data` (bytes); None when the dump names no
    faulting thread. Never raises for a damaged dump: what could not be
    read is in the Stack's problems."""
    return Stack()
