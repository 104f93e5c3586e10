#!/usr/bin/env python3
"""Checks tdump's listings of OMF objects and libraries against what their
sources say: the NASM sources in fixtures/ (segments with their classes,
lengths, alignments, combinations and widths, the groups, publics and their
offsets, externals, commons, imports, exports, the start address, the data),
NASM's own listing of them (the relocated fields, the line numbers) and the
libraries omf_library.py writes of them (module pages, the names each module
defines, dictionary entries with their blocks, buckets and hashes, IMPDEF
entries), with several page sizes. Record offsets, types, lengths and
checksums come from the bytes, framed as the format frames them. Copies with
a flipped byte, zero checksums, a truncation, a record running past the end
or a damaged dictionary show that tdump reports the damage it finds, where
it is, and goes on.

    omf_test.py --tdump T --nasm N --fixtures DIR
"""
import argparse
import collections
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import omf_library  # noqa: E402
from reference_test import compare  # noqa: E402

SOURCES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fixtures")

# What the sources declare, by fixture: segments as name: (class, length,
# alignment, combination, 16 or 32 bits); publics as name: (segment, offset);
# commons as name: (near or far, number of elements, element size); the
# start address as (segment, offset), which makes it the main module; data
# as (segment, offset): the bytes there.
SMALL = {
    "module": "omf_small.asm",
    "segments": {
        "code": ("CODE", 0x40, 16, "public", 16),
        "data": ("DATA", 0x20, 2, "public", 16),
        "bss": ("BSS", 0x30, 4, "public", 16),
        "fardata": ("FAR_DATA", 0x20, 16, "private", 16),
        "bigbss": ("FAR_BSS", 0x10000, 1, "public", 16),
        "shared": ("SHARED", 3, 256, "common", 16),
        "stack": ("STACK", 0x100, 16, "stack", 16),
    },
    "groups": {"dgroup": ["data", "bss"]},
    "publics": {
        "small_entry": ("code", 0), "small_print": ("code", 0x20),
        "small_data": ("data", 0), "small_message": ("data", 0x10),
        "small_buffer": ("bss", 0), "small_far_table": ("fardata", 8),
    },
    "externals": ["ext_far", "ext_near", "ext_data"],
    "commons": {
        "small_near": ("near", 1, 6), "small_table": ("near", 1, 300),
        "small_far": ("far", 2, 5), "small_huge": ("far", 0x10000, 2),
    },
    "start": ("code", 0),
    "data": {("data", 0x10): b"tdump OMF", ("fardata", 0): b"\x55" * 8, ("shared", 0): b"\x01\x02\x03"},
}
FLAT = {
    "module": "omf_flat.asm",
    "segments": {
        "_TEXT": ("CODE", 0x80, 16, "public", 32),
        "_DATA": ("DATA", 0x1800, 4, "public", 32),
        "_BSS": ("BSS", 0x12345, 16, "public", 32),
        "boot": ("BOOT", 0x10, 2, "public", 16),
        "bootdata": ("BOOT", 2, 1, "private", 16),
    },
    "groups": {"FLAT": []},
    "publics": {
        "flat_main": ("_TEXT", 0), "flat_helper": ("_TEXT", 0x40),
        "flat_table": ("_DATA", 0), "flat_counter": ("_DATA", 0xC), "flat_pool": ("_BSS", 0),
    },
    "externals": ["flat_extern", "flat_callback"],
    # `common flat_shared 64` names no distance, and NASM makes it far: 64
    # elements of one byte (COMDEF data type 61, then 40, then 01).
    "commons": {"flat_shared": ("far", 64, 1)},
    "start": None,
    "data": {("_DATA", 0xC): bytes([7, 0, 0, 0]), ("_DATA", 0x17F0): b"\x11" * 16,
             ("bootdata", 0): b"\xEE\xEE"},
}
IMPORT = {
    "module": "omf_import.asm",
    "segments": {"text": ("CODE", 0x10, 4, "public", 32)},
    "groups": {"FLAT": []},
    "publics": {},
    "externals": ["ImpByName", "ImpRenamed"],
    "commons": {},
    "start": None,
    "data": {("text", 0xC): b"\xC3\xC3\xCC\xCC"},
    # internal name: (DLL, exported name or ordinal)
    "imports": {"ImpByName": ("kernel.dll", "ImpByName"), "ImpRenamed": ("user.dll", "MessageBoxA"),
                "ImpByOrdinal": ("user.dll", 42)},
    # exported name: (internal name, ordinal or None, resident, no data, parameter words)
    "exports": {"exp_plain": ("exp_plain", None, False, False, 0),
                "ExportedName": ("exp_renamed", None, False, False, 0),
                "exp_ordinal": ("exp_ordinal", 7, False, False, 0),
                "exp_flags": ("exp_flags", None, True, True, 3)},
}
OBJECTS = {"omf_small.obj": SMALL, "omf_flat.obj": FLAT, "omf_import.obj": IMPORT}
# The entries omf_imports.lib is built of (CMakeLists.txt), as omf_library's
# import modules take them.
IMPORT_LIBRARY = [("ImpByName", "kernel.dll", None), ("ImpRenamed", "user.dll", "MessageBoxA"),
                  ("ImpByOrdinal", "user.dll", 42), ("exit", "msvcrt.dll", "exit")]

