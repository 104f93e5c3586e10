"""tdump's .debug_frame listing against llvm-dwarfdump --debug-frame, for
every DWARF fixture and a Wine DLL: each CIE and FDE (offset, length, the CIE
fields, the CIE an FDE names, its address range) and each call-frame
instruction (name, registers, operands, the address an advance reaches)."""
import os
import re
import sys

from dwarf_reference import arguments, dwarfdump, fixture_and_wine_paths, report, tdump


LLVM_ENTRY = re.compile(r"^([0-9a-f]{8,16}) ([0-9a-f]{8,16}) ([0-9a-f]{8,16}) (CIE|FDE)"
                        r"(?: cie=([0-9a-f]+) pc=([0-9a-f]+)\.\.\.([0-9a-f]+))?$")
LLVM_FIELD = re.compile(r"^  (Format|Version|Augmentation|Address size|Segment desc size|"
                        r"Code alignment factor|Data alignment factor|Return address column):"
                        r"\s+(.*)$")
LLVM_INSTRUCTION = re.compile(r"^  (DW_CFA_\w+):(.*)$")

TDUMP_ENTRY = re.compile(r"^  ([0-9A-F]{8,16})  (CIE|FDE)  length 0x([0-9A-F]+)"
                         r"(, 64-bit DWARF)?(?:, (.*))?$")
TDUMP_CIE = re.compile(r'^version (\d+), augmentation "(.*)"$')
TDUMP_FACTORS = re.compile(r"^ {12}code alignment (\d+), data alignment ([+-]\d+), "
                           r"return address column (\d+)")
TDUMP_SIZES = re.compile(r"^ {12}address size (\d+), segment selector size (\d+)$")
TDUMP_PC = re.compile(r"^ {12}pc ([0-9A-F]+)\.\.([0-9A-F]+), range 0x([0-9A-F]+)")
TDUMP_INSTRUCTION = re.compile(r"^ {14}(DW_CFA_\w+)(.*)$")
TDUMP_ADVANCE_TO = re.compile(r"^(.*) to ([0-9A-F]+)$")

ADVANCES = ("DW_CFA_advance_loc", "DW_CFA_advance_loc1", "DW_CFA_advance_loc2",
            "DW_CFA_advance_loc4")


def operands(name, text):
    """The operands as comparable values: numbers as integers, registers by
    name, an expression as the names of its operations."""
    text = text.strip()
    if "DW_OP_" in text:
        words = text.split()
        register = [] if name == "DW_CFA_def_cfa_expression" else words[:1]
        return tuple(register) + tuple(re.findall(r"DW_OP_\w+", text))
    values = []
    for word in text.split():
        if name == "DW_CFA_set_loc":
            values.append(int(word, 16))
        elif re.fullmatch(r"[+-]?\d+", word):
            values.append(int(word))
        else:
            values.append(word)
    return tuple(values)


def llvm_entries(text):
    """llvm-dwarfdump's entries of .debug_frame (it goes on with .eh_frame,
    which i686 GCC writes instead)."""
    entries = []
    text = text.split(".eh_frame contents:")[0]
    for line in text.splitlines():
        m = LLVM_ENTRY.match(line)
        if m:
            entry = {"offset": int(m.group(1), 16), "length": int(m.group(2), 16),
                     "kind": m.group(4), "instructions": []}
            if m.group(4) == "FDE":
                entry["cie"] = int(m.group(5), 16)
                entry["pc"] = (int(m.group(6), 16), int(m.group(7), 16))
            entries.append(entry)
            continue
        if not entries:
            continue
        m = LLVM_FIELD.match(line)
        if m:
            entries[-1][m.group(1)] = m.group(2)
            continue
        m = LLVM_INSTRUCTION.match(line)
        if m:
            entries[-1]["instructions"].append((m.group(1),) + operands(m.group(1), m.group(2)))
    for entry in entries:
        if entry["kind"] == "CIE":
            entry["fields"] = (
                entry.get("Format") == "DWARF64", int(entry["Version"]),
                entry["Augmentation"].strip('"'), int(entry["Code alignment factor"]),
                int(entry["Data alignment factor"]), int(entry["Return address column"]),
                int(entry.get("Address size", "-1")), int(entry.get("Segment desc size", "-1")))
    return entries


