"""A module's PE file as the stack walker needs it: its sections by name
(long names, as MinGW writes its .debug_* sections, included), its image
base, and the bytes at a relative virtual address.

Symbol files come from token holders, yet are parsed with the same checks
as a dump: a file that says otherwise raises BadImage.
"""
import struct

MACHINE_I386 = 0x14C
MACHINE_AMD64 = 0x8664
MAX_SECTIONS = 96


class BadImage(ValueError):
    pass


class Section:
    def __init__(self, name, rva, virtual_size, file_offset, raw_size):
        self.name = name
        self.rva = rva
        self.virtual_size = virtual_size
        self.file_offset = file_offset
        self.raw_size = raw_size


class PeImage:
    def __init__(self, data):
        self.data = data
        if len(data) < 0x40 or data[:2] != b"MZ":
            raise BadImage("not a PE file")
        pe, = struct.unpack_from("<I", data, 0x3C)
        if pe + 24 > len(data) or data[pe:pe + 4] != b"PE\0\0":
            raise BadImage("not a PE file")
        self.machine, count, self.time_stamp, symbols_at, symbol_count, optional_size = struct.unpack_from(
            "<HHIIIH", data, pe + 4)
        if count > MAX_SECTIONS:
            raise BadImage(f"{count} sections")
        optional = pe + 24
        if optional + optional_size > len(data) or optional_size < 64:
            raise BadImage("the optional header is cut short")
        magic, = struct.unpack_from("<H", data, optional)
        if magic == 0x20B:
            self.image_base, = struct.unpack_from("<Q", data, optional + 24)
        elif magic == 0x10B:
            self.image_base, = struct.unpack_from("<I", data, optional + 28)
        else:
            raise BadImage("an optional header of neither PE32 nor PE32+")
        self.image_size, = struct.unpack_from("<I", data, optional + 56)
        strings = symbols_at + 18 * symbol_count  # the COFF string table, for long section names
        self.sections = []
        table = optional + optional_size
        if table + 40 * count > len(data):
            raise BadImage("the section table is cut short")
        for i in range(count):
            raw_name, virtual_size, rva, raw_size, file_offset = struct.unpack_from("<8sIIII", data, table + 40 * i)
            name = raw_name.rstrip(b"\0").decode("latin-1")
            if name.startswith("/") and name[1:].isascii() and name[1:].isdigit() and symbols_at:
                at = strings + int(name[1:])
                end = data.find(b"\0", at, at + 256)
                name = data[at:end].decode("latin-1") if 0 <= at < len(data) and end > at else name
            self.sections.append(Section(name, rva, virtual_size, file_offset, raw_size))

    @property
    def is_64bit(self):
        return self.machine == MACHINE_AMD64

    def section(self, name):
        for section in self.sections:
            if section.name == name:
                return section
        return None

    def section_bytes(self, name):
        """The section's bytes in the file (cut to its virtual size), and its
        RVA; (b"", 0) when the file has no such section."""
        section = self.section(name)
        if section is None:
            return b"", 0
        size = min(section.raw_size, section.virtual_size or section.raw_size)
        return self.data[section.file_offset:section.file_offset + size], section.rva

    def read(self, rva, length):
        """Bytes at an RVA, or None when no section's file data holds them."""
        for section in self.sections:
            if section.rva <= rva and rva + length <= section.rva + min(section.raw_size, section.virtual_size
                                                                         or section.raw_size):
                at = section.file_offset + rva - section.rva
                if at + length <= len(self.data):
                    return self.data[at:at + length]
        return None
