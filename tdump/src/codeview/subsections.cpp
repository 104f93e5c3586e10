// C13 debug subsections: a kind, a length, the data, padded to four bytes.

#include <array>

#include "codeview/records.h"

namespace tdump::codeview {
namespace {

namespace subsectionHeader {
constexpr std::uint64_t kind = 0;
constexpr std::uint64_t length = 4;
constexpr std::uint64_t size = 8;
constexpr std::uint64_t alignment = 4;
} // namespace subsectionHeader

namespace subsectionKind {
constexpr std::uint32_t ignoreFlag = 0x80000000;
constexpr std::uint32_t symbols = 0xF1;
constexpr std::uint32_t lines = 0xF2;
constexpr std::uint32_t stringTable = 0xF3;
constexpr std::uint32_t fileChecksums = 0xF4;
constexpr std::uint32_t frameData = 0xF5;
constexpr std::uint32_t inlineeLines = 0xF6;
constexpr std::uint32_t crossScopeImports = 0xF7;
constexpr std::uint32_t crossScopeExports = 0xF8;
constexpr std::uint32_t ilLines = 0xF9;
constexpr std::uint32_t funcMdTokenMap = 0xFA;
constexpr std::uint32_t typeMdTokenMap = 0xFB;
constexpr std::uint32_t mergedAssemblyInput = 0xFC;
constexpr std::uint32_t coffSymbolRva = 0xFD;
} // namespace subsectionKind

constexpr auto subsectionNames = std::to_array<KindName>({
    {subsectionKind::symbols, "DEBUG_S_SYMBOLS"},
    {subsectionKind::lines, "DEBUG_S_LINES"},
    {subsectionKind::stringTable, "DEBUG_S_STRINGTABLE"},
    {subsectionKind::fileChecksums, "DEBUG_S_FILECHKSMS"},
    {subsectionKind::frameData, "DEBUG_S_FRAMEDATA"},
    {subsectionKind::inlineeLines, "DEBUG_S_INLINEELINES"},
    {subsectionKind::crossScopeImports, "DEBUG_S_CROSSSCOPEIMPORTS"},
    {subsectionKind::crossScopeExports, "DEBUG_S_CROSSSCOPEEXPORTS"},
    {subsectionKind::ilLines, "DEBUG_S_IL_LINES"},
    {subsectionKind::funcMdTokenMap, "DEBUG_S_FUNC_MDTOKEN_MAP"},
    {subsectionKind::typeMdTokenMap, "DEBUG_S_TYPE_MDTOKEN_MAP"},
    {subsectionKind::mergedAssemblyInput, "DEBUG_S_MERGED_ASSEMBLYINPUT"},
    {subsectionKind::coffSymbolRva, "DEBUG_S_COFF_SYMBOL_RVA"},
});

constexpr std::size_t maxSubsections = 1000000;

// DEBUG_S_LINES: a header for the function, then one block per file.
namespace linesHeader {
constexpr std::uint16_t hasColumns = 0x1;
} // namespace linesHeader
namespace lineEntry {
constexpr std::uint64_t offset = 0;
constexpr std::uint64_t flags = 4;
constexpr std::uint64_t size = 8;
constexpr std::uint64_t columnStart = 0;
constexpr std::uint64_t columnEnd = 2;
constexpr std::uint64_t columnSize = 4;
constexpr std::uint32_t lineMask = 0xFFFFFF;
constexpr unsigned deltaShift = 24;
constexpr std::uint32_t deltaMask = 0x7F;
constexpr std::uint32_t statement = 0x80000000;
} // namespace lineEntry
namespace lineBlock {
constexpr std::uint64_t headerSize = 12;
} // namespace lineBlock
constexpr std::size_t linesPerRow = 4;

// DEBUG_S_FILECHKSMS entries: name offset, checksum size and kind, bytes.
namespace checksumEntry {
constexpr std::uint64_t nameOffset = 0;
constexpr std::uint64_t headerSize = 6;
constexpr std::uint64_t alignment = 4;
} // namespace checksumEntry
constexpr auto checksumKinds = std::to_array<KindName>({
    {0, "none"},
    {1, "MD5"},
    {2, "SHA1"},
    {3, "SHA256"},
});

// DEBUG_S_INLINEELINES: with this signature each entry lists more files.
constexpr std::uint32_t inlineeExtraFiles = 1;

// DEBUG_S_FRAMEDATA: a relocated start, then fixed-size entries.
namespace frameDataEntry {
constexpr std::uint64_t size = 32;
} // namespace frameDataEntry

constexpr std::size_t maxStrings = 1000000;
constexpr std::uint64_t rvaSize = 4;

struct Subsection {
    std::uint64_t offset;
    std::uint32_t kind;
    View data;
};

// Walks a run of subsections; a damaged length ends the walk.
template <typename Visit> void walkSubsections(View subsections, Output* out, Visit visit)
{
    std::uint64_t at = 0;
    for (std::size_t n = 0; n < maxSubsections && at < subsections.size(); ++n) {
        if (out != nullptr) {
            if (out->budget().exhausted()) {
                return;
            }
            out->budget().charge(entryCost);
        }
        const auto kind = subsections.u32(at + subsectionHeader::kind);
        const auto length = subsections.u32(at + subsectionHeader::length);
        if (!kind || !length) {
            if (out != nullptr) {
                report(*out, "a subsection header is cut short by the end of the data",
                       subsections.base() + at);
            }
            return;
        }
        if (!subsections.has(at + subsectionHeader::size, *length)) {
            if (out != nullptr) {
                report(*out,
                       concat({"subsection length ", decText(*length),
                               " runs past the end of the data"}),
                       subsections.base() + at);
            }
            return;
        }
        visit(Subsection{at, *kind, subsections.sub(at + subsectionHeader::size, *length)});
        at += subsectionHeader::size + ((std::uint64_t{*length} + subsectionHeader::alignment - 1) &
                                        ~(subsectionHeader::alignment - 1));
    }
}

// The debug table (-i, -x) a subsection of this kind belongs to.
DebugTable tableOf(std::uint32_t kind)
{
    switch (kind) {
    case subsectionKind::symbols:
        return DebugTable::Symbols;
    case subsectionKind::lines:
        return DebugTable::Lines;
    case subsectionKind::fileChecksums:
        return DebugTable::FileChecksums;
    case subsectionKind::stringTable:
        return DebugTable::StringTable;
    case subsectionKind::inlineeLines:
        return DebugTable::InlineeLines;
    default:
        return DebugTable::OtherSubsections;
    }
}

class SubsectionLister {
public:
    SubsectionLister(Output& out, const Options& options, const TypeNames& types,
                     const TypeNames& ids, const FileTables& files,
                     const RelocatedFields& relocated)
        : out_(out), options_(options), verbose_(options.verbose()), types_(types), ids_(ids),
          files_(files), relocated_(relocated)
    {
    }