# The record types NASM and omf_library.py write, by the even (16-bit) type.
RECORD_NAMES = {
    0x80: "THEADR", 0x88: "COMENT", 0x8A: "MODEND", 0x8C: "EXTDEF", 0x90: "PUBDEF", 0x94: "LINNUM",
    0x96: "LNAMES", 0x98: "SEGDEF", 0x9A: "GRPDEF", 0x9C: "FIXUPP", 0xA0: "LEDATA", 0xA2: "LIDATA",
    0xB0: "COMDEF",
}


def family(kind):
    """The name both forms of a record type go by."""
    return RECORD_NAMES.get(kind & 0xFE, f"{kind:02X}")


def record_name(kind):
    """A record type's name in listings: the 32-bit form, the odd type, ends in 32."""
    return family(kind) + ("32" if kind & 1 else "")


class Record(collections.namedtuple("Record", "offset type length checksum contents")):
    """A record as its framing (type, length) puts it: its length field, its
    checksum byte, its contents without the checksum byte."""

    @property
    def end(self):
        return self.offset + 3 + self.length


def records_of(data, offset=0):
    """The records of the module at offset, up to its MODEND."""
    return [Record(at, kind, len(contents) + 1, data[at + 3 + len(contents)], contents)
            for at, kind, contents in omf_library.records(data, offset)]


def tdump(a, *arguments):
    """tdump's listing and exit status."""
    done = subprocess.run([a.tdump, *arguments], capture_output=True, text=True, errors="replace")
    return done.stdout, done.returncode


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(directory, name, data):
    path = os.path.join(directory, name)
    with open(path, "wb") as f:
        f.write(data)
    return path


# NASM's listing: the line number, the address, the bytes (relocated
# fields in brackets, self-relative ones in parentheses, segment values as
# [ssss]) and the source line, in fixed columns.
FIELD = re.compile(r"\[(s+)\]|\[([0-9A-F]+)\]|\(([0-9A-F]+)\)|([0-9A-F]{2})|(<.*)")


def nasm_listing(a, source, directory):
    """{"fixups": {(segment, offset, kind)}, "lines": {(segment, line, offset)}}
    from NASM's listing of a source; kind is base, offset16, offset32,
    relative16 or relative32."""
    path = os.path.join(directory, os.path.basename(source) + ".lst")
    subprocess.run([a.nasm, "-f", "obj", "-l", path, "-o", os.devnull, source], check=True)
    fixups, lines, segment, seen = set(), set(), None, set()
    with open(path) as f:
        for text in f:
            text = text.rstrip("\n")
            number, address, data, code = text[0:6], text[7:15].strip(), text[16:40], text[40:]
            m = re.match(r"\s*segment\s+(\w+)", code, re.I)
            if m:
                segment = m.group(1)
            if not address:
                continue
            offset = int(address, 16)
            if (segment, int(number)) not in seen:
                seen.add((segment, int(number)))
                lines.add((segment, int(number), offset))
            for m in FIELD.finditer(data.rstrip("-").strip()):
                base, absolute, relative, byte, rest = m.groups()
                if rest:
                    break
                if base:
                    fixups.add((segment, offset, "base"))
                elif absolute:
                    fixups.add((segment, offset, f"offset{len(absolute) * 4}"))
                elif relative:
                    fixups.add((segment, offset, f"relative{len(relative) * 4}"))
                offset += len(m.group(0).strip("[]()")) // 2
    return {"fixups": fixups, "lines": lines}


def segment_names(data):
    """The segment names of an object, by segment index: LNAMES and SEGDEF
    records read as the format lays them out."""
    names, segments = [], []
    for r in records_of(data):
        if family(r.type) == "LNAMES":
            at = 0
            while at < len(r.contents):
                names.append(r.contents[at + 1:at + 1 + r.contents[at]].decode("latin-1"))
                at += 1 + r.contents[at]
        elif family(r.type) == "SEGDEF":
            at = 1 + (3 if r.contents[0] >> 5 == 0 else 0) + (4 if r.type & 1 else 2)
            segments.append(names[omf_library.index(r.contents, at)[0] - 1])
    return segments


def data_records(data):
    """(record offset, segment, offset in the segment, bytes) of each LEDATA
    record of an object, read as the format lays them out."""
    names, found = segment_names(data), []
    for r in records_of(data):
        if family(r.type) == "LEDATA":
            segment, at = omf_library.index(r.contents, 0)
            width = 4 if r.type & 1 else 2
            start = int.from_bytes(r.contents[at:at + width], "little")
            found.append((r.offset, names[segment - 1], start, r.contents[at + width:]))
    return found


def fixup_bases(data):
    """{offset of each FIXUPP record: (segment, offset in it) of the data
    record before it, whose fields its fixups fix}."""
    starts = {offset: (segment, start) for offset, segment, start, _ in data_records(data)}
    bases, last = {}, None
    for r in records_of(data):
        if r.offset in starts:
            last = starts[r.offset]
        elif family(r.type) == "FIXUPP":
            bases[r.offset] = last
    return bases


def expected_checksums(data, records):
    """What -oc should say of the records: the tally (records, checksums
    right, wrong, without a checksum, that is 0) and each wrong one as
    (name, offset, checksum, the sum of the record's bytes, the right
    checksum, the checksum byte's offset)."""
    right, wrong = 0, set()
    for r in records:
        total = sum(data[r.offset:r.end]) & 0xFF
        if r.checksum and total == 0:
            right += 1
        elif r.checksum:
            wrong.add((record_name(r.type), r.offset, r.checksum, total, (r.checksum - total) & 0xFF, r.end - 1))
    without = sum(1 for r in records if r.checksum == 0)
    return {"tally": [(len(records), right, len(wrong), without)], "wrong": wrong}


