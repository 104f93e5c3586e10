#pragma once

// MSF, the multi-stream container of a program database: the file is a run
// of equal blocks; the superblock names the block holding the list of the
// stream directory's blocks, and the directory gives each stream its size
// and its blocks. A stream is read through a StreamSource, which maps its
// offsets onto the file block by block, so a Reader over it gives a View of
// the stream as if it were contiguous, with the Reader's page cache as the
// only copy of its bytes.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bytes.h"
#include "output.h"

namespace tdump::pdb {

// The superblock at offset 0: the magic, then the geometry of the file.
namespace superBlock {
constexpr std::size_t magic = 0;
constexpr std::size_t blockSize = 32;
constexpr std::size_t freeBlockMapBlock = 36;
constexpr std::size_t numBlocks = 40;
constexpr std::size_t numDirectoryBytes = 44;
constexpr std::size_t unknown = 48;
constexpr std::size_t blockMapAddr = 52;
constexpr std::size_t size = 56;
} // namespace superBlock

// "Microsoft C/C++ MSF 7.00\r\n\x1a" "DS\0\0\0"
constexpr std::size_t msfMagicSize = 32;
extern const std::uint8_t msfMagic[msfMagicSize];

// Whether the file starts with the MSF 7.00 magic.
bool isMsf(View file);

struct SuperBlock {
    std::uint32_t blockSize = 0;
    std::uint32_t freeBlockMapBlock = 0;
    std::uint32_t numBlocks = 0;
    std::uint32_t numDirectoryBytes = 0;
    std::uint32_t unknown = 0;
    std::uint32_t blockMapAddr = 0;
};

std::optional<SuperBlock> readSuperBlock(View file);

// Block sizes the reader accepts; MSVC and lld write 4096, large files use
// up to 32768. Outside these bounds no block can be mapped.
constexpr std::uint32_t minBlockSize = 512;
constexpr std::uint32_t maxBlockSize = 65536;
// A stream size meaning "no stream" (a deleted one).
constexpr std::uint32_t nilStreamSize = 0xFFFFFFFF;
// Far more streams than any real database has (stream numbers are 16-bit
// where other streams refer to them).
constexpr std::uint32_t maxStreams = 1u << 16;
// One bit per block is kept to find blocks used twice; past this many
// blocks, repeats are not looked for.
constexpr std::uint32_t maxTrackedBlocks = 1u << 24;

// The bytes of one stream: its offsets mapped through a list of block
// numbers (itself read from a View, the block map block or the directory).
class StreamSource final : public ByteSource, public OffsetMap {
public:
    StreamSource(View file, std::uint32_t blockSize, std::uint32_t numBlocks, View blockList,
                 std::uint64_t size)
        : file_(file), blockSize_(blockSize), numBlocks_(numBlocks), blockList_(blockList),
          size_(size)
    {
    }

    std::uint64_t size() const override { return size_; }
    std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) override;

    // The file offset of a stream offset, or nullopt when its block is
    // missing or lies outside the file.
    std::optional<std::uint64_t> fileOffset(std::uint64_t offset) const override;

private:
    View file_;
    std::uint32_t blockSize_;
    std::uint32_t numBlocks_;
    View blockList_;
    std::uint64_t size_;
};

// A stream opened for reading: its source, the Reader caching it, and a
// View of the whole stream. Reports at stream offsets go through at().
class Stream {
public:
    Stream(std::uint32_t number, std::unique_ptr<StreamSource> source)
        : number_(number), source_(std::move(source)), reader_(*source_), view_(reader_)
    {
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    std::uint32_t number() const { return number_; }
    View view() const { return view_; }
    // For the reports of readers that know only the stream's offsets.
    const OffsetMap& offsets() const { return *source_; }
    std::uint64_t size() const { return view_.size(); }
    // The file offset to report for a stream offset: where its byte is, or
    // the offset itself when its block is missing.
    std::uint64_t at(std::uint64_t offset) const
    {
        return source_->fileOffset(offset).value_or(offset);
    }

private:
    std::uint32_t number_;
    std::unique_ptr<StreamSource> source_;
    Reader reader_;
    View view_;
};

// The stream directory as read (and checked) once per listing.
class Msf {
public:
    // Reads the directory; what is wrong goes to out as it is found, and
    // what can still be read is kept.
    Msf(View file, const SuperBlock& super, Output& out);
    Msf(const Msf&) = delete;
    Msf& operator=(const Msf&) = delete;

    bool usable() const { return directory_ != nullptr; }
    std::uint32_t streamCount() const { return static_cast<std::uint32_t>(streams_.size()); }
    // The stream's size as the directory gives it (0 for a nil stream).
    std::uint64_t streamSize(std::uint32_t number) const;
    bool exists(std::uint32_t number) const;
    // The stream, or nullptr when there is no such stream.
    std::unique_ptr<Stream> open(std::uint32_t number) const;

    // The stream directory display: every stream's size and blocks, and
    // what it holds where contents names it (the fixed streams are named
    // here).
    void list(Output& out, bool verbose, const std::vector<std::string>& contents) const;

private:
    struct StreamEntry {
        std::uint64_t size = 0;         // after the directory's own checks
        std::uint32_t declaredSize = 0; // as written
        std::uint64_t blockListAt = 0;  // offset of its block numbers in the directory
        std::uint32_t blockCount = 0;   // numbers the directory holds for it
    };

    void readDirectory(Output& out);
    void checkBlocks(Output& out);

    View file_;
    SuperBlock super_;
    std::unique_ptr<Stream> directory_;
    std::vector<StreamEntry> streams_;
};

} // namespace tdump::pdb
