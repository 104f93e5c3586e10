#pragma once

// What the CodeView readers share: a cursor over the fields of one record,
// numeric leaves, the text of a listed record, and the walk over a run of
// length-prefixed records.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "codeview/codeview.h"

namespace tdump::codeview {

// Type and ID indices, as lists hold them.
constexpr std::uint64_t indexSize = 4;

// Far more records than a real run holds; keeps a forged one bounded.
constexpr std::size_t maxRecordsPerRun = std::size_t{1} << 22;
// Names are cut at this many bytes.
constexpr std::size_t maxNameLength = 4096;

// Numeric leaves: a value below 0x8000 is itself; from 0x8000 on it names
// the kind of value that follows.
namespace leaf {
constexpr std::uint16_t numeric = 0x8000;
constexpr std::uint16_t charValue = 0x8000;
constexpr std::uint16_t shortValue = 0x8001;
constexpr std::uint16_t ushortValue = 0x8002;
constexpr std::uint16_t longValue = 0x8003;
constexpr std::uint16_t ulongValue = 0x8004;
constexpr std::uint16_t real32 = 0x8005;
constexpr std::uint16_t real64 = 0x8006;
constexpr std::uint16_t real80 = 0x8007;
constexpr std::uint16_t real128 = 0x8008;
constexpr std::uint16_t quadword = 0x8009;
constexpr std::uint16_t uquadword = 0x800A;
constexpr std::uint16_t real48 = 0x800B;
constexpr std::uint16_t complex32 = 0x800C;
constexpr std::uint16_t complex64 = 0x800D;
constexpr std::uint16_t complex80 = 0x800E;
constexpr std::uint16_t complex128 = 0x800F;
constexpr std::uint16_t varstring = 0x8010;
constexpr std::uint16_t octword = 0x8017;
constexpr std::uint16_t uoctword = 0x8018;
constexpr std::uint16_t decimal = 0x8019;
constexpr std::uint16_t date = 0x801A;
constexpr std::uint16_t utf8string = 0x801B;
constexpr std::uint16_t real16 = 0x801C;
// Padding between the members of a field list: 0xF1..0xFF, the low four
// bits counting the bytes to skip.
constexpr std::uint8_t padFirst = 0xF1;
constexpr std::uint8_t padCountMask = 0x0F;
} // namespace leaf

struct Numeric {
    std::uint64_t value = 0; // the integer ones; 0 for the others
    std::string text;
};

// The fields of one record, read in order. A read past the record's end
// yields 0 and marks the cursor: the record is then reported as damaged.
class Cursor {
public:
    explicit Cursor(View record) : view_(record) {}

    std::uint8_t u8();
    std::uint16_t u16();
    std::uint32_t u32();
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    std::uint64_t u64();
    // A NUL-terminated name, printable; an unterminated one marks the cursor.
    std::string name();
    // A numeric leaf; an unknown kind marks the cursor.
    Numeric numeric();
    void skip(std::uint64_t count);
    // The next byte, not consumed.
    std::optional<std::uint8_t> peek8() const { return view_.u8(at_); }

    std::uint64_t at() const { return at_; }
    std::uint64_t left() const { return view_.size() - at_; }
    bool atEnd() const { return at_ >= view_.size(); }
    std::uint64_t fileOffset() const { return view_.base() + at_; }

    bool damaged() const { return !problem_.empty(); }
    const std::string& problem() const { return problem_; }
    std::uint64_t problemOffset() const { return problemOffset_; }
    void fail(std::string what);

private:
    bool need(std::uint64_t count);

    View view_;
    std::uint64_t at_ = 0;
    std::string problem_;
    std::uint64_t problemOffset_ = 0;
};

// A listed record: its main fields make the one-line form, all of them the
// form -v asks for, one field a line.
class RecordText {
public:
    void add(std::string_view label, std::string value, bool main = true);
    void detail(std::string_view label, std::string value) { add(label, std::move(value), false); }
    void setName(std::string name) { name_ = std::move(name); }

    // lead: the indentation and the record's offset or index.
    void write(Output& out, std::string_view lead, std::string_view kind, bool verbose) const;

private:
    struct Field {
        std::string label;
        std::string value;
        bool main;
    };
    std::vector<Field> fields_;
    std::optional<std::string> name_;
};

// Indentation of the listing: subsection headings, records, and the steps
// of nested scopes and of -v fields.
constexpr std::string_view subsectionIndent = "      ";
constexpr std::string_view recordIndent = "        ";
constexpr std::string_view scopeStep = "  ";
constexpr std::size_t kindColumn = 26;

// One record of a run: its offset in the run, kind and contents.
struct RawRecord {
    std::uint64_t offset;
    std::uint16_t kind;
    View data; // after the kind
};

// Walks a run of records, reporting a damaged length (which ends the walk:
// the records after it cannot be found). Charges the budget per record and
// stops when it is spent; visit returns false to stop early.
void walkRecords(View records, Output* out, const std::function<bool(const RawRecord&)>& visit);

// A name from a table of (value, name) pairs.
struct KindName {
    std::uint32_t value;
    std::string_view name;
};
std::optional<std::string_view> lookup(std::span<const KindName> table, std::uint32_t value);
// "name" for a known value, else "0xNNNN".
std::string lookupOr(std::span<const KindName> table, std::uint32_t value, int digits = 4);

// The pieces appended one after the other.
std::string concat(std::initializer_list<std::string_view> pieces);

// "0xNNNN"
std::string hexText(std::uint64_t value, int digits = 1);
std::string decText(std::uint64_t value);
std::string signedText(std::int64_t value);

// Names of the flag bits set in value, joined by '|', and the rest in hex;
// "none" for no bit.
std::string flagText(std::span<const Flag> table, std::uint32_t value);

// A CodeView register number, by the machine the registers belong to (the
// x86 and x64 numbers mostly share one table).
std::string registerName(std::uint16_t number);

// "[SSSS:OOOOOOOO]", a section and offset; "symbol+0xOOOO" when a
// relocation fills it in.
std::string addressText(std::uint16_t section, std::uint32_t offset,
                        std::optional<std::string_view> symbol = std::nullopt);

// A reference to a type, or to an ID, checked against its table: an index
// outside the table is reported when the table is known (not empty).
std::string typeRef(const TypeNames& names, std::uint32_t index, Output& out,
                    std::uint64_t fileOffset);

} // namespace tdump::codeview
