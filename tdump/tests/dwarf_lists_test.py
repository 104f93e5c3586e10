"""tdump's listing of .debug_aranges, .debug_ranges, .debug_rnglists,
.debug_loc and .debug_loclists against llvm-dwarfdump's, for every DWARF
fixture and a Wine DLL: set and table headers, address tuples, offset
arrays, each list's offset and entries (kind and operands, or begin and end)
and the expressions of the locations, operation by operation.

Lists are read front to back by both, as the sections stand. Where
llvm-dwarfdump gives up on a section (GCC's location views between the lists
read as lists, damage) or crashes, what it listed before must match the
start of tdump's."""
import os
import re
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

from dwarf_reference import arguments, fixture_paths, report, tdump

WINE_DLL = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/shell32.dll"

HEADING = re.compile(r"^(\.debug_\w+)$")

# tdump
T_SET = re.compile(r"^  Set at 0x[0-9A-F]+: length 0x([0-9A-F]+), (\d+)-bit DWARF, "
                   r"version (\d+), unit at 0x([0-9A-F]+)$")
T_SIZES = re.compile(r"^    address size (\d+), segment selector size (\d+)(?:, (\d+) offsets)?$")
T_TUPLE = re.compile(r"^    ([0-9A-F]+)  length ([0-9A-F]+)$")
T_TABLE = re.compile(r"^  Table at 0x[0-9A-F]+: length 0x([0-9A-F]+), (\d+)-bit DWARF, "
                     r"version (\d+)$")
T_OFFSET = re.compile(r"^    offsets\[\d+\]  0x([0-9A-F]+) ")
T_LIST = re.compile(r"^  List at 0x([0-9A-F]+)$")
T_PAIR = re.compile(r"^    ([0-9A-F]{8,16})  ([0-9A-F]{8,16})(?:  (.*))?$")
T_BASE = re.compile(r"^    base address +([0-9A-F]+)$")
T_ENTRY = re.compile(r"^    (DW_[RL]LE_\w+)([^:]*)(?:: (.*))?$")

# llvm-dwarfdump
L_SET = re.compile(r"^Address Range Header: length = 0x([0-9a-f]+), format = DWARF(\d+), "
                   r"version = 0x([0-9a-f]+), cu_offset = 0x([0-9a-f]+), "
                   r"addr_size = 0x([0-9a-f]+), seg_size = 0x([0-9a-f]+)$")
L_RANGE = re.compile(r"^\[0x([0-9a-f]+), 0x([0-9a-f]+)\)$")
L_TABLE = re.compile(r"^(?:0x[0-9a-f]+: )?(?:range|locations) list header: "
                     r"length = 0x([0-9a-f]+), format = DWARF(\d+), version = 0x([0-9a-f]+), "
                     r"addr_size = 0x([0-9a-f]+), seg_size = 0x([0-9a-f]+), "
                     r"offset_entry_count = 0x([0-9a-f]+)$")
L_OFFSET = re.compile(r"^0x([0-9a-f]{8,16})(?: => 0x[0-9a-f]+)?$")
L_RANGES_PAIR = re.compile(r"^([0-9a-f]{8}) ([0-9a-f]+) ([0-9a-f]+)$")
L_RANGES_END = re.compile(r"^([0-9a-f]{8}) <End of list>$")
L_RLE = re.compile(r"^0x[0-9a-f]+: \[(DW_RLE_\w+)\s*\](?::\s+([^=]*))?")
L_LIST = re.compile(r"^0x([0-9a-f]{8}): ?$")
L_LOC = re.compile(r"^\s+\(0x([0-9a-f]+), 0x([0-9a-f]+)\): (.*)$")
L_LLE = re.compile(r"^\s+(DW_LLE_\w+)\s*\(([^)]*)\)(?:: (.*))?$")


def numbers(text):
    return tuple(int(n, 16) for n in re.findall(r"0x([0-9a-fA-F]+)", text or ""))


DAMAGE = ("damage",)


def split_operations(text):
    """The operations of an expression, split at the commas outside the
    parentheses of nested expressions."""
    operations, depth, current = [], 0, ""
    for ch in text:
        if ch == "(":
            depth += 1
        elif ch == ")":
            depth -= 1
        if ch == "," and depth == 0:
            operations.append(current.strip())
            current = ""
        else:
            current += ch
    if current.strip():
        operations.append(current.strip())
    return operations


