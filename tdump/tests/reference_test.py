#!/usr/bin/env python3
"""Compares tdump's listings of cross-built fixtures with binutils' view of
the same files: exports, imports, imported modules, base relocations, COFF
symbols (of an object and of each archive member), demangled names and the
IMPDEF lines of an import library. Time stamps and image bases are not
compared: they are the only fields that differ between two builds.
One more check needs no fixture: the Microsoft C++ names that Wine's C and
C++ runtime DLLs export, demangled by tdump and by llvm-undname.

    reference_test.py CHECK --tdump T --objdump O --cxxfilt C --ar A --fixtures DIR
    reference_test.py msvc_demangling ... --undname U --wine-dlls DIR
"""
import argparse
import glob
import os
import re
import subprocess
import sys
import tempfile


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True, errors="replace").stdout


def section(text, title):
    """The lines of a tdump listing section, from its title to the next one."""
    lines = text.splitlines()
    start = lines.index(title) + 2
    end = start
    while end < len(lines) and not (end + 1 < len(lines) and set(lines[end + 1]) == {"-"}
                                    and lines[end] != ""):
        end += 1
    return lines[start:end]


def objdump_exports(objdump, dll):
    text = run(objdump, "-p", dll)
    rvas = {}
    base_match = re.search(r"Export Address Table -- Ordinal Base (\d+)", text)
    for m in re.finditer(r"\[\s*(\d+)\] \+base\[\s*(\d+)\]\s+([0-9a-f]+) Export RVA", text):
        rvas[int(m.group(2))] = int(m.group(3), 16)
    names = set(re.findall(r"^\t\[\s*\d+\] (\S+)$", text.split("[Ordinal/Name Pointer] Table")[1], re.M))
    return int(base_match.group(1)), rvas, names


def check_exports(a):
    dll = f"{a.fixtures}/sample.dll"
    base, rvas, names = objdump_exports(a.objdump, dll)
    listing = run(a.tdump, "-ee", "-m", dll)
    mine_rvas, mine_names = {}, set()
    for line in section(listing, "Exports"):
        m = re.match(r"^\s+(\d+)\s+([0-9A-F]{8})\s+(\S+)", line)
        if m:
            mine_rvas[int(m.group(1))] = int(m.group(2), 16)
            mine_names.add(m.group(3))
    assert base == 1 and len(rvas) == 7, (base, rvas)
    return compare("ordinal -> RVA", rvas, mine_rvas) and compare("names", names, mine_names)


def check_imports(a):
    exe = f"{a.fixtures}/client.exe"
    expected = set()
    module = None
    for line in run(a.objdump, "-p", exe).splitlines():
        m = re.match(r"^\tDLL Name: (\S+)", line)
        if m:
            module = m.group(1)
            continue
        m = re.match(r"^\t[0-9a-f]+\t\s*(\d+)\s+(\S+)$", line)
        if m and module:
            expected.add((module, int(m.group(1)), m.group(2)))
        elif line.strip() == "":
            module = None if line == "" else module
    mine = set()
    module = None
    for line in section(run(a.tdump, "-em", "-m", exe), "Imports"):
        m = re.match(r"^  Module (\S+)$", line)
        if m:
            module = m.group(1)
        m = re.match(r"^    ([0-9A-F]{4})  (\S+)$", line)
        if m:
            mine.add((module, int(m.group(1), 16), m.group(2)))
    assert any(name == "sample_add" for _, _, name in expected), expected
    return compare("imports", expected, mine)


def check_modules(a):
    exe = f"{a.fixtures}/client.exe"
    expected = re.findall(r"^\tDLL Name: (\S+)$", run(a.objdump, "-p", exe), re.M)
    mine = [line.strip() for line in section(run(a.tdump, "-em.", exe), "Imported modules")]
    return compare("modules in order", expected, [m for m in mine if m])


def check_relocations(a):
    ok = True
    for image in ("sample.dll", "client.exe"):
        path = f"{a.fixtures}/{image}"
        expected = {(int(m.group(1), 16), m.group(2)) for m in
                    re.finditer(r"reloc\s+\d+ offset\s+[0-9a-f]+ \[([0-9a-f]+)\] (\S+)", run(a.objdump, "-p", path))}
        mine = {(int(m.group(1), 16), m.group(2)) for m in
                re.finditer(r"^    [0-9A-F]{3}  ([0-9A-F]{8})  (\S+)$", run(a.tdump, "-R", path), re.M)}
        assert len(expected) > 10, expected
        ok = compare(f"base relocations of {image}", expected, mine) and ok
    return ok


SYMBOL = re.compile(r"^\[\s*(\d+)\]\(sec\s+(-?\d+)\)\(fl 0x[0-9a-f]+\)\(ty\s+([0-9a-f]+)\)\(scl\s+(\d+)\) "
                    r"\(nx (\d+)\) 0x([0-9a-f]+) (.*)$")
