// CodeView debug information in COFF objects: the sample object's records,
// the names of type references, then one damaged structure at a time.

#include <gtest/gtest.h>

#include <algorithm>

#include <span>

#include "bytes.h"
#include "codeview/codeview.h"
#include "image_builder.h"
#include "test_support.h"

namespace tdump::test {
namespace {

// Kinds the forged records below use.
constexpr std::uint16_t sEnd = 0x0006;
constexpr std::uint16_t sLocal = 0x113E;
constexpr std::uint16_t sGproc32Id = 0x1147;
constexpr std::uint16_t sInlineSite = 0x114D;
constexpr std::uint16_t sInlineSiteEnd = 0x114E;
constexpr std::uint16_t sProcIdEnd = 0x114F;
constexpr std::uint16_t lfFieldList = 0x1203;
constexpr std::uint16_t lfMember = 0x150D;

// An S_LOCAL record: type, flags (none), name.
std::vector<std::uint8_t> localRecord(std::uint32_t type, std::string_view name)
{
    // Type (4 bytes), flags (2), the name and its NUL.
    std::vector<std::uint8_t> payload(6 + name.size() + 1, 0);
    for (std::size_t i = 0; i < 4; ++i) {
        payload[i] = static_cast<std::uint8_t>(type >> (8 * i));
    }
    std::copy(name.begin(), name.end(), payload.begin() + 6);
    return CodeViewObject::record(sLocal, payload);
}

std::string debugListing(const CodeViewObject& cv, bool verbose = false)
{
    return listing(cv.build(),
                   verbose ? std::vector<std::string>{"-d", "-v"} : std::vector<std::string>{"-d"});
}

TEST(CodeViewListing, SymbolsTypesLinesAndFiles)
{
    const std::string text = debugListing(makeCodeViewObject());
    EXPECT_TRUE(Contains(text, "  .debug$S  "));
    EXPECT_TRUE(Contains(text, "DEBUG_S_SYMBOLS (0xF1), "));
    // The procedure's records are indented until its end.
    EXPECT_TRUE(Contains(
        text, "        0000  S_OBJNAME                 sample.obj\n"
              "        0014  S_GPROC32_ID              code [0001:00000000], size 0x10, debug "
              "0x0..0x10, type 0x1005 (twice)  twice\n"
              "        0044    S_FRAMEPROC               frame 0x28, saved registers 0x0\n"
              "        0064    S_LOCAL                   type int, flags parameter  value\n"
              "        0074    S_DEFRANGE_REGISTER       register RCX, range [0001:00000000] "
              "+0x10, gaps 1\n"
              "        0088  S_PROC_ID_END\n"));
    EXPECT_TRUE(Contains(text, "code [0001:00000000] size 0x10\n"
                               "          file sample.cpp, 2 lines\n"
                               "            00000000:     3 00000004:     4\n"));
    EXPECT_TRUE(Contains(text, "        0x0000  none  sample.cpp\n"));
    EXPECT_TRUE(Contains(text, "0x1001  LF_PROCEDURE              returns int, parameters 1, "
                               "arguments 0x1000 ((int))\n"));
    EXPECT_TRUE(Contains(text, "LF_MEMBER                 public, type int, offset 4  y\n"));
    EXPECT_TRUE(Contains(text, "0x1003  LF_STRUCTURE              members 2, field list 0x1002 "
                               "(<LF_FIELDLIST>), size 8  Point\n"));
    EXPECT_TRUE(Contains(text, "0x1004  LF_POINTER                to 0x1003 (Point), pointer, "
                               "near64, size 8\n"));
    EXPECT_TRUE(reports(text).empty()) << text;
}

TEST(CodeViewListing, VerboseListsEveryField)
{
    const std::string text = debugListing(makeCodeViewObject(), true);
    EXPECT_TRUE(Contains(text, "S_GPROC32_ID              twice\n"));
    EXPECT_TRUE(Contains(text, "    parent: 0x0\n"));
    EXPECT_TRUE(Contains(text, "    gap list: +0x4 (0x2)\n"));
    EXPECT_TRUE(Contains(text, "    00000004  line 4, end delta 0, statement\n"));
    EXPECT_TRUE(Contains(text, "    calling convention: near C\n"));
    EXPECT_TRUE(reports(text).empty()) << text;
}

TEST(CodeViewListing, TableLettersChooseSubsectionsAndTypes)
{
    const std::vector<std::uint8_t> object = makeCodeViewObject().build();
    const std::string linesOnly = listing(object, {"-d", "-ic"});
    EXPECT_TRUE(Contains(linesOnly, "DEBUG_S_LINES (0xF2)"));
    EXPECT_TRUE(Lacks(linesOnly, "DEBUG_S_SYMBOLS"));
    EXPECT_TRUE(Lacks(linesOnly, "LF_STRUCTURE"));
    const std::string withoutSymbolsAndTypes = listing(object, {"-d", "-xbh"});
    EXPECT_TRUE(Lacks(withoutSymbolsAndTypes, "S_GPROC32_ID"));
    EXPECT_TRUE(Lacks(withoutSymbolsAndTypes, "LF_PROCEDURE"));
    EXPECT_TRUE(Contains(withoutSymbolsAndTypes, "0x0000  none  sample.cpp\n"));
}

TEST(CodeViewNames, BuiltInTableAndOutOfRange)
{
    const CodeViewObject cv = makeCodeViewObject();
    MemorySource source(cv.types);
    Reader reader(source);
    const auto names = codeview::TypeNames::read(View(reader), codeview::firstTypeIndex);
    EXPECT_EQ(names.count(), 6u);
    EXPECT_EQ(names.name(0x0074), "int");
    EXPECT_EQ(names.name(0x0674), "int*");
    EXPECT_EQ(names.name(0x0000), "<no type>");
    EXPECT_EQ(names.name(0x1001), "0x1001 (int (int))");
    EXPECT_EQ(names.name(0x1004), "0x1004 (Point*)");
    EXPECT_EQ(names.name(0x1006), "0x1006 (out of range)");
    EXPECT_EQ(names.name(0x00FF), "0x00FF (unknown built-in type)");
    EXPECT_FALSE(names.known(0x1006));
    // No table: every index from 0x1000 on is out of range.
    EXPECT_EQ(codeview::TypeNames().name(0x1000), "0x1000 (out of range)");
}

// An S_INLINESITE record: parent and end (0), the inlinee 0x1003, then the
// annotation bytes.
std::vector<std::uint8_t> inlineSite(const std::vector<std::uint8_t>& annotations)
{
    std::vector<std::uint8_t> payload(12 + annotations.size(), 0);
    payload[8] = 0x03;
    payload[9] = 0x10;
    std::copy(annotations.begin(), annotations.end(), payload.begin() + 12);
    std::vector<std::uint8_t> records = CodeViewObject::record(sInlineSite, payload);
    append(records, CodeViewObject::record(sInlineSiteEnd, {}));
    return records;
}

TEST(CodeViewListing, InlineSiteAnnotationsAreDecoded)
{
    CodeViewObject cv = makeCodeViewObject();
    // Line offset -3 (signed: 3 << 1 | 1); a two-byte code offset 0x1234
    // (0x80 | 0x12, 0x34); a four-byte code length 0x00123456; code offset 5
    // with line offset +2 in one number (2 << 1 << 4 | 5); length 0x10 and
    // code offset 0x20; then the end (0) and padding.
    cv.symbols = inlineSite({0x06, 0x07, 0x03, 0x92, 0x34, 0x04, 0xC0, 0x12, 0x34, 0x56, 0x0B, 0x45,
                             0x0C, 0x10, 0x20, 0x00, 0x00});
    const std::string text = debugListing(cv, true);
    EXPECT_TRUE(Contains(text, "annotations: ChangeLineOffset -3, ChangeCodeOffset 0x1234, "
                               "ChangeCodeLength 0x123456, ChangeCodeOffsetAndLineOffset code 0x5 "
                               "line 2, ChangeCodeLengthAndCodeOffset length 0x10 code 0x20\n"))
        << text;
}

TEST(MalformedCodeView, AnnotationsWithAnUnknownOpcodeOrCutShortAreReported)
{
    CodeViewObject cv = makeCodeViewObject();
    cv.symbols = inlineSite({0x06, 0x04, 0x2A, 0x01});
    append(cv.symbols, inlineSite({0x03, 0xC0, 0x01}));
    const std::string text = debugListing(cv, true);
    EXPECT_TRUE(Contains(text, "annotations: ChangeLineOffset 2\n"));
    EXPECT_TRUE(Contains(text, "** unknown annotation opcode 0x2A"));
    EXPECT_TRUE(Contains(text, "** the record ends inside its fields"));
    EXPECT_TRUE(Contains(text, "DEBUG_S_LINES (0xF2)"));
}

TEST(MalformedCodeView, TruncatedRecordIsReportedAndTheNextOneListed)
{
    CodeViewObject cv = makeCodeViewObject();
    // A procedure record holding only its first two fields.
    std::vector<std::uint8_t> symbols =
        CodeViewObject::record(sGproc32Id, std::vector<std::uint8_t>(8, 0));
    append(symbols, CodeViewObject::record(sProcIdEnd, {}));
    cv.symbols = symbols;
    const std::string text = debugListing(cv);
    EXPECT_TRUE(Contains(text, "** the record ends inside its fields"));
    EXPECT_TRUE(Contains(text, "S_PROC_ID_END"));
    EXPECT_TRUE(Contains(text, "DEBUG_S_LINES (0xF2)"));
}

TEST(MalformedCodeView, RecordLengthPastTheSubsection)
{
    CodeViewObject cv = makeCodeViewObject();
    // The last record (S_PROC_ID_END) claims far more bytes than follow.
    cv.symbols[cv.symbols.size() - 4] = 0xF0;
    const std::string text = debugListing(cv);
    EXPECT_TRUE(Contains(text, "** record length 240 runs past the end of the records"));
    EXPECT_TRUE(Contains(text, "** 1 scope(s) still open at the end of the symbols"));
    EXPECT_TRUE(Contains(text, "file sample.cpp, 2 lines"));
}

TEST(MalformedCodeView, TypeIndexOutOfRange)
{
    CodeViewObject cv = makeCodeViewObject();
    std::vector<std::uint8_t> symbols = localRecord(0x1FFF, "lost");
    append(symbols, localRecord(0x1003, "kept"));
    cv.symbols = symbols;
    const std::string text = debugListing(cv);
    EXPECT_TRUE(Contains(text, "** type index 0x1FFF is out of range"));
    EXPECT_TRUE(Contains(text, "type 0x1FFF (out of range), flags none  lost\n"));
    EXPECT_TRUE(Contains(text, "type 0x1003 (Point), flags none  kept\n"));
}

TEST(MalformedCodeView, FieldListRunsPastItsRecord)
{
    CodeViewObject cv = makeCodeViewObject();
    // A member whose offset and name are cut off by the record's end.
    std::vector<std::uint8_t> fields = {
        static_cast<std::uint8_t>(lfMember), lfMember >> 8, 3, 0, 0x74, 0, 0, 0};
    std::vector<std::uint8_t> types = CodeViewObject::record(lfFieldList, fields);
    append(types, std::vector<std::uint8_t>(cv.types.begin() + 12, cv.types.end()));
    cv.types = types;
    const std::string text = debugListing(cv);
    EXPECT_TRUE(Contains(text, "** the record ends inside its fields"));
    EXPECT_TRUE(Contains(text, "LF_FUNC_ID"));
}

TEST(MalformedCodeView, EndWithoutStartAndProcedureWithoutEnd)
{
    CodeViewObject cv = makeCodeViewObject();
    std::vector<std::uint8_t> symbols = CodeViewObject::record(sEnd, {});
    append(symbols, std::vector<std::uint8_t>(cv.symbols.begin(), cv.symbols.end() - 4));
    cv.symbols = symbols;
    const std::string text = debugListing(cv);
    EXPECT_TRUE(Contains(text, "** S_END without a scope open before it"));
    EXPECT_TRUE(Contains(text, "** 1 scope(s) still open at the end of the symbols"));
    EXPECT_TRUE(Contains(text, "S_DEFRANGE_REGISTER"));
}

TEST(MalformedCodeView, LineBlockLargerThanItsSubsection)
{
    CodeViewObject cv = makeCodeViewObject();
    cv.lines[16] = 200; // the block's line count
    const std::string text = debugListing(cv);
    EXPECT_TRUE(Contains(text, "** the block of 200 lines (28 bytes) does not fit its subsection"));
    EXPECT_TRUE(Contains(text, "DEBUG_S_FILECHKSMS (0xF4)"));
}

} // namespace
} // namespace tdump::test
