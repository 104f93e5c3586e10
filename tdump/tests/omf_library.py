#!/usr/bin/env python3
"""Writes OMF libraries for tdump's tests: object modules (as NASM writes
them) and import modules (one per IMPDEF entry, as import librarians write
them: THEADR, a COMENT class A0 subtype 01 record, MODEND), each starting on
a page boundary after the library header (record F0: page size minus 3,
dictionary offset, dictionary blocks, flags), then the library end record
(F1) padded to a 512-byte boundary and the dictionary: a prime number of
512-byte blocks of 37 buckets, a free-space byte and entries (length-prefixed
name, page number of the module, word aligned), each name placed by the
two-level hash linkers search with.

    omf_library.py OUTPUT [--page-size N] [--case-sensitive] [--zero-checksums]
                   [--blocks N] [--import NAME=DLL[:ENTRY]]... [OBJECT]...

ENTRY is the exported name, or a number for an import by ordinal; without
it the DLL exports the name itself. Used as a module, build() also returns
where each module and each dictionary entry went.
"""
import argparse
import struct
import sys

THEADR, COMENT, MODEND, PUBDEF, PUBDEF32 = 0x80, 0x88, 0x8A, 0x90, 0x91
LIBRARY_HEADER, LIBRARY_END = 0xF0, 0xF1
BLOCK, BUCKETS, FREE_SPACE = 512, 37, 37
CASE_SENSITIVE = 0x01


def checksum(data):
    """The byte that makes the record's bytes add up to 0 (modulo 256)."""
    return -sum(data) & 0xFF


def record(kind, body, zero_checksum=False):
    head = struct.pack("<BH", kind, len(body) + 1) + body
    return head + bytes([0 if zero_checksum else checksum(head)])


def name(text):
    data = text.encode("latin-1") if isinstance(text, str) else text
    if len(data) > 255:
        raise ValueError(f"name longer than 255 characters: {text!r}")
    return bytes([len(data)]) + data


def records(data, offset=0):
    """(offset, type, contents without the checksum) of each record from
    offset, up to and including the first MODEND."""
    while offset + 3 <= len(data):
        kind, length = struct.unpack_from("<BH", data, offset)
        if length == 0 or offset + 3 + length > len(data):
            raise ValueError(f"record {kind:02X} at {offset:#x} runs past the end")
        yield offset, kind, data[offset + 3:offset + 2 + length]
        offset += 3 + length
        if kind in (MODEND, MODEND + 1):
            return


def index(data, at):
    """An OMF index (one byte, or two with the high bit set) and where it ends."""
    if data[at] & 0x80:
        return (data[at] & 0x7F) << 8 | data[at + 1], at + 2
    return data[at], at + 1


def publics(module):
    """The names a module's PUBDEF records define, in order."""
    found = []
    for _, kind, body in records(module):
        if kind not in (PUBDEF, PUBDEF32):
            continue
        _, at = index(body, 0)
        segment, at = index(body, at)
        if segment == 0:
            at += 2
        while at < len(body):
            length = body[at]
            found.append(body[at + 1:at + 1 + length])
            at += 1 + length + (4 if kind == PUBDEF32 else 2)
            _, at = index(body, at)
    return found


def imported_names(module):
    """The internal names of a module's IMPDEF records."""
    found = []
    for _, kind, body in records(module):
        if kind == COMENT and body[1:3] == bytes([0xA0, 0x01]):
            length = body[4]
            found.append(body[5:5 + length])
    return found


def impdef_module(internal, dll, entry=None, zero_checksums=False):
    """An import module: entry None imports internal by its own name, a
    string by that name, a number by that ordinal."""
    if isinstance(entry, int):
        ident = bytes([1]) + name(internal) + name(dll) + struct.pack("<H", entry)
    else:
        ident = bytes([0]) + name(internal) + name(dll) + name(entry or "")
    return (record(THEADR, name(internal), zero_checksums)
            + record(COMENT, bytes([0x00, 0xA0, 0x01]) + ident, zero_checksums)
            + record(MODEND, bytes([0x00]), zero_checksums))


def without_checksums(module):
    out = bytearray(module)
    for offset, _, body in records(module):
        out[offset + 3 + len(body)] = 0
    return bytes(out)


def hash_name(text, blocks):
    """Block index, block delta, bucket index and bucket delta of a name:
    rotations of 16-bit words by 2 bits, over the characters in lower case,
    from both ends."""
    def rotl(x):
        return (x << 2 | x >> 14) & 0xFFFF

    def rotr(x):
        return (x >> 2 | x << 14) & 0xFFFF

    length = len(text)
    block_x = bucket_d = length | 0x20
    block_d = bucket_x = 0
    for i in range(length):
        back = text[length - 1 - i] | 0x20
        bucket_x = rotr(bucket_x) ^ back
        block_d = rotl(block_d) ^ back
        if i == length - 1:
            break
        front = text[i] | 0x20
        block_x = rotl(block_x) ^ front
        bucket_d = rotr(bucket_d) ^ front
    return (block_x % blocks, max(block_d % blocks, 1),
            bucket_x % BUCKETS, max(bucket_d % BUCKETS, 1))


