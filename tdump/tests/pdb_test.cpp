// Program database listings of a forged MSF file: first whole, then with one
// structure broken at a time. A broken structure must be reported where it
// is, and the listing must go on with what can still be read.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <numeric>

#include "bytes.h"
#include "image_builder.h"
#include "pdb/msf.h"
#include "test_support.h"

namespace tdump::test {
namespace {

// Where the block numbers of the directory begin: after the count and the
// ten sizes. Stream 0 is empty, so streams 1, 2, 3 have the first numbers.
std::size_t blockNumbers(const PdbImage& image)
{
    return image.directory + 4 + std::size_t{10} * 4;
}

TEST(PdbListing, WholeDatabaseIsListedWithoutReports)
{
    const std::string text = listing(makePdb().bytes.data, {});
    EXPECT_TRUE(Contains(text, "Type:     program database (MSF 7.00), 512-byte blocks"));
    EXPECT_TRUE(Contains(text, "Display:  the default for a program database"));
    EXPECT_TRUE(Contains(text, "Streams                       10\n"));
    // What each stream holds, from the information and DBI streams.
    EXPECT_TRUE(Contains(text, "       5          32       1            7  named stream /names\n"));
    EXPECT_TRUE(Contains(text, "  module 0: pdb_module.obj\n"));
    EXPECT_TRUE(Contains(text, "  public symbols\n"));
    EXPECT_TRUE(
        Contains(text, "GUID                          {33221100-5544-7766-8899-AABBCCDDEEFF}"));
    EXPECT_TRUE(Contains(text, "Age                           3\n"));
    EXPECT_TRUE(Contains(text, "/names                       stream 5\n"));
    EXPECT_TRUE(Contains(text, "VC140 (IPI stream present)"));
    EXPECT_TRUE(Contains(text, "Machine                       0x8664 x86-64"));
    EXPECT_TRUE(Contains(text, "pdb_module.obj  (pdb_library.lib)\n"));
    EXPECT_TRUE(Contains(text, "  0001:00000000  00000020  60000020  module    0\n"));
    EXPECT_TRUE(Contains(text, "  Module 0: 1 files\n    module.cpp\n"));
    EXPECT_TRUE(Contains(text, "Module 0 (stream 6): pdb_module.obj"));
    EXPECT_TRUE(Contains(text, "  0001:00000010  function  main\n"));
    EXPECT_TRUE(Contains(text, "0x1000..0x1001 (1 records)"));
    EXPECT_TRUE(Contains(text, "LF_POINTER"));
    EXPECT_TRUE(Contains(text, "S_GDATA32"));
    EXPECT_TRUE(Contains(text, "S_OBJNAME"));
    EXPECT_TRUE(reports(text).empty()) << text;
}

TEST(PdbListing, SwitchesSelectDetailAndRecords)
{
    const auto bytes = makePdb().bytes.data;
    // -ed: the structure without the symbol and type records.
    const std::string plain = listing(bytes, {"-ed"});
    EXPECT_TRUE(Contains(plain, "DBI stream"));
    EXPECT_TRUE(Lacks(plain, "Module 0 (stream 6)"));
    EXPECT_TRUE(Lacks(plain, "function  main"));
    EXPECT_TRUE(Lacks(plain, "Symbol records (stream 9)"));
    EXPECT_TRUE(Lacks(plain, "LF_POINTER"));
    // -v: every field, the block lists among them.
    const std::string verbose = listing(bytes, {"-v"});
    EXPECT_TRUE(Contains(verbose, "Build number                  14.0 (new format)"));
    EXPECT_TRUE(Contains(verbose, "          blocks 3\n"));
    EXPECT_TRUE(Contains(verbose, "object pdb_library.lib"));
    // -d shows the database; switches for images say why they do not.
    const std::string debug = listing(bytes, {"-d", "-ee"});
    EXPECT_TRUE(Contains(debug, "PDB information stream"));
    EXPECT_TRUE(Contains(debug, "no effect on a program database: exports and imports"));
}

TEST(PdbListing, DebugTableLettersChooseWhatIsListed)
{
    const auto bytes = makePdb().bytes.data;
    // r: the public symbols alone, though finding them takes the DBI stream.
    const std::string publics = listing(bytes, {"-ir"});
    EXPECT_TRUE(Contains(publics, "  0001:00000010  function  main\n"));
    EXPECT_TRUE(Lacks(publics, "Stream directory"));
    EXPECT_TRUE(Lacks(publics, "DBI stream"));
    EXPECT_TRUE(Lacks(publics, "pdb_module.obj"));
    EXPECT_TRUE(Lacks(publics, "LF_POINTER"));
    // h and m: the type records and the modules, without the type headers.
    const std::string types = listing(bytes, {"-ihm"});
    EXPECT_TRUE(Contains(types, "LF_POINTER"));
    EXPECT_TRUE(Contains(types, "pdb_module.obj  (pdb_library.lib)\n"));
    EXPECT_TRUE(Lacks(types, "Index range"));
    EXPECT_TRUE(Lacks(types, "IPI stream (ids)"));
    // Without k and b: everything but the superblock, directory and symbols.
    const std::string most = listing(bytes, {"-xkb"});
    EXPECT_TRUE(Lacks(most, "MSF superblock"));
    EXPECT_TRUE(Lacks(most, "S_OBJNAME"));
    EXPECT_TRUE(Contains(most, "GUID"));
    EXPECT_TRUE(Contains(most, "Section map"));
    EXPECT_TRUE(reports(most).empty()) << most;
}

TEST(PdbListing, DamagedSuperBlockIsReportedAndTheRestListed)
{
    PdbImage image = makePdb();
    image.bytes.put32(32, 768); // not a power of two
    std::string text = listing(image.bytes.data, {});
    EXPECT_TRUE(Contains(text, "** the block size 768 is not a power of two; the blocks are read "
                               "with it all the same (at file offset 0x20)"));
    EXPECT_TRUE(Contains(text, "Block map block"));

    image.bytes.put32(32, 100); // too small to hold anything
    text = listing(image.bytes.data, {});
    EXPECT_TRUE(Contains(text, "** the block size 100 lies outside 512..65536"));
}

TEST(PdbListing, DirectoryPastTheFileIsReported)
{
    PdbImage image = makePdb();
    image.bytes.put32(52, 1000); // the block map block
    std::string text = listing(image.bytes.data, {});
    EXPECT_TRUE(Contains(text, "** the block map block 1000 lies past the end of the file: there "
                               "is no stream directory (at file offset 0x34)"));
    EXPECT_TRUE(Lacks(text, "PDB information stream"));

    image = makePdb();
    image.bytes.put32(image.blockMap, 5000); // the directory's block
    text = listing(image.bytes.data, {});
    EXPECT_TRUE(Contains(text, "** the stream directory: block 5000 is past the last block"));
    EXPECT_TRUE(Contains(text, "** the stream directory cannot be read"));
}

TEST(PdbListing, RepeatedBlocksAreReportedAndStillRead)
{
    PdbImage image = makePdb();
    const std::size_t numbers = blockNumbers(image);
    const std::uint32_t infoBlock = image.bytes.get32(numbers);
    image.bytes.put32(numbers + 4, infoBlock); // TPI reads the information stream's block
    image.bytes.put32(numbers + 8, static_cast<std::uint32_t>(image.directory / image.blockSize));
    const std::string text = listing(image.bytes.data, {});
    EXPECT_TRUE(Contains(text, "** stream 2: block " + std::to_string(infoBlock) +
                                   " is used a second time (the block map repeats or loops) " +
                                   hexOffset(numbers + 4)));
    EXPECT_TRUE(Contains(text, "** stream 3: block " +
                                   std::to_string(image.directory / image.blockSize) +
                                   " is used a second time"));
    // The listing goes on, with whatever the repeated blocks hold.
    EXPECT_TRUE(Contains(text, "TPI stream (types)"));
    EXPECT_TRUE(Contains(text, "IPI stream (ids)"));
}

TEST(PdbListing, StreamLargerThanItsBlocksIsCutAndListed)
{
    PdbImage image = makePdb();
    image.bytes.put32(image.directorySize(9), 100000); // the symbol records
    std::string text = listing(image.bytes.data, {});
    EXPECT_TRUE(Contains(text, "** stream 9 of 100000 bytes needs 196 blocks but the directory "
                               "ends after 1 of them; read as 512 bytes " +
                                   hexOffset(image.directorySize(9))));
    EXPECT_TRUE(Contains(text, "  0001:00000010  function  main\n"));

    // A block number past the file: the records cannot be read.
    image = makePdb();
    // The directory ends with the symbol records' only block number.
    const std::size_t symbolsBlock = image.directory + image.bytes.get32(44) - 4;
    image.bytes.put32(symbolsBlock, 9999);
    text = listing(image.bytes.data, {});
    EXPECT_TRUE(Contains(text, "** stream 9: block 9999 is past the last block"));
    EXPECT_TRUE(Contains(text, "** public symbol 0 points past the symbol records"));
    EXPECT_TRUE(Contains(text, "IPI stream (ids)"));
}

TEST(PdbListing, ModuleRecordsAndStreamsPastTheirEndsAreReported)
{
    PdbImage image = makePdb();
    image.bytes.put32(image.directorySize(3), 64 + 70); // the DBI stream, cut in the names
    const std::string text = listing(image.bytes.data, {});
    EXPECT_TRUE(Contains(text, "** the module information (96 bytes) runs past the end of the DBI "
                               "stream; read up to there " +
                                   hexOffset(image.streamAt[3] + 24)));
    EXPECT_TRUE(Contains(text, "** module 0: its names run past the end of the module "
                               "information " +
                                   hexOffset(image.streamAt[3] + 128)));
    EXPECT_TRUE(Contains(text, "Section contributions"));
    EXPECT_TRUE(Contains(text, "TPI stream (types)"));

    // The module's symbols said to be larger than its stream.
    image = makePdb();
    image.bytes.put32(image.streamAt[3] + 64 + 36, 5000);
    const std::string symbols = listing(image.bytes.data, {});
    EXPECT_TRUE(Contains(symbols, "** its symbols and lines (5000 bytes) run past the end of its "
                                  "stream (28 bytes); read up to there " +
                                      hexOffset(image.streamAt[6])));
    EXPECT_TRUE(Contains(symbols, "S_OBJNAME"));
    EXPECT_TRUE(Contains(symbols, "  0001:00000010  function  main\n"));
}

TEST(PdbListing, DamageInsideAStreamIsReportedAtItsPlaceInTheFile)
{
    // The module's S_OBJNAME, at offset 4 of stream 6, claims 200 bytes.
    PdbImage image = makePdb();
    image.bytes.put16(image.streamAt[6] + 4, 200);
    const std::string text = listing(image.bytes.data, {});
    EXPECT_TRUE(
        Contains(text, "runs past the end of the records " + hexOffset(image.streamAt[6] + 4)))
        << "the report gives the offset in the file, not in the stream";
}

// A stream read through its block list: across blocks in any order, and
// cut short where a block is missing.
TEST(PdbStreams, StreamSourceMapsOffsetsThroughItsBlocks)
{
    constexpr std::uint32_t blockSize = 512;
    constexpr std::size_t block = blockSize; // for the arithmetic on offsets
    std::vector<std::uint8_t> file(4 * block);
    std::iota(file.begin(), file.end(), std::uint8_t{0});
    const std::array<std::uint8_t, 12> list = {3, 0, 0, 0, 1, 0, 0, 0, 9, 0, 0, 0};
    MemorySource fileSource(file);
    Reader fileReader(fileSource);
    MemorySource listSource(list);
    Reader listReader(listSource);
    pdb::StreamSource stream(View(fileReader), blockSize, 4, View(listReader), 3 * block);

    std::array<std::uint8_t, 4> across{};
    EXPECT_EQ(stream.readAt(block - 2, across), across.size());
    EXPECT_EQ(across[0], file[4 * block - 2]);
    EXPECT_EQ(across[1], file[4 * block - 1]);
    EXPECT_EQ(across[2], file[block]);
    EXPECT_EQ(across[3], file[block + 1]);
    EXPECT_EQ(stream.fileOffset(block + 5).value_or(0), block + 5);
    // The third block (9) is past the four blocks: reading stops before it.
    std::vector<std::uint8_t> all(3 * block);
    EXPECT_EQ(stream.readAt(0, all), 2 * block);
    EXPECT_FALSE(stream.fileOffset(2 * block));
}

} // namespace
} // namespace tdump::test