def tdump_entries(text, failures, where):
    """tdump's entries; the addresses advances reach are checked on the way."""
    entries = []
    location = None
    in_frame = False
    for line in text.splitlines():
        if line == ".debug_frame":
            in_frame = True
            continue
        if not in_frame:
            continue
        if line.startswith("  ** "):
            failures.append(f"{where}: tdump reports {line.strip()}")
            continue
        m = TDUMP_ENTRY.match(line)
        if m:
            entry = {"offset": int(m.group(1), 16), "length": int(m.group(3), 16),
                     "kind": m.group(2), "instructions": [], "dwarf64": bool(m.group(4))}
            rest = m.group(5) or ""
            if entry["kind"] == "CIE":
                cie = TDUMP_CIE.match(rest)
                entry["version"] = int(cie.group(1))
                entry["augmentation"] = cie.group(2)
            else:
                entry["cie"] = int(rest.removeprefix("CIE 0x"), 16)
            entries.append(entry)
            location = None
            continue
        if not entries:
            continue
        entry = entries[-1]
        for pattern, key in ((TDUMP_FACTORS, "factors"), (TDUMP_SIZES, "sizes")):
            m = pattern.match(line)
            if m:
                entry[key] = tuple(int(g) for g in m.groups())
        m = TDUMP_PC.match(line)
        if m:
            start, end, size = (int(g, 16) for g in m.groups())
            entry["pc"] = (start, end)
            if end - start != size:
                failures.append(f"{where}: FDE {entry['offset']:x}: range {size:x} is not "
                                f"{start:x}..{end:x}")
            location = start
            continue
        m = TDUMP_INSTRUCTION.match(line)
        if not m:
            continue
        name, rest = m.groups()
        if name in ADVANCES and location is not None:
            to = TDUMP_ADVANCE_TO.match(rest)
            location += int(to.group(1))
            if int(to.group(2), 16) != location:
                failures.append(f"{where}: FDE {entry['offset']:x}: {line.strip()} does not "
                                f"reach {location:x}")
            rest = to.group(1)
        if name == "DW_CFA_set_loc" and location is not None:
            location = int(rest, 16)
        entry["instructions"].append((name,) + operands(name, rest))
    for entry in entries:
        if entry["kind"] == "CIE":
            code, data, column = entry.get("factors", (None, None, None))
            address, segment = entry.get("sizes", (-1, -1))
            entry["fields"] = (entry["dwarf64"], entry["version"], entry["augmentation"], code,
                               data, column, address, segment)
    return entries


def compare(path, a, failures):
    where = os.path.basename(path)
    theirs = llvm_entries(dwarfdump(a, path, "--debug-frame"))
    mine = tdump_entries(tdump(a, path, "-ix"), failures, where)
    if len(mine) != len(theirs):
        failures.append(f"{where}: {len(mine)} entries, llvm-dwarfdump has {len(theirs)}")
    for m, t in zip(mine, theirs):
        name = f"{where}: {t['kind']} {t['offset']:x}"
        for key in ("offset", "length", "kind", "cie", "pc", "fields"):
            if m.get(key) != t.get(key):
                failures.append(f"{name}: {key} {m.get(key)}, llvm-dwarfdump {t.get(key)}")
        for i, (mi, ti) in enumerate(zip(m["instructions"], t["instructions"])):
            if mi != ti:
                failures.append(f"{name}: instruction {i}: {mi}, llvm-dwarfdump {ti}")
                break
        if len(m["instructions"]) != len(t["instructions"]):
            failures.append(f"{name}: {len(m['instructions'])} instructions, llvm-dwarfdump "
                            f"{len(t['instructions'])}")
    return len(theirs)


def main():
    a = arguments(__doc__)
    failures = []
    paths = fixture_and_wine_paths(a)
    # The i686 fixtures have .eh_frame instead, and clang's objects none.
    if sum(compare(path, a, failures) for path in paths) == 0:
        failures.append("no .debug_frame entries to compare")
    return report(failures)


if __name__ == "__main__":
    sys.exit(main())