    void list(const Subsection& s)
    {
        const std::uint32_t kind = s.kind & ~subsectionKind::ignoreFlag;
        if (!options_.debugTableSelected(tableOf(kind))) {
            return;
        }
        out_ << subsectionIndent << lookupOr(subsectionNames, kind, 2) << " (" << hexText(s.kind, 2)
             << "), " << dec(s.data.size()) << " bytes";
        if ((s.kind & subsectionKind::ignoreFlag) != 0) {
            out_ << " (marked to be ignored)\n";
            return;
        }
        out_ << '\n';
        switch (kind) {
        case subsectionKind::symbols:
            listSymbols(s.data, out_, options_, types_, ids_, relocated_);
            return;
        case subsectionKind::lines:
            lines(s.data);
            return;
        case subsectionKind::fileChecksums:
            checksums(s.data);
            return;
        case subsectionKind::stringTable:
            strings(s.data);
            return;
        case subsectionKind::inlineeLines:
            inlinees(s.data);
            return;
        case subsectionKind::crossScopeImports:
            imports(s.data);
            return;
        case subsectionKind::crossScopeExports:
            exports(s.data);
            return;
        case subsectionKind::frameData:
            frameData(s.data);
            return;
        case subsectionKind::coffSymbolRva:
            out_ << recordIndent << dec(s.data.size() / rvaSize) << " RVAs\n";
            return;
        default:
            return;
        }
    }

private:
    // The name of the file whose checksum entry is at offset.
    std::string fileName(std::uint32_t offset) const
    {
        std::string unknown = "file ";
        unknown += hexText(offset);
        if (!files_.checksums) {
            return unknown + " (no file checksums)";
        }
        const auto nameOffset = files_.checksums->u32(offset + checksumEntry::nameOffset);
        if (!nameOffset) {
            return unknown + " (outside the file checksums)";
        }
        return stringAt(*nameOffset);
    }

    std::string stringAt(std::uint32_t offset) const
    {
        if (!files_.strings) {
            return concat({"string ", hexText(offset), " (no string table)"});
        }
        const auto text = files_.strings->string(offset, maxNameLength);
        if (!text) {
            return concat({"string ", hexText(offset), " (outside the string table)"});
        }
        return printable(text->text);
    }

    bool step()
    {
        if (out_.budget().exhausted()) {
            return false;
        }
        out_.budget().charge(entryCost);
        return true;
    }

