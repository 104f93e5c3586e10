#!/usr/bin/env python3
"""Compares tdump's listings of cross-built fixtures with binutils' view of
the same files: exports, imports, imported modules, base relocations, COFF
symbols (of an object and of each archive member), demangled names and the
IMPDEF lines of an import library. Time stamps and image bases are not
compared: they are the only fields that differ between two builds.

    reference_test.py CHECK --tdump T --objdump O --cxxfilt C --fixtures DIR
"""
import argparse
import re
import subprocess
import sys


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
    arguments = parser.parse_args()
    return 0 if CHECKS[arguments.check](arguments) else 1


if __name__ == "__main__":
    sys.exit(main())
