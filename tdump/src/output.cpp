#include "output.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tdump {

namespace {

// How much may wait for the writer before write() waits in turn.
constexpr std::size_t maxWaiting = std::size_t{4} << 20;

} // namespace

FileSink::FileSink(std::FILE* file) : file_(file), writer_([this] { writeAll(); }) {}

FileSink::~FileSink()
{
    {
        const std::lock_guard lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    writer_.join();
}

void FileSink::write(std::string_view data)
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return waiting_.size() < maxWaiting; });
    waiting_.append(data);
    lock.unlock();
    changed_.notify_all();
}

bool FileSink::finish()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return waiting_.empty() && !busy_; });
    return !failed_;
}

void FileSink::writeAll()
{
    std::string part;
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return !waiting_.empty() || closing_; });
        if (waiting_.empty()) {
            return; // closing, and everything is written
        }
        // The two strings trade places, so their memory is used again.
        part.swap(waiting_);
        busy_ = true;
        lock.unlock();
        changed_.notify_all();
        const bool written = std::fwrite(part.data(), 1, part.size(), file_) == part.size();
        part.clear();
        lock.lock();
        failed_ = failed_ || !written;
        busy_ = false;
        changed_.notify_all();
    }
}

Output::Output(Sink& sink, WorkBudget& budget, std::size_t capacity)
    : sink_(sink), buffer_(capacity), budget_(budget)
{
}

Output::~Output()
{
    flush();
}

void Output::flush()
{
    if (used_ > 0) {
        sink_.write(std::string_view(buffer_.data(), used_));
        used_ = 0;
    }
}

char* Output::reserve(std::size_t n)
{
    if (buffer_.size() - used_ < n) {
        flush();
        if (buffer_.size() < n) {
            buffer_.resize(n);
        }
    }
    return buffer_.data() + used_;
}

Output& Output::operator<<(std::string_view text)
{
    if (text.empty()) {
        return *this; // an empty view may have no data at all: nothing to copy
    }
    if (text.size() > buffer_.size()) {
        flush();
        sink_.write(text);
        budget_.charge(text.size());
        return *this;
    }
    std::memcpy(reserve(text.size()), text.data(), text.size());
    commit(text.size());
    return *this;
}

Output& Output::operator<<(char c)
{
    *reserve(1) = c;
    commit(1);
    return *this;
}

Output& Output::operator<<(Hex value)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::array<char, 16> text{};
    int count = 0;
    std::uint64_t v = value.value;
    do {
        text[static_cast<std::size_t>(15 - count)] = digits[v & 0xF];
        v >>= 4;
        ++count;
    } while (v != 0);
    const int wanted = std::min(value.digits, 16);
    while (count < wanted) {
        text[static_cast<std::size_t>(15 - count)] = '0';
        ++count;
    }
    return *this << std::string_view(text.data() + 16 - count, static_cast<std::size_t>(count));
}

Output& Output::operator<<(Dec value)
{
    std::array<char, 21> text{};
    std::size_t start = text.size();
    std::uint64_t v = value.value;
    do {
        text[--start] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    const std::size_t length = text.size() - start;
    for (std::size_t i = length; i < static_cast<std::size_t>(std::max(value.width, 0)); ++i) {
        *this << ' ';
    }
    return *this << std::string_view(text.data() + start, length);
}

Output& Output::operator<<(Column value)
{
    *this << value.text;
    for (std::size_t i = value.text.size(); i < value.width; ++i) {
        *this << ' ';
    }
    return *this;
}

std::string toHex(std::uint64_t value, int digits)
{
    StringSink sink;
    WorkBudget unlimited;
    {
        Output text(sink, unlimited, 32);
        text << hex(value, digits);
    }
    return sink.text;
}

namespace {

// The length of the UTF-8 sequence that starts at text[at] if it is a valid
// one encoding no control character, else 0.
std::size_t printableSequence(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0u) != 0x80u) {
            return 0;
        }
        code = (code << 6) | (byte(at + i) & 0x3Fu);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    const bool c1Control = code >= 0x80 && code <= 0x9F;
    return overlong || surrogate || c1Control || code > 0x10FFFF ? 0 : length;
}

} // namespace

std::string printable(std::string_view name)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        const auto byte = static_cast<unsigned char>(name[i]);
        if (byte >= 0x20 && byte < 0x7F) {
            text += name[i++];
        } else if (const std::size_t length = byte >= 0x80 ? printableSequence(name, i) : 0) {
            text.append(name, i, length);
            i += length;
        } else {
            text += "\\x";
            text += digits[byte >> 4];
            text += digits[byte & 0x0Fu];
            ++i;
        }
    }
    return text;
}

// A report often quotes the bytes it found wrong: they are written escaped.
void report(Output& out, std::string_view what, std::uint64_t fileOffset)
{
    out << "  ** " << printable(what);
    if (const OffsetMap* map = out.offsetMap()) {
        if (const auto mapped = map->fileOffset(fileOffset)) {
            out << " (at file offset 0x" << hex(*mapped, 1) << ")\n";
        } else {
            out << " (at offset 0x" << hex(fileOffset, 1)
                << " of the stream, in a block outside the file)\n";
        }
        return;
    }
    out << " (at file offset 0x" << hex(fileOffset, 1) << ")\n";
}

void report(Output& out, std::string_view what)
{
    out << "  ** " << printable(what) << '\n';
}

void heading(Output& out, std::string_view title)
{
    out << '\n' << title << '\n';
    for (std::size_t i = 0; i < title.size(); ++i) {
        out << '-';
    }
    out << '\n';
}

Output& label(Output& out, std::string_view name)
{
    return out << "  " << column(name, 30);
}

} // namespace tdump
