"""tdump's listing of .debug_aranges, .debug_ranges, .debug_rnglists,
.debug_loc and .debug_loclists against llvm-dwarfdump's, for every DWARF
fixture and a Wine DLL.

Every list .debug_info points at, as llvm-dwarfdump shows it at the
attribute (--debug-info): its offset, its entries' address ranges (in
images; objects keep theirs to relocations) and their expressions,
operation by operation. GCC writes location views between its location
lists, which a front-to-back reading takes for lists: only the lists
.debug_info points at are whole.

Then each table as llvm-dwarfdump lists it front to back (set and table
headers, address tuples, offset arrays, each list's offset and entries),
where that reading holds: the address ranges of all, the lists of clang's
files, which have no views. Where llvm-dwarfdump gives up on a section or
crashes, what it listed before must match the start of tdump's."""
import os
import re
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

from dwarf_reference import WINE_DLL, arguments, dwarfdump, fixture_paths, report, tdump


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
T_ADDRESSES = r"(?:  \[([0-9A-F]+), ([0-9A-F]+)\))?"
T_PAIR = re.compile(r"^    ([0-9A-F]{8,16})  ([0-9A-F]{8,16})" + T_ADDRESSES + r"(?:  (.*))?$")
T_BASE = re.compile(r"^    base address +([0-9A-F]+)$")
T_ENTRY = re.compile(r"^    (DW_[RL]LE_\w+)([^:\[]*)" + T_ADDRESSES + r"(?:: (.*))?$")

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
    if text.startswith("DW_OP_implicit_value "):
        # The block's bytes, in hexadecimal with or without 0x.
        return ("dw_op_implicit_value",
                *(int(b.replace("0x", ""), 16) for b in text.split()[1:]))
    values = []
    for word in re.split(r"[\s]+", text):
        for part in re.findall(r"[+-]?0x[0-9a-fA-F]+|[+-]?\d+|[A-Za-z_][A-Za-z_0-9]*", word):
            if re.fullmatch(r"[+-]?0x[0-9a-fA-F]+", part):
                values.append(int(part.replace("0x", ""), 16))
            elif re.fullmatch(r"[+-]?\d+", part):
                values.append(int(part))
            else:
                values.append(part.lower())
    # A branch's target and a base type's name are shown by one tool only;
    # the operands as stored are compared.
    if "to" in values and values[0] in ("dw_op_bra", "dw_op_skip"):
        values = values[:values.index("to")]
    if values[0].endswith("_type") or values[0] == "dw_op_convert":
        values = values[:2] if values[0] == "dw_op_regval_type" else values[:1]
    return tuple(values)


def expression(text):
    """The operations up to the first damage, which ends the expression."""
    text = (text or "").strip()
    if text in ("", "empty", "<empty>"):
        return ()
    operations = []
    for o in split_operations(text):
        if "<decoding error>" in o or o.startswith("**"):
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
            if m.group(5) is not None:
                record += (expression(m.group(5)),)
            current.append(record)
            continue
        m = T_ENTRY.match(line)
        if m:
            record = ("entry", m.group(1), numbers(m.group(2)))
            if m.group(1).startswith("DW_LLE_"):
                record += (expression(m.group(5)),)
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


# Lists as .debug_info points at them.
L_UNIT = re.compile(r"^0x[0-9a-f]+: \w+ Unit: .* version = 0x([0-9a-f]+)")
L_AT_LIST = re.compile(r"^\s+DW_AT_(\w+)\s+\((?:indexed \(0x[0-9a-f]+\) \w+ = )?0x([0-9a-f]+):? ?$")
L_AT_ENTRY = re.compile(r"^\s+\[0x([0-9a-f]+), 0x([0-9a-f]+)\)(\))?(?:: (.*))?$")
RANGE_ATTRIBUTES = ("ranges", "start_scope")


def closed(text):
    """text without the parenthesis that closes the attribute, and whether
    it had it."""
    if text.endswith(")") and text.count(")") > text.count("("):
        return text[:-1], True
    return text, False