# tdump's listings: a record's line (file offset, type, name, length, and
# with -v its checksum byte), its fields on the lines below indented by six,
# the bytes of a data record (-v) by eight; damage on lines of its own that
# start with "**", ending with the file offset of the damage.
RECORD_LINE = re.compile(r"  ([0-9A-F]{8})  ([0-9A-F]{2})  (\S+) +(\d+)(?:  checksum ([0-9A-F]{2}))?")
FIELD_INDENT = " " * 6


def listed_records(listing):
    """The records a listing lists, in order, each a dict: offset, type,
    name, length, checksum (None unless -v shows it) and fields, the lines
    below it without their indent."""
    found, current = [], None
    for line in listing.splitlines():
        m = RECORD_LINE.fullmatch(line)
        if m:
            current = {"offset": int(m[1], 16), "type": int(m[2], 16), "name": m[3], "length": int(m[4]),
                       "checksum": int(m[5], 16) if m[5] else None, "fields": []}
            found.append(current)
        elif current and line.startswith(FIELD_INDENT):
            current["fields"].append(line[len(FIELD_INDENT):])
        else:
            current = None
    return found


def fields(listing, name):
    """The field lines of each record of a type, either form, a listing lists."""
    return [r["fields"] for r in listed_records(listing) if r["name"] in (name, name + "32")]


def unread(lines):
    """What stands for lines of a layout the parsers do not know, so that
    comparisons show them."""
    return "not understood: " + " | ".join(lines)


def damage(listing):
    """The damage a listing reports, without the "**"."""
    return [line[len("  ** "):] for line in listing.splitlines() if line.startswith("  ** ")]


def check(what, condition, detail=""):
    print(f"{'ok' if condition else 'MISMATCH'}: {what}{'' if condition else ' ' + str(detail)}")
    return bool(condition)


SEGMENT_NAME = re.compile(r"\[\d+\] (\S+)  class (\S+)")
SEGMENT_ATTRIBUTES = re.compile(
    r"align (.+?)  combine (.+?)  use(16|32)  length (0x[0-9A-F]+|64 KiB \(big\)|4 GiB \(big\))")
ALIGNMENTS = {"byte": 1, "word": 2, "dword": 4, "paragraph": 16, "page": 256, "4K page": 4096}
BIG_LENGTHS = {"64 KiB (big)": 0x10000, "4 GiB (big)": 1 << 32}
GROUP = re.compile(r"\[\d+\] (\S+)  segments(?: \(none\)|((?: \S+)+))")
BASE = re.compile(r"base group \S+  segment (\S+)")
PUBLIC = re.compile(r"([0-9A-F]{8})  (\S+)")
EXTERNAL = re.compile(r"\[\d+\] (\S+)")
COMMON = re.compile(r"\[\d+\] (\S+)  (?:near (\d+) bytes|far (\d+) x (\d+) bytes)")
MODULE_END = re.compile(r"(main module|not a main module), (?:no start address|"
                        r"start address: frame .+  target T\d segment (\S+) \+ 0x([0-9A-F]+))")
SAME_NAME = "(the same name)"
IMPDEF = re.compile(r"IMPDEF (\S+)  module (\S+)  (?:entry (\S+|\(the same name\))|ordinal (\d+))")
EXPDEF = re.compile(
    r"EXPDEF (\S+)  internal (\S+|\(the same name\))(?:  ordinal (\d+))?(  resident)?(  no data)?  parameters (\d+)")


def segment_entry(lines):
    """A SEGDEF record's two lines as (name, (class, length, alignment,
    combination, bits))."""
    name = SEGMENT_NAME.fullmatch(lines[0]) if len(lines) == 2 else None
    attributes = SEGMENT_ATTRIBUTES.fullmatch(lines[1]) if name else None
    if not attributes:
        return unread(lines), None
    alignment, combination, bits, length = attributes.groups()
    length = BIG_LENGTHS[length] if length in BIG_LENGTHS else int(length, 16)
    return name[1], (name[2], length, ALIGNMENTS.get(alignment, alignment), combination, int(bits))


def based_entries(lines, pattern):
    """The lines of a PUBDEF or LINNUM record after its base line, each as
    (segment, its match of pattern); those of another layout as unread."""
    base = BASE.fullmatch(lines[0]) if lines else None
    for line in lines[1:] if base else lines:
        m = pattern.fullmatch(line) if base else None
        yield (base[1], m) if m else (unread([line]), None)


def common_entry(line):
    """A COMDEF line as (name, (near or far, number of elements, element size))."""
    m = COMMON.fullmatch(line)
    if not m:
        return unread([line]), None
    return m[1], ("near", 1, int(m[2])) if m[2] else ("far", int(m[3]), int(m[4]))


def module_end(line):
    """MODEND's line as (main module, start address as (segment, offset) or None)."""
    m = MODULE_END.fullmatch(line)
    if not m:
        return unread([line])
    return m[1] == "main module", (m[2], int(m[3], 16)) if m[2] else None


def import_entry(line):
    """An IMPDEF line as (name, (DLL, exported name or ordinal))."""
    m = IMPDEF.fullmatch(line)
    if not m:
        return unread([line]), None
    return m[1], (m[2], int(m[4]) if m[4] else m[1] if m[3] == SAME_NAME else m[3])


