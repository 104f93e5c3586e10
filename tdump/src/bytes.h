#pragma once

// Bounded access to the bytes of the dumped file. Nothing here ever holds the
// whole file: a Reader keeps a small cache of pages, and every table walk reads
// through a View that checks each offset against the end before use, so a
// malformed header can only ever make a read fail, never reach past the data.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tdump {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Copies up to out.size() bytes from offset; returns how many it copied.
    virtual std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) override;

private:
    std::span<const std::uint8_t> bytes_;
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

class FileSource final : public ByteSource {
public:
    // The name is passed to fopen unchanged: on Windows it is an ANSI (code
    // page 932) name, which must not go through any conversion.
    static std::unique_ptr<FileSource> open(const std::string& name, std::string& error);

    std::uint64_t size() const override { return size_; }
    std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) override;

private:
    FileSource(FilePtr file, std::uint64_t size) : file_(std::move(file)), size_(size) {}

    FilePtr file_;
    std::uint64_t size_;
    std::uint64_t position_ = 0;
};

// A cache of a few fixed pages over a source: table walks jump around the
// file, and most of their reads are a few bytes next to the previous ones.
class Reader {
public:
    explicit Reader(ByteSource& source);
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    std::uint64_t size() const { return size_; }
    // Copies exactly out.size() bytes, or returns false when the file is shorter.
    bool read(std::uint64_t offset, std::span<std::uint8_t> out);
    // Large sequential reads (file displays) go straight to the source.
    std::size_t readSome(std::uint64_t offset, std::span<std::uint8_t> out);

private:
    static constexpr std::size_t pageSize = std::size_t{64} * 1024;
    static constexpr std::size_t pageCount = 16;
    static constexpr std::uint64_t noPage = ~std::uint64_t{0};

    struct Page {
        std::uint64_t index = noPage;
        std::uint64_t lastUse = 0;
        std::size_t length = 0;
        std::vector<std::uint8_t> bytes;
    };

    const Page& page(std::uint64_t index);

    ByteSource& source_;
    std::uint64_t size_;
    std::array<Page, pageCount> pages_;
    std::uint64_t clock_ = 0;
    std::size_t lastPage_ = 0;
};

// A NUL-terminated string read from the file.
struct CString {
    std::string text;
    bool terminated = false; // false: the limit or the end of the data came first
};

// A window of the file: the whole file, an archive member or a section.
// Offsets are relative to the window; base() turns them into file offsets for
// reports.
class View {
public:
    explicit View(Reader& reader) : reader_(&reader), base_(0), size_(reader.size()) {}

    std::uint64_t size() const { return size_; }
    std::uint64_t base() const { return base_; }
    Reader& reader() const { return *reader_; }

    // Whether [offset, offset + length) lies inside the window; overflow-safe.
    bool has(std::uint64_t offset, std::uint64_t length) const
    {
        return offset <= size_ && length <= size_ - offset;
    }

    bool read(std::uint64_t offset, std::span<std::uint8_t> out) const;
    std::optional<std::uint8_t> u8(std::uint64_t offset) const;
    std::optional<std::uint16_t> u16(std::uint64_t offset) const;
    std::optional<std::uint32_t> u32(std::uint64_t offset) const;
    std::optional<std::uint64_t> u64(std::uint64_t offset) const;
    std::optional<std::uint32_t> u32be(std::uint64_t offset) const;
    std::optional<std::uint64_t> u64be(std::uint64_t offset) const;

    // The string at offset, at most limit bytes; nullopt when offset is outside.
    std::optional<CString> string(std::uint64_t offset, std::size_t limit) const;

    // The part [offset, offset + length) clamped to this window.
    View sub(std::uint64_t offset, std::uint64_t length) const;

private:
    View(Reader* reader, std::uint64_t base, std::uint64_t size)
        : reader_(reader), base_(base), size_(size)
    {
    }

    Reader* reader_;
    std::uint64_t base_;
    std::uint64_t size_;
};

// Little-endian fields of a record already read into memory.
inline std::uint16_t le16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t le32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t le64(const std::uint8_t* p)
{
    return static_cast<std::uint64_t>(le32(p)) | (static_cast<std::uint64_t>(le32(p + 4)) << 32);
}

} // namespace tdump
