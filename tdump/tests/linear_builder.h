#pragma once

// A small LE or LX executable made byte by byte, for the tests to corrupt
// one field of, and for the fuzzer's seeds.

#include <cstddef>

#include "image_builder.h"

namespace tdump::test {

namespace linear {
constexpr std::size_t header = 0x40; // the LE or LX header, after the MS-DOS header
// Where the tables lie, relative to the header.
constexpr std::size_t objects = 0xC4;
constexpr std::size_t pageMap = 0xDC;
constexpr std::size_t residentNames = 0xE4;
constexpr std::size_t entries = 0xF2;
constexpr std::size_t fixupPages = 0xFC;
constexpr std::size_t fixupRecords = 0x104;
constexpr std::size_t importModules = 0x10B;
constexpr std::size_t importProcedures = 0x10F;
constexpr std::size_t end = 0x110;
} // namespace linear

// An LE (a Windows 386 device driver) or LX (OS/2) program with one object
// of one page at file offset 0x200, a resident name for entry 1 (32-bit,
// object 1, where an LE file's device description block lies), and one
// fixup importing DOS ordinal 5; 0x240 bytes.
Bytes linearExecutable(bool lx);

} // namespace tdump::test