    void lines(View data)
    {
        Cursor c(data);
        const std::uint64_t startAt = c.fileOffset();
        const std::uint32_t start = c.u32();
        const std::uint16_t section = c.u16();
        const std::uint16_t flags = c.u16();
        const std::uint32_t codeSize = c.u32();
        if (c.damaged()) {
            report(out_, "the line table header is cut short", data.base());
            return;
        }
        const bool columns = (flags & linesHeader::hasColumns) != 0;
        out_ << recordIndent << "code " << addressText(section, start, relocated_.at(startAt))
             << " size " << hexText(codeSize) << (columns ? ", with columns" : "") << '\n';
        while (!c.atEnd() && step()) {
            const std::uint64_t blockAt = c.fileOffset();
            const std::uint32_t file = c.u32();
            const std::uint32_t count = c.u32();
            const std::uint32_t blockSize = c.u32();
            const std::uint64_t entriesSize =
                std::uint64_t{count} * (lineEntry::size + (columns ? lineEntry::columnSize : 0));
            if (c.damaged() || blockSize < lineBlock::headerSize ||
                blockSize - lineBlock::headerSize > c.left() ||
                entriesSize > blockSize - lineBlock::headerSize) {
                report(out_,
                       concat({"the block of ", decText(count), " lines (", decText(blockSize),
                               " bytes) does not fit its subsection"}),
                       blockAt);
                return;
            }
            out_ << recordIndent << "  file " << fileName(file) << ", " << dec(count) << " lines\n";
            const View entries = data.sub(c.at(), std::uint64_t{count} * lineEntry::size);
            const View columnEntries =
                data.sub(c.at() + entries.size(), std::uint64_t{count} * lineEntry::columnSize);
            for (std::uint32_t i = 0; i < count && step(); ++i) {
                const std::uint64_t at = std::uint64_t{i} * lineEntry::size;
                const std::uint32_t offset = entries.u32(at + lineEntry::offset).value_or(0);
                const std::uint32_t line = entries.u32(at + lineEntry::flags).value_or(0);
                const std::uint32_t number = line & lineEntry::lineMask;
                if (verbose_) {
                    out_ << recordIndent << "    " << hex(offset) << "  line " << dec(number)
                         << ", end delta "
                         << dec((line >> lineEntry::deltaShift) & lineEntry::deltaMask)
                         << ((line & lineEntry::statement) != 0 ? ", statement" : "");
                    if (columns) {
                        const std::uint64_t column = std::uint64_t{i} * lineEntry::columnSize;
                        out_ << ", columns "
                             << dec(columnEntries.u16(column + lineEntry::columnStart).value_or(0))
                             << ".."
                             << dec(columnEntries.u16(column + lineEntry::columnEnd).value_or(0));
                    }
                    out_ << '\n';
                    continue;
                }
                out_ << (i % linesPerRow == 0 ? std::string(recordIndent) + "   " : std::string())
                     << ' ' << hex(offset) << ':' << dec(number, 6)
                     << ((i + 1) % linesPerRow == 0 || i + 1 == count ? "\n" : "");
            }
            c.skip(blockSize - lineBlock::headerSize);
        }
    }

    void checksums(View data)
    {
        std::uint64_t at = 0;
        while (at < data.size() && step()) {
            Cursor c(data.sub(at, data.size() - at));
            const std::uint32_t name = c.u32();
            const std::uint8_t size = c.u8();
            const std::uint8_t kind = c.u8();
            std::string bytes;
            for (std::uint8_t i = 0; i < size && !c.damaged(); ++i) {
                bytes += toHex(c.u8(), 2);
            }
            if (c.damaged()) {
                report(out_, "a file checksum entry is cut short", data.base() + at);
                return;
            }
            out_ << recordIndent << hexText(at, 4) << "  " << lookupOr(checksumKinds, kind, 2)
                 << (bytes.empty() ? "" : " ") << bytes << "  " << stringAt(name) << '\n';
            at += (checksumEntry::headerSize + size + checksumEntry::alignment - 1) &
                  ~(checksumEntry::alignment - 1);
        }
    }

    void strings(View data)
    {
        std::uint64_t at = 0;
        for (std::size_t n = 0; n < maxStrings && at < data.size() && step(); ++n) {
            const auto text = data.string(at, maxNameLength);
            if (!text) {
                return;
            }
            if (!text->text.empty() || verbose_) {
                out_ << recordIndent << hexText(at, 4) << "  " << printable(text->text) << '\n';
            }
            if (!text->terminated) {
                report(out_, "the last string is not terminated", data.base() + at);
                return;
            }
            at += text->text.size() + 1;
        }
    }