def operation(text):
    """One operation as comparable values: its name, registers by name
    (case ignored), numbers as integers, a nested expression decoded."""
    m = re.match(r"^(DW_OP_\w+)\((.*)\)$", text)
    if m:
        return (m.group(1), tuple(operation(o) for o in split_operations(m.group(2))))
    values = []
    for word in re.split(r"[\s]+", text):
        for part in re.findall(r"[+-]?0x[0-9a-fA-F]+|[+-]?\d+|[A-Za-z_][A-Za-z_0-9]*", word):
            if re.fullmatch(r"[+-]?0x[0-9a-fA-F]+", part):
                values.append(int(part.replace("0x", ""), 16))
            elif re.fullmatch(r"[+-]?\d+", part):
                values.append(int(part))
            else:
                values.append(part.lower())
    return tuple(values)


def expression(text):
    """The operations up to the first damage, which ends the expression."""
    text = (text or "").strip()
    if text in ("", "empty", "<empty>"):
        return ()
    operations = []
    for o in split_operations(text):
        if o.startswith("<decoding error>") or o.startswith("**"):
            operations.append(DAMAGE)
            break
        operations.append(operation(o))
    return tuple(operations)


def tdump_tables(text):
    """The records of each table tdump lists, by section name."""
    tables, current, list_offset = {}, None, None
    for line in text.splitlines():
        m = HEADING.match(line)
        if m:
            current = tables.setdefault(m.group(1), [])
            continue
        if current is None:
            continue
        m = T_SET.match(line)
        if m:
            header = [int(m.group(1), 16), int(m.group(2)), int(m.group(3)), int(m.group(4), 16)]
            continue
        m = T_TABLE.match(line)
        if m:
            header = [int(m.group(1), 16), int(m.group(2)), int(m.group(3))]
            continue
        m = T_SIZES.match(line)
        if m:
            sizes = [int(g) for g in m.groups() if g is not None]
            current.append(("header", *header, *sizes))
            continue
        m = T_TUPLE.match(line)
        if m:
            start = int(m.group(1), 16)
            current.append(("range", start, start + int(m.group(2), 16)))
            continue
        m = T_OFFSET.match(line)
        if m:
            current.append(("offset", int(m.group(1), 16)))
            continue
        m = T_LIST.match(line)
        if m:
            list_offset = int(m.group(1), 16)
            if current is tables.get(".debug_loclists"):
                current.append(("list", list_offset))
            continue
        if line == "    end":
            current.append(("end", list_offset))
            continue
        m = T_BASE.match(line)
        if m:
            current.append(("pair", list_offset, -1, int(m.group(1), 16)))
            continue
        m = T_PAIR.match(line)
        if m:
            record = ("pair", list_offset, int(m.group(1), 16), int(m.group(2), 16))
            if m.group(3) is not None:
                record += (expression(m.group(3)),)
            current.append(record)
            continue
        m = T_ENTRY.match(line)
        if m:
            record = ("entry", m.group(1), numbers(m.group(2)))
            if m.group(1).startswith("DW_LLE_"):
                record += (expression(m.group(3)),)
            current.append(record)
    # llvm-dwarfdump shows neither where a list of .debug_loc ends nor the
    # tuple that ends an address range set.
    for name in (".debug_loc", ".debug_aranges"):
        tables[name] = [r for r in tables.get(name, []) if r[0] != "end"]
    return tables


