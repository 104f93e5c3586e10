#pragma once

// CodeView debug information: the symbol and type records and the C13 debug
// subsections that compilers put into .debug$S / .debug$T of an object and
// that a PDB holds in its module, TPI and IPI streams.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bytes.h"
#include "names.h"
#include "options.h"
#include "output.h"

namespace tdump::codeview {

// The first index of a type or ID record; those below are the built-in types.
constexpr std::uint32_t firstTypeIndex = 0x1000;

// Every symbol and type record opens with its length (not counting the
// length field itself) and its kind.
namespace recordHeader {
constexpr std::uint64_t length = 0;
constexpr std::uint64_t kind = 2;
constexpr std::uint64_t size = 4;
constexpr std::uint16_t minLength = 2; // the kind alone
} // namespace recordHeader

// S_PUB32, the record of a public symbol, as a PDB's publics refer to it,
// and the bits of its flags.
constexpr std::uint16_t publicSymbolKind = 0x110E;
std::span<const Flag> publicSymbolFlags();

// Names of type (or ID) records by index, for showing references as
// "0x1003 (Foo*)"; indices below 0x1000 are the built-in types and are named
// without a table.
class TypeNames {
public:
    TypeNames() = default;

    // Reads the names of a run of type records numbered from firstIndex.
    // Bounded: at most maxRecords records are read, names are cut short.
    static TypeNames read(View records, std::uint32_t firstIndex);

    // "0x1003 (Foo*)", "int", "0x1FFF (out of range)".
    std::string name(std::uint32_t index) const;
    // Whether index names a built-in type or a record of the table.
    bool known(std::uint32_t index) const;
    std::uint32_t firstIndex() const { return firstIndex_; }
    std::uint32_t count() const { return static_cast<std::uint32_t>(names_.size()); }

    static constexpr std::uint32_t maxRecords = 1u << 20;

private:
    std::uint32_t firstIndex_ = firstTypeIndex;
    std::vector<std::string> names_; // without their index
};

// The name of a built-in type index (below 0x1000): "int", "char*", ...
std::string simpleTypeName(std::uint32_t index);

// The fields of an object's debug section that the linker fills in: each
// relocation by the file offset of the field it patches, with its symbol.
// An address there is shown as "symbol+0x10" rather than as the zeros the
// object holds.
class RelocatedFields {
public:
    using Field = std::pair<std::uint64_t, std::string>; // file offset, symbol

    RelocatedFields() = default;
    // The fields in any order.
    explicit RelocatedFields(std::vector<Field> fields);

    // The symbol of the relocation at this file offset.
    std::optional<std::string_view> at(std::uint64_t fileOffset) const;

private:
    std::vector<Field> fields_; // sorted by offset
};

// A run of symbol records: a .debug$S symbols subsection, a PDB module's
// symbols after their signature, or the PDB symbol record stream.
void listSymbols(View records, Output& out, const Options& options, const TypeNames& types,
                 const TypeNames& ids, const RelocatedFields& relocated = {});

// A run of type records numbered from firstIndex (0x1000): .debug$T after
// its signature, or the PDB TPI/IPI stream's records.
void listTypes(View records, std::uint32_t firstIndex, Output& out, const Options& options,
               const TypeNames& types);

// Where line tables find their file names: a file checksums subsection
// (entries naming files by string table offset) and a string table. An
// object keeps both in one of its .debug$S sections, which the others share;
// a PDB module has its checksums, the strings are the PDB's /names buffer.
struct FileTables {
    std::optional<View> checksums; // the subsection's data
    std::optional<View> strings;   // offset 0 is the first byte
};

// The checksums and the string table among a run of C13 subsections, where
// present; what is not there is left as it was in tables.
void findFileTables(View subsections, FileTables& tables);

// C13 debug subsections (.debug$S after its signature, or a PDB module's C13
// part): symbols, lines, file checksums, string table, inlinee lines,
// cross-scope imports/exports, frame data, ... each by kind, the known ones
// decoded. File names come from the subsections themselves, or else from
// files.
void listSubsections(View subsections, Output& out, const Options& options, const TypeNames& types,
                     const TypeNames& ids, const FileTables& files = {},
                     const RelocatedFields& relocated = {});

} // namespace tdump::codeview