    std::string id(Cursor& c)
    {
        const std::uint64_t at = c.fileOffset();
        const std::uint32_t index = c.u32();
        return c.damaged() ? std::string("?") : typeRef(ids_, index, out_, at);
    }

    void inlinees(View data)
    {
        Cursor c(data);
        const std::uint32_t signature = c.u32();
        const bool extra = signature == inlineeExtraFiles;
        while (!c.atEnd() && !c.damaged() && step()) {
            const std::string inlinee = id(c);
            const std::uint32_t file = c.u32();
            const std::uint32_t line = c.u32();
            std::string more;
            if (extra) {
                const std::uint32_t count = c.u32();
                if (std::uint64_t{count} * indexSize > c.left()) {
                    c.fail(concat({"the count ", decText(count), " runs past the subsection"}));
                    break;
                }
                for (std::uint32_t i = 0; i < count; ++i) {
                    more += ", ";
                    more += fileName(c.u32());
                }
            }
            if (c.damaged()) {
                break;
            }
            out_ << recordIndent << inlinee << "  " << fileName(file) << ", line " << dec(line)
                 << more << '\n';
        }
        if (c.damaged()) {
            report(out_, c.problem(), c.problemOffset());
        }
    }

    void imports(View data)
    {
        Cursor c(data);
        while (!c.atEnd() && !c.damaged() && step()) {
            const std::uint32_t module = c.u32();
            const std::uint32_t count = c.u32();
            if (std::uint64_t{count} * indexSize > c.left()) {
                c.fail(concat({"the count ", decText(count), " runs past the subsection"}));
                break;
            }
            out_ << recordIndent << stringAt(module) << ": " << dec(count) << " imports\n";
            for (std::uint32_t i = 0; i < count; ++i) {
                const std::uint32_t index = c.u32();
                if (verbose_) {
                    out_ << recordIndent << "    " << hexText(index, 8) << '\n';
                }
            }
        }
        if (c.damaged()) {
            report(out_, c.problem(), c.problemOffset());
        }
    }

    void exports(View data)
    {
        Cursor c(data);
        while (!c.atEnd() && !c.damaged() && step()) {
            const std::string local = id(c);
            const std::uint32_t global = c.u32();
            if (c.damaged()) {
                break;
            }
            out_ << recordIndent << local << " -> " << hexText(global, 8) << '\n';
        }
        if (c.damaged()) {
            report(out_, c.problem(), c.problemOffset());
        }
    }

    void frameData(View data)
    {
        Cursor c(data);
        c.u32(); // the relocated start of the code
        const std::uint64_t count = c.left() / frameDataEntry::size;
        out_ << recordIndent << dec(count) << " entries\n";
        if (c.left() % frameDataEntry::size != 0) {
            report(out_, "the frame data does not end on an entry", c.fileOffset());
        }
        for (std::uint64_t i = 0; i < count && verbose_ && step(); ++i) {
            RecordText t;
            t.add("rva", hexText(c.u32(), 8));
            t.add("code size", hexText(c.u32()));
            t.add("locals", hexText(c.u32()));
            t.add("parameters", hexText(c.u32()));
            t.add("max stack", hexText(c.u32()));
            t.add("program", stringAt(c.u32()));
            t.add("prolog", hexText(c.u16()));
            t.add("saved registers", hexText(c.u16()));
            t.add("flags", hexText(c.u32(), 8));
            t.write(out_, std::string(recordIndent) + "  ", "frame", false);
        }
    }

    Output& out_;
    const Options& options_;
    bool verbose_;
    const TypeNames& types_;
    const TypeNames& ids_;
    const FileTables& files_;
    const RelocatedFields& relocated_;
};

} // namespace

void findFileTables(View subsections, FileTables& tables)
{
    bool checksums = false;
    bool strings = false;
    walkSubsections(subsections, nullptr, [&](const Subsection& s) {
        if (s.kind == subsectionKind::fileChecksums && !checksums) {
            tables.checksums = s.data;
            checksums = true;
        } else if (s.kind == subsectionKind::stringTable && !strings) {
            tables.strings = s.data;
            strings = true;
        }
    });
}

void listSubsections(View subsections, Output& out, const Options& options, const TypeNames& types,
                     const TypeNames& ids, const FileTables& files,
                     const RelocatedFields& relocated)
{
    FileTables own = files;
    findFileTables(subsections, own);
    SubsectionLister lister(out, options, types, ids, own, relocated);
    walkSubsections(subsections, &out, [&](const Subsection& s) { lister.list(s); });
}

} // namespace tdump::codeview