def is_prime(n):
    return n > 1 and all(n % d for d in range(2, int(n ** 0.5) + 1))


def place(entries, blocks):
    """The dictionary blocks with every (name, page) entered, and where each
    went as {name: (block, bucket)}; None when the blocks cannot hold them.
    A name goes to the first free bucket the search reaches; a block without
    room for it is marked full (free space 0xFF), since a linker that misses
    a name in a block with room left stops looking there. In each block the
    search starts again at the name's bucket index, as the linker's does."""
    dictionary = [bytearray(BLOCK) for _ in range(blocks)]
    for block in dictionary:
        block[FREE_SPACE] = (BUCKETS + 1) // 2
    where = {}
    for text, page in entries:
        entry = name(text) + struct.pack("<H", page)
        size = len(entry) + len(entry) % 2
        block_x, block_d, bucket_x, bucket_d = hash_name(text, blocks)
        first_block, first_bucket = block_x, bucket_x
        while text not in where:
            block = dictionary[block_x]
            while True:
                if block[bucket_x] == 0:
                    free = block[FREE_SPACE]
                    if BLOCK - 2 * free >= size:
                        block[bucket_x] = free
                        block[2 * free:2 * free + len(entry)] = entry
                        free += size // 2
                        block[FREE_SPACE] = 0xFF if free * 2 >= BLOCK else free
                        where[text] = (block_x, bucket_x)
                    break
                bucket_x = (bucket_x + bucket_d) % BUCKETS
                if bucket_x == first_bucket:
                    break
            if text in where:
                break
            block[FREE_SPACE] = 0xFF
            block_x = (block_x + block_d) % blocks
            bucket_x = first_bucket
            if block_x == first_block:
                return None, None
    return dictionary, where


def build(modules, page_size=16, case_sensitive=False, zero_checksums=False, blocks=2):
    """The library of modules (each an object module's bytes) and a layout:
    {"pages": page of each module, "end": the library end record's offset,
    "blocks": dictionary blocks (the first prime from blocks on that holds
    every name), "entries": {name: (page, block, bucket)}, "dictionary": its
    offset}."""
    if page_size < 16 or page_size > 32768 or page_size & (page_size - 1):
        raise ValueError(f"page size {page_size} is not a power of two from 16 to 32768")
    body = bytearray(page_size)
    pages, entries, seen = [], [], set()
    for module in modules:
        module = without_checksums(module) if zero_checksums else module
        page = len(body) // page_size
        if page > 0xFFFF:
            raise ValueError("too many pages for a 16-bit page number")
        pages.append(page)
        for text in publics(module) + imported_names(module):
            key = text if case_sensitive else text.lower()
            if key not in seen:
                seen.add(key)
                entries.append((text, page))
        body += module + bytes(-len(module) % page_size)
    end = len(body)
    padding = -(end + 3) % BLOCK or BLOCK
    body += struct.pack("<BH", LIBRARY_END, padding) + bytes(padding)
    blocks = max(blocks, 2)
    while True:
        if is_prime(blocks):
            dictionary, where = place(entries, blocks)
            if dictionary is not None:
                break
        blocks += 1
    offset = len(body)
    body[0:10] = struct.pack("<BHIHB", LIBRARY_HEADER, page_size - 3, offset, blocks,
                             CASE_SENSITIVE if case_sensitive else 0)
    for block in dictionary:
        body += block
    layout = {"pages": pages, "end": end, "blocks": blocks, "dictionary": offset,
              "entries": {text.decode("latin-1"): (page, *where[text]) for text, page in entries}}
    return bytes(body), layout


def parse_import(text):
    internal, _, rest = text.partition("=")
    dll, _, entry = rest.partition(":")
    if not internal or not dll:
        raise argparse.ArgumentTypeError(f"not NAME=DLL[:ENTRY]: {text}")
    return internal, dll, int(entry, 0) if entry[:1].isdigit() else (entry or None)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("output")
    parser.add_argument("objects", nargs="*")
    parser.add_argument("--page-size", type=int, default=16)
    parser.add_argument("--case-sensitive", action="store_true")
    parser.add_argument("--zero-checksums", action="store_true")
    parser.add_argument("--blocks", type=int, default=2, help="at least this many dictionary blocks")
    parser.add_argument("--import", dest="imports", action="append", default=[], type=parse_import)
    arguments = parser.parse_args()
    modules = []
    for path in arguments.objects:
        with open(path, "rb") as f:
            modules.append(f.read())
    modules += [impdef_module(*entry, zero_checksums=arguments.zero_checksums)
                for entry in arguments.imports]
    library, _ = build(modules, arguments.page_size, arguments.case_sensitive,
                       arguments.zero_checksums, arguments.blocks)
    with open(arguments.output, "wb") as f:
        f.write(library)
    return 0


if __name__ == "__main__":
    sys.exit(main())