def export_entry(line):
    """An EXPDEF line as (exported name, (internal name, ordinal or None,
    resident, no data, parameter words))."""
    m = EXPDEF.fullmatch(line)
    if not m:
        return unread([line]), None
    internal = m[1] if m[2] == SAME_NAME else m[2]
    return m[1], (internal, int(m[3]) if m[3] else None, bool(m[4]), bool(m[5]), int(m[6]))


def object_view(listing):
    """What the default listing of an object says it holds, in the shape of
    SMALL and its fellows; a line of no known layout becomes an entry of
    its own."""
    def lines_of(name):
        return [line for lines in fields(listing, name) for line in lines]

    comments = lines_of("COMENT")
    return {
        "module": [line.removeprefix("name ") if line.startswith("name ") else unread([line])
                   for line in lines_of("THEADR")],
        "segments": dict(segment_entry(lines) for lines in fields(listing, "SEGDEF")),
        "groups": {m[1] if m else unread(lines): m[2].split() if m and m[2] else []
                   for lines in fields(listing, "GRPDEF")
                   for m in [GROUP.fullmatch(lines[0]) if len(lines) == 1 else None]},
        "publics": {m[2] if m else segment: (segment, int(m[1], 16)) if m else None
                    for lines in fields(listing, "PUBDEF") for segment, m in based_entries(lines, PUBLIC)},
        "externals": [m[1] if m else unread([line]) for line in lines_of("EXTDEF")
                      for m in [EXTERNAL.fullmatch(line)]],
        "commons": dict(common_entry(line) for line in lines_of("COMDEF")),
        "start": [module_end(line) for line in lines_of("MODEND")],
        "imports": dict(import_entry(line) for line in comments if line.startswith("IMPDEF ")),
        "exports": dict(export_entry(line) for line in comments if line.startswith("EXPDEF ")),
    }


def check_objects(a):
    """The default listing of each object, without damage: its module name,
    segments with their classes, lengths, alignments, combinations and
    widths, groups with their members, publics with their segments and
    offsets, externals in order, commons with their sizes, whether it is
    the main module and its start address, imports and exports."""
    ok = True
    for obj, expected in OBJECTS.items():
        listing, status = tdump(a, f"{a.fixtures}/{obj}")
        ok &= check(f"{obj}: listed without damage, exit 0", status == 0 and not damage(listing), damage(listing))
        mine = object_view(listing)
        wanted = {key: expected[key] for key in ("segments", "groups", "publics", "externals", "commons")}
        wanted["module"] = [expected["module"]]
        wanted["start"] = [(expected["start"] is not None, expected["start"])]
        wanted["imports"] = expected.get("imports", {})
        wanted["exports"] = expected.get("exports", {})
        for key, value in wanted.items():
            ok &= compare(f"{obj}: {key}", value, mine[key])
    return ok


FIXUP = re.compile(r"fixup ([0-9A-F]{3})  (.+?)  (self|segment)-relative  .+  at (\S+):([0-9A-F]{8})")
# A fixup's location and mode, as NASM's listing marks the field.
FIXUP_KINDS = {("base16", "segment"): "base", ("offset16", "segment"): "offset16",
               ("offset32", "segment"): "offset32", ("offset16", "self"): "relative16",
               ("offset32", "self"): "relative32"}


def check_fixups(a):
    """Each relocated field NASM's listing shows is a fixup tdump lists, of
    its kind, and there are no others: a fixup's place is its offset in the
    data record before its FIXUPP record put after where that record starts
    in its segment (both from the bytes), and tdump gives it that place."""
    ok = True
    for obj, expected in OBJECTS.items():
        path = f"{a.fixtures}/{obj}"
        bases = fixup_bases(read(path))
        found, misplaced = set(), []
        for r in listed_records(tdump(a, path)[0]):
            if family(r["type"]) != "FIXUPP":
                continue
            segment, start = bases.get(r["offset"]) or (None, 0)
            for line in r["fields"]:
                m = FIXUP.fullmatch(line)
                if not m:
                    found.add(unread([line]))
                    continue
                place = (segment, start + int(m[1], 16))
                found.add((*place, FIXUP_KINDS.get((m[2], m[3]), f"{m[2]} {m[3]}-relative")))
                if (m[4], int(m[5], 16)) != place:
                    misplaced.append(line)
        fixups = nasm_listing(a, os.path.join(SOURCES, expected["module"]), a.temp)["fixups"]
        ok &= check(f"{obj}: NASM's listing shows relocated fields", fixups)
        ok &= compare(f"{obj}: the {len(fixups)} fixups NASM's listing shows", fixups, found)
        ok &= check(f"{obj}: each fixup at its place in its segment", found and not misplaced, misplaced)
    return ok


LINE_NUMBER = re.compile(r"line (\d+)  offset ([0-9A-F]{8})")


def check_line_numbers(a):
    """The LINNUM records of the object NASM writes with -g: each line of
    the source that makes code or data, with its segment and its offset
    there, as NASM's listing shows them."""
    found = {(segment, int(m[1]), int(m[2], 16)) if m else segment
             for lines in fields(tdump(a, f"{a.fixtures}/omf_flat_lines.obj")[0], "LINNUM")
             for segment, m in based_entries(lines, LINE_NUMBER)}
    expected = nasm_listing(a, os.path.join(SOURCES, "omf_flat.asm"), a.temp)["lines"]
    ok = check("omf_flat.asm: NASM's listing shows lines with addresses", expected)
    return compare("omf_flat_lines.obj: line numbers with their segments and offsets", expected, found) and ok


