#!/usr/bin/env python3
"""A forged PE image of about 9.4 MB whose import descriptors all name the
same lookup table, whose entries all name the same hint/name entry: listed
in full its imports would be terabytes. tdump must stop within its work
limit, under 1 GB, with the closing line that says why.

    overlapping_imports.py --tdump <tdump> [--keep <image>] [--switch -em]

Prints the listing's size and how long it took (the limit is meant to keep
it well under 10 seconds; that is not checked here, as a loaded machine
would make it fail)."""

import argparse
import os
import struct
import subprocess
import sys
import tempfile
import time

IMAGE_SIZE = 9_400_000
FILE_ALIGNMENT = 0x200
SECTION_RVA = 0x1000
NAME_LENGTH = 40
THUNKS = 100_000
MAX_DESCRIPTORS = 65_535
LISTING_CEILING = 1_000_000_000
CLOSING_LINE = b"** the listing stopped early"


def section_contents(size):
    """.rdata: the hint/name entry, the module name, the lookup table, then
    descriptors up to the end, each naming that table."""
    data = bytearray(size)
    name = b"\0\0" + b"A" * NAME_LENGTH + b"\0"
    data[0 : len(name)] = name
    module_at = (len(name) + 7) & ~7
    module = b"KERNEL32.dll\0"
    data[module_at : module_at + len(module)] = module
    table_at = (module_at + len(module) + 7) & ~7
    table = struct.pack("<Q", SECTION_RVA) * THUNKS + bytes(8)
    data[table_at : table_at + len(table)] = table
    descriptors_at = (table_at + len(table) + 7) & ~7
    count = min((size - descriptors_at) // 20 - 1, MAX_DESCRIPTORS)
    descriptor = struct.pack(
        "<5I", SECTION_RVA + table_at, 0, 0, SECTION_RVA + module_at, SECTION_RVA + table_at
    )
    data[descriptors_at : descriptors_at + 20 * count] = descriptor * count
    return data, descriptors_at, 20 * (count + 1)


def image():
    size = IMAGE_SIZE - FILE_ALIGNMENT
    data, imports_at, imports_size = section_contents(size)
    headers = bytearray(FILE_ALIGNMENT)
    headers[0:2] = b"MZ"
    struct.pack_into("<I", headers, 0x3C, 0x40)
    headers[0x40:0x44] = b"PE\0\0"
    # x86-64, one section, a PE32+ optional header of 240 bytes; an executable.
    struct.pack_into("<HHIIIHH", headers, 0x44, 0x8664, 1, 0, 0, 0, 240, 0x22)
    optional = 0x58
    struct.pack_into("<HBBIIIII", headers, optional, 0x20B, 14, 0, size, 0, 0, 0, SECTION_RVA)
    struct.pack_into("<QII", headers, optional + 24, 0x140000000, 0x1000, FILE_ALIGNMENT)
    struct.pack_into("<6H", headers, optional + 40, 6, 0, 0, 0, 6, 0)
    image_size = (SECTION_RVA + size + 0xFFF) & ~0xFFF
    struct.pack_into("<III", headers, optional + 56, image_size, FILE_ALIGNMENT, 0)
    struct.pack_into("<HH", headers, optional + 68, 3, 0)
    struct.pack_into("<4Q", headers, optional + 72, 0x100000, 0x1000, 0x100000, 0x1000)
    struct.pack_into("<II", headers, optional + 104, 0, 16)
    struct.pack_into("<II", headers, optional + 112 + 8, SECTION_RVA + imports_at, imports_size)
    section = optional + 240
    headers[section : section + 8] = b".rdata\0\0"
    struct.pack_into(
        "<6I2HI", headers, section + 8, size, SECTION_RVA, size, FILE_ALIGNMENT, 0, 0, 0, 0,
        0x40000040,
    )
    return bytes(headers) + bytes(data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tdump", required=True)
    parser.add_argument("--keep", help="also write the image here")
    parser.add_argument("--switch", default="-em")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        path = args.keep or os.path.join(folder, "overlapping_imports.exe")
        forged = image()
        with open(path, "wb") as f:
            f.write(forged)
        start = time.monotonic()
        process = subprocess.Popen([args.tdump, args.switch, path], stdout=subprocess.PIPE)
        written = 0
        tail = b""
        while chunk := process.stdout.read(1 << 20):
            written += len(chunk)
            tail = (tail + chunk)[-4096:]
        process.wait()
        seconds = time.monotonic() - start
    print(f"{args.switch}: {len(forged)} bytes listed as {written} bytes in {seconds:.1f} s")
    failures = []
    if process.returncode != 0:
        failures.append(f"tdump exited with {process.returncode}")
    if written >= LISTING_CEILING:
        failures.append(f"the listing is {written} bytes, not under {LISTING_CEILING}")
    if CLOSING_LINE not in tail:
        failures.append("the listing does not end with the line saying it stopped early")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
