#!/usr/bin/env python3
"""Compares tdump's listings of cross-built fixtures with binutils' view of
the same files: exports, imports, imported modules, base relocations, COFF
symbols (of an object and of each archive member), demangled names and the
IMPDEF lines of an import library. Time stamps and image bases are not
compared: they are the only fields that differ between two builds.
The run-time tables of a cross-built executable (resources, TLS, load
configuration, unwind data, certificates and overlay) are compared with
llvm-readobj's and windres' readings, and so are the headers, imports,
exports, TLS directories and load configuration of 32-bit images (MinGW's
and lld-link's).
The program databases lld-link writes for a program of our own are
compared with llvm-pdbutil's reading, and with the images' debug directories;
those debug directories are compared with llvm-readobj's reading.
The LE and LX executables NASM lays out from our own sources: the LE
header, objects, page map and names compared with winedump's reading, the
types of both with file's, the rest of the LX file with what its source says.
One more check needs no fixture: the Microsoft C++ names that Wine's C and
C++ runtime DLLs export, demangled by tdump and by llvm-undname.

    reference_test.py CHECK --tdump T --objdump O --cxxfilt C --ar A --fixtures DIR
    reference_test.py msvc_demangling ... --undname U --wine-dlls DIR
    reference_test.py resources ... --llvm-readobj R --windres W
    reference_test.py linear ... --winedump W --file F
"""
import argparse
import glob
import os
import re
import struct
import subprocess
import sys
import tempfile
import uuid


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


def my_resource_leaves(listing):
    """tdump's resource tree as {(type, name, language): (data RVA, size, code page)};
    types and names are numbers or strings."""
    leaves, kind, name = {}, None, None
    for line in section(listing, "Resources"):
        m = re.match(r'^  Type (?:(\d+)(?: \(\w+\))?|"(.*)")$', line)
        if m:
            kind = int(m.group(1)) if m.group(1) else m.group(2)
            continue
        m = re.match(r'^    (?:ID (\d+)|Name "(.*)")$', line)
        if m:
            name = int(m.group(1)) if m.group(1) else m.group(2)
            continue
        m = re.match(r"^      Language ([0-9A-F]{4})  data RVA ([0-9A-F]{8})  size ([0-9A-F]{8})  code page (\d+)$", line)
        if m:
            leaves[(kind, name, int(m.group(1), 16))] = (int(m.group(2), 16), int(m.group(3), 16), int(m.group(4)))
    return leaves


def readobj_resource_leaves(text):
    leaves, kind, name, language = {}, None, None, None
    for line in text.splitlines():
        m = re.match(r"^  Type: (?:\S+ \(ID (\d+)\)|\(ID (\d+)\)|(\S+)) \[$", line)
        if m:
            kind = int(m.group(1) or m.group(2)) if (m.group(1) or m.group(2)) else m.group(3)
            continue
        m = re.match(r"^    Name: (?:\(ID (\d+)\)|(\S+)) \[$", line)
        if m:
            name = int(m.group(1)) if m.group(1) else m.group(2)
            continue
        m = re.match(r"^      Language: \(ID (\d+)\) \[$", line)
        if m:
            language = int(m.group(1))
            continue
        m = re.match(r"^\s+(DataRVA|DataSize|Codepage): (\S+)$", line)
        if m:
            leaves.setdefault((kind, name, language), [])
            leaves[(kind, name, language)].append(int(m.group(2), 0))
    return {key: tuple(values) for key, values in leaves.items()}