def check_records(a):
    """-v lists every record of each object with its file offset, type,
    name, length and checksum byte, as the record framing puts them, and
    the default listing the same records without their checksums."""
    ok = True
    for obj in list(OBJECTS) + ["omf_flat_lines.obj"]:
        path = f"{a.fixtures}/{obj}"
        expected = [(r.offset, r.type, record_name(r.type), r.length, r.checksum) for r in records_of(read(path))]
        listing, status = tdump(a, "-v", path)
        mine = [(r["offset"], r["type"], r["name"], r["length"], r["checksum"]) for r in listed_records(listing)]
        ok &= compare(f"{obj}: -v: {len(expected)} records", expected, mine)
        ok &= check(f"{obj}: -v: exit 0 without damage", status == 0 and not damage(listing), damage(listing))
        mine = [(r["offset"], r["type"], r["name"], r["length"]) for r in listed_records(tdump(a, path)[0])]
        ok &= compare(f"{obj}: the default listing's records", [e[:4] for e in expected], mine)
    return ok


def check_selection(a):
    """-oiPUBDEF lists the PUBDEF records alone, -oiSEGDEF the SEGDEF
    records of both forms, -oxLEDATA all but the LEDATA records."""
    ok = True
    for obj in OBJECTS:
        path = f"{a.fixtures}/{obj}"
        records = records_of(read(path))
        for switch, chosen in (("-oiPUBDEF", lambda name: name == "PUBDEF"),
                               ("-oiSEGDEF", lambda name: name == "SEGDEF"),
                               ("-oxLEDATA", lambda name: name != "LEDATA")):
            expected = [r.offset for r in records if chosen(family(r.type))]
            mine = [r["offset"] for r in listed_records(tdump(a, switch, path)[0])]
            ok &= compare(f"{obj}: {switch}: {len(expected)} records", expected, mine)
    return ok


TALLY = re.compile(r"  (\d+) records: (\d+) checksums right, (\d+) wrong, (\d+) without a checksum \(0\)")
WRONG_CHECKSUM = re.compile(r"(\S+) record at ([0-9A-F]{8}): checksum ([0-9A-F]{2}) is wrong, the record's bytes"
                            r" add up to ([0-9A-F]{2}) instead of 00 \(([0-9A-F]{2}) would be right\)"
                            r" \(at file offset 0x([0-9A-F]+)\)")


def listed_checksums(listing):
    """-oc's tally and its reports of wrong checksums, in the shape of
    expected_checksums; other damage becomes a report of its own."""
    tallies = [tuple(int(n) for n in m.groups()) for m in map(TALLY.fullmatch, listing.splitlines()) if m]
    wrong = set()
    for line in damage(listing):
        m = WRONG_CHECKSUM.fullmatch(line)
        wrong.add((m[1], *(int(n, 16) for n in m.groups()[1:])) if m else unread([line]))
    return {"tally": tallies, "wrong": wrong}


