#include "linear_builder.h"

#include <cstdint>
#include <vector>

namespace tdump::test {

Bytes linearExecutable(bool lx)
{
    Bytes b;
    b.put16(0, 0x5A4D);
    b.put16(0x08, 4);    // header paragraphs
    b.put16(0x18, 0x40); // relocation table, behind e_lfanew
    b.put32(0x3C, linear::header);
    b.putText(linear::header, lx ? "LX" : "LE");
    b.put16(linear::header + 0x08, 2); // 80386
    b.put16(linear::header + 0x0A, lx ? 1 : 4);
    b.put32(linear::header + 0x14, 1);      // pages
    b.put32(linear::header + 0x28, 0x1000); // page size
    b.put32(linear::header + 0x2C, lx ? 0 : 0x10);
    b.put32(linear::header + 0x30, linear::end - linear::fixupPages);
    b.put32(linear::header + 0x40, linear::objects);
    b.put32(linear::header + 0x44, 1);
    b.put32(linear::header + 0x48, linear::pageMap);
    b.put32(linear::header + 0x58, linear::residentNames);
    b.put32(linear::header + 0x5C, linear::entries);
    b.put32(linear::header + 0x68, linear::fixupPages);
    b.put32(linear::header + 0x6C, linear::fixupRecords);
    b.put32(linear::header + 0x70, linear::importModules);
    b.put32(linear::header + 0x74, 1);
    b.put32(linear::header + 0x78, linear::importProcedures);
    b.put32(linear::header + 0x80, 0x200); // data pages
    // Object 1: 0x10 bytes at 0x10000, readable and executable, page 1.
    b.put32(linear::header + linear::objects, 0x10);
    b.put32(linear::header + linear::objects + 4, 0x10000);
    b.put32(linear::header + linear::objects + 8, 0x2005);
    b.put32(linear::header + linear::objects + 12, 1);
    b.put32(linear::header + linear::objects + 16, 1);
    if (lx) {
        b.put16(linear::header + linear::pageMap + 4, 0x10); // offset 0, 0x10 bytes, legal
    } else {
        b.put8(linear::header + linear::pageMap + 2, 1); // page 1, legal
    }
    const std::vector<std::uint8_t> tables = {4, 'T', 'E', 'S', 'T', 0, 0, 3, 'O', 'N', 'E',
                                              1, 0,   0, // resident names
                                              1, 3,   1,   0,   1,   0, 0, 0, 0,   0, // entry table
                                              0, 0,   0,   0,   7,   0, 0, 0, // fixup page table
                                              7, 1,   0,   0,   1,   5, 0,    // DOS ordinal 5
                                              3, 'D', 'O', 'S', 0};
    for (std::size_t i = 0; i < tables.size(); ++i) {
        b.put8(linear::header + linear::residentNames + i, tables[i]);
    }
    // The page: for LE, a device description block (device 0x4242, TESTDEV).
    b.put16(0x206, 0x4242);
    b.putText(0x20C, "TESTDEV ");
    b.put8(0x23F, 0xC3);
    return b;
}

} // namespace tdump::test
