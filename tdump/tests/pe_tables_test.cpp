// The run-time tables of a PE image (resources, TLS, load configuration,
// exception table, certificates, overlay) forged into the sample DLL: what
// a well-formed table shows that the fixtures cannot, and every kind of
// damage reported where it is, with the listing going on.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image_builder.h"
#include "test_support.h"

namespace tdump::test {
namespace {

std::string listOf(const TablesImage& image, const std::vector<std::string>& switches)
{
    return listing(image.bytes().data, switches);
}

TEST(PeTables, ResourceTextIsDecodedAndEscaped)
{
    TablesImage image;
    const std::string manifest = "<assembly>\r\n  <x a=\"\x1b[2J\"/>\r\n</assembly>\r\n";
    putResourceTree(image, 24, std::vector<std::uint8_t>(manifest.begin(), manifest.end()));
    const std::string text = listOf(image, {"-eiRES"});
    EXPECT_TRUE(Contains(text, "  Type 24 (RT_MANIFEST)\n    ID 1\n      Language 0409  data RVA "
                               "00004100  size 0000002A  code page 0\n"));
    EXPECT_TRUE(Contains(text, "        | <assembly>\n"
                               "        |   <x a=\"\\x1b[2J\"/>\n"
                               "        | </assembly>\n"));
    EXPECT_TRUE(Lacks(text, "\r"));

    // A string with a character outside the BMP and a control character;
    // no fixed file information, which is reported.
    const auto version = versionBlock(
        u"VS_VERSION_INFO", u"",
        {versionBlock(u"StringFileInfo", u"",
                      {versionBlock(u"040904B0", u"",
                                    {versionBlock(u"Name", u"A\u00e9\U0001F600\u0007", {})})})});
    TablesImage withVersion;
    putResourceTree(withVersion, 16, version);
    const std::string decoded = listOf(withVersion, {"-eiRES"});
    EXPECT_TRUE(Contains(decoded, "        StringFileInfo 040904B0\n"
                                  "          Name = A\xc3\xa9\xf0\x9f\x98\x80\\x07\n"));
    EXPECT_TRUE(Contains(decoded, "** the version information has no fixed file information"));

    // A block longer than the resource is reported, not followed.
    auto cut = version;
    cut.resize(cut.size() - 8);
    TablesImage truncated;
    putResourceTree(truncated, 16, cut);
    EXPECT_TRUE(Contains(listOf(truncated, {"-eiRES"}),
                         "** the version information: a version block of length " +
                             std::to_string(version.size()) + " does not fit its parent " +
                             hexOffset(TablesImage::at(0x100))));
}

TEST(PeTables, MalformedResourceTreesAreReportedAndNotFollowed)
{
    // A type whose subdirectory is the root itself.
    TablesImage loop;
    putResourceDirectory(loop, 0, {{3, subdirectory | 0}, {10, subdirectory | 0x20}});
    putResourceDirectory(loop, 0x20, {});
    loop.setDirectory(2, TablesImage::rva(0), 0x100);
    const std::string looped = listOf(loop, {"-eiRES"});
    EXPECT_TRUE(Contains(looped, "  Type 3 (RT_ICON)\n  ** the resource directory at offset 0x0 "
                                 "is reached a second time (a loop); not followed " +
                                     hexOffset(TablesImage::at(0))));
    EXPECT_TRUE(Contains(looped, "  Type 10 (RT_RCDATA)\n")); // the walk goes on

    // A fourth level below the languages.
    TablesImage deep;
    putResourceTree(deep, 10, {1, 2, 3});
    deep.bytes().put32(TablesImage::at(0x30 + 20), subdirectory | 0x60);
    EXPECT_TRUE(Contains(listOf(deep, {"-eiRES"}),
                         "      Language 0409\n  ** a subdirectory below the language level; not "
                         "followed " +
                             hexOffset(TablesImage::at(0x30 + 20))));

    // Entry counts that run past the section; a name past it too.
    TablesImage counts;
    putResourceTree(counts, 10, {1, 2, 3});
    counts.bytes().put16(TablesImage::at(12), 0xFFFF);
    counts.bytes().put32(TablesImage::at(0x18 + 16), subdirectory | 0xFFF0);
    const std::string counted = listOf(counts, {"-eiRES"});
    EXPECT_TRUE(Contains(counted, "** the resource directory's 65536 entries run past the end of "
                                  "its section; 510 are read " +
                                      hexOffset(TablesImage::at(12))));
    EXPECT_TRUE(Contains(counted, "** the entry's name runs past the end of the resource section"));

    // Data outside the image.
    TablesImage data;
    putResourceTree(data, 10, {1, 2, 3});
    data.bytes().put32(TablesImage::at(0x48), 0x7FFF0000);
    EXPECT_TRUE(Contains(listOf(data, {"-eiRES"}),
                         "** the resource data: RVA 0x7FFF0000 lies outside every section and the "
                         "headers " +
                             hexOffset(TablesImage::at(0x48))));
}

TEST(PeTables, TlsCallbacksInBothLayouts)
{
    for (const auto layout : {TablesImage::Layout::Pe32Plus, TablesImage::Layout::Pe32}) {
        TablesImage image(layout);
        const bool pe32 = layout == TablesImage::Layout::Pe32;
        const std::size_t width = pe32 ? 4 : 8;
        const auto put = [&](std::size_t offset, std::uint64_t value) {
            if (pe32) {
                image.bytes().put32(TablesImage::at(offset), static_cast<std::uint32_t>(value));
            } else {
                image.bytes().put64(TablesImage::at(offset), value);
            }
        };
        put(0x400, image.imageBase() + 0x4800);
        put(0x400 + width, image.imageBase() + 0x4810);
        put(0x400 + 2 * width, image.imageBase() + 0x4820);
        put(0x400 + 3 * width, image.imageBase() + TablesImage::rva(0x440));
        image.bytes().put32(TablesImage::at(0x400 + 4 * width + 4), 0x00500000);
        put(0x440, image.imageBase() + 0x1000);
        put(0x440 + width, image.imageBase() + 0x1010);
        image.setDirectory(9, TablesImage::rva(0x400), pe32 ? 24 : 40);
        const std::string text = listOf(image, {"-eiTLS"});
        EXPECT_TRUE(Contains(text, pe32 ? "  Raw data start                00404800\n"
                                        : "  Raw data start                0000000180004800\n"));
        EXPECT_TRUE(Contains(text, "  Characteristics               00500000  align 16\n"));
        EXPECT_TRUE(Contains(text, pe32 ? "  Callbacks\n    00401000  .text\n    00401010  .text\n"
                                        : "  Callbacks\n    0000000180001000  .text\n"
                                          "    0000000180001010  .text\n"));
        EXPECT_TRUE(reports(text).empty()) << text;

        // The array running into the end of the section without its closing zero.
        put(0x400 + 3 * width,
            image.imageBase() + TablesImage::rva(TablesImage::tablesSize - width));
        put(TablesImage::tablesSize - width, image.imageBase() + 0x1000);
        EXPECT_TRUE(
            Contains(listOf(image, {"-eiTLS"}),
                     "** the callback array is not terminated before the end of its section " +
                         hexOffset(TablesImage::at(TablesImage::tablesSize))));
        put(0x400 + 3 * width, 0x10);
        EXPECT_TRUE(Contains(listOf(image, {"-eiTLS"}),
                             "** the callback array: address 0x10 lies outside the image"));
    }
}

TEST(PeTables, LoadConfigurationFieldsTablesAndSize)
{
    // PE32: an SEH handler table and a guard CF table with a flags byte per entry.
    TablesImage image(TablesImage::Layout::Pe32);
    Bytes& b = image.bytes();
    const std::size_t config = 0x500;
    b.put32(TablesImage::at(config), 0x5C);         // up to the guard flags
    b.put32(TablesImage::at(config + 44), 0x40000); // heap flags before the affinity mask
    b.put32(TablesImage::at(config + 48), 3);
    b.put32(TablesImage::at(config + 60), 0x00403000);
    b.put32(TablesImage::at(config + 64), 0x400000 + TablesImage::rva(0x600));
    b.put32(TablesImage::at(config + 68), 2);
    b.put32(TablesImage::at(config + 80), 0x400000 + TablesImage::rva(0x620));
    b.put32(TablesImage::at(config + 84), 2);
    b.put32(TablesImage::at(config + 88), 0x10000500);
    b.put32(TablesImage::at(0x600), 0x1000);
    b.put32(TablesImage::at(0x604), 0x1010);
    b.put32(TablesImage::at(0x620), 0x1020);
    b.put8(TablesImage::at(0x624), 1);
    b.put32(TablesImage::at(0x625), 0x1030);
    image.setDirectory(10, TablesImage::rva(config), 0x40);
    const std::string text = listOf(image, {"-eiCFG"});
    EXPECT_TRUE(Contains(text, "  Process affinity mask         00000003\n"
                               "  Process heap flags            00040000\n"));
    EXPECT_TRUE(Contains(text, "  Security cookie               00403000\n"));
    EXPECT_TRUE(Contains(text, "  SE handler count              2\n"));
    EXPECT_TRUE(Contains(text, "  Guard flags                   10000500  CF_INSTRUMENTED "
                               "CF_FUNCTION_TABLE_PRESENT (1 bytes of flags per table entry)\n"));
    EXPECT_TRUE(Lacks(text, "Code integrity")); // beyond the size
    EXPECT_TRUE(Contains(text, "  SE handlers\n    00001000\n    00001010\n"));
    EXPECT_TRUE(
        Contains(text, "  Guard CF functions\n    00001020  flags 01\n    00001030  flags 00\n"));
    EXPECT_TRUE(reports(text).empty()) << text;

    // A size past the end of the section: the fields up to there.
    image.setDirectory(10, TablesImage::rva(TablesImage::tablesSize - 0x58), 0x40);
    b.put32(TablesImage::at(TablesImage::tablesSize - 0x58), 0x7FFFFFFF);
    const std::string cut = listOf(image, {"-eiCFG"});
    EXPECT_TRUE(Contains(cut, "** the load configuration's size 2147483647 runs past the end of "
                              "its section; read up to there " +
                                  hexOffset(TablesImage::at(TablesImage::tablesSize - 0x58))));
    EXPECT_TRUE(Contains(cut, "  Guard CF function count"));
    EXPECT_TRUE(Lacks(cut, "  Guard flags"));
}

TEST(PeTables, ExceptionTableAndUnwindInformation)
{
    TablesImage image;
    Bytes& b = image.bytes();
    // Two functions: one with a frame register, codes of one, two and
    // three slots and a handler; one whose codes claim more slots than the
    // info has.
    b.put32(TablesImage::at(0x700), 0x1000);
    b.put32(TablesImage::at(0x704), 0x1040);
    b.put32(TablesImage::at(0x708), TablesImage::rva(0x800));
    b.put32(TablesImage::at(0x70C), 0x1040);
    b.put32(TablesImage::at(0x710), 0x1050);
    b.put32(TablesImage::at(0x714), TablesImage::rva(0x840));
    const std::size_t info = TablesImage::at(0x800);
    b.put8(info, 1 | (1 << 3)); // version 1, EHANDLER
    b.put8(info + 1, 0x12);
    b.put8(info + 2, 6);
    b.put8(info + 3, 5 | (2 << 4)); // RBP, offset 0x20
    b.put16(info + 4, 0x0312);      // at 0x12: SET_FPREG
    b.put16(info + 6, 0x110E);      // at 0x0E: ALLOC_LARGE, three slots
    b.put32(info + 8, 0x12340);
    b.put16(info + 12, 0x3404); // at 0x04: SAVE_NONVOL RBX, two slots
    b.put16(info + 14, 0x0007);
    b.put32(info + 16, 0x1500); // the handler after the codes
    const std::size_t broken = TablesImage::at(0x840);
    b.put8(broken, 1);
    b.put8(broken + 2, 1);
    b.put16(broken + 4, 0x0108); // ALLOC_LARGE, two slots in one
    image.setDirectory(3, TablesImage::rva(0x700), 28);
    const std::string text = listOf(image, {"-eiEXC"});
    EXPECT_TRUE(Contains(text, "  2 entries\n"));
    EXPECT_TRUE(Contains(text, "  00001000  00001040  00004800  version 1, flags 1 (EHANDLER), "
                               "prolog 18, 6 codes, frame RBP+0x20\n"
                               "      12  SET_FPREG       RBP+0x20\n"
                               "      0E  ALLOC_LARGE     size 0x12340\n"
                               "      04  SAVE_NONVOL     RBX at 0x38\n"
                               "      handler 00001500, data at 00004814\n"));
    EXPECT_TRUE(Contains(text, "** unwind code 0 needs 2 slots, 1 are left " +
                                   hexOffset(TablesImage::at(0x844))));
    EXPECT_TRUE(Contains(text, "** the exception table's size 28 is not a multiple of 12 " +
                                   hexOffset(TablesImage::at(0x700))));

    // Unwind information outside the image; ARM64's eight-byte entries.
    b.put32(TablesImage::at(0x708), 0x7FFF0000);
    EXPECT_TRUE(Contains(listOf(image, {"-eiEXC"}),
                         "** the unwind information: RVA 0x7FFF0000 lies "
                         "outside every section and the headers"));
    b.put16(0x84, 0xAA64);
    b.put32(TablesImage::at(0x704), 0x00000051); // packed, 20 instructions
    image.setDirectory(3, TablesImage::rva(0x700), 16);
    EXPECT_TRUE(Contains(listOf(image, {"-eiEXC"}),
                         "  2 entries\n  Begin     Unwind data\n"
                         "  00001000  packed 00000051: function length 80, RegF 0, RegI 0, H 0, "
                         "CR 0, frame size 0\n"
                         "  7FFF0000  00001040\n"
                         "  ** the unwind data: RVA 0x1040 lies outside every section and the "
                         "headers"));
}

TEST(PeTables, PogoAndReproDebugEntries)
{
    // A debug directory of two entries at 0x900 of .tables: POGO records at
    // 0x940, a repro hash at 0x980; then one whose records run out.
    TablesImage image;
    Bytes& b = image.bytes();
    const auto entry = [&](std::size_t index, std::uint32_t type, std::size_t data,
                           std::uint32_t size) {
        const std::size_t at = TablesImage::at(0x900 + index * 28);
        b.put32(at + 12, type);
        b.put32(at + 16, size);
        b.put32(at + 20, TablesImage::rva(data));
        b.put32(at + 24, static_cast<std::uint32_t>(TablesImage::at(data)));
    };
    entry(0, 13, 0x940, 0x28);
    b.put32(TablesImage::at(0x940), 0x50475500); // "PGU"
    b.put32(TablesImage::at(0x944), 0x1000);
    b.put32(TablesImage::at(0x948), 0x230);
    b.putText(TablesImage::at(0x94C), ".text$mn");
    b.put32(TablesImage::at(0x958), 0x2000);
    b.put32(TablesImage::at(0x95C), 0x10);
    b.putText(TablesImage::at(0x960), ".rdata");
    entry(1, 16, 0x980, 8);
    b.put32(TablesImage::at(0x980), 4);
    b.put32(TablesImage::at(0x984), 0xDDCCBBAA);
    image.setDirectory(6, TablesImage::rva(0x900), 2 * 28);
    const std::string text = listOf(image, {"-d"});
    EXPECT_TRUE(Contains(text, "     POGO PGU\n"
                               "       00001000  00000230  .text$mn\n"
                               "       00002000  00000010  .rdata\n"));
    EXPECT_TRUE(Contains(text, "     repro hash, 4 bytes: AA BB CC DD\n"));

    // A hash longer than its entry.
    b.put32(TablesImage::at(0x980), 64);
    EXPECT_TRUE(Contains(listOf(image, {"-d"}),
                         "** the hash runs past the entry " + hexOffset(TablesImage::at(0x980))));
}

TEST(PeTables, CertificatesAndOverlay)
{
    TablesImage image;
    Bytes& b = image.bytes();
    const std::size_t end = TablesImage::at(TablesImage::tablesSize);
    EXPECT_TRUE(
        Contains(listOf(image, {"-eiOVL"}), "(none: the file ends with the last section's data)"));
    // An entry whose length is not a multiple of 8, then one of length 0.
    b.put32(end, 13);
    b.put16(end + 4, 0x0200);
    b.put16(end + 6, 2);
    b.put32(end + 16 + 4, 0x00010100);
    b.put64(end + 24, 0);
    image.setDirectory(4, static_cast<std::uint32_t>(end), 32);
    const std::string text = listOf(image, {"-eiCRT", "-eiOVL"});
    EXPECT_TRUE(
        Contains(text, "  Table at file offset 00001E00, size 00000020\n"
                       "  Offset    Length    Revision  Type\n"
                       "  00001E00  0000000D  2.0       2 PKCS_SIGNED_DATA\n"
                       "  00001E10  00000000  1.0       1 X509\n"
                       "  ** certificate of length 0 (an entry is at least 8 bytes); the rest "
                       "of the table is skipped " +
                           hexOffset(end + 16)));
    EXPECT_TRUE(Contains(text,
                         "  File offset                   00001E00\n"
                         "  Size                          00000020  (32 bytes)\n"
                         "  The certificate table (file offset 00001E00, 32 bytes) lies in it\n"));

    // Lengths running past the table, a table running past the file.
    b.put32(end + 16, 0x1000);
    EXPECT_TRUE(
        Contains(listOf(image, {"-eiCRT"}),
                 "** the certificate runs past the end of the table " + hexOffset(end + 16)));
    image.setDirectory(4, static_cast<std::uint32_t>(end), 0x7FFFFFF0);
    EXPECT_TRUE(
        Contains(listOf(image, {"-eiCRT"}),
                 "** the certificate table runs past the end of the file; read up to there"));
    image.setDirectory(4, 0x7FFFFFF0, 8);
    EXPECT_TRUE(Contains(listOf(image, {"-eiCRT"}),
                         "** the certificate table at file offset 0x7FFFFFF0 lies past the end of "
                         "the file"));
}

// Every table forged at once, cut at every length and flipped byte by
// byte: each listing must finish (the sanitizer build checks the reads).
TEST(PeTables, EveryTableSurvivesTruncationAndFlippedBytes)
{
    const std::vector<std::uint8_t> whole = makeTablesImage();
    for (std::size_t size = TablesImage::tablesRaw; size < whole.size(); size += 37) {
        const std::vector<std::uint8_t> cut(whole.begin(),
                                            whole.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_TRUE(Contains(listing(cut, {"-e"}), "Overlay")) << size;
    }
    for (std::size_t at = TablesImage::tablesRaw; at < TablesImage::at(0x900); at += 5) {
        auto flipped = whole;
        flipped[at] ^= 0xA5;
        EXPECT_TRUE(Contains(listing(flipped, {"-e", "-r"}), "Overlay")) << at;
    }
}

} // namespace
} // namespace tdump::test