def llvm_tables(text, address_size):
    tables, current = {}, None
    all_ones = (1 << (8 * address_size)) - 1
    list_offset = None
    for line in text.splitlines():
        m = re.match(r"^(\.debug_\w+) contents:", line)
        if m:
            current = tables.setdefault(m.group(1), [])
            continue
        if current is None:
            continue
        m = L_SET.match(line)
        if m:
            current.append(("header", int(m.group(1), 16), int(m.group(2)), int(m.group(3), 16),
                            int(m.group(4), 16), int(m.group(5), 16), int(m.group(6), 16)))
            continue
        m = L_RANGE.match(line)
        if m:
            current.append(("range", int(m.group(1), 16), int(m.group(2), 16)))
            continue
        m = L_TABLE.match(line)
        if m:
            current.append(("header", *(int(g, 16) if i != 1 else int(g)
                                        for i, g in enumerate(m.groups()))))
            continue
        m = L_OFFSET.match(line)
        if m:
            current.append(("offset", int(m.group(1), 16)))
            continue
        m = L_RANGES_PAIR.match(line)
        if m:
            begin = int(m.group(2), 16)
            current.append(("pair", int(m.group(1), 16), -1 if begin == all_ones else begin,
                            int(m.group(3), 16)))
            continue
        m = L_RANGES_END.match(line)
        if m:
            current.append(("end", int(m.group(1), 16)))
            continue
        m = L_RLE.match(line)
        if m:
            current.append(("entry", m.group(1), numbers(m.group(2))))
            continue
        m = L_LIST.match(line)
        if m:
            list_offset = int(m.group(1), 16)
            if current is tables.get(".debug_loclists"):
                current.append(("list", list_offset))
            continue
        m = L_LOC.match(line)
        if m:
            begin = int(m.group(1), 16)
            current.append(("pair", list_offset, -1 if begin == all_ones else begin,
                            int(m.group(2), 16), expression(m.group(3))))
            continue
        m = L_LLE.match(line)
        if m:
            current.append(("entry", m.group(1), numbers(m.group(2)), expression(m.group(3))))
            continue
        if "<decoding error>" in line:
            current.append(("decoding error",))
    return tables


def dwarfdump_partial(a, path, switch):
    """llvm-dwarfdump's reading of one table; whether it read all of it."""
    # Verbose, the DWARF 5 lists show each entry's kind.
    verbose = ["-v"] if "lists" in switch else []
    done = subprocess.run([a.dwarfdump, *verbose, switch, path],
                          capture_output=True, text=True, errors="replace", check=False)
    return done.stdout, done.returncode == 0 and "error" not in done.stderr


SWITCHES = {
    ".debug_aranges": "--debug-aranges",
    ".debug_ranges": "--debug-ranges",
    ".debug_rnglists": "--debug-rnglists",
    ".debug_loc": "--debug-loc",
    ".debug_loclists": "--debug-loclists",
}


def compare(a, path, failures):
    ours = tdump_tables(tdump(a, path, "-iuvw"))
    address_size = 4 if "32" in os.path.basename(path) else 8
    compared = 0
    # Each table in a run of its own: where llvm-dwarfdump fails on one, the
    # others are whole. The runs go side by side, as most of their time is
    # the start of the program.
    with ThreadPoolExecutor(max_workers=len(SWITCHES)) as pool:
        readings = list(pool.map(lambda switch: dwarfdump_partial(a, path, switch),
                                 SWITCHES.values()))
    for name, (text, whole) in zip(SWITCHES, readings):
        theirs = llvm_tables(text, address_size).get(name, [])
        mine = ours.get(name, [])
        # Where llvm-dwarfdump cannot decode an expression of a list it goes
        # on past the end of the table, where tdump reports it and stops.
        damaged = next((i for i, r in enumerate(theirs)
                        if (r == ("decoding error",) or
                            (isinstance(r[-1], tuple) and DAMAGE in r[-1])) and
                        (i >= len(mine) or mine[i] != r)), None)
        if damaged is not None:
            theirs, mine = theirs[:damaged], mine[:damaged]
        if not whole:
            # The last record llvm-dwarfdump printed may be the one it failed on.
            theirs = theirs[:-1]
            mine = mine[:len(theirs)]
        compared += len(theirs)
        if mine != theirs:
            first = next((i for i, (x, y) in enumerate(zip(mine, theirs)) if x != y),
                         min(len(mine), len(theirs)))
            failures.append(f"{os.path.basename(path)} {name}: record {first} differs "
                            f"({len(mine)} records against {len(theirs)}):\n"
                            f"  tdump:         {mine[first] if first < len(mine) else None}\n"
                            f"  llvm-dwarfdump: {theirs[first] if first < len(theirs) else None}")
    return compared


def main():
    a = arguments(__doc__)
    failures = []
    paths = fixture_paths(a)
    if os.path.exists(WINE_DLL):
        paths.append(WINE_DLL)
    total = 0
    for path in paths:
        total += compare(a, path, failures)
    if total < 1000:
        failures.append(f"only {total} records compared")
    print(f"{total} records compared")
    return report(failures)


if __name__ == "__main__":
    sys.exit(main())
