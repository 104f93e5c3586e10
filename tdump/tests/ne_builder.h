#pragma once

// A small NE image and a small MS-DOS program made byte by byte, for the
// tests to corrupt one field of, and for the fuzzer's seeds.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image_builder.h"

namespace tdump::test {

// A 16-bit Windows DLL "LIB": one code segment with a relocation to
// KERNEL.EXIT that chains through two places, one RCDATA resource, a
// resident and a non-resident name, one fixed entry. The offsets are file
// offsets of the structures, for breaking them.
struct SampleNe {
    Bytes bytes;
    static constexpr std::size_t ne = 0x80;
    static constexpr std::size_t segmentTable = 0xC0;
    static constexpr std::size_t resourceTable = 0xC8;
    static constexpr std::size_t resident = 0xE1;
    static constexpr std::size_t modules = 0xEC;
    static constexpr std::size_t imported = 0xEE;
    static constexpr std::size_t entries = 0xFB;
    static constexpr std::size_t nonResident = 0x101;
    static constexpr std::size_t code = 0x110;
    static constexpr std::size_t relocations = 0x120;
};

SampleNe makeSampleNe();

// An MS-DOS program with a header of three paragraphs, two relocation
// entries, a load image of 0x40 bytes and an overlay of 0x10 after it. The
// header is too short to hold e_lfanew, so the program is no NE image
// whatever the bytes there say.
std::vector<std::uint8_t> makeDosProgram();

} // namespace tdump::test
