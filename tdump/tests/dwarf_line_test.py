"""tdump's .debug_line listing against llvm-dwarfdump --debug-line: every
program's header (version, lengths, opcode set, include directories, file
names) and every row (address, line, column, file, flags, discriminator,
ISA), on the probe fixtures and on Wine's shell32.dll."""
import os
import re

from dwarf_reference import arguments, dwarfdump, fixture_and_wine_paths, report, tdump


# llvm-dwarfdump's header field names, as tdump labels them.
HEADER_FIELDS = {
    "total_length": "Unit length",
    "version": "Version",
    "address_size": "Address size",
    "seg_select_size": "Segment selector size",
    "prologue_length": "Header length",
    "min_inst_length": "Minimum instruction length",
    "max_ops_per_inst": "Maximum operations",
    "default_is_stmt": "Default is_stmt",
    "line_base": "Line base",
    "line_range": "Line range",
    "opcode_base": "Opcode base",
}
HEX_FIELDS = {"Unit length", "Header length"}


def new_unit(offset):
    return {"offset": offset, "header": {}, "directories": [], "files": [], "rows": []}


def number(label, text):
    return int(text, 16) if label in HEX_FIELDS else int(text)


def flags_of(words):
    """Flags, discriminator and ISA of a row, from the words after its file."""
    flags, values = set(), {"discriminator": 0, "isa": 0}
    i = 0
    while i < len(words):
        if words[i] in values:
            values[words[i]] = int(words[i + 1])
            i += 2
        else:
            flags.add(words[i])
            i += 1
    return flags, values["discriminator"], values["isa"]


ROW_LLVM = re.compile(r"^0x([0-9a-f]+)\s+(\d+)\s+(\d+)\s+(\d+)\s+(\d+)\s+(\d+)\s*(.*)$")


def llvm_units(text):
    units, unit, file_entry = [], None, None
    for line in text.splitlines():
        start = re.match(r"^debug_line\[0x([0-9a-f]+)\]", line)
        if start:
            unit = new_unit(int(start.group(1), 16))
            units.append(unit)
            continue
        if unit is None:
            continue
        field = re.match(r"^\s*(\w+): (\S+)$", line)
        if field and field.group(1) in HEADER_FIELDS:
            label = HEADER_FIELDS[field.group(1)]
            unit["header"][label] = int(field.group(2), 0)
            continue
        # A name whose string offset lies outside its section is left empty.
        directory = re.match(r'^include_directories\[\s*(\d+)\] = (?:.*?"(.*)")?$', line)
        if directory:
            unit["directories"].append((int(directory.group(1)), directory.group(2) or ""))
            continue
        entry = re.match(r"^file_names\[\s*(\d+)\]:$", line)
        if entry:
            file_entry = {"index": int(entry.group(1))}
            unit["files"].append(file_entry)
            continue
        value = re.match(r'^\s+(name|dir_index|mod_time|length|md5_checksum): "?(.*?)"?$', line)
        if value and file_entry is not None:
            key, text_value = value.groups()
            if key == "name":
                file_entry[key] = text_value
            elif key == "md5_checksum":
                file_entry[key] = text_value.lower()
            else:
                file_entry[key] = int(text_value, 0)
            continue
        row = ROW_LLVM.match(line)
        if row:
            flags, _, _ = flags_of(row.group(7).split())
            unit["rows"].append((int(row.group(1), 16), int(row.group(2)), int(row.group(3)),
                                 int(row.group(4)), flags, int(row.group(6)),
                                 int(row.group(5))))
    return units


ROW_TDUMP = re.compile(r"^    ([0-9A-F]+)\s+(\d+)\s+(\d+)\s+(\d+)(.*)$")


def tdump_units(text):
    units, unit, part, columns = [], None, None, []
    for line in text.splitlines():
        start = re.match(r"^Line program at 0x([0-9A-F]+)$", line)
        if start:
            unit = new_unit(int(start.group(1), 16))
            units.append(unit)
            part = None
            continue
        if unit is None or line.startswith("  **"):
            continue
        if line in ("  Include directories", "  Files", "  Rows"):
            part = line.strip()
            continue
        if not line.startswith("   "):
            part = None
            field = re.match(r"^  (\S.*?)\s{2,}(-?\w+)", line)
            if field and field.group(1) in HEADER_FIELDS.values():
                unit["header"][field.group(1)] = number(field.group(1), field.group(2))
        elif line.startswith("    Index"):
            columns = line.split()[1:-1]
        elif part == "Include directories":
            directory = re.match(r"^\s+(\d+)  (.*)$", line)
            unit["directories"].append((int(directory.group(1)), directory.group(2)))
        elif part == "Files":
            words = line.split(None, len(columns) + 1)
            name = words[-1] if len(words) == len(columns) + 2 else ""
            file_entry = {"index": int(words[0]), "name": name}
            for column, word in zip(columns, words[1:]):
                key = {"Dir": "dir_index", "Time": "mod_time", "Length": "length",
                       "MD5": "md5_checksum"}[column]
                file_entry[key] = word.lower() if column == "MD5" else (
                    int(word) if column == "Dir" else int(word, 16))
            unit["files"].append(file_entry)
        elif part == "Rows":
            row = ROW_TDUMP.match(line)
            if row:
                flags, discriminator, isa = flags_of(row.group(5).split())
                unit["rows"].append((int(row.group(1), 16), int(row.group(2)),
                                     int(row.group(3)), int(row.group(4)), flags, discriminator,
                                     isa))
    return units


def compare(path, ours, theirs):
    name = os.path.basename(path)
    failures = []
    if [u["offset"] for u in ours] != [u["offset"] for u in theirs]:
        return [f"{name}: programs at {[u['offset'] for u in ours]}, "
                f"llvm-dwarfdump: {[u['offset'] for u in theirs]}"]
    for mine, reference in zip(ours, theirs):
        where = f"{name} program 0x{mine['offset']:X}"
        for part in ("header", "directories", "files"):
            if mine[part] != reference[part]:
                failures.append(f"{where}: {part} {mine[part]}, llvm-dwarfdump: {reference[part]}")
        if len(mine["rows"]) != len(reference["rows"]):
            failures.append(f"{where}: {len(mine['rows'])} rows, llvm-dwarfdump: "
                            f"{len(reference['rows'])}")
        for index, (row, expected) in enumerate(zip(mine["rows"], reference["rows"])):
            if row != expected:
                failures.append(f"{where} row {index}: {row}, llvm-dwarfdump: {expected}")
                break
    return failures


def main():
    a = arguments(__doc__)
    paths = fixture_and_wine_paths(a)
    failures = []
    rows = 0
    for path in paths:
        ours = tdump_units(tdump(a, path, "-ic"))
        theirs = llvm_units(dwarfdump(a, path, "--debug-line"))
        if not theirs:
            failures.append(f"{os.path.basename(path)}: llvm-dwarfdump lists no line programs")
        rows += sum(len(u["rows"]) for u in theirs)
        failures += compare(path, ours, theirs)
    print(f"{len(paths)} files, {rows} rows compared")
    return report(failures)


if __name__ == "__main__":
    raise SystemExit(main())
