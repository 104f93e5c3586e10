// The unwind data of an ARM64 object. Its .pdata entries are filled by the
// linker: a relocation at an entry's first word names the function, one at
// its second word the .xdata record (a symbol and the offset from it that
// the word holds). Without a relocation there, the second word is packed
// unwind data. The handler RVA and handler data in an .xdata record are
// relocated too, and named by their symbols.

#include <map>
#include <string>

#include "coff/coff.h"
#include "demangle/demangle.h"
#include "pe/arm64_unwind.h"

namespace tdump {
namespace {

// A .pdata entry: the function's address, then the unwind data.
constexpr std::uint32_t entrySize = 8;
constexpr std::uint32_t unwindField = 4;

} // namespace

void CoffFile::listUnwindData(Output& out, const Options& options) const
{
    if (header_.machine != machineArm64) {
        return;
    }
    // Each section's relocations by the offset they fill, read once.
    std::map<std::size_t, std::map<std::uint64_t, std::uint32_t>> relocations;
    const auto relocationsOf = [&](std::size_t section) -> const auto&
    {
        auto [it, added] = relocations.try_emplace(section);
        if (added) {
            for (const RelocatedField& field : relocatedSymbols(out, sections_[section])) {
                it->second.emplace(field.offset, field.symbol);
            }
        }
        return it->second;
    };
    const auto nameOf = [&](std::uint32_t symbol) {
        const auto name = symbolName(symbol);
        return name ? displayName(*name, options.demangle())
                    : "symbol " + std::to_string(symbol) + " (out of range)";
    };
    // A function's entry is relocated against its section's symbol, often,
    // with the function's offset in the word: it is named by the symbol
    // defined there (an external one before a static one), when there is one.
    std::map<std::pair<std::int32_t, std::uint32_t>, std::uint32_t> labels;
    const auto functionName = [&](std::uint32_t symbolIndex, std::uint32_t offset) {
        if (labels.empty()) {
            for (std::uint32_t i = 0; i < header_.symbolCount && !out.budget().exhausted();) {
                out.budget().charge(entryCost);
                const auto symbol = readSymbol(i);
                if (!symbol) {
                    break;
                }
                const std::pair<std::int32_t, std::uint32_t> place{symbol->section, symbol->value};
                if (symbol->section > 0 && symbol->storageClass == storageClassExternal) {
                    labels[place] = i;
                } else if (symbol->section > 0 && symbol->storageClass == storageClassStatic &&
                           symbol->auxCount == 0) {
                    labels.try_emplace(place, i);
                }
                i += 1 + std::uint32_t{symbol->auxCount};
            }
        }
        const auto symbol = readSymbol(symbolIndex);
        if (symbol) {
            const auto label = labels.find({symbol->section, symbol->value + offset});
            if (label != labels.end()) {
                return nameOf(label->second);
            }
        }
        return nameOf(symbolIndex) + (offset != 0 ? "+0x" + toHex(offset) : "");
    };
    bool headed = false;
    for (std::size_t s = 0; s < sections_.size() && !out.budget().exhausted(); ++s) {
        const SectionHeader& pdata = sections_[s];
        if (pdata.name != ".pdata") {
            continue;
        }
        if (!headed) {
            heading(out, "Unwind data");
            headed = true;
        }
        const View entries = view_.sub(pdata.rawPointer, pdata.rawSize);
        out << "  Section " << dec(s + 1) << " (.pdata): " << dec(pdata.rawSize / entrySize)
            << " entries\n";
        if (entries.size() < pdata.rawSize) {
            report(out, "the section's data runs past the end of the file; read up to there",
                   view_.base() + pdata.rawPointer);
        }
        const auto& entryRelocations = relocationsOf(s);
        for (std::uint64_t at = 0; at + entrySize <= entries.size() && !out.budget().exhausted();
             at += entrySize) {
            out.budget().charge(entryCost);
            const std::uint32_t begin = entries.u32(at).value_or(0);
            const std::uint32_t unwind = entries.u32(at + unwindField).value_or(0);
            const auto function = entryRelocations.find(at);
            out << "  "
                << (function == entryRelocations.end() ? toHex(begin, 8)
                                                       : functionName(function->second, begin))
                << "  ";
            const auto record = entryRelocations.find(at + unwindField);
            if (record == entryRelocations.end()) {
                if (arm64::isPacked(unwind)) {
                    arm64::listPacked(out, unwind, entries.base() + at + unwindField);
                } else {
                    out << hex(unwind) << '\n';
                    report(out, "the unwind data's address is not relocated",
                           entries.base() + at + unwindField);
                }
                continue;
            }
            const auto symbol = readSymbol(record->second);
            out << nameOf(record->second) << (unwind != 0 ? "+0x" + toHex(unwind) : "") << "  ";
            if (!symbol || symbol->section <= 0 ||
                static_cast<std::size_t>(symbol->section) > sections_.size()) {
                out << '\n';
                report(out, "the unwind data's symbol is not defined in a section of the object",
                       entries.base() + at + unwindField);
                continue;
            }
            const auto xdata = static_cast<std::size_t>(symbol->section - 1);
            const SectionHeader& section = sections_[xdata];
            const std::uint64_t offset = std::uint64_t{symbol->value} + unwind;
            const View view = view_.sub(section.rawPointer, section.rawSize);
            if (offset >= view.size()) {
                out << '\n';
                report(out,
                       "the unwind data at offset 0x" + toHex(offset) + " lies past the end of " +
                           section.name,
                       entries.base() + at + unwindField);
                continue;
            }
            const auto& fields = relocationsOf(xdata);
            arm64::listRecord(out, view.sub(offset, view.size() - offset), std::nullopt,
                              [&](std::uint64_t field) {
                                  const auto it = fields.find(offset + field);
                                  return it == fields.end() ? std::string() : nameOf(it->second);
                              });
        }
    }
}

} // namespace tdump