MY_SYMBOL = re.compile(r"^  \[\s*(\d+)\]  ([0-9A-F]{8})  (\S+(?: \S+)?)\s+([0-9A-F]{4})\s+(\d+) \S+\s+(\d+)  (.*)$")
SPECIAL_SECTIONS = {"UNDEF": 0, "ABS": -1, "DEBUG": -2}


def objdump_symbols(text):
    """Symbols per member ("" for a lone object), as comparable tuples."""
    members, member = {}, ""
    for line in text.splitlines():
        m = re.match(r"^(\S+):\s+file format", line)
        if m:
            member = m.group(1).rsplit("/", 1)[-1]
            continue
        m = SYMBOL.match(line)
        if m:
            index, sec, ty, scl, nx, value, name = m.groups()
            members.setdefault(member, []).append(
                (int(index), int(sec), int(ty, 16), int(scl), int(nx), int(value, 16), name))
    return members


def my_symbols(text):
    """As objdump_symbols; objdump shows a file symbol by the file name its
    auxiliary record holds, which tdump lists on the line below."""
    members, member = {}, ""
    for line in text.splitlines():
        m = re.match(r"^==== Member \d+: (\S+) \(", line)
        if m:
            member = m.group(1)
            continue
        m = re.match(r"^\s+file name: (.*)$", line)
        if m and members.get(member) and members[member][-1][3] == 103:
            members[member][-1] = members[member][-1][:6] + (m.group(1),)
            continue
        m = MY_SYMBOL.match(line)
        if m:
            index, value, sec, ty, scl, nx, name = m.groups()
            number = SPECIAL_SECTIONS.get(sec.split()[0])
            number = int(sec.split()[0]) if number is None else number
            members.setdefault(member, []).append(
                (int(index), number, int(ty, 16), int(scl), int(nx), int(value, 16), name))
    return members


def check_symbols(a):
    ok = True
    for name in ("objects.o", "more.o"):
        path = f"{a.fixtures}/{name}"
        expected = objdump_symbols(run(a.objdump, "-t", path))[name]
        mine = my_symbols(run(a.tdump, "-C", "-m", path))[""]
        assert len(expected) > 5, expected
        ok = compare(f"symbols of {name}", expected, mine) and ok
    return ok


def check_archive(a):
    path = f"{a.fixtures}/libfixture.a"
    expected = objdump_symbols(run(a.objdump, "-t", path))
    mine = my_symbols(run(a.tdump, "-C", "-m", path))
    members = run(a.ar, "t", path).split()
    listed = re.findall(r"^\s+\d+\s+[0-9A-F]{8}\s+\d+\s+COFF object\s+(\S+)$", run(a.tdump, "-l", path), re.M)
    return compare("archive members", members, listed) and compare("symbols per member", expected, mine)


def check_demangling(a):
    path = f"{a.fixtures}/objects.o"
    raw = my_symbols(run(a.tdump, "-C", "-m", path))[""]
    shown = my_symbols(run(a.tdump, "-C", path))[""]
    names = [s[6] for s in raw]
    filtered = run_input(a.cxxfilt, "\n".join(names) + "\n").splitlines()
    assert sum(1 for n in names if n.startswith("_Z")) > 10, names
    return compare("demangled names", filtered, [s[6] for s in shown])


def check_impdef(a):
    _, _, exported = objdump_exports(a.objdump, f"{a.fixtures}/sample.dll")
    lines = section(run(a.tdump, "-li", f"{a.fixtures}/libsample.dll.a"), "Module definition (IMPDEF)")
    mine = {line.split()[0] for line in lines if line.startswith("    ")}
    data = {line.split()[0] for line in lines if line.endswith(" DATA")}
    return compare("IMPDEF names", exported, mine) and compare("DATA exports", {"sample_counter"}, data)


def check_checksum(a):
    """The image checksum ld stores matches the one tdump computes (Wine's own
    DLLs would not do: Wine marks them after linking, so theirs do not match)."""
    lines = section(run(a.tdump, "-oc", f"{a.fixtures}/sample.dll"), "Image checksum")
    stored = re.search(r"Stored\s+([0-9A-F]{8})", "\n".join(lines)).group(1)
    return compare("checksum verdict", ["ok"], [line.strip() for line in lines if line.strip() in ("ok", "** MISMATCH")]) \
        and compare("checksum set", True, stored != "00000000")


def check_longfilename(a):
    """A file name too long for the auxiliary record, which GNU as puts in
    the string table."""
    path = f"{a.fixtures}/longname.o"
    expected = objdump_symbols(run(a.objdump, "-t", path))["longname.o"]
    mine = my_symbols(run(a.tdump, "-C", "-m", path))[""]
    assert any(s[6] == "a_source_file_with_a_long_name.c" for s in expected), expected
    return compare("symbols of longname.o", expected, mine)


