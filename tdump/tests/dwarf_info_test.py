#!/usr/bin/env python3
"""Compares tdump's .debug_info listing (-ib) with llvm-dwarfdump's
--debug-info: the units (offset, version, unit type, address size), every
entry (offset, tag, depth) and each entry's attributes with their values:
strings, numbers, enumerations, addresses (high_pc as the address it
gives), reference targets and the names of the types they point at.
Linkage names are compared raw (-m), and demangled with c++filt's
reading of the raw ones.
Wine's shell32.dll is compared the same way."""
import os
import re

import dwarf_reference as ref


LLVM_UNIT = re.compile(r"^0x([0-9a-f]+): (\w+) Unit: .*version = 0x([0-9a-f]+)"
                       r"(?:, unit_type = DW_UT_(\w+))?.*addr_size = 0x([0-9a-f]+)")
LLVM_ENTRY = re.compile(r"^0x([0-9a-f]+):( +)(DW_TAG_\w+|NULL)")
LLVM_ATTRIBUTE = re.compile(r"^ +DW_AT_(\w+)\t\((.*?)\)?$")
TDUMP_UNIT = re.compile(r"^  Unit at ([0-9A-F]+): version (\d+)(?: (\w+))?,")
TDUMP_SIZES = re.compile(r"^    abbreviations at [0-9A-F]+, addresses of (\d+) bytes")
TDUMP_ENTRY = re.compile(r"^  ([0-9A-F]{8})  ( *)(\w+)( \(children\))?$")
TDUMP_ATTRIBUTE = re.compile(r"^ {12,}(\w+) +(\w+) +(.*)$")

# Values the two show differently by design: expressions and location or
# range lists (other tables' own tests compare them), and file numbers
# (llvm-dwarfdump names the file).
SKIPPED = {"location", "frame_base", "data_member_location", "decl_file", "call_file",
           "ranges", "GNU_call_site_value", "call_value", "call_target",
           "GNU_call_site_target", "call_origin", "vtable_elem_location",
           "GNU_locviews", "static_link", "return_addr", "use_location",
           "call_data_location", "call_data_value", "GNU_call_site_data_value",
           "GNU_macros", "macros"}
# Decimal in tdump's listing.
DECIMAL = {"decl_line", "decl_column", "call_line", "call_column"}


