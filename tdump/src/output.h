#pragma once

// The listing is built in one large buffer and handed to its sink in big
// chunks: a hex display of a large file is tens of millions of short pieces,
// which would be far too slow through per-piece stream formatting.

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "budget.h"

namespace tdump {

class Sink {
public:
    virtual ~Sink() = default;
    virtual void write(std::string_view data) = 0;
};

class StringSink final : public Sink {
public:
    void write(std::string_view data) override { text.append(data); }
    std::string text;
};

// For what is read but not listed: tables read only for what others need.
class DiscardSink final : public Sink {
public:
    void write(std::string_view) override {}
};

// Writes to a stream the caller owns, on a thread of its own, so that the
// listing is built on while the system takes the part before: for a file
// display, writing costs as much as building. What write() is given is
// copied; at most a few megabytes wait. finish() (or the destructor) waits
// until everything is written.
class FileSink final : public Sink {
public:
    explicit FileSink(std::FILE* file);
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;
    ~FileSink() override;

    void write(std::string_view data) override;
    // Waits until everything given is written; whether all of it was.
    bool finish();

private:
    void writeAll();

    std::FILE* file_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string waiting_; // given, not yet taken by the writer
    bool busy_ = false;   // the writer holds a part
    bool closing_ = false;
    bool failed_ = false;
    std::thread writer_; // last: it starts once the rest is ready
};

struct Hex {
    std::uint64_t value;
    int digits; // at least this many, more when the value needs them
};
inline Hex hex(std::uint64_t value, int digits = 8)
{
    return {value, digits};
}

struct Dec {
    std::uint64_t value;
    int width; // right-aligned in this many columns
};
inline Dec dec(std::uint64_t value, int width = 0)
{
    return {value, width};
}

// Text left-aligned in a column of width characters (never cut).
struct Column {
    std::string_view text;
    std::size_t width;
};
inline Column column(std::string_view text, std::size_t width)
{
    return {text, width};
}

// Where the offsets that readers report lie in the file, for data that is
// not contiguous in it (a PDB stream): their own offsets are the stream's.
class OffsetMap {
public:
    virtual ~OffsetMap() = default;
    // nullopt when the offset's block is missing or lies outside the file.
    virtual std::optional<std::uint64_t> fileOffset(std::uint64_t offset) const = 0;
};

class Output {
public:
    static constexpr std::size_t defaultCapacity = std::size_t{1} << 20;

    // Every byte written is charged to budget.
    Output(Sink& sink, WorkBudget& budget, std::size_t capacity = defaultCapacity);
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output();

    Output& operator<<(std::string_view text);
    Output& operator<<(const char* text) { return *this << std::string_view(text); }
    Output& operator<<(const std::string& text) { return *this << std::string_view(text); }
    Output& operator<<(char c);
    Output& operator<<(Hex value);
    Output& operator<<(Dec value);
    Output& operator<<(Column value);

    // Direct access for the hot loops of the file displays: room for n bytes
    // (n at most the capacity), then commit how many were written.
    char* reserve(std::size_t n);
    void commit(std::size_t n)
    {
        used_ += n;
        budget_.charge(n);
    }

    void flush();

    // What the listing this output belongs to may still spend.
    WorkBudget& budget() const { return budget_; }

    // The map reports go through while a scope lists data of a stream.
    const OffsetMap* offsetMap() const { return offsetMap_; }

    // While it lives, report() maps the offsets it is given through map.
    class OffsetScope {
    public:
        OffsetScope(Output& out, const OffsetMap& map) : out_(out), outer_(out.offsetMap_)
        {
            out_.offsetMap_ = &map;
        }
        ~OffsetScope() { out_.offsetMap_ = outer_; }
        OffsetScope(const OffsetScope&) = delete;
        OffsetScope& operator=(const OffsetScope&) = delete;

    private:
        Output& out_;
        const OffsetMap* outer_;
    };

private:
    Sink& sink_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
    WorkBudget& budget_;
    const OffsetMap* offsetMap_ = nullptr;
};

// The value in hexadecimal digits, for building message texts.
std::string toHex(std::uint64_t value, int digits = 1);

// A name read from a file, as the listing writes it: control characters
// (C0, DEL and C1) and bytes that are not UTF-8 become \xNN, so a name is
// always one piece of one line and no byte of a file can steer a terminal.
// Valid UTF-8 text and every other byte stay as they are.
std::string printable(std::string_view name);

// An inline report of a malformed structure: what is wrong and where, so the
// reader can look at the bytes; the listing goes on after it.
void report(Output& out, std::string_view what, std::uint64_t fileOffset);
void report(Output& out, std::string_view what);

// Section heading of the listing.
void heading(Output& out, std::string_view title);

// "  Label ............ value" lines of the header displays.
Output& label(Output& out, std::string_view name);

} // namespace tdump
