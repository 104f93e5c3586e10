// The records that say what a module is: its translator header, comments
// (the OMF extensions among them), version and vendor records, and the end
// record with the start address.

#include <algorithm>
#include <utility>

#include "omf/fields.h"
#include "omf/module_reader.h"

namespace tdump::omf {
namespace {

// COMENT: the bits of the comment type byte, and the classes.
constexpr std::uint8_t commentNoPurge = 0x80;
constexpr std::uint8_t commentNoList = 0x40;
namespace commentClass {
constexpr std::uint8_t librarySpecifier = 0x81;
constexpr std::uint8_t dosVersion = 0x9C;
constexpr std::uint8_t memoryModel = 0x9D;
constexpr std::uint8_t dosseg = 0x9E;
constexpr std::uint8_t defaultLibrary = 0x9F;
constexpr std::uint8_t omfExtensions = 0xA0;
constexpr std::uint8_t newOmfExtension = 0xA1;
constexpr std::uint8_t linkPassSeparator = 0xA2;
constexpr std::uint8_t libmod = 0xA3;
constexpr std::uint8_t incerr = 0xA6;
constexpr std::uint8_t nopad = 0xA7;
constexpr std::uint8_t wkext = 0xA8;
constexpr std::uint8_t lzext = 0xA9;
constexpr std::uint8_t dependencyFile = 0xE9;
} // namespace commentClass

// The subtypes of the OMF extension comments (class A0).
namespace extension {
constexpr std::uint8_t impdef = 0x01;
constexpr std::uint8_t expdef = 0x02;
constexpr std::uint8_t incdef = 0x03;
constexpr std::uint8_t protectedMemoryLibrary = 0x04;
constexpr std::uint8_t lnkdir = 0x05;
} // namespace extension

// EXPDEF's flag byte.
constexpr std::uint8_t exportByOrdinal = 0x80;
constexpr std::uint8_t exportResident = 0x40;
constexpr std::uint8_t exportNoData = 0x20;
constexpr std::uint8_t exportParameterMask = 0x1F;

// MODEND's module type byte.
constexpr std::uint8_t moduleMain = 0x80;
constexpr std::uint8_t moduleStart = 0x40;
constexpr std::uint8_t moduleLogicalStart = 0x01;

std::string_view commentClassName(std::uint8_t c)
{
    switch (c) {
    case 0x00:
        return "translator";
    case 0x01:
        return "copyright";
    case commentClass::librarySpecifier:
        return "library specifier";
    case commentClass::dosVersion:
        return "MS-DOS version";
    case commentClass::memoryModel:
        return "memory model";
    case commentClass::dosseg:
        return "DOSSEG";
    case commentClass::defaultLibrary:
        return "default library search";
    case commentClass::omfExtensions:
        return "OMF extensions";
    case commentClass::newOmfExtension:
        return "new OMF extension";
    case commentClass::linkPassSeparator:
        return "link pass separator";
    case commentClass::libmod:
        return "LIBMOD";
    case 0xA4:
        return "EXESTR";
    case commentClass::incerr:
        return "INCERR";
    case commentClass::nopad:
        return "NOPAD";
    case commentClass::wkext:
        return "WKEXT";
    case commentClass::lzext:
        return "LZEXT";
    case 0xDA:
        return "comment";
    case 0xDB:
        return "compiler";
    case 0xDC:
        return "date";
    case 0xDD:
        return "timestamp";
    case 0xDF:
        return "user";
    case commentClass::dependencyFile:
        return "dependency file";
    case 0xFF:
        return "command line";
    default:
        break;
    }
    return c >= 0xC0 ? "user-defined" : "unknown";
}

// An MS-DOS date and time, as the dependency comments carry them.
std::string dosTimeText(std::uint16_t time, std::uint16_t date)
{
    const auto two = [](unsigned v) {
        std::string digits = std::to_string(v);
        if (v < 10) {
            digits.insert(digits.begin(), '0');
        }
        return digits;
    };
    std::string text = std::to_string(1980 + (date >> 9u));
    text += '-';
    text += two((date >> 5u) & 15u);
    text += '-';
    text += two(date & 31u);
    text += ' ';
    text += two(time >> 11u);
    text += ':';
    text += two((time >> 5u) & 63u);
    text += ':';
    text += two((time & 31u) * 2);
    return text;
}

} // namespace

void ModuleReader::translatorHeader(Fields& f)
{
    const auto name = f.name();
    if (!name) {
        cut(f, "the module name");
        return;
    }
    line("name " + shownName(*name));
    if (summary_.name.empty()) {
        summary_.name = *name;
    }
    leftOver(f);
}

void ModuleReader::comment(Fields& f)
{
    const auto flags = f.u8();
    const auto kind = f.u8();
    if (!flags || !kind) {
        cut(f, "the comment type and class");
        return;
    }
    std::string text = "class " + toHex(*kind, 2) + " " + std::string(commentClassName(*kind));
    if ((*flags & commentNoPurge) != 0) {
        text += "  no purge";
    }
    if ((*flags & commentNoList) != 0) {
        text += "  no list";
    }
    line(text);
    switch (*kind) {
    case commentClass::dosseg:
    case commentClass::incerr:
        leftOver(f);
        return;
    case commentClass::dosVersion: {
        const auto v = f.u16();
        if (!v) {
            cut(f, "the MS-DOS version");
            return;
        }
        line("version " + std::to_string(*v >> 8u) + "." + std::to_string(*v & 0xFFu));
        leftOver(f);
        return;
    }
    case commentClass::omfExtensions:
        omfExtension(f);
        return;
    case commentClass::newOmfExtension: {
        if (f.done()) {
            return; // nothing but the class
        }
        const unsigned v = f.u8().value_or(0);
        const auto style = f.rest();
        line("debug information version " + std::to_string(v) + " " +
             printable(std::string(style.begin(), style.end())));
        return;
    }
    case commentClass::linkPassSeparator: {
        const auto pass = f.u8();
        if (!pass) {
            cut(f, "the link pass");
            return;
        }
        line("link pass " + std::to_string(*pass) + (*pass == 1 ? ": pass 2 starts here" : ""));
        leftOver(f);
        return;
    }
    case commentClass::libmod: {
        const auto name = f.name();
        if (!name) {
            cut(f, "the library module name");
            return;
        }
        line("module " + shownName(*name));
        leftOver(f);
        return;
    }
    case commentClass::nopad:
        while (!f.done()) {
            const auto segmentIndex = f.index();
            if (!segmentIndex) {
                cut(f, "a segment index");
                return;
            }
            line("no padding " + segmentRef(*segmentIndex));
        }
        return;
    case commentClass::wkext:
        while (!f.done()) {
            const auto weak = f.index();
            const auto fallback = f.index();
            if (!weak || !fallback) {
                cut(f, "a pair of external indexes");
                return;
            }
            line("weak " + externalRef(*weak) + "  default " + externalRef(*fallback));
        }
        return;
    case commentClass::lzext:
        while (!f.done()) {
            const auto lazy = f.index();
            if (!lazy) {
                cut(f, "an external index");
                return;
            }
            line("lazy " + externalRef(*lazy));
        }
        return;
    case commentClass::dependencyFile: {
        if (f.done()) {
            line("end of the dependency list");
            return;
        }
        const auto time = f.u16();
        const auto date = f.u16();
        const auto name = time && date ? f.name() : std::nullopt;
        if (!name) {
            cut(f, "the dependency's time, date and name");
            return;
        }
        line("dependency " + shownName(*name) + "  " + dosTimeText(*time, *date));
        leftOver(f);
        return;
    }
    default: {
        // Text; some translators (NASM) give it a length byte, as a name.
        // What holds control bytes is no text: its bytes are shown.
        auto rest = f.rest();
        if (!rest.empty() && rest[0] == rest.size() - 1) {
            rest = rest.subspan(1);
        }
        if (rest.empty()) {
            return;
        }
        if (std::any_of(rest.begin(), rest.end(),
                        [](std::uint8_t b) { return b < 0x20 || b == 0x7F; })) {
            line("bytes " + hexText(rest));
            return;
        }
        const std::string_view kindOfText =
            *kind == commentClass::defaultLibrary || *kind == commentClass::librarySpecifier
                ? "library "
            : *kind == commentClass::memoryModel ? "memory model "
                                                 : "text ";
        line(std::string(kindOfText) + printable(std::string(rest.begin(), rest.end())));
        return;
    }
    }
}

void ModuleReader::omfExtension(Fields& f)
{
    const auto subtype = f.u8();
    if (!subtype) {
        cut(f, "the extension's subtype");
        return;
    }
    switch (*subtype) {
    case extension::impdef: {
        const auto byOrdinal = f.u8();
        auto internal = byOrdinal ? f.name() : std::nullopt;
        auto module = internal ? f.name() : std::nullopt;
        if (!module) {
            cut(f, "the IMPDEF names");
            return;
        }
        Import import{std::move(*internal), std::move(*module), {}, std::nullopt};
        std::string entry;
        if (*byOrdinal != 0) {
            import.ordinal = f.u16();
            if (!import.ordinal) {
                cut(f, "the IMPDEF ordinal");
                return;
            }
            entry = "ordinal " + std::to_string(*import.ordinal);
        } else {
            auto name = f.name();
            if (!name) {
                cut(f, "the IMPDEF entry name");
                return;
            }
            import.entryName = std::move(*name);
            entry = "entry " + (import.entryName.empty() ? std::string("(the same name)")
                                                         : shownName(import.entryName));
        }
        line("IMPDEF " + shownName(import.internalName) + "  module " + shownName(import.module) +
             "  " + entry);
        summary_.publics.push_back({import.internalName, "import " + shownName(import.module)});
        summary_.imports.push_back(std::move(import));
        leftOver(f);
        return;
    }
    case extension::expdef: {
        const auto flags = f.u8();
        const auto exported = flags ? f.name() : std::nullopt;
        const auto internal = exported ? f.name() : std::nullopt;
        if (!internal) {
            cut(f, "the EXPDEF names");
            return;
        }
        std::string text =
            "EXPDEF " + shownName(*exported) + "  internal " +
            (internal->empty() ? std::string("(the same name)") : shownName(*internal));
        if ((*flags & exportByOrdinal) != 0) {
            const auto ordinal = f.u16();
            if (!ordinal) {
                cut(f, "the EXPDEF ordinal");
                return;
            }
            text += "  ordinal " + std::to_string(*ordinal);
        }
        if ((*flags & exportResident) != 0) {
            text += "  resident";
        }
        if ((*flags & exportNoData) != 0) {
            text += "  no data";
        }
        text += "  parameters " + std::to_string(*flags & exportParameterMask);
        line(text);
        leftOver(f);
        return;
    }
    case extension::incdef: {
        const auto externalDelta = f.u16();
        const auto lineDelta = f.u16();
        if (!externalDelta || !lineDelta) {
            cut(f, "the INCDEF deltas");
            return;
        }
        line("INCDEF EXTDEF delta " + std::to_string(static_cast<std::int16_t>(*externalDelta)) +
             "  LINNUM delta " + std::to_string(static_cast<std::int16_t>(*lineDelta)));
        return; // padding may follow
    }
    case extension::protectedMemoryLibrary:
        line("protected-memory library");
        leftOver(f);
        return;
    case extension::lnkdir: {
        const auto flags = f.u8();
        const auto pcode = f.u8();
        const auto codeView = f.u8();
        if (!flags || !pcode || !codeView) {
            cut(f, "the LNKDIR fields");
            return;
        }
        std::string text = "LNKDIR flags " + toHex(*flags, 2);
        for (const auto& [bit, name] : {std::pair<unsigned, std::string_view>{1, "new executable"},
                                        {2, "omit CodeView publics"},
                                        {4, "run MPC"}}) {
            if ((*flags & bit) != 0) {
                text += ", ";
                text += name;
            }
        }
        line(text + "  pseudocode version " + std::to_string(*pcode) + "  CodeView version " +
             std::to_string(*codeView));
        leftOver(f);
        return;
    }
    default: {
        line("subtype " + toHex(*subtype, 2) + " (unknown)");
        hexLines(f.rest(), 0);
        return;
    }
    }
}

void ModuleReader::moduleEnd(Fields& f)
{
    const auto kind = f.u8();
    if (!kind) {
        cut(f, "the module type");
        return;
    }
    std::string text = (*kind & moduleMain) != 0 ? "main module" : "not a main module";
    if ((*kind & moduleStart) == 0) {
        line(text + ", no start address");
        leftOver(f);
        return;
    }
    if ((*kind & moduleLogicalStart) != 0) {
        const auto fixData = f.u8();
        const auto start = fixData ? fixupReference(f, *fixData) : std::nullopt;
        if (!fixData) {
            cut(f, "the start address");
        }
        if (!start) {
            return;
        }
        line(text + ", start address: " + *start);
    } else {
        const auto frame = f.u16();
        const auto offset = frame ? f.u16() : std::nullopt;
        if (!offset) {
            cut(f, "the physical start address");
            return;
        }
        line(text + ", start address " + toHex(*frame, 4) + ":" + toHex(*offset, 4) +
             " (physical)");
    }
    leftOver(f);
}

void ModuleReader::version(Fields& f)
{
    const auto text = f.name();
    if (!text) {
        cut(f, "the version");
        return;
    }
    line("version " + shownName(*text));
    leftOver(f);
}

void ModuleReader::vendorExtension(Fields& f)
{
    const auto vendor = f.u16();
    if (!vendor) {
        cut(f, "the vendor number");
        return;
    }
    line("vendor " + std::to_string(*vendor));
    hexLines(f.rest(), 0);
}

} // namespace tdump::omf
