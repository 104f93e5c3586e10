// The program as the front-end runs it: files, list files, exit statuses.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bytes.h"
#include "image_builder.h"
#include "output.h"
#include "run.h"
#include "test_support.h"

namespace tdump::test {
namespace {

struct Result {
    int status;
    std::string out;
    std::string err;
};

Result run(const std::vector<std::string>& arguments)
{
    StringSink out;
    StringSink err;
    const int status = runTool(arguments, out, err);
    return {status, out.text, err.text};
}

// Text mode on Windows writes CR LF; compare listings with LF only.
std::string withoutCr(std::string text)
{
    std::erase(text, '\r');
    return text;
}

TEST(FileSink, WritesEverythingInOrderAndSaysWhenItCouldNot)
{
    const TempFolder folder;
    std::string expected;
    {
        FilePtr file(std::fopen(folder.file("out.bin").c_str(), "wb"));
        ASSERT_TRUE(file);
        FileSink sink(file.get());
        // Far more than may wait for the writer at once, in pieces of
        // every size up to a megabyte.
        for (std::size_t i = 0; i < 64; ++i) {
            const std::string piece((i * 7919) % (std::size_t{1} << 20) + 1,
                                    static_cast<char>('A' + i % 26));
            sink.write(piece);
            expected += piece;
        }
        EXPECT_TRUE(sink.finish());
        sink.write("tail");
        expected += "tail";
    } // the destructor writes what came after finish()
    EXPECT_EQ(folder.read("out.bin"), expected);

    folder.write("read-only.txt", std::string("x"));
    FilePtr readOnly(std::fopen(folder.file("read-only.txt").c_str(), "rb"));
    ASSERT_TRUE(readOnly);
    FileSink failing(readOnly.get());
    failing.write("cannot be written");
    EXPECT_FALSE(failing.finish());
}

TEST(Run, ListingGoesToTheListFileOrToStandardOutput)
{
    const TempFolder folder;
    folder.write("sample.dll", makeSampleImage().bytes.data);
    const Result toFile = run({"-ee", folder.file("sample.dll"), folder.file("list.txt")});
    EXPECT_EQ(toFile.status, exitOk);
    EXPECT_TRUE(toFile.out.empty());
    EXPECT_TRUE(toFile.err.empty());
    const std::string listed = withoutCr(folder.read("list.txt"));
    EXPECT_TRUE(Contains(listed, "File:     " + folder.file("sample.dll") + "\n"));
    EXPECT_TRUE(Contains(listed, "  Ordinal  RVA       Name\n        1  00001000  alpha\n"));
    const Result toStandardOutput = run({"-ee", folder.file("sample.dll")});
    EXPECT_EQ(toStandardOutput.status, exitOk);
    EXPECT_EQ(toStandardOutput.out, listed);
}

TEST(Run, MissingInputIsReportedInTheListingAndOnStandardError)
{
    const TempFolder folder;
    const Result alone = run({"-h", folder.file("missing.exe")});
    EXPECT_EQ(alone.status, exitFileError);
    EXPECT_TRUE(Contains(alone.err, "tdump: cannot read the input file \"" +
                                        folder.file("missing.exe") + "\""));
    const Result withList = run({"-h", folder.file("missing.exe"), folder.file("list.txt")});
    EXPECT_EQ(withList.status, exitFileError);
    EXPECT_TRUE(Contains(folder.read("list.txt"), "cannot read the input file"));
}

TEST(Run, UnwritableListFile)
{
    const TempFolder folder;
    folder.write("in.bin", std::string("data"));
    const Result r = run({"-h", folder.file("in.bin"), folder.file("no-such-folder/list.txt")});
    EXPECT_EQ(r.status, exitFileError);
    EXPECT_TRUE(Contains(r.err, "tdump: cannot write the list file"));
    EXPECT_TRUE(r.out.empty());
}

TEST(Run, NeverWritesTheListingOverItsInput)
{
    const TempFolder folder;
    folder.write("in.bin", std::string("precious"));
    for (const std::string& listName :
         {folder.file("in.bin"), folder.file("./in.bin"),
          folder.file("../") +
              std::filesystem::path(folder.file("")).parent_path().filename().string() +
              "/in.bin"}) {
        const Result r = run({"-h", folder.file("in.bin"), listName});
        EXPECT_EQ(r.status, exitFileError) << listName;
        EXPECT_TRUE(Contains(r.err, "is the input file itself; it is not overwritten")) << listName;
        EXPECT_EQ(folder.read("in.bin"), "precious");
    }
}

TEST(Run, UsageErrors)
{
    const Result none = run({});
    EXPECT_EQ(none.status, exitUsage);
    EXPECT_TRUE(Contains(none.out, "usage: tdump"));
    const Result unknown = run({"-q", "x"});
    EXPECT_EQ(unknown.status, exitUsage);
    EXPECT_TRUE(Contains(unknown.err, "tdump: unknown switch -q\n"));
}

TEST(Run, UnmangleEachLine)
{
    const TempFolder folder;
    folder.write("names.txt",
                 std::string("_ZN3foo3barEv\r\n  _Z1fPKcS0_  \n\nplain_c_name\n?f@@YAXH@Z\n_Z3ba"));
    const Result r = run({"-um", folder.file("names.txt")});
    EXPECT_EQ(r.status, exitOk);
    EXPECT_TRUE(Contains(r.out, "Demangled names\n---------------\n"
                                "foo::bar()\nf(char const*, char const*)\n\nplain_c_name\n"
                                "void __cdecl f(int)\n_Z3ba\n"));
    EXPECT_TRUE(Contains(run({"-um", "-m", folder.file("names.txt")}).out,
                         "---------------\n_ZN3foo3barEv\n"));
}

TEST(Run, SwitchesWithoutEffectAreSaidSo)
{
    const TempFolder folder;
    folder.write("text.txt", std::string("hello\n"));
    const Result r = run({"-ee", "-l", "-oc", folder.file("text.txt")});
    EXPECT_TRUE(Contains(r.out, "  -ee        no effect on a file of unknown type: exports and "
                                "imports belong to PE images\n"));
    EXPECT_TRUE(Contains(
        r.out, "  -l         no effect on a file of unknown type: it is not an archive library\n"));
    EXPECT_TRUE(Contains(r.out, "Display:  the default for a file of unknown type\n"));
    EXPECT_TRUE(Contains(r.out, "00000000  68 65 6C 6C 6F 0A"));
}

} // namespace
} // namespace tdump::test
