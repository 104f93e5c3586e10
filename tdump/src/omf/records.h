#pragma once

// The record layer of OMF files, which objects and libraries share: the
// records one after the other, and a module's records read in order, each
// one decoded with the names its indexes refer to.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bytes.h"
#include "options.h"
#include "output.h"

namespace tdump::omf {

// The record types the readers look for.
constexpr std::uint8_t recordTheadr = 0x80;
constexpr std::uint8_t recordLheadr = 0x82;
constexpr std::uint8_t recordComent = 0x88;
constexpr std::uint8_t recordModend = 0x8A;
constexpr std::uint8_t recordModend32 = 0x8B;
constexpr std::uint8_t recordLibraryHeader = 0xF0;
constexpr std::uint8_t recordLibraryEnd = 0xF1;

// Every record: its type, the length of what follows, the contents, and a
// checksum byte that makes all the record's bytes add up to 0 (or is 0).
constexpr std::uint64_t recordHeaderSize = 3;

struct Record {
    std::uint64_t offset = 0; // of its type byte, in the view
    std::uint8_t type = 0;
    std::uint16_t length = 0;             // as stored: the contents and the checksum byte
    std::vector<std::uint8_t> contents;   // without the checksum byte
    std::optional<std::uint8_t> checksum; // nullopt when the record is cut short
    bool truncated = false;               // its length runs past the end of the data

    // The 32-bit form of a record type is the odd one.
    bool wide() const { return (type & 1) != 0; }
    std::uint64_t contentsOffset() const { return offset + recordHeaderSize; }
    std::uint64_t end() const { return offset + recordHeaderSize + length; }
};

// Reads the records from offset from on, up to to, handing each to visit,
// until visit returns false, a record runs past to or the budget is spent;
// what is wrong with the record headers is reported. Returns where the next
// record would start.
std::uint64_t walkRecords(View view, std::uint64_t from, std::uint64_t to, Output& out,
                          const std::function<bool(const Record&)>& visit);

// Whether -oi and -ox let records of this type be listed.
bool recordSelected(const Options& options, std::uint8_t type);

// "  00000000  80  THEADR     14": the line that heads a record.
void listRecordLine(Output& out, View view, const Record& record, const Options& options);

// The import definition (IMPDEF) of a symbol in a DLL.
struct Import {
    std::string internalName; // the name programs link against
    std::string module;       // the DLL
    std::string entryName;    // the name it exports; empty: the internal name
    std::optional<std::uint16_t> ordinal;
};

// A name a module defines for other modules, as a library's dictionary
// should hold it.
struct PublicName {
    std::string name;  // as stored
    std::string where; // "_TEXT:00000010", or "import user.dll"
};

// What the records of a module define for other modules.
struct ModuleSummary {
    std::string name; // of the translator header
    // The names a library's dictionary must hold: publics and imports.
    std::vector<PublicName> publics;
    // Names it may hold too: communal names, COMDATs, aliases.
    std::vector<std::string> otherNames;
    std::vector<Import> imports;
};

// Reads the records of a module in order: keeps what they define, which
// later records refer to by index, decodes each, and lists it when asked.
class ModuleReader {
public:
    ModuleReader(View view, Output& out, const Options& options)
        : view_(view), out_(out), options_(options)
    {
    }

    // Takes in what the record defines; lists its fields when list is set.
    void take(const Record& record, bool list);
    const ModuleSummary& summary() const { return summary_; }

private:
    class Fields;
    struct Segment {
        std::uint16_t name = 0;
    };
    struct Thread {
        bool set = false;
        std::uint8_t method = 0;
        std::uint16_t datum = 0;
    };
    // The data record fixups apply to.
    struct DataRecord {
        bool set = false;
        bool enumerated = false; // LEDATA: a fixup's offset is one in the segment
        std::uint16_t segment = 0;
        std::uint32_t offset = 0;
    };

    void line(const std::string& text);
    void damage(const std::string& what, std::uint64_t offset);
    void cut(const Fields& fields, std::string_view field);
    void leftOver(const Fields& fields);
    void hexLines(std::span<const std::uint8_t> bytes, std::uint64_t address);

    std::string indexed(std::uint16_t index, const std::string& text) const;
    std::string nameRef(std::uint16_t index) const;
    std::string segmentRef(std::uint16_t index) const;
    std::string groupRef(std::uint16_t index) const;
    std::string externalRef(std::uint16_t index) const;
    std::string symbol(std::string_view name) const;

    void translatorHeader(Fields& f);
    void comment(Fields& f);
    void omfExtension(Fields& f);
    void moduleEnd(Fields& f);
    void externals(Fields& f);
    void publics(Fields& f);
    void lineNumbers(Fields& f);
    void names(Fields& f);
    void segment(Fields& f);
    void group(Fields& f);
    void fixups(Fields& f);
    std::optional<std::string> fixupReference(Fields& f, std::uint8_t fixData);
    std::string frameText(std::uint8_t method, std::uint16_t datum) const;
    std::string targetText(std::uint8_t method, std::uint16_t datum) const;
    void enumeratedData(Fields& f);
    void iteratedData(Fields& f);
    std::optional<std::uint64_t> iteratedBlock(Fields& f, unsigned depth);
    void communals(Fields& f);
    void backpatches(Fields& f);
    void communalExternals(Fields& f);
    void comdat(Fields& f);
    void lineSymbols(Fields& f);
    void aliases(Fields& f);
    void version(Fields& f);
    void vendorExtension(Fields& f);
    void bytes(Fields& f);
    void newModule();

    View view_;
    Output& out_;
    const Options& options_;
    bool list_ = false;
    bool started_ = false; // some record taken since the module began

    std::vector<std::string> names_; // LNAMES and LLNAMES
    std::vector<Segment> segments_;
    std::vector<std::uint16_t> groups_; // their name indexes
    std::vector<std::string> externals_;
    std::array<Thread, 4> frameThreads_{};
    std::array<Thread, 4> targetThreads_{};
    DataRecord lastData_;
    ModuleSummary summary_;
};

// -oc: the checksum of each record taken, the bad ones reported, and a
// total at the end.
class ChecksumTally {
public:
    void take(Output& out, View view, const Record& record);
    void total(Output& out) const;

private:
    std::uint64_t records_ = 0;
    std::uint64_t verified_ = 0;
    std::uint64_t without_ = 0;
    std::uint64_t bad_ = 0;
};

// -r: the record's bytes in hexadecimal, headed by its line.
void listRawRecord(Output& out, View view, const Record& record, const Options& options);

// -li: the import definitions as lines "name  module  ordinal or name",
// under a heading the caller writes.
void listImports(Output& out, const std::vector<Import>& imports, const Options& options);

} // namespace tdump::omf
