#include "ne_builder.h"

#include <string_view>

namespace tdump::test {

namespace {

void putName(Bytes& bytes, std::size_t at, std::string_view name)
{
    bytes.put8(at, static_cast<std::uint8_t>(name.size()));
    for (std::size_t i = 0; i < name.size(); ++i) {
        bytes.put8(at + 1 + i, static_cast<std::uint8_t>(name[i]));
    }
}

} // namespace

SampleNe makeSampleNe()
{
    SampleNe s;
    Bytes& b = s.bytes;
    b.put16(0x00, 0x5A4D);
    b.put16(0x02, 0x80);
    b.put16(0x04, 1);
    b.put16(0x08, 4);
    b.put16(0x18, 0x40);
    b.put32(0x3C, SampleNe::ne);
    const auto rel = [](std::size_t at) { return static_cast<std::uint16_t>(at - SampleNe::ne); };
    const std::size_t ne = SampleNe::ne;
    b.put16(ne, 0x454E);
    b.put8(ne + 0x02, 5);
    b.put8(ne + 0x03, 10);
    b.put16(ne + 0x04, rel(SampleNe::entries));
    b.put16(ne + 0x06, 6);
    b.put16(ne + 0x0C, 0x8001);
    b.put16(ne + 0x0E, 0);
    b.put16(ne + 0x14, 0x0004);
    b.put16(ne + 0x16, 1);
    b.put16(ne + 0x1C, 1);
    b.put16(ne + 0x1E, 1);
    b.put16(ne + 0x20, 8);
    b.put16(ne + 0x22, rel(SampleNe::segmentTable));
    b.put16(ne + 0x24, rel(SampleNe::resourceTable));
    b.put16(ne + 0x26, rel(SampleNe::resident));
    b.put16(ne + 0x28, rel(SampleNe::modules));
    b.put16(ne + 0x2A, rel(SampleNe::imported));
    b.put32(ne + 0x2C, SampleNe::nonResident);
    b.put16(ne + 0x32, 4);
    b.put8(ne + 0x36, 2);
    b.put16(ne + 0x3E, 0x030A);
    // The code segment: 16 bytes at 0x110, with relocation records.
    b.put16(SampleNe::segmentTable, 0x11);
    b.put16(SampleNe::segmentTable + 2, 0x10);
    b.put16(SampleNe::segmentTable + 4, 0x0100);
    b.put16(SampleNe::segmentTable + 6, 0x10);
    // RCDATA: one resource, 16 bytes at 0x130.
    const std::size_t r = SampleNe::resourceTable;
    b.put16(r, 4);
    b.put16(r + 2, 0x800A);
    b.put16(r + 4, 1);
    b.put16(r + 10, 0x13);
    b.put16(r + 12, 1);
    b.put16(r + 14, 0x0030);
    b.put16(r + 16, 0x8001);
    putName(b, SampleNe::resident, "LIB");
    putName(b, SampleNe::resident + 6, "F");
    b.put16(SampleNe::resident + 8, 1);
    b.put16(SampleNe::modules, 1);
    putName(b, SampleNe::imported + 1, "KERNEL");
    putName(b, SampleNe::imported + 8, "EXIT");
    b.put8(SampleNe::entries, 1);
    b.put8(SampleNe::entries + 1, 1);
    b.put8(SampleNe::entries + 2, 0x01);
    b.put16(SampleNe::entries + 3, 0x0004);
    putName(b, SampleNe::nonResident, "DESC");
    // Far calls at 0x0000 and 0x0005, the first place chained to the second.
    b.put8(SampleNe::code, 0x9A);
    b.put16(SampleNe::code + 1, 0x0006);
    b.put8(SampleNe::code + 5, 0x9A);
    b.put16(SampleNe::code + 6, 0xFFFF);
    b.put16(SampleNe::relocations, 1);
    b.put8(SampleNe::relocations + 2, 3);
    b.put8(SampleNe::relocations + 3, 2);
    b.put16(SampleNe::relocations + 4, 0x0001);
    b.put16(SampleNe::relocations + 6, 1);
    b.put16(SampleNe::relocations + 8, 8);
    b.putText(0x130, "resource data");
    b.put8(0x13F, 0);
    return s;
}

std::vector<std::uint8_t> makeDosProgram()
{
    Bytes b;
    b.put16(0x00, 0x5A4D);
    b.put16(0x02, 0x70);
    b.put16(0x04, 1);
    b.put16(0x06, 2);
    b.put16(0x08, 3);
    b.put16(0x18, 0x1C);
    b.put16(0x1C, 0x0003);
    b.put16(0x1E, 0x0000);
    b.put16(0x20, 0x0010);
    b.put16(0x22, 0x0002);
    // Code, not header fields: what would be e_lfanew points at "NE".
    b.put32(0x3C, 0x40);
    b.put16(0x40, 0x454E);
    b.put8(0x7F, 0);
    return b.data;
}

} // namespace tdump::test