def impdef_blocks(listing):
    """tdump's -li lines by DLL: [(dll, [(name or None, NONAME ordinal or None, data)])]."""
    blocks = []
    for line in section(listing, "Module definition (IMPDEF)"):
        m = re.match(r"^LIBRARY\s+(.+)$", line)
        if m:
            blocks.append((m.group(1), []))
            continue
        if not line.startswith("    ") or not blocks:
            continue
        tokens = line.split()
        data = tokens[-1] == "DATA"
        tokens = tokens[:-1] if data else tokens
        ordinal = None
        if len(tokens) >= 2 and tokens[-1] == "NONAME":
            ordinal, tokens = int(tokens[-2].lstrip("@")), tokens[:-2]
        blocks[-1][1].append((tokens[0] if tokens else None, ordinal, data))
    return blocks


def imported_names(nm, library, undecorate):
    """The library's imports by its __imp_ symbols, prefix off, as the names
    of the DLL's exports (on i386 one leading underscore off); and those that
    are data (no code symbol of the name beside the __imp_ one)."""
    defined = set(re.findall(r"^[0-9a-fA-F]+ [A-Za-z] (\S+)$", run(nm, library), re.M))
    symbols = {s[len("__imp_"):] for s in defined if s.startswith("__imp_")}
    name = (lambda s: s[1:] if s.startswith("_") else s) if undecorate else (lambda s: s)
    return {name(s) for s in symbols}, {name(s) for s in symbols if s not in defined}


def linked_imports(objdump, image, dll):
    """How the image linked against an import library imports from dll:
    the names it imports by, and the ordinals."""
    names, ordinals, module = set(), set(), None
    for line in run(objdump, "-p", image).splitlines():
        m = re.match(r"^\tDLL Name: (\S+)", line)
        if m:
            module = m.group(1)
            continue
        m = re.match(r"^\t[0-9a-f]+\t\s*(\d+)\s+(\S+)$", line)
        if m and module == dll:
            if m.group(2) == "<none>":
                ordinals.add(int(m.group(1)))
            else:
                names.add(m.group(2))
    return names, ordinals


def readobj_by_ordinal(readobj, library):
    """The __imp_ symbols (prefix off) of the short members imported by ordinal."""
    found = set()
    for record in run(readobj, "--coff-imports", library).split("\nFile: ")[1:]:
        if "Name type: ordinal" in record:
            found |= set(re.findall(r"^Symbol: __imp_(\S+)$", record, re.M))
    return found


def check_importlibs(a):
    """-li on GNU and short-format import libraries: one block per DLL with
    its name, every import under the name the DLL exports, ordinals of the
    NONAME ones, DATA; 32-bit libraries undecorated alike."""
    ok = True
    for library, nm, image in (("libimports.a", a.nm, "importer_gnu.exe"),
                               ("imports.lib", a.llvm_nm, "importer_llvm.exe")):
        path = f"{a.fixtures}/{library}"
        blocks = impdef_blocks(run(a.tdump, "-li", path))
        lines = [entry for _, entries in blocks for entry in entries]
        names, data = imported_names(nm, path, False)
        by_name, ordinals = linked_imports(a.objdump, f"{a.fixtures}/{image}", "tdimports.dll")
        assert len(names) == 5 and len(ordinals) == 2, (names, ordinals)
        ok = compare(f"{library}: DLLs", ["tdimports.dll"], [dll for dll, _ in blocks]) and ok
        ok = compare(f"{library}: names", names, {n for n, _, _ in lines}) and ok
        ok = compare(f"{library}: imported by name", by_name, {n for n, o, _ in lines if o is None}) and ok
        ok = compare(f"{library}: NONAME ordinals", ordinals, {o for _, o, _ in lines if o is not None}) and ok
        ok = compare(f"{library}: DATA", data, {n for n, _, d in lines if d}) and ok
    members = set(run(a.ar, "t", f"{a.fixtures}/imports32.lib").split())
    by_ordinal = {s[1:] for s in readobj_by_ordinal(a.llvm_readobj, f"{a.fixtures}/imports32.lib")}
    listings = []
    for library, nm in (("libimports32.a", a.nm), ("imports32.lib", a.llvm_nm)):
        path = f"{a.fixtures}/{library}"
        blocks = impdef_blocks(run(a.tdump, "-li", path))
        lines = [entry for _, entries in blocks for entry in entries]
        names, data = imported_names(nm, path, True)
        assert len(names) == 5 and by_ordinal == {"hidden32"}, (names, by_ordinal)
        ok = compare(f"{library}: DLLs", sorted(members), [dll for dll, _ in blocks]) and ok
        ok = compare(f"{library}: names", names, {n for n, _, _ in lines}) and ok
        ok = compare(f"{library}: NONAME", by_ordinal, {n for n, o, _ in lines if o is not None}) and ok
        ok = compare(f"{library}: DATA", data, {n for n, _, d in lines if d}) and ok
        listings.append(set(lines))
    return compare("32-bit GNU and LLVM lines alike", listings[0], listings[1]) and ok


