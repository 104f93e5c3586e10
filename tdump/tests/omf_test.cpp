// OMF objects and libraries: records decoded with their indexes resolved,
// the switches that read differently on them, the library dictionary
// checked against its modules, and damage reported without stopping.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "image_builder.h"
#include "test_support.h"

namespace tdump::test {
namespace {

// An object of one module: its translator header, the records, MODEND.
std::vector<std::uint8_t> objectOf(const OmfRecords& records)
{
    return makeOmfModule("test.asm", records);
}

// The lines of a listing, for looking at one record's fields.
std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

// An offset as the record lines show it: eight hexadecimal digits.
std::string hex8(std::size_t value)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text(8, '0');
    for (std::size_t i = 8; i-- > 0; value >>= 4) {
        text[i] = digits[value & 15];
    }
    return text;
}

// A record line's type name and length: the name in nine columns, then
// the length right-aligned in five after a blank.
std::string named(std::string_view name, std::size_t length)
{
    std::string text(name);
    text.resize(std::max<std::size_t>(9, name.size()), ' ');
    const std::string digits = std::to_string(length);
    return text + " " + std::string(5 - digits.size(), ' ') + digits;
}

std::size_t countOf(const std::string& text, std::string_view part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

TEST(OmfDetection, ObjectsAndLibrariesByTheirFirstRecord)
{
    EXPECT_TRUE(
        Contains(listing(makeOmfObject().bytes, {}), "Type:     OMF object module, sample.asm\n"));
    const auto library = makeOmfLibrary({{makeOmfModule("alpha", {"_alpha"}), {"_alpha"}}});
    EXPECT_TRUE(Contains(listing(library.bytes.data, {}),
                         "Type:     OMF library, page size 16, 3 dictionary blocks\n"));

    // A translator header whose name runs past the record, or a record
    // longer than the file, is no object; a page size that is no power of
    // two is no library.
    auto nameTooLong = makeOmfObject().bytes;
    nameTooLong[3] = 40;
    auto lengthTooLong = makeOmfObject().bytes;
    lengthTooLong.resize(10);
    auto oddPage = library.bytes.data;
    oddPage[1] = 24 - 3;
    for (const auto& bytes : {nameTooLong, lengthTooLong, oddPage}) {
        EXPECT_TRUE(Contains(listing(bytes, {}), "Type:     unknown"));
    }
}

TEST(OmfDetection, DashOReadsAnUnrecognisedFileAsOmfWhenItStartsWithARecordType)
{
    // A COMENT and a MODEND, without the translator header that would make
    // the file an object.
    OmfRecords records;
    records.add(0x88, joined({{0x00, 0xDA}, {'h', 'i'}}));
    records.add(0x8A, {0x00});
    const std::string forced = listing(records.bytes, {"-o", "-v", "-oxMODEND"});
    EXPECT_TRUE(Contains(forced, "** not recognised as an OMF object; read as one because -o asks "
                                 "for it and its first byte 88 is an OMF record type"));
    // Read as an object, the file takes the switches an object takes.
    EXPECT_TRUE(Lacks(forced, "no effect"));
    EXPECT_TRUE(Lacks(forced, "00000008  8A"));
    EXPECT_TRUE(Contains(forced, "  00000000  88  " + named("COMENT", 5) +
                                     "  checksum C8\n"
                                     "      class DA comment\n"
                                     "      text hi\n"));
    // Not an OMF record type: -o tries COFF as before.
    const std::string coff = listing(std::vector<std::uint8_t>(8, 0x01), {"-o"});
    EXPECT_TRUE(Lacks(coff, "OMF records\n---"));
    EXPECT_TRUE(Contains(coff, "** too short for a COFF file header"));
    // On a COFF object -o keeps its meaning.
    EXPECT_TRUE(Contains(listing(makeSampleObject().bytes.data, {"-o"}), "Symbol table"));
}

TEST(OmfRecords, EveryRecordOfTheSampleDecodedWithItsIndexesResolved)
{
    const OmfSample sample = makeOmfObject();
    const std::string text = listing(sample.bytes, {});
    EXPECT_TRUE(reports(text).empty()) << text;
    EXPECT_TRUE(Contains(text, "  00000000  80  " + named("THEADR", 12) +
                                   "\n"
                                   "      name sample.asm\n"));
    EXPECT_TRUE(Contains(text, "      class 00 translator\n"
                               "      text tdump test translator\n"));
    EXPECT_TRUE(Contains(text, "      class 9F default library search  no purge\n"
                               "      library LIBC\n"));
    EXPECT_TRUE(Contains(text, "      [1] \"\"\n      [2] _TEXT\n      [3] CODE\n"));
    EXPECT_TRUE(Contains(text, "  98  " + named("SEGDEF", 7) +
                                   "\n"
                                   "      [1] _TEXT  class CODE\n"
                                   "      align paragraph  combine public  use16  length 0x20\n"));
    EXPECT_TRUE(Contains(text, "  99  " + named("SEGDEF32", 9) +
                                   "\n"
                                   "      [2] _DATA  class DATA\n"
                                   "      align dword  combine public  use32  length 0x10\n"));
    EXPECT_TRUE(Contains(text, "      [1] DGROUP  segments _DATA\n"));
    // Publics: the Microsoft C++ name demangled, the base resolved.
    EXPECT_TRUE(Contains(text, "      base group (none)  segment _TEXT\n"
                               "      00000000  _main\n"
                               "      00000010  int __cdecl work(int)\n"));
    EXPECT_TRUE(Contains(text, "  91  " + named("PUBDEF32", 17) +
                                   "\n"
                                   "      base group DGROUP  segment _DATA\n"
                                   "      00000004  _counter\n"));
    EXPECT_TRUE(Contains(text, "      [1] _puts\n      [2] _exit\n"));
    // Communals go on numbering the externals.
    EXPECT_TRUE(Contains(text, "      [3] _buffer  near 16 bytes\n"
                               "      [4] _table  far 4 x 256 bytes\n"));
    EXPECT_TRUE(Contains(text, "      segment _TEXT  offset 00000000  length 16\n"));
    EXPECT_TRUE(Contains(text, "      base group (none)  segment _TEXT\n"
                               "      line 10  offset 00000000\n"
                               "      line 11  offset 00000005\n"));
    EXPECT_TRUE(
        Contains(text, "  C2  " + named("COMDAT", 13) + "\n      name void __cdecl inl(void)\n"));
    EXPECT_TRUE(Contains(text, "      selection pick any  allocation explicit  align from the "
                               "segment\n"
                               "      offset 00000000  base group (none)  segment _TEXT\n"
                               "      data length 3\n"));
    EXPECT_TRUE(Contains(text, "      alias _old -> _main\n"));
    // A type no translator writes: its bytes.
    EXPECT_TRUE(Contains(text, "  D0  " + named("(unknown)", 3) +
                                   "\n"
                                   "        00000000  DE AD\n"));
    EXPECT_TRUE(Contains(text, "      main module, start address: frame F0 segment _TEXT  target "
                               "T0 segment _TEXT + 0x0\n"));
    // -m: names as stored; -v: the indexes and type indexes too, and the data.
    EXPECT_TRUE(Contains(listing(sample.bytes, {"-m"}), "      00000010  ?work@@YAHH@Z\n"));
    const std::string verbose = listing(sample.bytes, {"-v"});
    EXPECT_TRUE(Contains(verbose, "      base group [1] DGROUP  segment [2] _DATA\n"
                                  "      00000004  _counter  type 0\n"));
    EXPECT_TRUE(Contains(verbose, "        00000000  B8 00 00 8B 1E 00 00 E8 00 00 C3 90 90 90 90 "
                                  "90\n"));
}

TEST(OmfRecords, RarerRecordsDecoded)
{
    OmfRecords r;
    r.add(0x96, joined({omfName(""), omfName("CODE"), omfName("cd")}));
    // An absolute segment: frame B800, offset 0.
    r.add(0x98, joined({{0x00},
                        omfWord(0xB800),
                        {0x00},
                        omfWord(0x100),
                        omfIndex(3),
                        omfIndex(2),
                        omfIndex(1)}));
    r.add(0xCA, joined({omfName("local_name")}));
    r.add(0xB4, joined({omfName("_static_ext"), omfIndex(0)}));
    r.add(0xBC, joined({omfIndex(4), omfIndex(0)}));
    r.add(0xB6, joined({omfIndex(0), omfIndex(0), omfWord(0x1234), omfName("_local"), omfWord(2),
                        omfIndex(0)}));
    r.add(0xB8, joined({omfName("_lcomm"), omfIndex(0), {0x62, 0x84, 0x00, 0x00, 0x01}}));
    r.add(0xB2, joined({omfIndex(1), {0x01}, omfWord(0x10), omfWord(0x20)}));
    r.add(0xC9, joined({{0x02}, omfIndex(4), omfDword(0x30), omfDword(0x40)}));
    r.add(0xC4, joined({{0x01}, omfIndex(4), omfWord(7), omfWord(0x12)}));
    r.add(0x88, joined({{0x00, 0xA8}, omfIndex(2), omfIndex(1)}));
    r.add(0x88, joined({{0x00, 0xE9}, omfWord(0x6000), omfWord(0x2E21), omfName("a.h")}));
    r.add(0x88, joined({{0x00, 0xA0, 0x05, 0x01, 0x00, 0x04}}));
    r.add(0x88, {0x00, 0xA1});
    r.add(0x88, {0x00, 0xE3, 0x18, 0x00});
    r.add(0xCC, omfName("TIS1.1"));
    r.add(0xCE, joined({omfWord(3), {0x01, 0x02}}));
    const std::string text = listing(objectOf(r), {});
    EXPECT_TRUE(reports(text).empty()) << text;
    EXPECT_TRUE(Contains(text, "      [1] cd  class CODE\n"
                               "      align absolute  combine private  use16  length 0x100  frame "
                               "B800 offset 00\n"));
    EXPECT_TRUE(Contains(text, "  CA  " + named("LLNAMES", 12) + "\n      [4] local_name\n"));
    EXPECT_TRUE(Contains(text, "  B4  " + named("LEXTDEF", 14) + "\n      [1] _static_ext\n"));
    EXPECT_TRUE(Contains(text, "  BC  " + named("CEXTDEF", 3) + "\n      [2] local_name\n"));
    EXPECT_TRUE(Contains(text, "      base group (none)  frame 1234 (absolute)\n"
                               "      00000002  _local\n"));
    EXPECT_TRUE(Contains(text, "      [3] _lcomm  near 65536 bytes\n"));
    EXPECT_TRUE(Contains(text, "      segment cd  location word\n"
                               "      offset 00000010  value 00000020\n"));
    EXPECT_TRUE(Contains(text, "  C9  " + named("NBKPAT32", 11) +
                                   "\n"
                                   "      COMDAT local_name  location dword\n"
                                   "      offset 00000030  value 00000040\n"));
    EXPECT_TRUE(Contains(text, "      COMDAT local_name  continuation\n"
                               "      line 7  offset 00000012\n"));
    EXPECT_TRUE(Contains(text, "      class A8 WKEXT\n"
                               "      weak local_name  default _static_ext\n"));
    EXPECT_TRUE(Contains(text, "      class E9 dependency file\n"
                               "      dependency a.h  2003-01-01 12:00:00\n"));
    EXPECT_TRUE(Contains(text, "      LNKDIR flags 01, new executable  pseudocode version 0  "
                               "CodeView version 4\n"));
    // A comment of nothing but its class; one of bytes, not text.
    EXPECT_TRUE(Contains(text, "      class A1 new OMF extension\n  0"));
    EXPECT_TRUE(Contains(text, "      class E3 user-defined\n      bytes 18 00\n"));
    EXPECT_TRUE(Contains(text, "      version TIS1.1\n"));
    EXPECT_TRUE(Contains(text, "      vendor 3\n        00000000  01 02\n"));
}

TEST(OmfRecords, IteratedDataExpandedAndItsBoundsKept)
{
    const std::string text = listing(makeOmfObject().bytes, {});
    EXPECT_TRUE(Contains(text, "      segment _DATA  offset 00000000\n"
                               "      repeat 2, 2 blocks:\n"
                               "        repeat 3: 2 bytes 41 42\n"
                               "        repeat 1: 1 bytes FF\n"
                               "      expands to 14 bytes\n"));

    // Each block holding one more, 40 deep: read to a depth, then reported.
    std::vector<std::uint8_t> nested;
    for (int i = 0; i < 40; ++i) {
        nested = joined({nested, omfWord(1), omfWord(1)});
    }
    nested = joined({nested, omfWord(1), omfWord(0), {1, 0x55}});
    OmfRecords deep;
    deep.add(0x96, joined({omfName(""), omfName("D")}));
    deep.add(0x98, joined({{0x28}, omfWord(0x10), omfIndex(2), omfIndex(1), omfIndex(1)}));
    deep.add(0xA2, joined({omfIndex(1), omfWord(0), nested}));
    const std::string deepText = listing(objectOf(deep), {});
    EXPECT_TRUE(Contains(deepText, "** iterated data nested deeper than 16 levels"));
    EXPECT_TRUE(Contains(deepText, "  8A  MODEND")) << "the listing goes on";

    // Repeat counts whose product passes 4 GiB (32-bit form): said so,
    // never expanded.
    OmfRecords huge;
    huge.add(0x96, joined({omfName(""), omfName("H")}));
    huge.add(0x99, joined({{0x29}, omfDword(0x10), omfIndex(2), omfIndex(1), omfIndex(1)}));
    huge.add(0xA3, joined({omfIndex(1),
                           omfDword(0),
                           omfDword(0xFFFFFFFF),
                           omfWord(1),
                           omfDword(0xFFFFFFFF),
                           omfWord(0),
                           {2, 1, 2}}));
    const std::string hugeText = listing(objectOf(huge), {});
    EXPECT_TRUE(Contains(hugeText, "      repeat 4294967295, 1 blocks:\n"
                                   "        repeat 4294967295: 2 bytes 01 02\n"));
    EXPECT_TRUE(Contains(hugeText, "** the iterated data expands to more than 4 GiB"));
}

TEST(OmfRecords, FixupThreadsAndExplicitFixups)
{
    const std::string text = listing(makeOmfObject().bytes, {});
    EXPECT_TRUE(Contains(text, "      thread frame 1 = F1 group DGROUP\n"
                               "      thread target 0 = T0 segment _DATA\n"
                               "      fixup 003  offset16  segment-relative  frame thread 1 F1 "
                               "group DGROUP  target thread 0 T0 segment _DATA + 0x4  at "
                               "_TEXT:00000003\n"
                               "      fixup 008  offset16  self-relative  frame F5 target  target "
                               "T6 external _puts  at _TEXT:00000008\n"));

    // A fixup through a thread never defined, and one naming external 9 of
    // the module's 1.
    OmfRecords r;
    r.add(0x96, joined({omfName(""), omfName("S")}));
    r.add(0x98, joined({{0x28}, omfWord(0x10), omfIndex(2), omfIndex(1), omfIndex(1)}));
    r.add(0x8C, joined({omfName("_only"), omfIndex(0)}));
    r.add(0xA0, joined({omfIndex(1), omfWord(0), {0, 0, 0, 0}}));
    r.add(0x9C, joined({{0xC4, 0x00, 0xDC}, {0xC4, 0x02, 0x56}, omfIndex(9)}));
    const std::string bad = listing(objectOf(r), {});
    EXPECT_TRUE(Contains(bad, "frame thread 1 ** not defined by a THREAD subrecord"));
    EXPECT_TRUE(Contains(bad, "target T6 external ** external index 9 out of range (1 externals)"));
}

TEST(OmfSwitches, ChecksumsVerifiedOneFlippedByteReportedZeroAccepted)
{
    OmfSample sample = makeOmfObject();
    EXPECT_TRUE(Contains(listing(sample.bytes, {"-oc"}),
                         "  19 records: 19 checksums right, 0 wrong, 0 without a checksum (0)\n"));
    // One byte of the PUBDEF changed: that record alone is wrong, its
    // checksum byte (the record's last) reported.
    sample.bytes[sample.pubdef + 6] ^= 0x20;
    const std::string flipped = listing(sample.bytes, {"-oc"});
    const auto bad = reports(flipped);
    ASSERT_EQ(bad.size(), 1u) << flipped;
    const std::size_t checksumAt = sample.pubdef + 3 + sample.bytes[sample.pubdef + 1] - 1;
    EXPECT_TRUE(Contains(bad[0], "PUBDEF record at " + hex8(sample.pubdef) + ": checksum "));
    EXPECT_TRUE(Contains(bad[0], hexOffset(checksumAt)));
    EXPECT_TRUE(Contains(flipped, "18 checksums right, 1 wrong, 0 without"));

    // A checksum byte of 0 says there is none.
    OmfRecords r;
    r.addWithoutChecksum(0x88, joined({{0x00, 0xDA}, {'x'}}));
    const std::string zero = listing(objectOf(r), {"-oc"});
    EXPECT_TRUE(reports(zero).empty()) << zero;
    EXPECT_TRUE(Contains(zero, "3 records: 2 checksums right, 0 wrong, 1 without a checksum"));
}

TEST(OmfSwitches, RecordSelectionByNameAndItsList)
{
    const auto bytes = makeOmfObject().bytes;
    const auto recordLines = [](const std::string& text) {
        std::vector<std::string> names;
        for (const std::string& line : linesOf(text)) {
            if (line.size() > 16 && line.substr(0, 2) == "  " && line[10] == ' ' &&
                line.substr(16).find(' ') != std::string::npos && line[2] == '0') {
                names.push_back(line.substr(16, line.find(' ', 16) - 16));
            }
        }
        return names;
    };
    // A name takes in both forms; the one with 32 only the 32-bit form;
    // case does not count.
    EXPECT_EQ(recordLines(listing(bytes, {"-oipubdef"})),
              (std::vector<std::string>{"PUBDEF", "PUBDEF32"}));
    EXPECT_EQ(recordLines(listing(bytes, {"-oiPUBDEF32"})), std::vector<std::string>{"PUBDEF32"});
    EXPECT_EQ(recordLines(listing(bytes, {"-oiSEGDEF", "-oiGRPDEF", "-oxSEGDEF32"})),
              (std::vector<std::string>{"SEGDEF", "GRPDEF"}));
    const auto withoutFixups = recordLines(listing(bytes, {"-oxFIXUPP", "-oxLNAMES"}));
    EXPECT_EQ(withoutFixups.size(), 17u);
    EXPECT_EQ(std::count(withoutFixups.begin(), withoutFixups.end(), "FIXUPP"), 0);
    // The fixups are still resolved when the names' records are left out.
    EXPECT_TRUE(Contains(listing(bytes, {"-oiFIXUPP"}), "target T6 external _puts"));

    const std::string list = listing(bytes, {"-oi?"});
    EXPECT_TRUE(Contains(list, "note: -oi needs a record name, e.g. PUBDEF; the record names are "
                               "RHEADR"));
    EXPECT_TRUE(Contains(list, " LEDATA LEDATA32 "));
    EXPECT_TRUE(Contains(listing(bytes, {"-oxNOSUCH"}), "unknown record name \"NOSUCH\""));
    // On a COFF object the switches keep their section meaning.
    EXPECT_TRUE(Contains(listing(makeSampleObject().bytes.data, {"-r", "-oi.data"}),
                         "  Section 2 .data: 8 bytes"));
}

TEST(OmfSwitches, RawBytesOfTheSelectedRecords)
{
    const OmfSample sample = makeOmfObject();
    const std::string text = listing(sample.bytes, {"-r", "-oiMODEND"});
    const std::string expected = hex8(sample.modend);
    // The record: type, length, module type, fix data, frame and target
    // indexes, displacement, checksum.
    const std::vector<std::uint8_t> record(sample.bytes.begin() + static_cast<long>(sample.modend),
                                           sample.bytes.end());
    ASSERT_EQ(record.size(), 10u);
    std::string hexBytes = expected + " ";
    for (std::size_t i = 0; i < record.size(); ++i) {
        static constexpr char digits[] = "0123456789ABCDEF";
        hexBytes += i == 8 ? "  " : " ";
        hexBytes += digits[record[i] >> 4];
        hexBytes += digits[record[i] & 15];
    }
    EXPECT_TRUE(Contains(text, "Record bytes\n------------\n  " + expected + "  8A  MODEND"));
    EXPECT_TRUE(Contains(text, hexBytes));
    EXPECT_TRUE(Lacks(text, "THEADR"));
}

// Two modules of a library, with a third name for the dictionary.
OmfLibraryImage twoModules(std::uint32_t pageSize)
{
    return makeOmfLibrary({{makeOmfModule("alpha", {"_alpha", "_shared"}), {"_alpha", "_shared"}},
                           {makeOmfModule("beta", {"_beta"}), {"_beta"}}},
                          pageSize);
}

TEST(OmfLibrary, ModulesAndDictionaryAtSeveralPageSizes)
{
    for (const std::uint32_t pageSize : {16u, 32u, 512u}) {
        const OmfLibraryImage lib = twoModules(pageSize);
        const std::string text = listing(lib.bytes.data, {});
        EXPECT_TRUE(reports(text).empty()) << text;
        const auto page = [&](std::size_t module) {
            return std::to_string(lib.modules[module] / pageSize);
        };
        EXPECT_TRUE(Contains(text, "  Page size                     " + std::to_string(pageSize)));
        EXPECT_TRUE(Contains(text, "  Module 1  offset " + hex8(lib.modules[0]) + "  page " +
                                       page(0) + "  alpha\n"))
            << pageSize;
        EXPECT_TRUE(
            Contains(text, "  page " + page(1) + "  beta\n      _TEXT:00000000    _beta\n"));
        EXPECT_TRUE(Contains(text, "      _TEXT:00000004    _shared\n"));
        // Every entry where the builder's own hash put it.
        ASSERT_EQ(lib.entries.size(), 5u);
        for (const auto& e : lib.entries) {
            const std::string module =
                e.name.starts_with("_beta") || e.name == "beta!" ? page(1) : page(0);
            std::string expected =
                "  block " + std::string(4 - std::to_string(e.block).size(), ' ') +
                std::to_string(e.block) + "  bucket " + (e.bucket < 10 ? " " : "") +
                std::to_string(e.bucket) + "  page " + std::string(5 - module.size(), ' ') +
                module + "  " + e.name;
            EXPECT_TRUE(Contains(text, expected)) << pageSize;
        }
        EXPECT_TRUE(Contains(text, "  5 entries in 3 blocks\n"));
        EXPECT_TRUE(Contains(text, "beta!  (module name)\n"));
        // -v: each module's records instead of its publics.
        const std::string verbose = listing(lib.bytes.data, {"-v"});
        EXPECT_EQ(countOf(verbose, "  80  THEADR"), 2u);
        EXPECT_TRUE(Contains(verbose, "      00000004  _shared  type 0\n"));
    }
}

TEST(OmfLibrary, TheHashOfTheBuilderAgreesWithKnownPlacements)
{
    // Worked by hand, independent of the reader. "A", stored 01 41: from
    // the back 'a' (61): bucket index 61 % 37 = 23, block delta 61 % 3 = 1;
    // from the front the length alone: block index (01 | 20) % 3 = 0,
    // bucket delta 21 % 37 = 33.
    const OmfHash a = omfDictionaryHash("A", 3);
    EXPECT_EQ(a.block, 0u);
    EXPECT_EQ(a.blockDelta, 1u);
    EXPECT_EQ(a.bucket, 23u);
    EXPECT_EQ(a.bucketDelta, 33u);
    // "AB", stored 02 42 41, in 7 blocks. Back 'b' (62): bucket index 0062,
    // block delta 0062. Front 'a' (61): block index rotl(0022) ^ 61 = 00E9,
    // bucket delta rotr(0022) ^ 61 = 8008 ^ 61 = 8069 (the low bits wrap to
    // the top). Back 'a': bucket index rotr(0062) ^ 61 = 8018 ^ 61 = 8079,
    // block delta rotl(0062) ^ 61 = 0188 ^ 61 = 01E9. So: block 233 % 7 = 2,
    // step 489 % 7 = 6; bucket 32889 % 37 = 33, step 32873 % 37 = 17.
    const OmfHash ab = omfDictionaryHash("AB", 7);
    EXPECT_EQ(ab.block, 2u);
    EXPECT_EQ(ab.blockDelta, 6u);
    EXPECT_EQ(ab.bucket, 33u);
    EXPECT_EQ(ab.bucketDelta, 17u);
    // Case does not count.
    const OmfHash lower = omfDictionaryHash("a", 3);
    EXPECT_EQ(lower.bucket, a.bucket);
}

TEST(OmfLibrary, DictionaryEntriesCheckedAgainstTheModules)
{
    OmfLibraryImage lib = twoModules(16);
    Bytes& b = lib.bytes;
    const auto entry = [&](std::string_view name) {
        return *std::find_if(lib.entries.begin(), lib.entries.end(),
                             [&](const auto& e) { return e.name == name; });
    };
    // _beta's entry moved to another bucket of its block: off its hash.
    const auto beta = entry("_beta");
    const std::size_t block = lib.dictionary + std::size_t{beta.block} * 512;
    unsigned other = (beta.bucket + 1) % 37;
    while (b.data[block + other] != 0) {
        other = (other + 1) % 37;
    }
    b.put8(block + other, b.data[block + beta.bucket]);
    b.put8(block + beta.bucket, 0);
    // _shared's entry names the page of beta, which defines no _shared.
    const auto shared = entry("_shared");
    b.put16(shared.offset + 1 + 7, static_cast<std::uint16_t>(lib.modules[1] / 16));
    // _alpha's entry names a page inside alpha, where no module starts.
    const auto alpha = entry("_alpha");
    b.put16(alpha.offset + 1 + 6, static_cast<std::uint16_t>(lib.modules[0] / 16 + 1));
    const std::string text = listing(b.data, {});
    EXPECT_TRUE(Contains(text, "_beta\n  ** not where the hash puts it: the hash puts it at "
                               "block " +
                                   std::to_string(beta.block) + " bucket " +
                                   std::to_string(beta.bucket)));
    EXPECT_TRUE(Contains(text, "** module beta (page " + std::to_string(lib.modules[1] / 16) +
                                   ") defines no public _shared"));
    EXPECT_TRUE(Contains(text, "** page " + std::to_string(lib.modules[0] / 16 + 1) +
                                   " does not start a module"));
    // alpha's two publics lost their entries; beta's did not.
    EXPECT_TRUE(Contains(text, "** public _alpha of module alpha has no dictionary entry"));
    EXPECT_TRUE(Contains(text, "** public _shared of module alpha has no dictionary entry"));
    EXPECT_TRUE(Lacks(text, "** public _beta"));
}

TEST(OmfLibrary, ImportLibraryLinesFiltered)
{
    const OmfLibraryImage lib = makeOmfLibrary(
        {{makeOmfImportModule("ImpByName", "KERNEL32.dll", "", 0), {"ImpByName"}},
         {makeOmfImportModule("ImpRenamed", "USER32.dll", "MessageBoxA", 0), {"ImpRenamed"}},
         {makeOmfImportModule("ImpOrdinal", "USER32.dll", "", 42), {"ImpOrdinal"}}},
        32, 5);
    const std::string text = listing(lib.bytes.data, {"-li"});
    EXPECT_TRUE(Contains(text, "Import definitions (IMPDEF)\n"
                               "---------------------------\n"
                               "  ImpByName  KERNEL32.dll  ImpByName\n"
                               "  ImpRenamed  USER32.dll  MessageBoxA\n"
                               "  ImpOrdinal  USER32.dll  @42\n"));
    const std::string filtered = listing(lib.bytes.data, {"-li=renam"});
    EXPECT_TRUE(Contains(filtered, "  ImpRenamed  USER32.dll  MessageBoxA\n"));
    EXPECT_TRUE(Lacks(filtered, "ImpByName  "));
    EXPECT_TRUE(Contains(listing(lib.bytes.data, {"-li=nothing"}), "(no import matches"));
    // The library display lists the imports as its modules' publics, each
    // entered in the dictionary.
    const std::string library = listing(lib.bytes.data, {"-l"});
    EXPECT_TRUE(reports(library).empty()) << library;
    EXPECT_TRUE(Contains(library, "      import USER32.dll  ImpOrdinal\n"));
}

TEST(MalformedOmf, DamageReportedAndTheListingGoesOn)
{
    // A record whose length runs past the end of the file.
    auto cut = makeOmfObject().bytes;
    cut.resize(cut.size() - 4);
    const std::string cutText = listing(cut, {});
    EXPECT_TRUE(Contains(cutText, "** the record length 7 runs past the end of the file: 3 bytes "
                                  "follow the length"));
    EXPECT_TRUE(Contains(cutText, "** the record ends inside the target datum"));
    // Two bytes after the last record: no room for a header.
    auto tail = makeOmfObject().bytes;
    tail.push_back(0x88);
    tail.push_back(0x01);
    EXPECT_TRUE(
        Contains(listing(tail, {}), "** 2 bytes at the end are too few for a record header"));

    // A record cut inside its fields, an index past the names, a
    // zero-length record; each said where, and the rest still listed.
    OmfRecords r;
    r.add(0x96, joined({omfName(""), omfName("X")}));
    r.add(0x98, joined({{0x28}, omfWord(4), omfIndex(7), omfIndex(2), omfIndex(1)}));
    r.add(0x8C, joined({omfName("_ok"), omfIndex(0), {9, 'c', 'u'}}));
    r.bytes.insert(r.bytes.end(), {0x88, 0x00, 0x00});
    r.add(0x90, joined({omfIndex(0), omfIndex(3), omfName("_p"), omfWord(0), omfIndex(0)}));
    const std::string text = listing(objectOf(r), {});
    EXPECT_TRUE(Contains(text, "      [1] ** name index 7 out of range (2 names)  class X\n"));
    EXPECT_TRUE(Contains(text, "      [1] _ok\n  ** the record ends inside an external name and "
                               "type"));
    EXPECT_TRUE(Contains(text, "** the record length 0 leaves no room for the checksum byte"));
    EXPECT_TRUE(Contains(text, "base group (none)  segment ** segment index 3 out of range (1 "
                               "segments)"));
    EXPECT_TRUE(Contains(text, "  8A  MODEND"));
}

TEST(MalformedOmf, LibraryDamageReported)
{
    // The dictionary offset past the end of the file.
    OmfLibraryImage lib = twoModules(16);
    lib.bytes.put32(3, 0x100000);
    const std::string past = listing(lib.bytes.data, {});
    EXPECT_TRUE(Contains(past, "** the dictionary offset 00100000 lies past the end of the file"));
    EXPECT_TRUE(Contains(past, "** public _beta of module beta has no dictionary entry"));

    // A dictionary cut short, a block count that is not prime.
    OmfLibraryImage shortLib = twoModules(16);
    shortLib.bytes.data.resize(shortLib.dictionary + 512 + 100);
    shortLib.bytes.put16(7, 4);
    const std::string shortText = listing(shortLib.bytes.data, {});
    EXPECT_TRUE(Contains(shortText, "** the dictionary's block count 4 is not a prime number"));
    EXPECT_TRUE(Contains(shortText, "** the dictionary's 4 blocks run past the end of the file: 1 "
                                    "are there"));

    // A module that ends without MODEND: its page's padding follows.
    std::vector<std::uint8_t> noEnd = makeOmfModule("gamma", {"_gamma"});
    noEnd.resize(noEnd.size() - 5); // drop the MODEND record
    const OmfLibraryImage unfinished =
        makeOmfLibrary({{makeOmfModule("alpha", {"_alpha"}), {"_alpha"}}, {noEnd, {"_gamma"}}});
    const std::string unfinishedText = listing(unfinished.bytes.data, {});
    EXPECT_TRUE(Contains(unfinishedText, "** the module ends without its end record (MODEND)"));
    EXPECT_TRUE(Contains(unfinishedText, "  Library end record (F1) at "));
}

} // namespace
} // namespace tdump::test