def llvm_referenced(text):
    """The lists llvm-dwarfdump shows at the attributes: by (ranges or not,
    DWARF 5 or not, offset), their entries (begin, end, expression)."""
    lists, version, current = {}, 0, None
    for line in text.splitlines():
        m = L_UNIT.match(line)
        if m:
            version = int(m.group(1), 16)
            continue
        m = L_AT_LIST.match(line)
        if m:
            key = (m.group(1) in RANGE_ATTRIBUTES, version == 5, int(m.group(2), 16))
            current = [] if key not in lists else None
            if current is not None:
                lists[key] = current
            continue
        m = L_AT_ENTRY.match(line) if current is not None else None
        if m:
            rest, done = closed(m.group(4) or "")
            done = done or m.group(3) is not None
            current.append((int(m.group(1), 16), int(m.group(2), 16),
                            expression(rest) if m.group(4) is not None else None))
            if done:
                current = None
            continue
        current = None
    return lists


LIST_SECTIONS = {".debug_loc": (False, False), ".debug_loclists": (False, True),
                 ".debug_ranges": (True, False), ".debug_rnglists": (True, True)}


def tdump_referenced(text):
    """The lists tdump shows, keyed as llvm_referenced keys them; entries
    whose addresses come from .debug_addr have None for them."""
    lists, section, current = {}, None, None
    for line in text.splitlines():
        m = HEADING.match(line)
        if m:
            section = LIST_SECTIONS.get(m.group(1))
            current = None
            continue
        if section is None:
            continue
        m = T_LIST.match(line)
        if m:
            current = lists.setdefault((*section, int(m.group(1), 16)), [])
            continue
        if current is None:
            continue
        m = T_PAIR.match(line)
        if m and m.group(3) is not None:
            current.append((int(m.group(3), 16), int(m.group(4), 16),
                            expression(m.group(5)) if not section[0] else None))
            continue
        m = T_ENTRY.match(line)
        if m and not m.group(1).endswith(("_base_address", "_base_addressx", "_end_of_list",
                                          "_view_pair", "_default_location")):
            begin = int(m.group(3), 16) if m.group(3) else None
            end = int(m.group(4), 16) if m.group(4) else None
            current.append((begin, end, expression(m.group(5)) if not section[0] else None))
    return lists


def compare_referenced(a, path, ours, failures):
    theirs = llvm_referenced(dwarfdump(a, path, "--debug-info"))
    image = path.endswith(".dll")
    compared = 0
    for key, entries in theirs.items():
        mine = ours.get(key)
        if mine is not None:
            mine = [(b, e, x) if image and b is not None else (None, None, x)
                    for b, e, x in mine]
            entries = [(b, e, x) if image and m[0] is not None else (None, None, x)
                       for (b, e, x), m in zip(entries, mine)] if len(mine) == len(entries) \
                else entries
        # Where llvm-dwarfdump cannot decode an expression (it does not know
        # DW_OP_implicit_pointer in DWARF 5 lists), what it decoded before.
        if mine is not None and len(mine) == len(entries):
            mine = [(b, e, x[:y.index(DAMAGE)] if x and y and DAMAGE in y else x)
                    for (b, e, x), (_, _, y) in zip(mine, entries)]
            entries = [(b, e, y[:y.index(DAMAGE)] if y and DAMAGE in y else y)
                       for b, e, y in entries]
        compared += 1 + len(entries)
        if mine != entries:
            failures.append(f"{os.path.basename(path)} list {key}:\n"
                            f"  tdump:          {mine}\n  llvm-dwarfdump: {entries}")
    return compared


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
    listing = tdump(a, path, "-iuvw")
    ours = tdump_tables(listing)
    address_size = 4 if "32" in os.path.basename(path) else 8
    compared = compare_referenced(a, path, tdump_referenced(listing), failures)
    # GCC's location views leave the front-to-back reading of its location
    # lists to garbage, and its range lists hold lists nothing points at;
    # the DLLs hold GCC's start-up code.
    switches = SWITCHES if path.endswith("clang.o") else {
        name: switch for name, switch in SWITCHES.items() if name != ".debug_loc" and
        name != ".debug_loclists" and name != ".debug_ranges"}
    # Each table in a run of its own: where llvm-dwarfdump fails on one, the
    # others are whole. The runs go side by side, as most of their time is
    # the start of the program.
    with ThreadPoolExecutor(max_workers=len(switches)) as pool:
        readings = list(pool.map(lambda switch: dwarfdump_partial(a, path, switch),
                                 switches.values()))
    for name, (text, whole) in zip(switches, readings):
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
