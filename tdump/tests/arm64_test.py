#!/usr/bin/env python3
"""ARM64 unwind data: tdump's exception table (DLLs, -eiEXC) and unwind data
listing (objects) against llvm-readobj --unwind, value by value: function
starts, lengths, packed fields and the prologue they stand for, header
fields, epilogue scopes, every unwind code's bytes and instruction, handler
and handler data. Packed words of every shape are written into a copy of a
DLL's .pdata, so the canonical prologues clang does not emit are compared
too."""

import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def run(command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def normalised(text):
    """One spelling for what the two tools write differently: the stack
    pointer written once or twice, lr and fp by number."""
    text = text.replace("sp, sp, #", "sp, #")
    text = re.sub(r"\blr\b", "x30", text)
    return re.sub(r"\bfp\b", "x29", text)


def readobj_functions(text):
    """llvm-readobj's RuntimeFunction blocks: their fields, the prologue
    and each epilogue scope's codes as (hex bytes or None, text)."""
    functions = []
    current = scope = codes = None
    for line in text.splitlines():
        s = line.strip()
        if s == "RuntimeFunction {":
            current = {"prologue": [], "scopes": []}
            functions.append(current)
            codes = None
        elif current is None:
            continue
        elif s == "Prologue [":
            codes = current["prologue"]
        elif s == "EpilogueScope {":
            scope = {"codes": []}
            current["scopes"].append(scope)
        elif s == "Opcodes [":
            codes = scope["codes"]
        elif s == "]":
            codes = None
        elif codes is not None:
            m = re.match(r"0x([0-9a-f]+)\s+; (.*)$", s)
            codes.append((m.group(1), m.group(2)) if m else (None, s))
        elif m := re.match(r"(\w+): (.*)$", s):
            key, value = m.groups()
            (scope if key in ("StartOffset", "EpilogueStartIndex") else current)[key] = value
    return functions


ENTRY = re.compile(
    r"^  (\S+)  (?:packed (fragment )?([0-9A-F]{8}): function length (\d+), RegF (\d+), "
    r"RegI (\d+), H (\d), CR (\d), frame size (\d+)"
    r"|(\S+)  function length (\d+), version (\d+), X (\d), E (\d), "
    r"(?:epilogue index|epilogues) (\d+), code words (\d+)"
    r"(?:; extended: (?:epilogue index|epilogues) (\d+), code words (\d+))?)$")
CODE = re.compile(r"^        ((?:[0-9A-F]{2} )+)\s*(\S+)\s*(.*)$")


def tdump_functions(text, title):
    """tdump's entries under the heading: the fields of the entry line,
    the prologue and the epilogues' codes as (hex bytes, name, text), the
    handler and its data."""
    functions = []
    lines = text.splitlines()
    start = lines.index(title) + 2
    current = codes = None
    for line in lines[start:]:
        if line and not line.startswith(" "):
            break
        if m := ENTRY.match(line):
            g = m.groups()
            current = {"begin": g[0], "prologue": [], "scopes": []}
            if g[2]:
                current.update(packed=True, fragment=bool(g[1]), word=g[2], length=int(g[3]),
                               RegF=g[4], RegI=g[5], H=g[6], CR=g[7], frame=int(g[8]))
            else:
                count, words = (g[16], g[17]) if g[16] is not None else (g[14], g[15])
                current.update(packed=False, record=g[9], length=int(g[10]), version=g[11],
                               X=g[12], E=g[13], count=int(count), codeBytes=4 * int(words))
            functions.append(current)
        elif current is None:
            continue
        elif line == "      Prologue, last instruction first":
            codes = current["prologue"]
        elif m := re.match(r"      Epilogue at \+0x([0-9A-F]+), codes from index (\d+)$", line):
            current["scopes"].append({"offset": int(m.group(1), 16), "index": int(m.group(2)),
                                      "codes": []})
            codes = current["scopes"][-1]["codes"]
        elif line.startswith("      Epilogue at the end of the function"):
            codes = []
        elif m := re.match(r"      Exception handler (\S+), data at (\S+ \S+ \S+|\S+): (\S+)$",
                           line):
            current["handler"], current["data"] = m.group(1), m.group(3)
        elif m := CODE.match(line):
            codes.append((m.group(1).replace(" ", "").lower(), m.group(2), m.group(3)))
        elif line.startswith("        ") and codes is not None:
            codes.append((None, None, line.strip()))
    return functions


# Codes that stand for no instruction, or for one llvm-readobj does not
# spell out (save_next): compared by their bytes alone.
BYTES_ONLY = {"end", "end_c", "save_next"}


def compare_codes(where, ours, theirs):
    theirs = [c for c in theirs if c[1] != "end" or c[0] is not None]
    check(len(ours) == len(theirs), f"{where}: {len(ours)} codes, llvm-readobj {len(theirs)}")
    for (data, name, text), (their_data, their_text) in zip(ours, theirs):
        check(data == their_data, f"{where}: code bytes {data}, llvm-readobj {their_data}")
        if name not in BYTES_ONLY and text:
            check(normalised(text) == normalised(their_text),
                  f"{where}: '{text}', llvm-readobj '{their_text}'")


def address(value, base):
    """An llvm-readobj address in an image as an RVA; in an object the name."""
    m = re.match(r"0x([0-9A-F]+)$", value)
    if m and base is not None:
        return int(m.group(1), 16) - base
    m = re.match(r"(\S+?)(?: \+0x([0-9A-F]+))? \(0x[0-9A-F]+\)$", value)
    return m.group(1) + (f"+0x{m.group(2)}" if m.group(2) else "") if m else value


def compare(name, ours, theirs, base):
    check(len(ours) == len(theirs),
          f"{name}: {len(ours)} entries, llvm-readobj {len(theirs)}")
    for index, (o, t) in enumerate(zip(ours, theirs)):
        where = f"{name} entry {index} ({o['begin']})"
        begin = int(o["begin"], 16) if base is not None else o["begin"]
        check(begin == address(t["Function"], base),
              f"{where}: function {o['begin']}, llvm-readobj {t['Function']}")
        if o["packed"]:
            check("Fragment" in t, f"{where}: packed, llvm-readobj reads an .xdata record")
            check(t.get("Fragment") == ("Yes" if o["fragment"] else "No"), f"{where}: fragment")
            expected = {"FunctionLength": str(o["length"]), "RegF": o["RegF"], "RegI": o["RegI"],
                        "HomedParameters": "Yes" if o["H"] == "1" else "No", "CR": o["CR"],
                        "FrameSize": str(o["frame"])}
            for key, value in expected.items():
                check(t.get(key) == value, f"{where}: {key} {value}, llvm-readobj {t.get(key)}")
            ours_prologue = [normalised(c[2]) for c in o["prologue"]]
            theirs_prologue = [normalised(c[1]) for c in t["prologue"] if c[1] != "end"]
            check(ours_prologue == theirs_prologue,
                  f"{where}: prologue {ours_prologue}, llvm-readobj {theirs_prologue}")
            continue
        record = int(o["record"], 16) if base is not None else o["record"]
        check(record == address(t.get("ExceptionRecord", ""), base),
              f"{where}: record {o['record']}, llvm-readobj {t.get('ExceptionRecord')}")
        expected = {"FunctionLength": str(o["length"]), "Version": o["version"],
                    "ExceptionData": "Yes" if o["X"] == "1" else "No",
                    "EpiloguePacked": "Yes" if o["E"] == "1" else "No",
                    "ByteCodeLength": str(o["codeBytes"])}
        expected["EpilogueOffset" if o["E"] == "1" else "EpilogueScopes"] = str(o["count"])
        for key, value in expected.items():
            check(t.get(key) == value, f"{where}: {key} {value}, llvm-readobj {t.get(key)}")
        compare_codes(where + " prologue", o["prologue"], t["prologue"])
        check(len(o["scopes"]) == len(t["scopes"]), f"{where}: epilogue scopes")
        for s, (ours_scope, their_scope) in enumerate(zip(o["scopes"], t["scopes"])):
            check(ours_scope["offset"] == 4 * int(their_scope["StartOffset"]),
                  f"{where}: epilogue {s} at {ours_scope['offset']}, llvm-readobj "
                  f"{their_scope['StartOffset']} instructions")
            check(str(ours_scope["index"]) == their_scope["EpilogueStartIndex"],
                  f"{where}: epilogue {s} start index")
            compare_codes(f"{where} epilogue {s}", ours_scope["codes"], their_scope["codes"])
        check(("handler" in o) == ("Routine" in t), f"{where}: handler present")
        if "handler" in o and "Routine" in t:
            handler = int(o["handler"], 16) if base is not None else o["handler"]
            check(handler == address(t["Routine"], base),
                  f"{where}: handler {o['handler']}, llvm-readobj {t['Routine']}")
            if base is not None:
                check(int(o["data"], 16) == int(t["Parameter"], 16),
                      f"{where}: handler data {o['data']}, llvm-readobj {t['Parameter']}")


def image_base(readobj, path):
    return int(re.search(r"ImageBase: 0x([0-9A-F]+)", run([readobj, "--file-headers", path]))
               .group(1), 16)


def compare_file(args, path, title, base):
    switches = ["-eiEXC"] if base is not None else ["-m"]
    ours = tdump_functions(run([args.tdump, *switches, path]), title)
    theirs = readobj_functions(run([args.llvm_readobj, "--unwind", path]))
    compare(os.path.basename(path), ours, theirs, base)
    return ours


def check_exports(args, path, functions):
    """Every exported function with unwind data starts an entry of the table."""
    exports = run([args.llvm_readobj, "--coff-exports", path])
    rvas = {int(v, 16) for v in re.findall(r"RVA: 0x([0-9A-F]+)", exports)}
    begins = {int(f["begin"], 16) for f in functions}
    for name in ("large_frame", "float_registers", "several_exits", "guarded", "leaf_frame",
                 "caught", "cleaned_up"):
        m = re.search(r"Name: " + name + r"\n\s+RVA: 0x([0-9A-F]+)", exports)
        if m:
            check(int(m.group(1), 16) in begins, f"{path}: export {name} has no entry")
    check(rvas, f"{path}: no exports")


def packed_words():
    """Packed words of the canonical shapes: each CR with no, odd and even
    integer saves, floating-point saves, homed parameters, and local areas
    around the limits of a single allocation and a pre-indexed store."""
    words = []
    for cr in (0, 1, 3):
        for regi, regf, homed in ((0, 0, 0), (0, 0, 1), (2, 0, 0), (3, 0, 0), (10, 0, 0),
                                  (0, 1, 0), (0, 4, 0), (4, 7, 1), (5, 2, 1), (1, 0, 0)):
            if cr == 1 and regi == 1:
                continue  # no canonical prologue: reported, not drawn
            intsz = 8 * regi + (8 if cr == 1 else 0)
            fpsz = 8 * regf + (8 if regf else 0)
            savsz = (intsz + fpsz + 64 * homed + 15) & ~15
            for local in (0, 16, 512, 528, 4080, 4096, 8000 - savsz):
                frame = (savsz + local) // 16
                if frame >= 512 or (cr == 3 and local == 0):
                    continue
                words.append(1 | (1 << 2) | regf << 13 | regi << 16 | homed << 20 | cr << 21
                             | frame << 23)
    words.append(2 | (12 << 2) | 1 << 16 | 2 << 23)  # a fragment
    return words


def check_packed(args, dll):
    """The packed words written into .pdata of a copy of dll, as many at a
    time as it has entries."""
    sections = run([args.llvm_readobj, "--sections", dll])
    m = re.search(r"Name: \.pdata.*?RawDataSize: (\d+)\s+PointerToRawData: 0x([0-9A-F]+)",
                  sections, re.S)
    size, offset = int(m.group(1)), int(m.group(2), 16)
    entries = size // 8
    base = image_base(args.llvm_readobj, dll)
    words = packed_words()
    with tempfile.TemporaryDirectory() as scratch:
        copy = os.path.join(scratch, "packed.dll")
        shutil.copyfile(dll, copy)
        with open(dll, "rb") as f:
            image = bytearray(f.read())
        for first in range(0, len(words), entries):
            for i, word in enumerate(words[first:first + entries]):
                struct.pack_into("<I", image, offset + 8 * i + 4, word)
            with open(copy, "wb") as f:
                f.write(image)
            compare_file(args, copy, "Exception table", base)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tdump", required=True)
    parser.add_argument("--llvm-readobj", required=True)
    parser.add_argument("--fixtures", required=True)
    args = parser.parse_args()
    for name in ("arm64_unwind.dll", "arm64_exceptions.dll"):
        path = os.path.join(args.fixtures, name)
        functions = compare_file(args, path, "Exception table",
                                 image_base(args.llvm_readobj, path))
        check(any(f["packed"] for f in functions) or name != "arm64_unwind.dll",
              f"{name}: no packed entry")
        check(any("handler" in f for f in functions), f"{name}: no handler")
        check_exports(args, path, functions)
    for name in ("arm64_unwind.obj", "arm64_unwind_O1.obj", "arm64_exceptions.obj"):
        compare_file(args, os.path.join(args.fixtures, name), "Unwind data", None)
    check_packed(args, os.path.join(args.fixtures, "arm64_unwind.dll"))
    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(failures)} differences")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
