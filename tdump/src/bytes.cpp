#include "bytes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tdump {
namespace {

// 64-bit seeks: plain fseek takes a long, which is 32 bits on Windows.
int seekTo(std::FILE* file, std::uint64_t offset, int origin)
{
#ifdef _WIN32
    return _fseeki64(file, static_cast<long long>(offset), origin);
#else
    return fseeko(file, static_cast<off_t>(offset), origin);
#endif
}

std::int64_t tell(std::FILE* file)
{
#ifdef _WIN32
    return _ftelli64(file);
#else
    return ftello(file);
#endif
}

} // namespace

std::size_t MemorySource::readAt(std::uint64_t offset, std::span<std::uint8_t> out)
{
    if (offset >= bytes_.size()) {
        return 0;
    }
    const std::size_t start = static_cast<std::size_t>(offset);
    const std::size_t count = std::min(out.size(), bytes_.size() - start);
    std::memcpy(out.data(), bytes_.data() + start, count);
    return count;
}

std::unique_ptr<FileSource> FileSource::open(const std::string& name, std::string& error)
{
    FilePtr file(std::fopen(name.c_str(), "rb"));
    if (!file) {
        error = std::strerror(errno);
        return nullptr;
    }
    // A directory opens on POSIX systems; it only fails on the first read.
    errno = 0;
    if (std::fgetc(file.get()) == EOF && std::ferror(file.get())) {
        error = errno != 0 ? std::strerror(errno) : "cannot be read";
        return nullptr;
    }
    if (seekTo(file.get(), 0, SEEK_END) != 0) {
        error = "cannot determine its size";
        return nullptr;
    }
    const std::int64_t end = tell(file.get());
    if (end < 0 || seekTo(file.get(), 0, SEEK_SET) != 0) {
        error = "cannot determine its size";
        return nullptr;
    }
    return std::unique_ptr<FileSource>(
        new FileSource(std::move(file), static_cast<std::uint64_t>(end)));
}

std::size_t FileSource::readAt(std::uint64_t offset, std::span<std::uint8_t> out)
{
    if (offset >= size_ || out.empty()) {
        return 0;
    }
    if (offset != position_) {
        if (seekTo(file_.get(), offset, SEEK_SET) != 0) {
            position_ = ~std::uint64_t{0};
            return 0;
        }
        position_ = offset;
    }
    const std::size_t count = std::fread(out.data(), 1, out.size(), file_.get());
    position_ += count;
    if (count < out.size()) {
        // Forget the position after a short read: the next read seeks afresh.
        std::clearerr(file_.get());
        position_ = ~std::uint64_t{0};
    }
    return count;
}

Reader::Reader(ByteSource& source) : source_(source), size_(source.size()) {}

const Reader::Page& Reader::page(std::uint64_t index)
{
    ++clock_;
    if (pages_[lastPage_].index == index) {
        pages_[lastPage_].lastUse = clock_;
        return pages_[lastPage_];
    }
    std::size_t victim = 0;
    for (std::size_t i = 0; i < pageCount; ++i) {
        if (pages_[i].index == index) {
            pages_[i].lastUse = clock_;
            lastPage_ = i;
            return pages_[i];
        }
        if (pages_[i].lastUse < pages_[victim].lastUse) {
            victim = i;
        }
    }
    Page& fresh = pages_[victim];
    fresh.bytes.resize(pageSize);
    fresh.index = index;
    fresh.lastUse = clock_;
    fresh.length = source_.readAt(index * pageSize, fresh.bytes);
    lastPage_ = victim;
    return fresh;
}

bool Reader::read(std::uint64_t offset, std::span<std::uint8_t> out)
{
    if (offset > size_ || out.size() > size_ - offset) {
        return false;
    }
    std::size_t done = 0;
    while (done < out.size()) {
        const std::uint64_t at = offset + done;
        const Page& p = page(at / pageSize);
        const std::size_t within = static_cast<std::size_t>(at % pageSize);
        if (within >= p.length) {
            return false; // the file shrank under us
        }
        const std::size_t count = std::min(out.size() - done, p.length - within);
        std::memcpy(out.data() + done, p.bytes.data() + within, count);
        done += count;
    }
    return true;
}

std::size_t Reader::readSome(std::uint64_t offset, std::span<std::uint8_t> out)
{
    return source_.readAt(offset, out);
}

bool View::read(std::uint64_t offset, std::span<std::uint8_t> out) const
{
    return has(offset, out.size()) && reader_->read(base_ + offset, out);
}

std::optional<std::uint8_t> View::u8(std::uint64_t offset) const
{
    std::array<std::uint8_t, 1> b{};
    if (!read(offset, b)) {
        return std::nullopt;
    }
    return b[0];
}

std::optional<std::uint16_t> View::u16(std::uint64_t offset) const
{
    std::array<std::uint8_t, 2> b{};
    if (!read(offset, b)) {
        return std::nullopt;
    }
    return le16(b.data());
}

std::optional<std::uint32_t> View::u32(std::uint64_t offset) const
{
    std::array<std::uint8_t, 4> b{};
    if (!read(offset, b)) {
        return std::nullopt;
    }
    return le32(b.data());
}

std::optional<std::uint64_t> View::u64(std::uint64_t offset) const
{
    std::array<std::uint8_t, 8> b{};
    if (!read(offset, b)) {
        return std::nullopt;
    }
    return le64(b.data());
}

std::optional<std::uint32_t> View::u32be(std::uint64_t offset) const
{
    std::array<std::uint8_t, 4> b{};
    if (!read(offset, b)) {
        return std::nullopt;
    }
    return (static_cast<std::uint32_t>(b[0]) << 24) | (static_cast<std::uint32_t>(b[1]) << 16) |
           (static_cast<std::uint32_t>(b[2]) << 8) | b[3];
}

std::optional<std::uint64_t> View::u64be(std::uint64_t offset) const
{
    const auto high = u32be(offset);
    const auto low = u32be(offset + 4);
    if (!high || !low || offset > ~std::uint64_t{0} - 4) {
        return std::nullopt;
    }
    return (static_cast<std::uint64_t>(*high) << 32) | *low;
}

std::optional<CString> View::string(std::uint64_t offset, std::size_t limit) const
{
    if (offset >= size_) {
        return std::nullopt;
    }
    CString result;
    std::array<std::uint8_t, 256> chunk{};
    while (result.text.size() < limit && offset < size_) {
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::uint64_t>({chunk.size(), size_ - offset, limit - result.text.size()}));
        if (!read(offset, std::span(chunk.data(), want))) {
            break;
        }
        const auto* end = std::find(chunk.data(), chunk.data() + want, std::uint8_t{0});
        result.text.append(reinterpret_cast<const char*>(chunk.data()),
                           static_cast<std::size_t>(end - chunk.data()));
        if (end != chunk.data() + want) {
            result.terminated = true;
            break;
        }
        offset += want;
    }
    return result;
}

View View::sub(std::uint64_t offset, std::uint64_t length) const
{
    const std::uint64_t start = std::min(offset, size_);
    return View(reader_, base_ + start, std::min(length, size_ - start));
}

} // namespace tdump