def check_checksums(a):
    """-oc: the tally of each object's checksums as the bytes have them
    (NASM leaves none wrong); a byte flipped in one record is reported on
    that record alone, with the sum and the right checksum; zero checksums
    are counted as absent, not wrong."""
    ok = True
    for obj in OBJECTS:
        path = f"{a.fixtures}/{obj}"
        data = read(path)
        records = records_of(data)
        expected = expected_checksums(data, records)
        ok &= check(f"{obj}: NASM's checksums all right", not expected["wrong"])
        ok &= compare(f"{obj}: -oc", expected, listed_checksums(tdump(a, "-oc", path)[0]))
        record = max((r for r in records if r.checksum), key=lambda r: r.length)
        flipped = bytearray(data)
        flipped[record.offset + 3 + len(record.contents) // 2] ^= 0x20
        listing, status = tdump(a, "-oc", write(a.temp, "flipped_" + obj, flipped))
        expected = expected_checksums(flipped, records)
        ok &= compare(f"{obj}: -oc, a byte flipped in the {record_name(record.type)} at {record.offset:#x}",
                      expected, listed_checksums(listing))
        ok &= check(f"{obj}: -oc, that one record wrong, exit 0", len(expected["wrong"]) == 1 and status == 0)
        zero = omf_library.without_checksums(data)
        expected = expected_checksums(zero, records_of(zero))
        listing = tdump(a, "-oc", write(a.temp, "zero_" + obj, zero))[0]
        ok &= compare(f"{obj}: -oc, zero checksums", expected, listed_checksums(listing))
        ok &= check(f"{obj}: -oc, zero checksums all absent", expected["tally"][0][3] == len(records))
    return ok


DUMP_ROW = re.compile(r"([0-9A-F]{8})  ((?:[0-9A-F]{2} {1,2}){0,15}[0-9A-F]{2})(?: {2,}.*)?")
DATA_HEAD = re.compile(r"segment (?:\[\d+\] )?(\S+)  offset ([0-9A-F]{8})  length (\d+)")
DATA_ROW = re.compile(r"  ([0-9A-F]{8})  ((?:[0-9A-F]{2} )*[0-9A-F]{2})")


def dumped_bytes(listing):
    """{file offset: byte} from the rows of -r's hexadecimal dump."""
    found = {}
    for m in map(DUMP_ROW.fullmatch, listing.splitlines()):
        if m:
            for i, byte in enumerate(m[2].split()):
                found[int(m[1], 16) + i] = int(byte, 16)
    return found


def segment_data(listing):
    """The data records of a -v listing as (segment, offset, length) and the
    bytes under them as {(segment, offset in it): byte}."""
    heads, image = [], {}
    for lines in fields(listing, "LEDATA"):
        head = DATA_HEAD.fullmatch(lines[0]) if lines else None
        if not head:
            heads.append(unread(lines))
            continue
        heads.append((head[1], int(head[2], 16), int(head[3])))
        for line in lines[1:]:
            m = DATA_ROW.fullmatch(line)
            if not m:
                image[unread([line])] = None
                continue
            for i, byte in enumerate(m[2].split()):
                image[(head[1], int(m[1], 16) + i)] = int(byte, 16)
    return heads, image


def check_contents(a):
    """-r dumps every byte of each object, each record under its line; -v
    shows each data record's segment, offset and length and its bytes at
    their offsets in the segment, as the bytes have them, and there lies
    what the sources put there."""
    ok = True
    for obj, expected in OBJECTS.items():
        path = f"{a.fixtures}/{obj}"
        data = read(path)
        listing = tdump(a, "-r", path)[0]
        ok &= compare(f"{obj}: -r: the records", [r.offset for r in records_of(data)],
                      [r["offset"] for r in listed_records(listing)])
        ok &= compare(f"{obj}: -r: all {len(data)} bytes", dict(enumerate(data)), dumped_bytes(listing))
        heads, image = segment_data(tdump(a, "-v", path)[0])
        records = data_records(data)
        ok &= compare(f"{obj}: -v: {len(records)} data records", [(s, start, len(b)) for _, s, start, b in records],
                      heads)
        ok &= compare(f"{obj}: -v: the data records' bytes",
                      {(s, start + i): byte for _, s, start, b in records for i, byte in enumerate(b)}, image)
        for (segment, offset), contents in expected["data"].items():
            shown = [image.get((segment, offset + i)) for i in range(len(contents))]
            ok &= check(f"{obj}: {segment}:{offset:#x} holds {contents.hex(' ')}", shown == list(contents), shown)
    return ok


def module_name(module):
    """The name in a module's translator header."""
    contents = next(omf_library.records(module))[2]
    return contents[1:1 + contents[0]].decode("latin-1")


def defined_names(expected):
    """{name: where} for what an object's source defines for other modules,
    as a library's listing gives it under the module."""
    names = {name: f"{segment}:{offset:08X}" for name, (segment, offset) in expected["publics"].items()}
    names.update({internal: f"import {dll}" for internal, (dll, _) in expected.get("imports", {}).items()})
    return names


LABEL = re.compile(r"  (Page size|Dictionary offset|Dictionary blocks|Flags) +(.+)")
FLAGS = re.compile(r"([0-9A-F]{2}) \((case-sensitive|case-insensitive)\)")
MODULE = re.compile(r"  Module (\d+)  offset ([0-9A-F]{8})  page (\d+)  (.+)")
DEFINED = re.compile(r"(\S+:[0-9A-F]{8}|import \S+) +(\S+)")
LIBRARY_END = re.compile(r"  Library end record \(F1\) at ([0-9A-F]{8})")
ENTRY = re.compile(r"  block +(\d+)  bucket +(\d+)  page +(\d+)  (\S+)"
                   r"(?:  hash block (\d+)\+(\d+) bucket (\d+)\+(\d+))?")
FREE_SPACE = re.compile(r"  block +(\d+): (?:full|free space from ([0-9A-F]{3}))")
ENTRIES = re.compile(r"  (\d+) entries in (\d+) blocks")


def library_view(listing):
    """What -l says of a library: the header's fields, the modules (number,
    offset, page, name), under each the names it defines (or with -v the
    offsets of its records), the end record's offset, the dictionary's
    entries {name: (page, block, bucket)}, with -v their hashes and each
    block's free space, and the count of entries and blocks."""
    view = {"header": {}, "modules": [], "defined": [], "records": [], "end": [], "entries": {}, "hashes": {},
            "free": {}, "total": []}
    for line in listing.splitlines():
        record = RECORD_LINE.fullmatch(line)
        if record and view["records"]:
            view["records"][-1].append(int(record[1], 16))
        elif m := LABEL.fullmatch(line):
            if m[1] != "Flags":
                view["header"][m[1]] = int(m[2], 0)
            elif flags := FLAGS.fullmatch(m[2]):
                view["header"][m[1]] = (int(flags[1], 16), flags[2] == "case-sensitive")
            else:
                view["header"][m[1]] = unread([line])
        elif m := MODULE.fullmatch(line):
            view["modules"].append((int(m[1]), int(m[2], 16), int(m[3]), m[4]))
            view["defined"].append({})
            view["records"].append([])
        elif view["defined"] and not view["records"][-1] and line.startswith(FIELD_INDENT):
            m = DEFINED.fullmatch(line[len(FIELD_INDENT):])
            view["defined"][-1][m[2] if m else unread([line])] = m[1] if m else None
        elif m := LIBRARY_END.fullmatch(line):
            view["end"].append(int(m[1], 16))
        elif m := ENTRY.fullmatch(line):
            view["entries"][m[4]] = (int(m[3]), int(m[1]), int(m[2]))
            if m[5]:
                view["hashes"][m[4]] = tuple(int(n) for n in m.groups()[4:])
        elif m := FREE_SPACE.fullmatch(line):
            view["free"][int(m[1])] = int(m[2], 16) if m[2] else "full"
        elif m := ENTRIES.fullmatch(line):
            view["total"].append((int(m[1]), int(m[2])))
    return view


def check_library_listing(a, path, modules, layout, defined, label):
    """-l: the header's fields; each module at its page, with the names its
    source defines for other modules; the end record; every dictionary
    entry with its page, block and bucket as omf_library.py placed it.
    -l -v: each module's records at their offsets, each entry's hash as
    omf_library.py computes it, each block's free space as the bytes give
    it."""
    ok = True
    library = read(path)
    size = page_size(library)
    both = {"header": {"Page size": size, "Dictionary offset": layout["dictionary"],
                       "Dictionary blocks": layout["blocks"],
                       "Flags": (library[9], bool(library[9] & omf_library.CASE_SENSITIVE))},
            "modules": [(i + 1, page * size, page, module_name(module))
                        for i, (module, page) in enumerate(zip(modules, layout["pages"]))],
            "end": [layout["end"]],
            "entries": {name: entry[:3] for name, entry in layout["entries"].items()},
            "total": [(len(layout["entries"]), layout["blocks"])]}
    free_space = [library[layout["dictionary"] + b * omf_library.BLOCK + omf_library.FREE_SPACE]
                  for b in range(layout["blocks"])]
    verbose = {"records": [[r.offset for r in records_of(library, page * size)] for page in layout["pages"]],
               "hashes": {name: omf_library.hash_name(name.encode("latin-1"), layout["blocks"])
                          for name in layout["entries"]},
               "free": {b: "full" if free == 0xFF else free * 2 for b, free in enumerate(free_space)}}
    for switches, wanted in ((["-l"], both | {"defined": defined}), (["-l", "-v"], both | verbose)):
        listing, status = tdump(a, *switches, path)
        what = f"{label}: {' '.join(switches)}"
        ok &= check(f"{what}: listed without damage, exit 0", status == 0 and not damage(listing), damage(listing))
        mine = library_view(listing)
        for key, value in wanted.items():
            ok &= compare(f"{what}: {key}", value, mine[key])
    return ok


def page_size(library):
    """A library's page size: its header record's length plus 3."""
    return library[1] + 256 * library[2] + 3


def library_records(library, layout):
    """The records of every module of a library."""
    return [r for page in layout["pages"] for r in records_of(library, page * page_size(library))]


def check_libraries(a):
    """Libraries of the three objects with pages of 16 and 512 bytes (the
    latter with a larger dictionary), case-sensitive, and with zero
    checksums: the dictionary holds every public and import the sources
    define; -l lists them as check_library_listing says, -oc tallies the
    checksums of every module's records."""
    ok = True
    modules = [read(f"{a.fixtures}/{obj}") for obj in OBJECTS]
    defined = [defined_names(expected) for expected in OBJECTS.values()]
    fixture, _ = omf_library.build(modules)
    ok &= check("omf_objects.lib is what omf_library.py writes", read(f"{a.fixtures}/omf_objects.lib") == fixture)
    variants = [("pages of 16", {}), ("pages of 512", {"page_size": 512, "blocks": 5}),
                ("case-sensitive", {"case_sensitive": True}), ("zero checksums", {"zero_checksums": True})]
    for label, options in variants:
        library, layout = omf_library.build(modules, **options)
        ok &= compare(f"{label}: dictionary names", {name for names in defined for name in names},
                      set(layout["entries"]))
        path = write(a.temp, f"objects_{label.replace(' ', '_')}.lib", library)
        ok &= check_library_listing(a, path, modules, layout, defined, label)
        ok &= compare(f"{label}: -oc", expected_checksums(library, library_records(library, layout)),
                      listed_checksums(tdump(a, "-oc", path)[0]))
    return ok


IMPORT_LINE = re.compile(r"  (\S+)  (\S+)  (?:@(\d+)|(\S+))")


def listed_imports(listing):
    """-li's lines as (name, DLL, exported name or ordinal)."""
    found = []
    for line in listing.split("Import definitions (IMPDEF)\n", 1)[-1].splitlines()[1:]:
        m = IMPORT_LINE.fullmatch(line)
        found.append((m[1], m[2], int(m[3]) if m[3] else m[4]) if m else unread([line]))
    return found


def check_import_library(a):
    """An import library of IMPDEF modules: -l lists them as
    check_library_listing says; -li gives one line per import with its DLL
    and its exported name or ordinal, -li=ImpBy those whose name holds
    ImpBy; -li on the object with imports gives its imports. A crowded
    dictionary, whose names spill into other blocks, lists the same way."""
    ok = True
    modules = [omf_library.impdef_module(*entry) for entry in IMPORT_LIBRARY]
    expected = [(internal, dll, entry or internal) for internal, dll, entry in IMPORT_LIBRARY]
    defined = [{internal: f"import {dll}"} for internal, dll, _ in IMPORT_LIBRARY]
    fixture, _ = omf_library.build(modules)
    ok &= check("omf_imports.lib is what omf_library.py writes", read(f"{a.fixtures}/omf_imports.lib") == fixture)
    for page_size in (16, 32):
        library, layout = omf_library.build(modules, page_size=page_size)
        path = write(a.temp, f"imports_{page_size}.lib", library)
        ok &= check_library_listing(a, path, modules, layout, defined, f"import library, pages of {page_size}")
        ok &= compare(f"import library, pages of {page_size}: -li", expected, listed_imports(tdump(a, "-li", path)[0]))
        ok &= compare(f"import library, pages of {page_size}: -li=ImpBy",
                      [entry for entry in expected if "ImpBy" in entry[0]],
                      listed_imports(tdump(a, "-li=ImpBy", path)[0]))
    ok &= compare("omf_import.obj: -li", [(internal, *entry) for internal, entry in IMPORT["imports"].items()],
                  listed_imports(tdump(a, "-li", f"{a.fixtures}/omf_import.obj")[0]))
    # Sixty long names crowd five blocks, so some go on to another block than
    # their hash names: tdump's lookup must find them where they went.
    many = [(f"ImportedFunctionWithALongName{i:02}", "spill.dll", None) for i in range(60)]
    library, layout = omf_library.build([omf_library.impdef_module(*entry) for entry in many])
    spilled = [name for name, (_, block, _) in layout["entries"].items()
               if block != omf_library.hash_name(name.encode("latin-1"), layout["blocks"])[0]]
    ok &= check("a crowded dictionary: some names placed in another block than their hash names",
                bool(spilled))
    ok &= check_library_listing(a, write(a.temp, "crowded.lib", library),
                                [omf_library.impdef_module(*entry) for entry in many], layout,
                                [{internal: f"import {dll}"} for internal, dll, _ in many],
                                "a crowded dictionary")
    return ok


def check_damage(a):
    """Damaged copies are listed to the end, exit 0, with the damage
    reported where it is: an object cut short inside a record and one whose
    last record's length runs past the end (every record up to the damage
    listed, and -oc's tally of them); a library cut short in its dictionary
    and one whose dictionary offset lies past the end (each public without
    its entry reported; -oc, which reads no dictionary, tallies every
    record of every module)."""
    ok = True
    small = read(f"{a.fixtures}/omf_small.obj")
    records = records_of(small)
    middle = records[len(records) // 2]
    cut = small[:middle.offset + 3 + len(middle.contents) // 2]
    last = records[-1]
    long = bytearray(small)
    long[last.offset + 1:last.offset + 3] = (0xFFF0).to_bytes(2, "little")

    def past_the_end(record, length, left):
        return (f"the record length {length} runs past the end of the file: {left} bytes follow the length"
                f" (at file offset 0x{record.offset + 1:X})")

    objects = {"cut short": (cut, records[:len(records) // 2 + 1],
                             past_the_end(middle, middle.length, len(cut) - middle.offset - 3)),
               "a record past the end": (bytes(long), records,
                                         past_the_end(last, 0xFFF0, len(small) - last.offset - 3))}
    for label, (data, listed, report) in objects.items():
        path = write(a.temp, label.replace(" ", "_") + ".obj", data)
        for switches in ([], ["-v"], ["-oc"]):
            listing, status = tdump(a, *switches, path)
            what = " ".join([label, *switches])
            ok &= check(f"{what}: exit 0, damage reported", status == 0 and report in damage(listing),
                        f"status {status}, {damage(listing)}")
            if switches == ["-oc"]:
                # The damaged record counts as a record, but has no checksum to check.
                tally = expected_checksums(small, listed[:-1])["tally"][0]
                ok &= compare(f"{what}: tally", [(len(listed), *tally[1:])], listed_checksums(listing)["tally"])
            else:
                ok &= compare(f"{what}: records listed", [r.offset for r in listed],
                              [r["offset"] for r in listed_records(listing)])
    modules = [read(f"{a.fixtures}/{obj}") for obj in OBJECTS]
    library, layout = omf_library.build(modules)

    def without_entry(name):
        page = layout["entries"][name][0]
        module = module_name(modules[layout["pages"].index(page)])
        offset = page * page_size(library)
        return f"public {name} of module {module} has no dictionary entry (at file offset 0x{offset:X})"

    cut = library[:-300]
    present = (len(cut) - layout["dictionary"]) // omf_library.BLOCK
    moved = bytearray(library)
    moved[3:7] = (len(library) + 0x1000).to_bytes(4, "little")
    libraries = {
        "a library cut short": (cut, {f"the dictionary's {layout['blocks']} blocks run past the end of the file:"
                                      f" {present} are there (at file offset 0x{layout['dictionary']:X})"}
                                | {without_entry(name) for name, (_, block, _) in layout["entries"].items()
                                   if block >= present}),
        "a dictionary past the end": (bytes(moved), {f"the dictionary offset {len(library) + 0x1000:08X} lies past the"
                                                     f" end of the file ({len(library)} bytes) (at file offset 0x3)"}
                                      | {without_entry(name) for name in layout["entries"]})}
    for label, (data, reports) in libraries.items():
        path = write(a.temp, label.replace(" ", "_") + ".lib", data)
        for switches in ([], ["-v"]):
            listing, status = tdump(a, *switches, path)
            what = " ".join([label, *switches])
            ok &= compare(f"{what}: damage reported", reports, set(damage(listing)))
            ok &= check(f"{what}: exit 0", status == 0)
        listing, status = tdump(a, "-oc", path)
        ok &= compare(f"{label} -oc: every module's records",
                      expected_checksums(data, library_records(data, layout)), listed_checksums(listing))
        ok &= check(f"{label} -oc: exit 0", status == 0)
    return ok


def main():
    parser = argparse.ArgumentParser()
    for option in ("tdump", "nasm", "fixtures"):
        parser.add_argument(f"--{option}", required=True)
    a = parser.parse_args()
    ok = True
    with tempfile.TemporaryDirectory() as directory:
        a.temp = directory
        for run_check in CHECKS:
            print(f"== {run_check.__name__}")
            ok = run_check(a) and ok
    return 0 if ok else 1


CHECKS = [check_objects, check_fixups, check_line_numbers, check_records, check_selection, check_checksums,
          check_contents, check_libraries, check_import_library, check_damage]

if __name__ == "__main__":
    sys.exit(main())
