#pragma once

// A module's records read in order, each one decoded with the names its
// indexes refer to. The decoders are grouped by what the records hold:
// decode_headers.cpp (translator headers, comments, the module end),
// decode_definitions.cpp (names, segments, groups, publics, externals,
// communals, aliases) and decode_data.cpp (data, fixups, back patches,
// COMDATs, line numbers).

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bytes.h"
#include "omf/records.h"
#include "options.h"
#include "output.h"

namespace tdump::omf {

class Fields;

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

    // What the listing shows of the record being read, when it lists it.
    void line(const std::string& text);
    void damage(const std::string& what, std::uint64_t offset);
    void cut(const Fields& fields, std::string_view field);
    void leftOver(const Fields& fields);
    void hexLines(std::span<const std::uint8_t> bytes, std::uint64_t address);

    // The definitions that indexes refer to, as the listing shows them.
    std::string indexed(std::uint16_t index, const std::string& text) const;
    std::string nameRef(std::uint16_t index) const;
    std::string namedBy(std::uint16_t nameIndex) const;
    std::string symbolNamedBy(std::uint16_t nameIndex) const;
    std::string segmentRef(std::uint16_t index) const;
    std::string groupRef(std::uint16_t index) const;
    std::string externalRef(std::uint16_t index) const;
    std::string symbol(std::string_view name) const;

    // decode_headers.cpp
    void translatorHeader(Fields& f);
    void comment(Fields& f);
    void omfExtension(Fields& f);
    void moduleEnd(Fields& f);
    void version(Fields& f);
    void vendorExtension(Fields& f);
    // decode_definitions.cpp
    void names(Fields& f);
    void segment(Fields& f);
    void group(Fields& f);
    void publics(Fields& f);
    void externals(Fields& f);
    void communals(Fields& f);
    void communalExternals(Fields& f);
    void aliases(Fields& f);
    // decode_data.cpp
    void enumeratedData(Fields& f);
    void iteratedData(Fields& f);
    std::optional<std::uint64_t> iteratedBlock(Fields& f, unsigned depth);
    void iteratedBlocks(Fields& f, const std::string& tooLarge);
    void fixups(Fields& f);
    std::optional<std::string> fixupReference(Fields& f, std::uint8_t fixData);
    std::string frameText(std::uint8_t method, std::uint16_t datum) const;
    std::string targetText(std::uint8_t method, std::uint16_t datum) const;
    void backpatches(Fields& f);
    void comdat(Fields& f);
    void lineNumbers(Fields& f);
    void lineSymbols(Fields& f);
    void lineEntries(Fields& f);

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

// A name as a listing shows it: "" when empty.
std::string shownName(std::string_view name);

// Bytes as hexadecimal pairs separated by blanks.
std::string hexText(std::span<const std::uint8_t> bytes);

// "[3] ": the index of a definition, by which later records refer to it.
std::string indexLabel(std::size_t index);

// A segment's alignment (SEGDEF), or a COMDAT's: "byte", "paragraph", ...
std::string_view alignmentName(unsigned align);

} // namespace tdump::omf
