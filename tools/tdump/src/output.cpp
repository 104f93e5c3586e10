#include "output.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tdump {

void FileSink::write(std::string_view data)
{
    if (!failed_ && std::fwrite(data.data(), 1, data.size(), file_) != data.size()) {
        failed_ = true;
    }
}

Output::Output(Sink& sink, std::size_t capacity) : sink_(sink), buffer_(capacity) {}

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
    if (text.size() > buffer_.size()) {
        flush();
        sink_.write(text);
        spent_ += text.size();
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
    {
        Output text(sink, 32);
        text << hex(value, digits);
    }
    return sink.text;
}

void report(Output& out, std::string_view what, std::uint64_t fileOffset)
{
    out << "  ** " << what << " (at file offset 0x" << hex(fileOffset, 1) << ")\n";
}

void report(Output& out, std::string_view what)
{
    out << "  ** " << what << '\n';
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