def rc_string(text):
    """A string literal of windres' .rc output: "" for a quote, \\ooo, \\xHHHH and \\n escapes."""
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == '"' and text[i + 1:i + 2] == '"':
            out.append('"')
            i += 2
        elif c == "\\" and text[i + 1] == "x":
            m = re.match(r"[0-9a-fA-F]{1,4}", text[i + 2:])
            out.append(chr(int(m.group(0), 16)))
            i += 2 + len(m.group(0))
        elif c == "\\" and text[i + 1] in "01234567":
            m = re.match(r"[0-7]{1,3}", text[i + 1:])
            out.append(chr(int(m.group(0), 8)))
            i += 1 + len(m.group(0))
        elif c == "\\":
            out.append({"n": "\n", "r": "\r", "t": "\t", "\\": "\\"}.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def windres_view(windres, image):
    """windres' reading of an image's resources as .rc text: the version
    numbers and strings, and the manifest's text."""
    rc = run(windres, "-i", image, "-O", "rc")
    versions = {m.group(1): ".".join(m.group(2).replace(" ", "").split(","))
                for m in re.finditer(r"^ (FILEVERSION|PRODUCTVERSION) (.*)$", rc, re.M)}
    strings = {m.group(1): rc_string(m.group(2))
               for m in re.finditer(r'^\s+VALUE "(\w+)", L?"(.*)"$', rc, re.M)}
    manifest = rc.split("/* RT_MANIFEST */")[1].split("\nBEGIN\n")[1].split("\nEND")[0]
    text = "".join(rc_string(m.group(1)) for m in re.finditer(r'^\s+"(.*)"$', manifest, re.M))
    return versions, strings, text.replace("\r", "").splitlines()


def check_resources(a):
    """The resource tree against llvm-readobj's; the version information and
    the manifest against windres' reading of them."""
    image = f"{a.fixtures}/runtime.exe"
    listing = run(a.tdump, "-eiRES", image)
    expected = readobj_resource_leaves(run(a.llvm_readobj, "--coff-resources", image))
    mine = my_resource_leaves(listing)
    assert len(expected) == 5 and ("TDUMPDATA", "SETTINGS", 0x407) in expected, expected
    versions, strings, manifest = windres_view(a.windres, image)
    lines = section(listing, "Resources")
    my_versions = {"FILEVERSION": None, "PRODUCTVERSION": None}
    for line in lines:
        m = re.match(r"^        (File|Product) version\s+(\S+)$", line)
        if m:
            my_versions[m.group(1).upper() + "VERSION"] = m.group(2)
    my_strings = dict(m.groups() for m in (re.match(r"^          (\w+) = (.*)$", line) for line in lines) if m)
    my_manifest = [line[len("        | "):] for line in lines if line.startswith("        | ")]
    assert "Caf\u00e9 \u65e5\u672c\u8a9e resources" in strings.values(), strings
    return (compare("resource leaves", expected, mine)
            and compare("version numbers", versions, my_versions)
            and compare("version strings", strings, my_strings)
            and compare("manifest lines", manifest, my_manifest))


def image_base(readobj, image):
    return int(re.search(r"^\s+ImageBase: (0x[0-9A-F]+)$", run(readobj, "--file-headers", image), re.M).group(1), 16)


def labelled(lines):
    """The "  Label ..... value" lines of a tdump listing section as {label: value}."""
    return {m.group(1).rstrip(): m.group(2) for m in (re.match(r"^  (\S.{29})(\S+)", line) for line in lines) if m}


def objdump_words(objdump, image, address, width, limit=64):
    """The words at a virtual address of the image, up to the first zero one, read by objdump."""
    text = run(objdump, "-s", f"--start-address={address:#x}", f"--stop-address={address + limit * width:#x}", image)
    data = bytearray()
    for m in re.finditer(r"^ [0-9a-f]+ ((?:[0-9a-f]{2,8} ){1,4})", text, re.M):
        data += bytes.fromhex(m.group(1).replace(" ", ""))
    words = [int.from_bytes(data[i:i + width], "little") for i in range(0, len(data) - width + 1, width)]
    return words[:words.index(0)] if 0 in words else words


def readobj_value(text):
    """A value as llvm-readobj prints it: a number, or a name with its number in parentheses."""
    m = re.search(r"\((0x[0-9A-F]+)\)", text)
    return int(m.group(1) if m else text.split()[0], 0)


def readobj_block(text, title):
    """The "Key: value" fields of one block of llvm-readobj's output, nested blocks left out."""
    fields, depth = {}, 0
    for line in text.split(f"\n{title} ")[1].splitlines()[1:]:
        closing = re.match(r"^\s*[}\]]$", line)
        if closing and depth == 0:
            break
        m = re.match(r"^\s+(\w+)(?:: (.*)| \[ (\(0x[0-9A-F]+\)))$", line)
        if m and depth == 0:
            fields[m.group(1)] = readobj_value(m.group(2) or m.group(3))
        opening = m.group(3) if m else line.endswith(("{", "["))
        depth += 1 if opening else -1 if closing else 0
    return fields


def tls_agrees(a, image, width):
    """The TLS directory of an image against llvm-readobj's, the callbacks
    against the array of width-byte addresses objdump shows where the
    directory points; and those callbacks."""
    expected = readobj_block(run(a.llvm_readobj, "--coff-tls-directory", image), "TLSDirectory")
    lines = section(run(a.tdump, "-eiTLS", image), "TLS directory")
    fields = labelled(lines)
    names = {"StartAddressOfRawData": "Raw data start", "EndAddressOfRawData": "Raw data end",
             "AddressOfIndex": "Index address", "AddressOfCallBacks": "Callbacks address",
             "SizeOfZeroFill": "Size of zero fill", "Characteristics": "Characteristics"}
    mine = {field: int(fields[label], 16) for field, label in names.items() if label in fields}
    assert set(expected) == set(names), expected
    callbacks = objdump_words(a.objdump, image, expected["AddressOfCallBacks"], width)
    listed = [int(m.group(1), 16) for m in
              (re.match(rf"^    ([0-9A-F]{{{2 * width}}})  \S+$", line) for line in lines) if m]
    assert len(callbacks) >= 1, callbacks
    name = os.path.basename(image)
    return (compare(f"{name}: TLS directory", expected, mine)
            & compare(f"{name}: TLS callbacks", callbacks, listed)), callbacks


def check_tls(a):
    """The TLS directories and callbacks of the 64-bit executables."""
    ok = True
    for name in ("runtime.exe", "runtime_lld.exe"):
        image = f"{a.fixtures}/{name}"
        if not os.path.exists(image) and name == "runtime_lld.exe":
            continue
        ok &= tls_agrees(a, image, 8)[0]
    return ok


# tdump's load configuration labels by llvm-readobj's field names.
LOAD_CONFIG_FIELDS = {
    "Size": "Size", "TimeDateStamp": "Time stamp", "MajorVersion": "Major version",
    "MinorVersion": "Minor version", "GlobalFlagsClear": "Global flags clear",
    "GlobalFlagsSet": "Global flags set", "CriticalSectionDefaultTimeout": "Critical section timeout",
    "DeCommitFreeBlockThreshold": "Decommit free block threshold",
    "DeCommitTotalFreeThreshold": "Decommit total free threshold",
    "LockPrefixTable": "Lock prefix table", "MaximumAllocationSize": "Maximum allocation size",
    "VirtualMemoryThreshold": "Virtual memory threshold", "ProcessHeapFlags": "Process heap flags",
    "ProcessAffinityMask": "Process affinity mask", "CSDVersion": "CSD version",
    "DependentLoadFlags": "Dependent load flags", "EditList": "Edit list",
    "SecurityCookie": "Security cookie", "SEHandlerTable": "SE handler table",
    "SEHandlerCount": "SE handler count", "GuardCFCheckFunction": "Guard CF check function",
    "GuardCFCheckDispatch": "Guard CF dispatch function",
    "GuardCFFunctionTable": "Guard CF function table",
    "GuardCFFunctionCount": "Guard CF function count", "GuardFlags": "Guard flags"}
LOAD_CONFIG_COUNTS = {"SE handler count", "Guard CF function count"}


def load_config_values(lines):
    """tdump's load configuration fields by llvm-readobj's names."""
    fields = labelled(lines)
    return {key: int(fields[label], 10 if label in LOAD_CONFIG_COUNTS else 16)
            for key, label in LOAD_CONFIG_FIELDS.items() if label in fields}


def check_load_config(a):
    """The load configuration LLVM's linker fills in, against llvm-readobj's
    reading: every field the structure's size covers, and the guard CF
    function table."""
    image = f"{a.fixtures}/runtime_lld.exe"
    text = run(a.llvm_readobj, "--coff-load-config", image)
    expected = readobj_block(text, "LoadConfig")
    lines = section(run(a.tdump, "-eiCFG", image), "Load configuration")
    mine = load_config_values(lines)
    assert set(expected) == set(LOAD_CONFIG_FIELDS) and expected["GuardCFFunctionCount"] == 2, expected
    base = image_base(a.llvm_readobj, image)
    table = [int(v, 16) - base for v in re.findall(r"^  (0x[0-9A-F]+)$", text.split("GuardFidTable [")[1], re.M)]
    start = lines.index("  Guard CF functions") + 1
    listed = [int(line.split()[0], 16) for line in lines[start:] if re.match(r"^    [0-9A-F]{8}$", line)]
    return compare("load configuration fields", expected, mine) and compare("guard CF functions", table, listed)


def readobj_unwind(text, base):
    """llvm-readobj --unwind as [(begin, end, unwind info, version, flags,
    prolog, code count, frame, codes, handler)], RVAs."""
    functions = []
    for block in text.split("RuntimeFunction {")[1:]:
        field = lambda name: re.search(rf"^\s+{name}: (.*)$", block, re.M)
        address = lambda name: int(re.search(r"\((0x[0-9A-F]+)\)", field(name).group(1)).group(1), 16) - base
        register, offset = field("FrameRegister").group(1), field("FrameOffset").group(1)
        codes = []
        for position, op, operands in re.findall(r"^\s+0x([0-9A-F]{2}): (\w+) ?(.*)$", block, re.M):
            values = dict(item.split("=") for item in operands.split(", ") if "=" in item)
            codes.append((int(position, 16), op, values.get("reg"),
                           int(values["size"], 0) if "size" in values else
                           int(values["offset"], 0) if "offset" in values else None))
        handler = field("Handler")
        functions.append((address("StartAddress"), address("EndAddress"), address("UnwindInfoAddress"),
                          int(field("Version").group(1)), int(re.search(r"Flags \[ \((0x[0-9A-F]+)\)", block).group(1), 16),
                          int(field("PrologSize").group(1)), int(field("UnwindCodeCount").group(1)),
                          None if register == "-" else (register.split()[0], int(offset, 0) * 16), codes,
                          address("Handler") if handler else None))
    return functions


def my_unwind(lines):
    functions = []
    for line in lines:
        m = re.match(r"^  ([0-9A-F]{8})  ([0-9A-F]{8})  ([0-9A-F]{8})  version (\d+), flags (\d+)(?: \([\w ]+\))?, "
                     r"prolog (\d+), (\d+) codes(?:, frame (\w+)\+0x([0-9A-F]+))?$", line)
        if m:
            functions.append([int(m.group(i), 16) for i in (1, 2, 3)] + [int(m.group(i)) for i in (4, 5, 6, 7)]
                             + [(m.group(8), int(m.group(9), 16)) if m.group(8) else None, [], None])
            continue
        m = re.match(r"^      ([0-9A-F]{2})  (\w+)\s+(.*)$", line)
        if m and functions:
            operand = m.group(3)
            register = re.match(r"^(R\w+|XMM\d+)", operand)
            number = re.search(r"0x([0-9A-F]+)$", operand)
            functions[-1][8].append((int(m.group(1), 16), m.group(2), register.group(1) if register else None,
                                     int(number.group(1), 16) if number else None))
            continue
        m = re.match(r"^      handler ([0-9A-F]{8}), data at [0-9A-F]{8}$", line)
        if m and functions:
            functions[-1][9] = int(m.group(1), 16)
    return [tuple(f) for f in functions]


def check_exceptions(a):
    """Every RUNTIME_FUNCTION and its unwind information against llvm-readobj --unwind."""
    image = f"{a.fixtures}/runtime.exe"
    expected = readobj_unwind(run(a.llvm_readobj, "--unwind", image), image_base(a.llvm_readobj, image))
    lines = section(run(a.tdump, "-eiEXC", image), "Exception table")
    mine = my_unwind(lines)
    assert len(expected) > 100 and any(f[9] is not None for f in expected), len(expected)
    count = int(lines[0].split()[0])
    return compare("function count", len(expected), count) and compare("functions and unwind information", expected, mine)


def check_certificates(a):
    """The certificate table and the overlay of runtime_signed.exe: where
    the headers put them (llvm-readobj), and the two entries the fixture
    script appended."""
    image = f"{a.fixtures}/runtime_signed.exe"
    headers = run(a.llvm_readobj, "--file-headers", "--sections", image)
    table = int(re.search(r"CertificateTableRVA: (0x[0-9A-F]+)", headers).group(1), 16)
    size = int(re.search(r"CertificateTableSize: (0x[0-9A-F]+)", headers).group(1), 16)
    ends = [int(p, 16) + int(s) for s, p in re.findall(r"RawDataSize: (\d+)\n\s+PointerToRawData: (0x[0-9A-F]+)", headers)
            if int(s) != 0]
    ends.append(int(re.search(r"SizeOfHeaders: (\d+)", headers).group(1)))
    overlay = (max(ends), os.path.getsize(image) - max(ends))
    listing = run(a.tdump, "-eiCRT", "-eiOVL", image)
    m = re.search(r"^  Table at file offset ([0-9A-F]{8}), size ([0-9A-F]{8})$", listing, re.M)
    entries = [(int(o, 16), int(n, 16), r, int(t)) for o, n, r, t in
               re.findall(r"^  ([0-9A-F]{8})  ([0-9A-F]{8})  (\d\.\d)\s+(\d+) \w+$", listing, re.M)]
    lines = section(listing, "Overlay")
    fields = labelled(lines)
    return (compare("certificate table", (table, size), (int(m.group(1), 16), int(m.group(2), 16)))
            and compare("certificates", [(table, 27, "2.0", 2), (table + 32, 31, "2.0", 1)], entries)
            and compare("overlay", overlay, (int(fields["File offset"], 16), int(fields["Size"], 16)))
            and compare("certificate table in the overlay", True,
                        any(line.startswith("  The certificate table") for line in lines)))


def pdbutil_sections(text):
    """llvm-pdbutil dump's output as {title: body}: each title stands above a
    line of "=" signs."""
    lines, sections, title = text.splitlines(), {}, None
    for i, line in enumerate(lines):
        if i + 1 < len(lines) and lines[i + 1].startswith("====="):
            title = line.strip()
            sections[title] = []
        elif title and not line.startswith("====="):
            sections[title].append(line.rstrip())
    return {key: "\n".join(body) for key, body in sections.items()}


def pdbutil_view(pdbutil, database):
    """llvm-pdbutil's reading of a program database: summary, streams,
    modules, public symbols, types and ids, and line entries per module."""
    sections = pdbutil_sections(run(pdbutil, "dump", "-summary", "-streams", "-modules", "-files",
                                 "-publics", "-globals", "-types", "-ids", "-l", database))
    summary = sections["Summary"]
    view = {"guid": re.search(r"GUID: (\{[0-9A-Fa-f-]+\})", summary).group(1).upper(),
            "age": int(re.search(r"Age: (\d+)", summary).group(1))}
    view["streams"] = {int(n): int(size.replace(",", "")) for n, size in
                       re.findall(r"Stream\s+(\d+) \(\s*([\d,]+) bytes\)", sections["Streams"])}
    modules = {}
    for m in re.finditer(r"Mod (\d+) \| `(.*)`:\n.*\n\s*debug stream: (-?\d+), # files: (\d+)",
                         sections["Modules"]):
        stream = int(m.group(3))
        modules[int(m.group(1))] = (m.group(2), stream if stream >= 0 else None, int(m.group(4)))
    view["modules"] = modules
    view["publics"] = {name: (int(seg), int(off)) for name, seg, off in re.findall(
        r"S_PUB32 \[size = \d+\] `(.*)`\n\s+flags = .*, addr = (\d+):(\d+)",
        sections["Public Symbols"])}
    view["globals"] = {int(offset): (kind, name) for offset, kind, name in re.findall(
        r"^\s+(\d+) \| (S_\w+) \[size = \d+\] `(.*)`$", sections["Global Symbols"], re.M)}
    for stream, title in (("types", "Types (TPI Stream)"), ("ids", "Types (IPI Stream)")):
        indices = [int(i, 16) for i in re.findall(r"^\s+(0x[0-9A-F]+) \| LF_", sections[title], re.M)]
        count = int(re.search(r"Showing ([\d,]+) records", sections[title]).group(1).replace(",", ""))
        view[stream] = (count, (min(indices), max(indices) + 1) if indices else None)
    lines = {}
    for m in re.finditer(r"^Mod (\d+) \|.*\n((?:(?!Mod \d).*\n?)*)", sections["Lines"], re.M):
        entries = sum(int(n.replace(",", "")) for n in
                      re.findall(r"line/addr entries = ([\d,]+)", m.group(2)))
        if entries:
            lines[int(m.group(1))] = entries
    view["lines"] = lines
    return view


def tdump_line_counts(text):
    """Line entries per module, from the line tables of tdump's module sections."""
    counts, module = {}, None
    lines = text.splitlines()
    for i, line in enumerate(lines):
        heading = re.match(r"^Module (\d+) \(stream \d+\): ", line)
        if heading and i + 1 < len(lines) and set(lines[i + 1]) == {"-"}:
            module = int(heading.group(1))
        elif line and i + 1 < len(lines) and set(lines[i + 1]) == {"-"}:
            module = None
        m = re.match(r"^\s+file .*, (\d+) lines$", line)
        if m and module is not None:
            counts[module] = counts.get(module, 0) + int(m.group(1))
    return counts


def pdbutil_module_symbols(pdbutil, database):
    """{module: [(offset in the module stream, kind)]} from llvm-pdbutil."""
    symbols, module = {}, None
    for line in pdbutil_sections(run(pdbutil, "dump", "-symbols", database))["Symbols"].splitlines():
        heading = re.match(r"^\s*Mod (\d+) \|", line)
        record = re.match(r"^\s+(\d+) \| (S_\w+) \[size", line)
        if heading:
            module = int(heading.group(1))
        elif record:
            symbols.setdefault(module, []).append((int(record.group(1)), record.group(2)))
    return symbols


def tdump_module_symbols(text):
    """The same from tdump's module sections, whose offsets count from the
    records after the stream's 4-byte signature."""
    symbols, module, lines = {}, None, text.splitlines()
    for i, line in enumerate(lines):
        underlined = i + 1 < len(lines) and set(lines[i + 1]) == {"-"}
        heading = re.match(r"^Module (\d+) \(stream \d+\): ", line)
        if underlined:
            module = int(heading.group(1)) if heading else None
        elif line.startswith("C13 lines"):
            module = None
        record = re.match(r"^\s+([0-9A-F]{4,})  +(S_\w+)", line)
        if record and module is not None:
            symbols.setdefault(module, []).append((int(record.group(1), 16) + 4, record.group(2)))
    return symbols


def tdump_pdb_view(tdump, database):
    """The same values from tdump's listing of the database."""
    text = run(tdump, "-m", database)
    info = section(text, "PDB information stream")
    view = {"guid": labelled(info)["GUID"], "age": int(labelled(info)["Age"])}
    view["streams"] = {int(n): 0 if size == "(nil)" else int(size) for n, size in
                       (line.split()[:2] for line in section(text, "Stream directory")
                        if re.match(r"^\s+\d+\s+(\d+|\(nil\))\s+\d+", line))}
    modules = {}
    for line in section(text, "Modules"):
        m = re.match(r"^\s+(\d+)  (\S+)\s+[0-9A-F]{8} [0-9A-F]{8}\s+(\d+)  (.*?)(?:  \((.*)\))?$", line)
        if m:
            stream = None if m.group(2) == "none" else int(m.group(2))
            modules[int(m.group(1))] = (m.group(4), stream, int(m.group(3)))
    view["modules"] = modules
    view["publics"] = {m.group(3): (int(m.group(1), 16), int(m.group(2), 16)) for m in
                       (re.match(r"^  ([0-9A-F]{4}):([0-9A-F]{8})  .*?(\S+)$", line)
                        for line in section(text, "Public symbols")) if m}
    for stream, title in (("types", "TPI stream (types)"), ("ids", "IPI stream (ids)")):
        m = re.search(r"0x([0-9A-F]+)\.\.0x([0-9A-F]+) \((\d+) records\)", "\n".join(section(text, title)))
        begin, end = int(m.group(1), 16), int(m.group(2), 16)
        view[stream] = (int(m.group(3)), (begin, end) if end > begin else None)
    view["lines"] = tdump_line_counts(text)
    view["symbols"] = tdump_module_symbols(text)
    # The global symbols are the records of the symbol record stream that are
    # not public symbols; their number is the global hash table's count.
    records = re.search(r"^Symbol records \(stream \d+\)$", text, re.M).group(0)
    view["globals"] = {int(m.group(1), 16): (m.group(2), m.group(3)) for m in
                       (re.match(r"^\s+([0-9A-F]{4,})  +(S_\w+) .*  (\S.*)$", line)
                        for line in section(text, records)) if m and m.group(2) != "S_PUB32"}
    view["global count"] = int(labelled(section(text, "Global symbols"))["Symbols"])
    return view


def check_pdb(a):
    """The program databases lld-link wrote, against llvm-pdbutil's reading;
    and the debug directory of each image, against its database."""
    ok = True
    for name in ("pdb_program", "pdb_program32"):
        database = f"{a.fixtures}/{name}.pdb"
        expected, mine = pdbutil_view(a.llvm_pdbutil, database), tdump_pdb_view(a.tdump, database)
        expected["symbols"] = pdbutil_module_symbols(a.llvm_pdbutil, database)
        for key in ("guid", "age", "streams", "modules", "publics", "globals", "types", "ids",
                    "lines", "symbols"):
            ok &= compare(f"{name}: {key}", expected[key], mine[key])
        ok &= compare(f"{name}: global hash count", len(expected["globals"]), mine["global count"])
        if not all(expected[key] for key in ("modules", "publics", "globals", "lines", "symbols")):
            print(f"MISMATCH: {name}: the reference found no modules, publics, globals, lines or symbols")
            ok = False
        print(f"{name}: {len(mine['streams'])} streams, {len(mine['modules'])} modules, "
              f"{len(mine['publics'])} publics, {len(mine['globals'])} globals, "
              f"{mine['types'][0]} types, {mine['ids'][0]} ids, "
              f"{sum(mine['lines'].values())} line entries, "
              f"{sum(len(v) for v in mine['symbols'].values())} module symbols agree")
        debug = run(a.tdump, "-d", f"{a.fixtures}/{name}.exe")
        m = re.search(r"PDB signature (\{[0-9A-F-]+\}), age (\d+), (.*)$", debug, re.M)
        ok &= compare(f"{name}: the image's database", (expected["guid"], expected["age"], True),
                      (m.group(1), int(m.group(2)), m.group(3).strip('"').endswith(f"{name}.pdb")))
    return ok


def readobj_debug_directory(readobj, image):
    """[(type, size, rva, file pointer, time stamp, (guid, age, path) or None)]
    from llvm-readobj's reading of an image's debug directory."""
    entries = []
    for body in re.findall(r"DebugEntry \{\n(.*?)\n  \}", run(readobj, "--coff-debug-directory", image),
                           re.S):
        field = dict(re.findall(r"^\s+(\w+): (.*)$", body, re.M))
        pdb = None
        if "PDBGUID" in field:
            raw = bytes(int(b, 16) for b in field["PDBGUID"].strip("()").split())
            pdb = ("{%s}" % str(uuid.UUID(bytes_le=raw)).upper(), int(field["PDBAge"]),
                   field["PDBFileName"])
        entries.append((int(re.search(r"\((0x[0-9A-F]+)\)", field["Type"]).group(1), 16),
                        int(field["SizeOfData"], 16), int(field["AddressOfRawData"], 16),
                        int(field["PointerToRawData"], 16),
                        int(re.search(r"\((0x[0-9A-F]+)\)", field["TimeDateStamp"]).group(1), 16),
                        pdb))
    return entries


def tdump_debug_directory(tdump, image):
    """The same from tdump's debug directory display."""
    entries = []
    for line in section(run(tdump, "-d", image), "Debug directory"):
        entry = re.match(r"^\s+(\d+) \S+\s+([0-9A-F]{8})  ([0-9A-F]{8})  ([0-9A-F]{8})  ([0-9A-F]{8})", line)
        pdb = re.match(r"^\s+PDB signature (\{[0-9A-F-]+\}), age (\d+), (.*)$", line)
        if entry:
            entries.append([int(entry.group(1))] + [int(v, 16) for v in entry.groups()[1:]] + [None])
        elif pdb and entries:
            entries[-1][-1] = (pdb.group(1), int(pdb.group(2)), pdb.group(3))
    return [tuple(entry) for entry in entries]


def check_debug_directory(a):
    """The debug directories of the images lld links, against llvm-readobj:
    each entry's type, size, addresses and time stamp, and the database each
    CodeView entry names."""
    ok = True
    for name in ("pdb_program.exe", "pdb_program32.exe", "runtime_lld.exe"):
        image = f"{a.fixtures}/{name}"
        expected = readobj_debug_directory(a.llvm_readobj, image)
        ok &= compare(f"{name}: debug directory", expected, tdump_debug_directory(a.tdump, image))
        if not any(entry[5] for entry in expected):
            print(f"MISMATCH: {name}: the reference found no CodeView entry")
            ok = False
    ok &= compare("pdb_program32.exe: a repro entry", True,
                  any(entry[0] == 16 for entry in
                      readobj_debug_directory(a.llvm_readobj, f"{a.fixtures}/pdb_program32.exe")))
    return ok


# tdump's header labels by llvm-readobj's field names; the counts are decimal.
COFF_HEADER_FIELDS = {
    "Machine": "Machine", "SectionCount": "Number of sections", "TimeDateStamp": "Time stamp",
    "PointerToSymbolTable": "Symbol table offset", "SymbolCount": "Number of symbols",
    "OptionalHeaderSize": "Optional header size", "Characteristics": "Characteristics"}
OPTIONAL_HEADER_FIELDS = {
    "Magic": "Magic", "MajorLinkerVersion": "Major linker version",
    "MinorLinkerVersion": "Minor linker version", "SizeOfCode": "Size of code",
    "SizeOfInitializedData": "Size of initialised data",
    "SizeOfUninitializedData": "Size of uninitialised data", "AddressOfEntryPoint": "Entry point RVA",
    "BaseOfCode": "Base of code", "BaseOfData": "Base of data", "ImageBase": "Image base",
    "SectionAlignment": "Section alignment", "FileAlignment": "File alignment",
    "MajorOperatingSystemVersion": "Major OS version", "MinorOperatingSystemVersion": "Minor OS version",
    "MajorImageVersion": "Major image version", "MinorImageVersion": "Minor image version",
    "MajorSubsystemVersion": "Major subsystem version", "MinorSubsystemVersion": "Minor subsystem version",
    "SizeOfImage": "Size of image", "SizeOfHeaders": "Size of headers", "Subsystem": "Subsystem",
    "Characteristics": "DLL characteristics", "SizeOfStackReserve": "Size of stack reserve",
    "SizeOfStackCommit": "Size of stack commit", "SizeOfHeapReserve": "Size of heap reserve",
    "SizeOfHeapCommit": "Size of heap commit", "NumberOfRvaAndSize": "Number of RVAs and sizes"}
DECIMAL_HEADER_FIELDS = {"Number of sections", "Number of symbols", "Optional header size"}


def pe32_headers(a, image):
    """The file and optional headers and the data directories of a PE32 image,
    llvm-readobj's and tdump's."""
    text = run(a.llvm_readobj, "--file-headers", image)
    listing = run(a.tdump, "-eiHDR", image)
    ok = True
    for title, heading, names in (("ImageFileHeader", "COFF file header", COFF_HEADER_FIELDS),
                                  ("ImageOptionalHeader", "Optional header", OPTIONAL_HEADER_FIELDS)):
        expected = readobj_block(text, title)
        fields = labelled(section(listing, heading))
        mine = {key: int(fields[label], 10 if label in DECIMAL_HEADER_FIELDS else 16)
                for key, label in names.items() if label in fields}
        assert set(names) <= set(expected), set(names) - set(expected)
        ok &= compare(f"{os.path.basename(image)}: {heading}", {k: expected[k] for k in names}, mine)
    directory = re.findall(r"^\s+\w+(?:RVA|Size): (0x[0-9A-F]+)$", text.split("DataDirectory {")[1], re.M)
    expected = [(int(rva, 16), int(size, 16)) for rva, size in zip(directory[0::2], directory[1::2])]
    mine = [(int(m.group(1), 16), int(m.group(2), 16)) for m in
            (re.match(r"^\s*\d+  \S.*?  ([0-9A-F]{8})  ([0-9A-F]{8})", line)
             for line in section(listing, "Data directories")) if m]
    assert len(expected) == 16, expected
    ok &= compare(f"{os.path.basename(image)}: data directories", expected, mine)
    return ok, len(COFF_HEADER_FIELDS) + len(OPTIONAL_HEADER_FIELDS) + 2 * len(expected)


def readobj_imports(readobj, image):
    """[(module, lookup table RVA, address table RVA, [(name, hint) or ("", ordinal)])]."""
    modules = []
    for block in run(readobj, "--coff-imports", image).split("\nImport {")[1:]:
        field = lambda name: re.search(rf"^  {name}: (.*)$", block, re.M).group(1)
        modules.append((field("Name"), int(field("ImportLookupTableRVA"), 16),
                        int(field("ImportAddressTableRVA"), 16),
                        [(m.group(1), int(m.group(2))) for m in
                         re.finditer(r"^  Symbol: (\S*) \((\d+)\)$", block, re.M)]))
    return modules


def tdump_imports(lines):
    """The same from tdump's import listing, names as stored."""
    modules = []
    for line in lines:
        m = re.match(r"^  Module (\S+)$", line)
        if m:
            modules.append([m.group(1), None, None, []])
        m = re.match(r"^    lookup table ([0-9A-F]{8}), address table ([0-9A-F]{8}),", line)
        if m and modules:
            modules[-1][1:3] = [int(m.group(1), 16), int(m.group(2), 16)]
        m = re.match(r"^    ([0-9A-F]{4})  (\S+)$", line)
        if m and modules:
            modules[-1][3].append((m.group(2), int(m.group(1), 16)))
        m = re.match(r"^          ordinal (\d+)$", line)
        if m and modules:
            modules[-1][3].append(("", int(m.group(1))))
    return [tuple(module) for module in modules]


def pe32_imports(a, image):
    """Every imported module, its tables and each import by name and hint or
    by ordinal, in -eiNAM and -em alike, and the modules of -em. in order."""
    expected = readobj_imports(a.llvm_readobj, image)
    name = os.path.basename(image)
    ok = compare(f"{name}: imports (-eiNAM)", expected,
                 tdump_imports(section(run(a.tdump, "-eiNAM", "-m", image), "Imports")))
    ok &= compare(f"{name}: imports (-em)", expected,
                  tdump_imports(section(run(a.tdump, "-em", "-m", image), "Imports")))
    modules = [line.strip() for line in section(run(a.tdump, "-em.", image), "Imported modules")]
    ok &= compare(f"{name}: imported modules (-em.)", [m[0] for m in expected], [m for m in modules if m])
    return ok, expected


def pe32_exports(a, dll):
    """Every export with an address (ordinal, name, RVA, forwarder) in -ee and
    -eiENT, against llvm-readobj and the forwarder names objdump shows; the
    counts of functions and names the directory gives."""
    exports = [(int(o), n, int(r, 16)) for o, n, r in
               re.findall(r"Ordinal: (\d+)\n  Name: (\S*)\n  RVA: (0x[0-9A-F]+)",
                          run(a.llvm_readobj, "--coff-exports", dll))]
    forwarders = {int(o): f for o, f in
                  re.findall(r"\+base\[\s*(\d+)\]\s+[0-9a-f]+ Forwarder RVA -- (\S+)", run(a.objdump, "-p", dll))}
    expected = {o: (n, r, forwarders.get(o, "")) for o, n, r in exports if r != 0}
    ok = True
    for switch in ("-ee", "-eiENT"):
        lines = section(run(a.tdump, switch, "-m", dll), "Exports")
        mine = {int(m.group(1)): ("" if m.group(3) == "(by ordinal only)" else m.group(3), int(m.group(2), 16),
                                  m.group(4) or "")
                for m in (re.match(r"^\s+(\d+)  ([0-9A-F]{8})  (\S+|\(by ordinal only\))(?:  -> (\S+))?$", line)
                          for line in lines) if m}
        counts = re.search(r", (\d+) functions, (\d+) names,", "\n".join(lines))
        ok &= compare(f"{os.path.basename(dll)}: exports ({switch})", expected, mine)
        ok &= compare(f"{os.path.basename(dll)}: functions and names ({switch})",
                      (len(exports), sum(1 for _, n, _ in exports if n)),
                      (int(counts.group(1)), int(counts.group(2))) if counts else None)
    return ok, expected


def pe32_load_config(a, image):
    """The load configuration and its SafeSEH handlers against llvm-readobj.
    LLVM 14's 32-bit layout has the process affinity mask before the heap
    flags, the 64-bit order; IMAGE_LOAD_CONFIG_DIRECTORY32 has the heap flags
    at 44 and the mask at 48, so those two are taken from the words objdump
    shows there."""
    text = run(a.llvm_readobj, "--coff-load-config", image)
    expected = readobj_block(text, "LoadConfig")
    headers = run(a.llvm_readobj, "--file-headers", image)
    base = readobj_block(headers, "ImageOptionalHeader")["ImageBase"]
    directory = int(re.search(r"LoadConfigTableRVA: (0x[0-9A-F]+)", headers).group(1), 16)
    words = objdump_words(a.objdump, image, base + directory + 44, 4, 2)
    expected["ProcessHeapFlags"], expected["ProcessAffinityMask"] = words[0], words[1]
    lines = section(run(a.tdump, "-eiCFG", image), "Load configuration")
    mine = load_config_values(lines)
    # The fixture gives every field a value of its own, so a field read from
    # its neighbour's place differs.
    assert set(expected) == set(list(LOAD_CONFIG_FIELDS)[:20]) and expected["SEHandlerCount"] == 2, expected
    assert (expected["ProcessHeapFlags"], expected["ProcessAffinityMask"]) == (0x40000, 3), words
    handlers = [int(v, 16) - base
                for v in re.findall(r"^  (0x[0-9A-F]+)$", text.split("SEHTable [")[1], re.M)]
    start = lines.index("  SE handlers") + 1 if "  SE handlers" in lines else len(lines)
    listed = [int(line.split()[0], 16) for line in lines[start:] if re.match(r"^    [0-9A-F]{8}$", line)]
    name = os.path.basename(image)
    return (compare(f"{name}: load configuration fields", expected, mine)
            & compare(f"{name}: SafeSEH handlers", handlers, listed)), expected, handlers


def check_pe32(a):
    """tdump's 32-bit layouts on images built from sources of our own: a
    MinGW DLL with named, ordinal-only, data and forwarded exports; a MinGW
    program importing from it by name and by ordinal and from the system
    DLLs, with TLS callbacks; an lld-linked program with a load
    configuration, SafeSEH handlers and a TLS directory of its own. Each is
    compared with llvm-readobj (and objdump where that shows more): the
    headers, the imports, the exports, the TLS directory with each callback,
    the load configuration with each handler."""
    dll, program, runtime = (f"{a.fixtures}/{name}" for name in
                             ("pe32_library.dll", "pe32_program.exe", "pe32_runtime.exe"))
    ok = True
    for image in (dll, program, runtime):
        agreed, count = pe32_headers(a, image)
        ok &= agreed
        print(f"{os.path.basename(image)}: {count} header and data directory values compared")
    agreed, exports = pe32_exports(a, dll)
    assert any(f for _, _, f in exports.values()) and any(not n for n, _, _ in exports.values()), exports
    ok &= agreed
    print(f"pe32_library.dll: {len(exports)} exports compared (ordinal, name, RVA, forwarder)")
    for image in (dll, program):
        agreed, modules = pe32_imports(a, image)
        ok &= agreed
        print(f"{os.path.basename(image)}: {len(modules)} modules, "
              f"{sum(len(m[3]) for m in modules)} imports compared")
    library = next(m for m in readobj_imports(a.llvm_readobj, program) if m[0] == "pe32_library.dll")
    assert ("", 9) in library[3] and ("pe32_total", 3) in library[3], library
    for image in (program, runtime):
        agreed, callbacks = tls_agrees(a, image, 4)
        assert len(callbacks) >= 2, callbacks
        ok &= agreed
        print(f"{os.path.basename(image)}: TLS directory and {len(callbacks)} callbacks compared")
    agreed, fields, handlers = pe32_load_config(a, runtime)
    ok &= agreed
    print(f"pe32_runtime.exe: {len(fields)} load configuration fields and {len(handlers)} SafeSEH handlers compared")
    return ok


def run_input(command, text):
    return subprocess.run([command], input=text, check=True, capture_output=True, text=True).stdout


def annotation(opcode, operands):
    """An inline site's annotation as (opcode, numbers), whichever tool wrote
    it; a file is named differently by each, so only its opcode counts."""
    if opcode == "ChangeFile":
        return (opcode,)
    numbers = [int(n, 0) for n in re.findall(r"-?(?:0x[0-9A-Fa-f]+|\d+)", operands)]
    if opcode == "ChangeCodeLengthAndCodeOffset" and "Length" in operands:
        numbers.reverse()  # llvm-readobj writes the code offset first
    return (opcode, *numbers)


def readobj_codeview(readobj, obj):
    """llvm-readobj's reading of an object's CodeView sections: symbol kinds,
    procedures, type records, line tables, file checksums, inlinee lines."""
    view = {"kinds": {}, "procedures": [], "types": {}, "names": {}, "lines": [], "files": [],
            "inlinees": [], "annotations": [], "relocated": [], "line functions": []}
    record = None
    block = None
    annotations = False
    lines = run(readobj, "--codeview", obj).splitlines()
    for i, line in enumerate(lines):
        m = re.match(r"^\s+Kind: (S_\w+) \(0x[0-9A-F]+\)$", line)
        if m:
            view["kinds"][m.group(1)] = view["kinds"].get(m.group(1), 0) + 1
            record = {"kind": m.group(1)} if "PROC32" in m.group(1) else None
            if record is not None:
                view["procedures"].append(record)
            continue
        m = re.match(r"^\s+(CodeSize|FunctionType|DisplayName): (.*)$", line)
        if m and record is not None and m.group(1) not in record:
            record[m.group(1)] = m.group(2)
        m = re.match(r"^  \w+ \((0x[0-9A-F]+)\) \{$", line)
        if m:
            index = int(m.group(1), 16)
            kind = re.match(r"^\s+TypeLeafKind: (LF_\w+)", lines[i + 1]).group(1)
            view["types"][index] = kind
            for field in lines[i + 2:]:
                if field.startswith("  }"):
                    break
                n = re.match(r"^    Name: (.*)$", field)
                if n:
                    if n.group(1):
                        view["names"][index] = n.group(1)
                    break
        m = re.match(r"^\s+CodeSize: (0x[0-9A-F]+)$", line)
        if m and i > 1 and re.match(r"^\s+Flags: ", lines[i - 1]):
            block = {"size": int(m.group(1), 16), "entries": []}
            view["lines"].append(block)
        m = re.match(r"^\s+Filename: (.*) \((0x[0-9A-F]+)\)$", line)
        if m and block is not None and re.match(r"^\s+FilenameSegment \[", lines[i - 1]):
            file = m.group(1)
        elif m and re.match(r"^\s+FileChecksum \{", lines[i - 1]):
            view["files"].append(m.group(1))
        m = re.match(r"^\s+\+(0x[0-9A-F]+) \[$", line)
        if m and block is not None:
            number = int(re.match(r"^\s+LineNumberStart: (\d+)$", lines[i + 1]).group(1))
            block["entries"].append((file, int(m.group(1), 16), number))
        if re.match(r"^\s+BinaryAnnotations \[$", line):
            view["annotations"].append([])
            annotations = True
        elif re.match(r"^\s+\]$", line):
            annotations = False
        m = re.match(r"^\s+(?:CodeOffset|DataOffset|OffsetStart): (\S+\+0x[0-9A-F]+)$", line)
        if m and not annotations:
            view["relocated"].append(m.group(1))
        m = re.match(r"^\s+LinkageName: (.*)$", line)
        if m and re.match(r"^\s+FunctionLineTable \[$", lines[i - 1]):
            view["line functions"].append(m.group(1))
        m = re.match(r"^\s+(Change\w+|CodeOffset): (.*)$", line)
        if m and annotations:
            view["annotations"][-1].append(annotation(m.group(1), m.group(2)))
        m = re.match(r"^\s+Inlinee: .* \((0x[0-9A-F]+)\)$", line)
        if m and re.match(r"^\s+InlineeSourceLine \{", lines[i - 1]):
            number = int(re.match(r"^\s+SourceLineNum: (\d+)$", lines[i + 2]).group(1))
            view["inlinees"].append((int(m.group(1), 16), number))
    return view


def tdump_codeview(tdump, obj):
    """The same values from tdump's -d -v listing of the object."""
    view = {"kinds": {}, "procedures": [], "types": {}, "names": {}, "lines": [], "files": [],
            "inlinees": [], "annotations": [], "relocated": [], "line functions": []}
    record = None
    block = None
    file = None
    subsection = None
    for line in section(run(tdump, "-d", "-v", obj), "Debug sections"):
        m = re.match(r"^      (DEBUG_S_\w+|0x[0-9A-F]+) \(", line)
        if m:
            subsection = m.group(1)
            continue
        m = re.match(r"^        [0-9A-F]{4,}  \s*(S_\w+)\s*(.*)$", line)
        if m and subsection == "DEBUG_S_SYMBOLS":
            view["kinds"][m.group(1)] = view["kinds"].get(m.group(1), 0) + 1
            record = {"kind": m.group(1), "DisplayName": m.group(2)} if "PROC32" in m.group(1) \
                else None
            if record is not None:
                view["procedures"].append(record)
            continue
        m = re.match(r"^\s+(size|type): (.*)$", line)
        if m and record is not None:
            record["CodeSize" if m.group(1) == "size" else "FunctionType"] = m.group(2)
        m = re.match(r"^        (0x[0-9A-F]{4,})  (LF_\w+)\s*(.*)$", line)
        if m and subsection is None:
            view["types"][int(m.group(1), 16)] = m.group(2)
            if m.group(3):
                view["names"][int(m.group(1), 16)] = m.group(3)
        m = re.match(r"^        code (?:\[[0-9A-F]{4}:[0-9A-F]{8}\]|\S+) size (0x[0-9A-F]+)", line)
        if m and subsection == "DEBUG_S_LINES":
            block = {"size": int(m.group(1), 16), "entries": []}
            view["lines"].append(block)
        m = re.match(r"^          file (.*), \d+ lines$", line)
        if m and subsection == "DEBUG_S_LINES":
            file = m.group(1)
        m = re.match(r"^            ([0-9A-F]{8})  line (\d+)", line)
        if m and subsection == "DEBUG_S_LINES":
            block["entries"].append((file, int(m.group(1), 16), int(m.group(2))))
        m = re.match(r"^        0x[0-9A-F]{4}  \w+(?: [0-9A-F]+)?  (.*)$", line)
        if m and subsection == "DEBUG_S_FILECHKSMS":
            view["files"].append(m.group(1))
        m = re.match(r"^\s+(?:code: |range: |)(\S+\+0x[0-9A-F]+)(?: \+0x[0-9A-F]+)?$", line)
        if m and subsection == "DEBUG_S_SYMBOLS":
            view["relocated"].append(m.group(1))
        m = re.match(r"^        code (\S+)\+0x0 size", line)
        if m and subsection == "DEBUG_S_LINES":
            view["line functions"].append(m.group(1))
        m = re.match(r"^\s+annotations: (.*)$", line)
        if m and subsection == "DEBUG_S_SYMBOLS":
            view["annotations"].append([] if m.group(1) == "none" else [
                annotation(*item.split(" ", 1)) for item in m.group(1).split(", ")])
        m = re.match(r"^        (0x[0-9A-F]+) \(.*\)  .*, line (\d+)$", line)
        if m and subsection == "DEBUG_S_INLINEELINES":
            view["inlinees"].append((int(m.group(1), 16), int(m.group(2))))
        if line.startswith("  ") and not line.startswith("      "):
            subsection = None
    return view


def check_codeview(a):
    """tdump's reading of clang's CodeView objects (64- and 32-bit) agrees
    with llvm-readobj's: the count of each symbol kind, each procedure's
    name, code size and type, each type record's kind and name, the line
    table entries of each function, the file names, the inlinee lines, the
    inline sites' annotations, and the addresses relocations fill in (the
    function of each line table among them)."""
    ok = True
    for obj in ("codeview64.obj", "codeview32.obj"):
        path = f"{a.fixtures}/{obj}"
        reference, mine = readobj_codeview(a.llvm_readobj, path), tdump_codeview(a.tdump, path)
        procedures = [(p.get("DisplayName"), int(p["CodeSize"], 16),
                       re.search(r"\((0x[0-9A-F]+)\)$", p["FunctionType"]).group(1))
                      for p in reference["procedures"]]
        my_procedures = [(p.get("DisplayName"), int(p.get("CodeSize", "0x0"), 16),
                          re.match(r"^(0x[0-9A-F]+)", p.get("FunctionType", "")).group(1))
                         for p in mine["procedures"]]
        ok &= compare(f"{obj}: symbol kinds", reference["kinds"], mine["kinds"])
        ok &= compare(f"{obj}: procedures", procedures, my_procedures)
        ok &= compare(f"{obj}: type kinds", reference["types"], mine["types"])
        ok &= compare(f"{obj}: type names", reference["names"],
                      {i: n for i, n in mine["names"].items() if i in reference["names"]})
        ok &= compare(f"{obj}: line tables", reference["lines"], mine["lines"])
        ok &= compare(f"{obj}: file checksums", reference["files"], mine["files"])
        ok &= compare(f"{obj}: inlinee lines", reference["inlinees"], mine["inlinees"])
        ok &= compare(f"{obj}: inline site annotations", reference["annotations"],
                      mine["annotations"])
        ok &= compare(f"{obj}: relocated addresses", reference["relocated"], mine["relocated"])
        ok &= compare(f"{obj}: functions of the line tables", reference["line functions"],
                      mine["line functions"])
        print(f"{obj}: agreed on {sum(reference['kinds'].values())} symbols "
              f"({', '.join(f'{k} {n}' for k, n in sorted(reference['kinds'].items()))}), "
              f"{len(reference['types'])} type records ({len(reference['names'])} named), "
              f"{len(procedures)} procedures, "
              f"{sum(len(b['entries']) for b in reference['lines'])} line entries in "
              f"{len(reference['lines'])} tables, {len(reference['files'])} files, "
              f"{len(reference['inlinees'])} inlinee lines, "
              f"{sum(map(len, reference['annotations']))} annotations of "
              f"{len(reference['annotations'])} inline sites, "
              f"{len(reference['relocated'])} relocated addresses")
    return ok


# winedump's names of the LE header fields, with tdump's.
WINEDUMP_LE_FIELDS = {
    "Executable format level": "Format level", "Module version": "Module version",
    "Module type flags": "Module flags", "Number of memory pages": "Pages",
    "Initial object CS number": "Initial EIP object", "Initial EIP": "Initial EIP",
    "Initial object SS number": "Initial ESP object", "Initial ESP": "Initial ESP",
    "Memory page size": "Page size", "Bytes on last page": "Bytes on last page",
    "Fix-up section size": "Fixup section size", "Fix-up section checksum": "Fixup section checksum",
    "Loader section size": "Loader section size",
    "Loader section checksum": "Loader section checksum",
    "Offset of object table": "Object table offset", "Object table entries": "Objects",
    "Object page map offset": "Object page map offset",
    "Object iterate data map offset": "Iterated pages offset",
    "Resource table offset": "Resource table offset", "Resource table entries": "Resources",
    "Resident names table offset": "Resident names offset", "Entry table offset": "Entry table offset",
    "Module directives table offset": "Module directives offset",
    "Module directives entries": "Module directives",
    "Fix-up page table offset": "Fixup page table offset",
    "Fix-up record table offset": "Fixup record table offset",
    "Imported modules name table offset": "Import module names offset",
    "Imported modules count": "Import modules",
    "Imported procedure name table offset": "Import procedure names offset",
    "Per-page checksum table offset": "Page checksums offset",
    "Data pages offset from top of table": "Data pages offset", "Preload page count": "Preload pages",
    "Non-resident names table offset": "Non-resident names offset",
    "Non-resident names table length": "Non-resident names size",
    "Non-resident names table checksum": "Non-resident names checksum",
    "Automatic data object": "Automatic data object",
    "Debug information offset": "Debug information offset",
    "Debug information length": "Debug information size",
    "Preload instance pages number": "Preload instance pages",
    "Demand instance pages number": "Demand instance pages", "Extra heap allocation": "Heap size",
    "VxD resource table offset": "Windows resources offset",
    "Size of VxD resource table": "Windows resources size",
    "VxD identifier": "Device ID", "VxD DDK version": "DDK version",
}
# The fields winedump writes in hexadecimal without padding them to 8 digits.
WINEDUMP_HEX_FIELDS = {"VxD identifier", "VxD DDK version"}
PAGE_KINDS = {"legal": 0, "iterated": 1, "invalid": 2, "zero-filled": 3, "range": 4, "compressed": 5}


def winedump_le(winedump, image):
    """winedump's LE header fields, objects with their pages, and name tables."""
    view = {"header": {}, "objects": [], "pages": [], "names": {}}
    table = None
    for line in run(winedump, "dump", image).splitlines():
        if line and not line.startswith(" ") and line.endswith(":"):
            table = line[:-1]
            continue
        label, _, value = line.strip().partition(":")
        if label in WINEDUMP_LE_FIELDS:
            value = value.strip()
            radix = 16 if label in WINEDUMP_HEX_FIELDS or len(value) == 8 else 10
            view["header"][WINEDUMP_LE_FIELDS[label]] = int(value, radix)
        elif table == "Object table" and re.fullmatch(r"\s{4}[0-9A-F]{4}( [0-9a-f]{8}){5}.*", line):
            number, base, size, flags, first, count = (int(x, 16) for x in line.split()[:6])
            view["objects"].append((number, size, base, flags, first, count))
        elif table == "Object table" and re.fullmatch(r"\s{8}[0-9a-f]{8} [0-9a-f]{6} [0-9a-f]{2}", line):
            view["pages"].append(tuple(int(x, 16) for x in line.split()))
        elif table in ("Resident name table", "Non-resident name table") and re.fullmatch(
                r"\s{4}\d+: .*", line):
            view["names"].setdefault(table, []).append((int(label), value.strip()))
    return view


def tdump_le(text):
    """The same, as tdump lists them."""
    view = {"header": {}, "objects": [], "pages": [], "names": {}}
    rows = {title: [line for line in section(text, title) if line.strip()]
            for title in ("LE header", "Objects", "Object page map", "Resident names",
                          "Non-resident names")}
    for line in rows["LE header"]:
        if len(line) > 32 and line[2:32].strip():
            view["header"][line[2:32].strip()] = int(line[32:].split()[0], 16)
    for line in rows["Objects"][1:]:
        number, size, base, flags, first, count = line.replace(",", "").split()[:6]
        view["objects"].append((int(number), int(size, 16), int(base, 16), int(flags, 16),
                                int(first), int(count)))
    for line in rows["Object page map"][1:]:
        page, number, kind = line.split()[:3]
        view["pages"].append((int(page), int(number, 16), PAGE_KINDS[kind]))
    for title, table in (("Resident names", "Resident name table"),
                         ("Non-resident names", "Non-resident name table")):
        view["names"][table] = [(int(line.split()[0]), line.split(None, 1)[1])
                                for line in rows[title]]
    return view


def file_type(file_command, image):
    return run(file_command, "-b", image).strip()


def check_linear(a):
    """The LE fixture against winedump's reading (header, objects, page map,
    names) and both fixtures' types against file's; winedump does not read
    LX, so the LX fixture's imports, entries and pages are checked against
    what its source lays out."""
    vxd = os.path.join(a.fixtures, "le_vxd.vxd")
    library = os.path.join(a.fixtures, "lx_library.dll")
    listing = run(a.tdump, "-e", vxd)
    reference, mine = winedump_le(a.winedump, vxd), tdump_le(listing)
    ok = compare("LE header fields", reference["header"],
                 {k: v for k, v in mine["header"].items() if k in reference["header"]})
    ok &= len(reference["header"]) == len(WINEDUMP_LE_FIELDS) or compare(
        "LE header fields winedump lists", sorted(WINEDUMP_LE_FIELDS.values()),
        sorted(reference["header"]))
    for part in ("objects", "pages", "names"):
        ok &= compare(f"LE {part}", reference[part], mine[part])
    device = dict((line[2:32].strip(), line[32:].strip())
                  for line in section(listing, "Device description block"))
    ok &= compare("device ID in the description block and the header",
                  reference["header"]["Device ID"], int(device["Device ID"], 16))
    ok &= compare("device name", "SAMPLE", device["Name"])

    types = {"LE": (file_type(a.file, vxd), run(a.tdump, vxd)),
             "LX": (file_type(a.file, library), run(a.tdump, library))}
    for kind, (theirs, text) in types.items():
        ours = next(line for line in text.splitlines() if line.startswith("Type:"))
        expected = {"LE": ("LE executable for MS Windows (VxD)", "LE executable (Windows 386), "
                           "virtual device driver, 80386"),
                    "LX": ("LX for OS/2 (DLL) i80386", "LX executable (OS/2), library, 80386")}[kind]
        ok &= compare(f"{kind} type by file", expected[0], theirs[theirs.find(kind):])
        ok &= compare(f"{kind} type by tdump", expected[1], ours.split(None, 1)[1])

    imports = run(a.tdump, "-em", library)
    ok &= compare("LX imports", ["DOSCALLS", "ordinal 282", "ordinal 5", "MYLIB", '"MyProc"',
                                 '"Other"'], [line.strip() for line in section(imports, "Imports")])
    lx = run(a.tdump, "-e", library)
    ok &= compare("LX page kinds", ["legal", "iterated", "zero-filled", "invalid", "compressed"],
                  [line.split()[3] for line in section(lx, "Object page map")[1:]
                   if re.match(r"\s+\d+  [0-9A-F]{8} ", line)])
    ok &= compare("LX iterated page", ["512 x 4 bytes", "512 x 4 bytes", "expanded to 4096 bytes"],
                  [line.strip() for line in section(lx, "Object page map")
                   if line.startswith("          ")])
    bundles = [line.split(" entries")[0].strip() for line in section(lx, "Entry table")
               if line.startswith("  Bundle")]
    ok &= compare("LX entry bundles", ["Bundle of 2 32-bit", "Bundle of 2 unused",
                                       "Bundle of 1 16-bit", "Bundle of 1 286 call gate",
                                       "Bundle of 2 forwarder"], bundles)
    fixups = [(m[1].split(), m[2]) for m in
              (re.fullmatch(r"\s+((?:[+-][0-9A-F]{4} )+) (.*)", line)
               for line in section(lx, "Fixup page table")) if m]
    ok &= compare("LX fixups", [
        (["+0004"], "32-bit offset     DOSCALLS ordinal 282"),
        (["+0008"], "32-bit offset     DOSCALLS ordinal 5"),
        (["+000C"], '32-bit offset     MYLIB "MyProc"'),
        (["+0010"], '32-bit offset     MYLIB "Other" additive 0x4'),
        (["+0014"], "16:32 pointer     object 2 + 0x00000020"),
        (["+001A"], "16-bit selector   object 2"),
        (["+0020"], "32-bit relative   entry 1"),
        (["+0024", "+0028"], "32-bit offset     object 1 + 0x00000100")], fixups)
    return ok


# winedump's names of the NE header fields, with tdump's; the values as
# winedump writes them, read the same way from tdump's lines.
WINEDUMP_NE_FIELDS = {
    "Linker version": "Linker version", "Checksum": "CRC", "Flags": "Flags",
    "Auto data segment": "Automatic data segment", "Heap size": "Initial heap",
    "Stack size": "Initial stack", "Stack pointer": "Stack (SS:SP)",
    "Entry point": "Entry point (CS:IP)", "Number of segments": "Segments",
    "Number of modrefs": "Module references", "Exe type": "Target OS",
    "Other flags": "Other flags", "Expected version": "Expected Windows version",
}
# winedump's address types, by the names tdump gives them.
WINEDUMP_ADDRESS_TYPES = {"LOBYTE": "low", "SEGMENT": "sel", "FAR_ADDR": "ptr32",
                          "OFFSET": "off16", "FAR48": "ptr48", "OFFSET32": "off32"}


def ne_value(text):
    """A header value as a comparable tuple of numbers: "5.10", "0:0000",
    "8300", "1024 bytes", "02  Windows", "none"."""
    text = text.strip()
    if text in ("none", "0"):
        return (0,)
    first = text.split()[0]
    parts = re.split(r"[.:]", first)
    if len(parts) > 1:
        return tuple(int(p, 16 if ":" in first else 10) for p in parts)
    return (int(first, 16) if re.fullmatch(r"[0-9A-Fa-f]{2,8}", first) and len(first) != 1
            and not text.endswith("bytes") else int(first),)


def winedump_ne(winedump, image):
    view = {"header": {}, "names": [], "entries": set(), "segments": [], "relocations": []}
    table = None
    for line in run(winedump, "dump", "-x", image).splitlines():
        if line and not line.startswith(" ") and line.endswith(":"):
            table = line[:-1]
            continue
        label, _, value = line.partition(":")
        if table == "File header" and label in WINEDUMP_NE_FIELDS:
            value = value.strip()
            if label in ("Checksum", "Flags", "Exe type", "Other flags"):
                view["header"][WINEDUMP_NE_FIELDS[label]] = (int(value, 16),)
            elif label in ("Heap size", "Stack size"):
                view["header"][WINEDUMP_NE_FIELDS[label]] = (int(value.split()[0]),)
            elif label in ("Stack pointer", "Entry point"):
                view["header"][WINEDUMP_NE_FIELDS[label]] = tuple(int(v, 16) for v in value.split(":"))
            elif label in ("Linker version", "Expected version"):
                view["header"][WINEDUMP_NE_FIELDS[label]] = tuple(int(v) for v in value.split("."))
            else:
                view["header"][WINEDUMP_NE_FIELDS[label]] = (int(value),)
        elif table in ("Resident name table", "Non-resident name table"):
            m = re.match(r"^    (\d+): (.*)$", line)
            if m:
                view["names"].append((table.split()[0], int(m.group(1)), m.group(2)))
        elif table == "Exported entry points":
            m = re.match(r"^\s+(\d+) (FIXED|MOVABLE|CONST)\s+(?:(\w+):(\w+)|(\w+)) (\S+)$", line)
            if m:
                place = (int(m.group(3), 16), int(m.group(4), 16)) if m.group(3) else (int(m.group(5), 16),)
                view["entries"].add((int(m.group(1)), m.group(2), place, m.group(6)))
        elif table and table.startswith("Segment "):
            m = re.match(r"^  (File offset|Length|Flags|Alloc size):\s+([0-9a-f]{8})", line)
            if m:
                if m.group(1) == "File offset":
                    view["segments"].append({})
                view["segments"][-1][m.group(1)] = int(m.group(2), 16)
            m = re.match(r"^\s+\d+: (\w+)( add)? = (.*)$", line)
            if m:
                view["relocations"].append((int(table.split()[1]), m.group(1), bool(m.group(2)),
                                            m.group(3)))
    return view


def tdump_ne(text):
    view = {"header": {}, "names": [], "entries": set(), "segments": [], "relocations": []}
    for line in section(text, "NE header"):
        label = line[2:32].strip()
        if label in WINEDUMP_NE_FIELDS.values():
            view["header"][label] = ne_value(line[32:])
    for title in ("Resident names", "Non-resident names"):
        for line in section(text, title):
            m = re.match(r"^  (?:Module name|Description): (.*)$", line)
            m2 = re.match(r"^\s+(\d+)  (.*)$", line)
            if m:
                view["names"].append((title.split()[0], 0, m.group(1)))
            elif m2:
                view["names"].append((title.split()[0], int(m2.group(1)), m2.group(2)))
    for line in section(text, "Segments")[1:]:
        if not re.match(r"^\s+\d+  ", line):
            continue
        number, offset, length, alloc, flags = line.split()[:5]
        view["segments"].append({"File offset": int(offset, 16) if offset != "(none)" else 0,
                                 "Length": int(length, 16), "Flags": int(flags, 16),
                                 "Alloc size": int(alloc, 16)})
    # winedump names a movable entry's address by the module's name.
    module = next((n for table, o, n in view["names"] if table == "Resident" and o == 0), "")
    segment = None
    for line in section(text, "Relocations"):
        m = re.match(r"^  Segment (\d+):", line)
        if m:
            segment = int(m.group(1))
        m = re.match(r"^    (\w+)\s+([0-9A-F,]+)  (.*?)(  ADDITIVE)?$", line)
        if m:
            target = m.group(3)
            internal = re.fullmatch(r"([0-9A-F]{4}):([0-9A-F]{4})", target)
            entry = re.fullmatch(r"entry (\d+) .*", target)
            fixup = re.fullmatch(r"OS fixup (\d+) .*", target)
            if internal:
                target = f"{int(internal.group(1), 16)}:{internal.group(2).lower()}"
            elif entry:
                target = f"{module}.{entry.group(1)}"
            elif fixup:
                target = (f"TYPE 3, OFFSET {m.group(2).split(',')[0].lower()}, "
                          f"TARGET {int(fixup.group(1)):04x} 0000")
            view["relocations"].append((segment, WINEDUMP_ADDRESS_TYPES.get(m.group(1), m.group(1)),
                                        bool(m.group(4)), target))
    return view


def tdump_ne_entries(text):
    entries = set()
    for line in section(text, "Entry table"):
        m = re.match(r"^\s+(\d+)  (FIXED|MOVABLE|CONST)\s+([0-9A-F]{4})(?::([0-9A-F]{4}))?", line)
        if m:
            place = ((int(m.group(3), 16), int(m.group(4), 16)) if m.group(4)
                     else (int(m.group(3), 16),))
            entries.add((int(m.group(1)), m.group(2), place))
    return entries


def wrestool_resources(wrestool, image):
    found = set()
    for line in run(wrestool, "-l", image).splitlines():
        m = re.match(r"^--type=(\S+) --name=(\S+) .*offset=0x([0-9a-f]+) size=(\d+)\]$", line)
        if m:
            kind, name = (v.strip("'") for v in m.groups()[:2])
            found.add((kind, name, int(m.group(3), 16), int(m.group(4))))
    return found


def tdump_resources(text):
    found, kind = set(), None
    for line in section(text, "Resources"):
        m = re.match(r'^  Type (\d+|"[^"]*")', line)
        if m:
            kind = m.group(1).strip('"')
        m = re.match(r'^    (\d+|"[^"]*")\s+([0-9A-F]{8})\s+([0-9A-F]{8})', line)
        if m:
            found.add((kind, m.group(1).strip('"'), int(m.group(2), 16), int(m.group(3), 16)))
    return found


def check_ne(a):
    """NE fonts (Wine's) and an NE DLL of our own against winedump's reading
    (header, names, exported entries, segments, relocations), wrestool's
    (resources) and file's (the type)."""
    images = sorted(glob.glob(os.path.join(a.wine_fonts, "*.fon")))
    assert len(images) >= 10, a.wine_fonts
    images.append(os.path.join(a.fixtures, "ne_library.dll"))
    ok = True
    counts = {"files": 0, "header fields": 0, "names": 0, "entries": 0, "resources": 0,
              "segments": 0, "relocations": 0}
    for image in images:
        name = os.path.basename(image)
        listing = run(a.tdump, "-e", image)
        reference, mine = winedump_ne(a.winedump, image), tdump_ne(listing)
        ok &= compare(f"{name}: NE header", reference["header"],
                      {k: v for k, v in mine["header"].items() if k in reference["header"]})
        ok &= len(reference["header"]) == len(WINEDUMP_NE_FIELDS) or compare(
            f"{name}: header fields winedump lists", sorted(WINEDUMP_NE_FIELDS.values()),
            sorted(reference["header"]))
        ok &= compare(f"{name}: names", reference["names"], mine["names"])
        ok &= compare(f"{name}: segments", reference["segments"], mine["segments"])
        ok &= compare(f"{name}: relocations", reference["relocations"], mine["relocations"])
        # winedump lists the entries that have a name.
        entries = tdump_ne_entries(listing)
        named = {(o, kind, place) for o, kind, place, _ in reference["entries"]}
        ok &= compare(f"{name}: named entries", named, entries & named)
        ok &= compare(f"{name}: exports", {(o, n) for o, _, _, n in reference["entries"]},
                      {(int(m.group(1)), m.group(2)) for m in re.finditer(
                          r"^\s+(\d+)  \S+\s+(?!\(by)(\S+)$", "\n".join(section(
                              run(a.tdump, "-ee", image), "Exports")), re.M)})
        theirs = wrestool_resources(a.wrestool, image)
        ok &= compare(f"{name}: resources", theirs, tdump_resources(listing))
        kind = file_type(a.file, image)
        ours = next(line for line in listing.splitlines() if line.startswith("Type:"))
        version = ".".join(str(v) for v in mine["header"]["Expected Windows version"])
        ok &= compare(f"{name}: type", (True, True, True),
                      ("NE for MS Windows" in kind, f"({version})" in kind,
                       ("DLL" in kind) == ("(DLL)" in ours)))
        counts["files"] += 1
        counts["header fields"] += len(reference["header"])
        counts["names"] += len(reference["names"])
        counts["entries"] += len(reference["entries"])
        counts["resources"] += len(theirs)
        counts["segments"] += len(reference["segments"])
        counts["relocations"] += len(reference["relocations"])
    print("compared:", ", ".join(f"{v} {k}" for k, v in counts.items()))
    assert counts["relocations"] >= 6 and counts["resources"] >= 100, counts
    return ok


# winedump's names of the MS-DOS header fields, with tdump's; the two that
# winedump writes as segment:offset pairs become two of tdump's fields.
WINEDUMP_DOS_FIELDS = {
    "Bytes on last page": "Bytes on last page", "Number of pages": "Pages in file",
    "Relocations": "Relocations", "Size of header": "Header paragraphs",
    "Min extra paragraphs": "Minimum extra paragraphs",
    "Max extra paragraphs": "Maximum extra paragraphs", "Initial stack": ("Initial SS", "Initial SP"),
    "Checksum": "Checksum", "Initial address": ("Initial CS", "Initial IP"),
    "Relocation (file)": "Relocation table offset", "Overlay number": "Overlay number",
}


def winedump_dos(winedump, image):
    header = {}
    for line in run(winedump, "dump", image).splitlines():
        label, _, value = line.strip().partition(":")
        names = WINEDUMP_DOS_FIELDS.get(label)
        if isinstance(names, tuple):
            for name, part in zip(names, value.strip().split(":")):
                header[name] = int(part, 16)
        elif names:
            header[names] = int(value)
    return header


def label_values(lines):
    """The "  Label ..... value" lines of a tdump listing section as {label: whole value}."""
    return {line[2:32].strip(): line[32:] for line in lines if len(line) > 32 and line[2] != " "}


def check_dos(a):
    """MS-DOS programs (loadlin, whose load image is followed by data, and
    one of our own with a header of three paragraphs and relocations)
    against winedump's reading of the header, the load image and overlay
    its page counts give, the relocation table as the file holds it, and
    file's type."""
    ok = True
    for name, lfanew in (("loadlin.exe", "not read: the relocation table starts at 0x22, where "
                                         "it would be"),
                         ("dos_program.exe", "not read: the header is 3 paragraphs, too short to "
                                             "hold it")):
        image = os.path.join(a.fixtures, name)
        listing = run(a.tdump, image)
        reference = winedump_dos(a.winedump, image)
        fields = label_values(section(listing, "MS-DOS header"))
        ok &= compare(f"{name}: MS-DOS header", reference,
                      {k: int(fields[k], 16) for k in reference})
        ok &= compare(f"{name}: e_lfanew", lfanew, fields["New header offset (e_lfanew)"])
        pages, last = reference["Pages in file"], reference["Bytes on last page"]
        end = (pages - 1) * 512 + (last or 512)
        start = reference["Header paragraphs"] * 16
        image_fields = label_values(section(listing, "MS-DOS load image"))
        ok &= compare(f"{name}: load image", f"{end - start} bytes (0x{end - start:X}), to file "
                      f"offset 0x{end:X}", image_fields["Size"])
        size = os.path.getsize(image)
        overlay = label_values(section(listing, "MS-DOS overlay"))
        ok &= compare(f"{name}: overlay", (f"0x{end:X}", f"{size - end} bytes (0x{size - end:X})"),
                      (overlay.get("File offset"), overlay.get("Size")))
        with open(image, "rb") as f:
            data = f.read()
        table = reference["Relocation table offset"]
        expected = [struct.unpack_from("<HH", data, table + 4 * i)[::-1]
                    for i in range(reference["Relocations"])]
        mine = [tuple(int(v, 16) for v in m.groups()) for m in re.finditer(
            r"^\s+\d+  ([0-9A-F]{4}):([0-9A-F]{4})", listing, re.M)]
        ok &= compare(f"{name}: relocations", expected, mine)
        ok &= compare(f"{name}: type", ("MS-DOS executable", "MS-DOS executable (no PE header)"),
                      (file_type(a.file, image).split(",")[0],
                       next(line for line in listing.splitlines()
                            if line.startswith("Type:")).split(None, 1)[1]))
    return ok


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
    parser.add_argument("--llvm-pdbutil")  # for pdb
    for option in ("nm", "llvm-nm", "llvm-readobj"):  # for the import library checks
        parser.add_argument(f"--{option}")
    parser.add_argument("--windres")  # for resources
    for option in ("winedump", "file"):  # for linear
        parser.add_argument(f"--{option}")
    for option in ("wrestool", "wine-fonts"):  # for ne
        parser.add_argument(f"--{option}")
    for option in ("undname", "wine-dlls"):  # for msvc_demangling
        parser.add_argument(f"--{option}")
    arguments = parser.parse_args()
    return 0 if CHECKS[arguments.check](arguments) else 1


if __name__ == "__main__":
    sys.exit(main())