# The DLL families whose decorated exports are compared; each must be there.
WINE_RUNTIMES = ("msvcp*.dll", "msvcr*.dll", "ucrtbase.dll")


def undname_spacing_aside(text):
    """tdump spaces pointers and templates as Microsoft's undname does
    ("char * &", "a<b<c> >"), llvm-undname does not ("char *&", "a<b<c>>"):
    blank runs count as one, and blanks beside '*' and '&' or between two
    '>' do not count."""
    text = re.sub(r"\s+", " ", text).strip()
    text = re.sub(r" ?([*&]) ?", r"\1", text)
    return re.sub(r"> (?=>)", ">", text)


def llvm_undname(undname, names):
    """llvm-undname's reading of each name, or None where it has none: it
    echoes each name, then its reading and a blank line, or only a blank
    line when it cannot read the name."""
    lines = subprocess.run([undname], input="\n".join(names) + "\n", capture_output=True,
                           text=True).stdout.split("\n")
    readings, at = {}, 0
    for name in names:
        assert lines[at] == name, (at, lines[at], name)
        if lines[at + 1] == "":
            readings[name], at = None, at + 2
        else:
            readings[name], at = lines[at + 1], at + 3
    return readings


def check_msvc_demangling(a):
    assert a.undname and a.wine_dlls, "msvc_demangling needs --undname and --wine-dlls"
    dlls = []
    for pattern in WINE_RUNTIMES:
        found = sorted(glob.glob(os.path.join(a.wine_dlls, pattern)))
        assert found, f"no {pattern} in {a.wine_dlls}: Wine's DLLs are missing (scripts/setup.sh installs them)"
        dlls += found
    names = set()
    for dll in dlls:
        for line in section(run(a.tdump, "-ee", "-m", dll), "Exports"):
            m = re.match(r"^\s+\d+\s+[0-9A-F]{8}\s+(\?\S+)", line)
            if m:
                names.add(m.group(1))
    names = sorted(names)
    assert len(names) > 4000, f"only {len(names)} decorated names in {len(dlls)} DLLs"
    with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as listed:
        listed.write("\n".join(names) + "\n")
    try:
        mine = section(run(a.tdump, "-um", listed.name), "Demangled names")
    finally:
        os.unlink(listed.name)
    readings = llvm_undname(a.undname, names)
    expected = {n: undname_spacing_aside(r) for n, r in readings.items() if r is not None}
    shown = {n: undname_spacing_aside(m) for n, m in zip(names, mine) if n in expected}
    agreeing = sum(shown[n] == reading for n, reading in expected.items())
    print(f"{len(dlls)} DLLs, {len(names)} decorated names; llvm-undname reads {len(expected)}, "
          f"tdump agrees on {agreeing}")
    return compare("lines demangled", len(names), len(mine)) and compare("demangled names", expected, shown)


def run_input(command, text):
    return subprocess.run([command], input=text, check=True, capture_output=True, text=True).stdout


def compare(what, expected, mine):
    if expected == mine:
        print(f"ok: {what}")
        return True
    print(f"MISMATCH: {what}")
    if isinstance(expected, (set, dict)) or isinstance(mine, (set, dict)):
        e, m = (set((k, str(v)) for k, v in x.items()) if isinstance(x, dict) else set(x) for x in (expected, mine))
        print("  only in the reference:", sorted(e - m, key=str)[:20])
        print("  only in tdump:       ", sorted(m - e, key=str)[:20])
    else:
        for i, (x, y) in enumerate(zip(expected, mine)):
            if x != y:
                print(f"  first difference at {i}:\n    reference {x}\n    tdump     {y}")
                break
        print(f"  lengths: reference {len(expected)}, tdump {len(mine)}")
    return False


CHECKS = {name[len("check_"):]: f for name, f in globals().items() if name.startswith("check_")}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("check", choices=sorted(CHECKS))
    for option in ("tdump", "objdump", "cxxfilt", "ar", "fixtures"):
        parser.add_argument(f"--{option}", required=True)
    for option in ("nm", "llvm-nm", "llvm-readobj"):  # for the import library checks
        parser.add_argument(f"--{option}")
    for option in ("undname", "wine-dlls"):  # for msvc_demangling
        parser.add_argument(f"--{option}")
    arguments = parser.parse_args()
    return 0 if CHECKS[arguments.check](arguments) else 1


if __name__ == "__main__":
    sys.exit(main())