def parse_llvm(text):
    units, entries = [], []
    for line in text.splitlines():
        m = LLVM_UNIT.match(line)
        if m:
            units.append((int(m[1], 16), int(m[3], 16), m[4] or "", int(m[5], 16)))
            continue
        m = LLVM_ENTRY.match(line)
        if m:
            tag = "null" if m[3] == "NULL" else m[3][len("DW_TAG_"):]
            entries.append([int(m[1], 16), tag, (len(m[2]) - 1) // 2, []])
            continue
        m = LLVM_ATTRIBUTE.match(line)
        if m and entries:
            entries[-1][3].append((m[1], m[2]))
    return units, entries


def parse_tdump(text):
    units, entries = [], []
    for line in text.splitlines():
        m = TDUMP_UNIT.match(line)
        if m:
            units.append([int(m[1], 16), int(m[2]), m[3] or "", 0])
            continue
        m = TDUMP_SIZES.match(line)
        if m and units:
            units[-1][3] = int(m[1])
            continue
        m = TDUMP_ENTRY.match(line)
        if m:
            entries.append([int(m[1], 16), m[3], len(m[2]) // 2, []])
            continue
        m = TDUMP_ATTRIBUTE.match(line)
        if m and entries:
            entries[-1][3].append((m[1], m[2], m[3]))
    return [tuple(u) for u in units], entries


def unquote(text):
    return text[1:-1] if len(text) >= 2 and text[0] == '"' and text[-1] == '"' else None


def expected_value(name, value):
    """llvm-dwarfdump's value as tdump writes it, or None when not compared."""
    if name in SKIPPED:
        return None
    if value.startswith('"'):
        return ("string", unquote(value))
    m = re.fullmatch(r'0x([0-9a-f]+)(?: "(.*)")?', value)
    if m:
        return ("number", int(m[1], 16), m[2])
    if re.fullmatch(r"-?\d+", value):
        return ("number", int(value), None)
    if value in ("true", "false"):
        return ("text", value)
    m = re.fullmatch(r"DW_[A-Z]+_(\w+)", value)
    if m:
        return ("text", m[1])
    return None


def actual_value(expected, name, form, value):
    if expected[0] != "number" or value.startswith('"'):
        return ("string", unquote(value)) if value.startswith('"') else ("text", value)
    if form in ("flag", "flag_present"):
        # Version 2's flags: llvm-dwarfdump shows the byte.
        return ("number", int(value == "true"), None)
    m = re.fullmatch(r'(?:\[[0-9A-F]+\] )?([0-9A-F]+)(?: \(ends at ([0-9A-F]+)\))?(?: "(.*)")?',
                     value)
    if m and not (name in DECIMAL or form in ("sdata", "implicit_const")):
        number = int(m[2] or m[1], 16)
        return ("number", number, m[3])
    if re.fullmatch(r"-?\d+", value):
        return ("number", int(value), None)
    return ("text", value)


def llvm_miswrites(name):
    """Whether llvm-dwarfdump 14 writes this type name wrongly: unnamed
    structures and unions and restrict qualifiers by their kind alone
    ("structure  *", "restrict "), arrays of function pointers cut short
    ("int (*[3]")."""
    return re.search(r"\b(structure|union|class|enumeration|restrict) ", name + " ") is not None \
        or name.count("(") != name.count(")")


def compare_values(where, name, expected, actual, failures):
    if expected[0] == "number" and actual[0] == "number":
        # Negative constants: llvm-dwarfdump shows some as unsigned.
        if expected[1] != actual[1] and expected[1] != actual[1] % (1 << 64):
            failures.append(f"{where}: {name} is {actual[1]:#x}, expected {expected[1]:#x}")
        elif expected[2] is not None and expected[2] != actual[2] and \
                not llvm_miswrites(expected[2]):
            failures.append(f"{where}: {name} names {actual[2]!r}, expected {expected[2]!r}")
    elif expected != actual[:len(expected)]:
        failures.append(f"{where}: {name} is {actual}, expected {expected}")


def compare(path, llvm, ours, failures):
    name = os.path.basename(path)
    llvm_units, llvm_entries = llvm
    our_units, our_entries = ours
    if llvm_units != our_units:
        failures.append(f"{name}: units {our_units[:3]}..., expected {llvm_units[:3]}...")
    if len(llvm_entries) != len(our_entries):
        failures.append(f"{name}: {len(our_entries)} entries, expected {len(llvm_entries)}")
    for expected, actual in zip(llvm_entries, our_entries):
        where = f"{name} entry {expected[0]:#x}"
        if expected[:3] != actual[:3]:
            failures.append(f"{where}: {actual[:3]}, expected {expected[:3]}")
            return
        if [a[0] for a in expected[3]] != [a[0] for a in actual[3]]:
            failures.append(f"{where}: attributes {[a[0] for a in actual[3]]}, "
                            f"expected {[a[0] for a in expected[3]]}")
            continue
        for (attribute, value), (_, form, shown) in zip(expected[3], actual[3]):
            e = expected_value(attribute, value)
            if e is not None:
                compare_values(where, attribute, e, actual_value(e, attribute, form, shown),
                               failures)


def linkage_names(entries):
    return [a[2] for e in entries for a in e[3] if a[0] in ("linkage_name", "MIPS_linkage_name")]


def main():
    a = ref.arguments(__doc__)
    failures = []
    for path in ref.fixture_paths(a):
        llvm = parse_llvm(ref.dwarfdump(a, path, "--debug-info"))
        raw = parse_tdump(ref.tdump(a, path, "-ib", "-m"))
        compare(path, llvm, raw, failures)
        demangled = parse_tdump(ref.tdump(a, path, "-ib"))
        raw_names = [unquote(n) for n in linkage_names(raw[1])]
        expected = ref.run("c++filt", *raw_names).splitlines() if raw_names else []
        names = [unquote(n) for n in linkage_names(demangled[1])]
        if not raw_names or names != expected:
            failures.append(f"{path}: linkage names {names}, expected {expected}")
    if os.path.exists(ref.WINE_DLL):
        llvm = parse_llvm(ref.dwarfdump(a, ref.WINE_DLL, "--debug-info"))
        compare(ref.WINE_DLL, llvm, parse_tdump(ref.tdump(a, ref.WINE_DLL, "-ib", "-m")), failures)
    return ref.report(failures)


if __name__ == "__main__":
    raise SystemExit(main())
