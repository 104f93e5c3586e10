#include "dump.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "archive/archive.h"
#include "coff/coff.h"
#include "demangle/demangle.h"
#include "display/file_display.h"
#include "names.h"
#include "pe/pe.h"

namespace tdump {
namespace {

constexpr std::size_t maxMangledLine = std::size_t{64} * 1024;

std::string_view kindName(FileKind kind)
{
    switch (kind) {
    case FileKind::PeImage:
        return "a PE image";
    case FileKind::DosExecutable:
        return "an MS-DOS executable";
    case FileKind::CoffObject:
        return "a COFF object file";
    case FileKind::ImportObject:
        return "an import object";
    case FileKind::Archive:
        return "an archive library";
    case FileKind::Unknown:
        break;
    }
    return "a file of unknown type";
}

bool anyOf(FileKind kind, std::initializer_list<FileKind> kinds)
{
    return std::find(kinds.begin(), kinds.end(), kind) != kinds.end();
}

// Why a switch does nothing for this kind of file, or nullopt when it applies.
std::optional<std::string_view> whyNoEffect(Switch which, FileKind kind)
{
    using K = FileKind;
    switch (which) {
    case Switch::Ascii:
    case Switch::Ascii7:
    case Switch::Offset:
    case Switch::Hex:
    case Switch::Unmangle:
    case Switch::Obj:
        return std::nullopt;
    case Switch::Coff:
        if (anyOf(kind, {K::PeImage, K::CoffObject, K::ImportObject, K::Archive})) {
            return std::nullopt;
        }
        return "it has no COFF headers (-o forces the attempt)";
    case Switch::Debug:
        if (anyOf(kind, {K::PeImage, K::CoffObject, K::Archive})) {
            return std::nullopt;
        }
        return "it carries no debug information this tool knows";
    case Switch::DebugInclude:
    case Switch::DebugExclude:
        if (kind == K::PeImage) {
            return std::nullopt;
        }
        return "debug table letters select debug directory entries of PE images";
    case Switch::Exe:
    case Switch::ExeTables:
        if (anyOf(kind, {K::PeImage, K::DosExecutable})) {
            return std::nullopt;
        }
        return "it is not an executable";
    case Switch::NoNewExe:
        if (kind == K::PeImage) {
            return std::nullopt;
        }
        return "it has no PE part to leave out";
    case Switch::Exports:
    case Switch::Imports:
    case Switch::ImportModules:
        if (kind == K::PeImage) {
            return std::nullopt;
        }
        return "exports and imports belong to PE images";
    case Switch::Library:
        if (kind == K::Archive) {
            return std::nullopt;
        }
        return "it is not an archive library";
    case Switch::Impdef:
        if (anyOf(kind, {K::PeImage, K::Archive, K::ImportObject})) {
            return std::nullopt;
        }
        return "IMPDEF lines come from DLL exports or import libraries";
    case Switch::Checksum:
        if (anyOf(kind, {K::PeImage, K::CoffObject, K::Archive})) {
            return std::nullopt;
        }
        return "it carries no checksum";
    case Switch::Raw:
    case Switch::Relocs:
    case Switch::NoDebug:
    case Switch::NoLines:
    case Switch::NoRelocs:
    case Switch::SectionInclude:
    case Switch::SectionExclude:
        if (anyOf(kind, {K::PeImage, K::CoffObject, K::Archive})) {
            return std::nullopt;
        }
        return "it has no sections";
    case Switch::RawNames:
    case Switch::Verbose:
        if (kind != K::Unknown) {
            return std::nullopt;
        }
        return "nothing in its display is affected";
    }
    return std::nullopt;
}

bool selectsDisplay(Switch which)
{
    switch (which) {
    case Switch::NoDebug:
    case Switch::NoLines:
    case Switch::NoRelocs:
    case Switch::RawNames:
    case Switch::Verbose:
    case Switch::SectionInclude:
    case Switch::SectionExclude:
        return false;
    default:
        return true;
    }
}

class Dumper {
public:
    Dumper(const Options& options, View file, Output& out)
        : options_(options), file_(file), out_(out)
    {
    }

    void run(std::string_view fileName);

private:
    bool wants(Switch which) const
    {
        return std::find(effective_.begin(), effective_.end(), which) != effective_.end();
    }
    void writeHeading(std::string_view fileName, std::string_view type);
    void defaultDisplay();
    void peDisplays(const PeImage& image);
    void peExecutableDisplay(const PeImage& image);
    void coffDisplays(View object, bool forced);
    void coffObjectDisplays(View object);
    void archiveDisplays();
    void fileDisplays();
    void unmangleLines();

    const Options& options_;
    View file_;
    Output& out_;
    FileKind kind_ = FileKind::Unknown;
    std::vector<Switch> effective_; // display switches that apply to this file
    std::optional<PeImage> image_;
};

void Dumper::run(std::string_view fileName)
{
    kind_ = detectKind(file_);
    std::string type;
    switch (kind_) {
    case FileKind::PeImage:
        image_ = PeImage::open(file_);
        type = image_->description();
        break;
    case FileKind::DosExecutable:
        type = "MS-DOS executable (no PE header)";
        break;
    case FileKind::CoffObject: {
        const auto big = readBigObjHeader(file_);
        const auto header = big ? big : readCoffHeader(file_, 0);
        type = std::string(big ? "COFF object file (extended format), " : "COFF object file, ") +
               std::string(machineName(header->machine));
        break;
    }
    case FileKind::ImportObject:
        type = "import object (short import library member)";
        break;
    case FileKind::Archive:
        type = "archive library";
        break;
    case FileKind::Unknown:
        type = "unknown (not a PE image, COFF object or archive library)";
        break;
    }
    for (const SwitchUse& use : options_.switches) {
        if (selectsDisplay(use.which) && !whyNoEffect(use.which, kind_)) {
            effective_.push_back(use.which);
        }
    }
    writeHeading(fileName, type);
    if (effective_.empty()) {
        defaultDisplay();
        return;
    }
    if (image_) {
        peDisplays(*image_);
    } else if (kind_ == FileKind::DosExecutable &&
               (wants(Switch::Exe) || wants(Switch::ExeTables))) {
        listDosHeader(file_, out_, options_);
    }
    if (wants(Switch::Obj) && !anyOf(kind_, {FileKind::PeImage, FileKind::CoffObject,
                                             FileKind::Archive, FileKind::ImportObject})) {
        coffDisplays(file_, true);
    }
    if (kind_ == FileKind::CoffObject) {
        coffObjectDisplays(file_);
    }
    if (kind_ == FileKind::ImportObject && (wants(Switch::Coff) || wants(Switch::Obj))) {
        heading(out_, "Import object");
        listImportObject(file_, out_, options_);
    }
    if (kind_ == FileKind::ImportObject && wants(Switch::Impdef)) {
        heading(out_, "Module definition (IMPDEF)");
        listImportObject(file_, out_, options_);
    }
    if (kind_ == FileKind::Archive) {
        archiveDisplays();
    }
    fileDisplays();
    if (wants(Switch::Unmangle)) {
        unmangleLines();
    }
}

void Dumper::writeHeading(std::string_view fileName, std::string_view type)
{
    out_ << "tdump listing\n";
    out_ << "File:     " << fileName << '\n';
    out_ << "Size:     " << dec(file_.size()) << " bytes (0x" << hex(file_.size(), 1) << ")\n";
    out_ << "Type:     " << type << '\n';
    out_ << "Switches:";
    if (options_.switches.empty()) {
        out_ << " (none)";
    }
    for (const SwitchUse& use : options_.switches) {
        out_ << ' ' << use.text;
    }
    out_ << '\n';
    for (const SwitchUse& use : options_.switches) {
        out_ << "  " << column(use.text, 10) << ' ';
        if (const auto why = whyNoEffect(use.which, kind_)) {
            out_ << "no effect on " << kindName(kind_) << ": " << *why << '\n';
            continue;
        }
        out_ << use.meaning << '\n';
        if (!use.remark.empty()) {
            out_ << "  " << column("", 10) << " note: " << use.remark << '\n';
        }
    }
    if (effective_.empty()) {
        out_ << "Display:  the default for " << kindName(kind_) << '\n';
    }
}

void Dumper::defaultDisplay()
{
    switch (kind_) {
    case FileKind::PeImage:
        peExecutableDisplay(*image_);
        break;
    case FileKind::DosExecutable:
        listDosHeader(file_, out_, options_);
        break;
    case FileKind::CoffObject:
        coffDisplays(file_, false);
        break;
    case FileKind::ImportObject:
        heading(out_, "Import object");
        listImportObject(file_, out_, options_);
        break;
    case FileKind::Archive:
        Archive(file_).listLibrary(out_, options_);
        break;
    case FileKind::Unknown:
        heading(out_, "Hexadecimal display");
        hexDisplay(file_, 0, file_.size(), out_);
        break;
    }
}

void Dumper::peExecutableDisplay(const PeImage& image)
{
    if (options_.has(Switch::NoNewExe)) {
        listDosHeader(file_, out_, options_);
        return;
    }
    if (options_.exeTable(tableHeaders)) {
        image.listHeaders(out_, options_);
    }
    if (options_.exeTable(tableSections)) {
        image.listSections(out_, options_);
    }
    if (options_.exeTable(tableExports)) {
        image.listExports(out_, options_, {});
    }
    if (options_.exeTable(tableImports)) {
        image.listImports(out_, options_, false, {});
        image.listDelayImports(out_, options_, false, {});
    }
    if (options_.exeTable(tableHeaders) && !options_.has(Switch::NoDebug)) {
        image.listDebugDirectory(out_, options_);
    }
    if (options_.exeTable(tableFixups) && !options_.has(Switch::NoRelocs)) {
        image.listBaseRelocations(out_, false);
    }
}

void Dumper::peDisplays(const PeImage& image)
{
    if (wants(Switch::Exe) || wants(Switch::ExeTables) || wants(Switch::NoNewExe)) {
        peExecutableDisplay(image);
    }
    if (wants(Switch::Exports)) {
        image.listExports(out_, options_, options_.exportFilter);
    }
    if (wants(Switch::Imports)) {
        image.listImports(out_, options_, false, options_.importFilter);
        image.listDelayImports(out_, options_, false, options_.importFilter);
    }
    if (wants(Switch::ImportModules)) {
        image.listImports(out_, options_, true, options_.moduleFilter);
        image.listDelayImports(out_, options_, true, options_.moduleFilter);
    }
    if (wants(Switch::Debug) || wants(Switch::DebugInclude) || wants(Switch::DebugExclude)) {
        image.listDebugDirectory(out_, options_);
    }
    if (wants(Switch::Relocs)) {
        image.listBaseRelocations(out_, true);
    }
    if (wants(Switch::Coff) || wants(Switch::Obj)) {
        image.coff().listFileHeader(out_, options_);
        image.coff().listSections(out_, options_, !options_.has(Switch::NoRelocs),
                                  !options_.has(Switch::NoLines));
        image.coff().listSymbols(out_, options_);
    }
    if (wants(Switch::Impdef)) {
        image.listImpdef(out_, options_);
    }
    if (wants(Switch::Checksum)) {
        image.listChecksum(out_);
    }
    if (wants(Switch::Raw)) {
        image.coff().listRawContents(out_, options_);
    }
}

void Dumper::coffDisplays(View object, bool forced)
{
    if (isImportObject(object)) {
        listImportObject(object, out_, options_);
        return;
    }
    const auto big = readBigObjHeader(object);
    const auto header = big ? big : readCoffHeader(object, 0);
    if (!header) {
        report(out_, "too short for a COFF file header", object.base());
        return;
    }
    if (forced) {
        report(out_, "not recognised as a COFF object; read as one because -o asks for it",
               object.base());
    }
    const CoffFile coff(object, *header);
    coff.listFileHeader(out_, options_);
    coff.listSections(out_, options_, !options_.has(Switch::NoRelocs),
                      !options_.has(Switch::NoLines));
    coff.listSymbols(out_, options_);
}

// The displays of an object file, alone or as an archive member.
void Dumper::coffObjectDisplays(View object)
{
    if (wants(Switch::Coff) || wants(Switch::Obj)) {
        coffDisplays(object, false);
    }
    const bool more = wants(Switch::Relocs) || wants(Switch::Raw) || wants(Switch::Checksum) ||
                      wants(Switch::Debug);
    if (!more || isImportObject(object)) {
        return;
    }
    const auto big = readBigObjHeader(object);
    const auto header = big ? big : readCoffHeader(object, 0);
    if (!header) {
        return;
    }
    const CoffFile coff(object, *header);
    if (wants(Switch::Relocs)) {
        coff.listRelocations(out_, options_);
    }
    if (wants(Switch::Debug)) {
        coff.listDebugSections(out_, options_);
    }
    if (wants(Switch::Checksum)) {
        coff.listChecksums(out_, options_);
    }
    if (wants(Switch::Raw)) {
        coff.listRawContents(out_, options_);
    }
}

void Dumper::archiveDisplays()
{
    const Archive archive(file_);
    if (wants(Switch::Library)) {
        archive.listLibrary(out_, options_);
    }
    const bool perMember = wants(Switch::Coff) || wants(Switch::Obj) || wants(Switch::Relocs) ||
                           wants(Switch::Raw) || wants(Switch::Checksum) || wants(Switch::Debug);
    if (perMember) {
        archive.listMembers(out_, [&](const Member&, View data) {
            if (isImportObject(data)) {
                listImportObject(data, out_, options_);
            } else if (readBigObjHeader(data) || looksLikeCoffObject(data)) {
                coffObjectDisplays(data);
            } else {
                out_ << "  (not a COFF object)\n";
            }
        });
    }
    if (wants(Switch::Impdef)) {
        archive.listImpdef(out_, options_);
    }
}

void Dumper::fileDisplays()
{
    const bool text = wants(Switch::Ascii) || wants(Switch::Ascii7);
    const bool hexWanted = wants(Switch::Hex) || (wants(Switch::Offset) && !text);
    if (!text && !hexWanted) {
        return;
    }
    const std::uint64_t from = options_.offset;
    if (from >= file_.size() && file_.size() != 0) {
        heading(out_, "File display");
        report(out_, "offset " + std::to_string(from) + " lies past the end of the file (" +
                         std::to_string(file_.size()) + " bytes): nothing to display");
        return;
    }
    if (hexWanted) {
        heading(out_, "Hexadecimal display");
        hexDisplay(file_, from, file_.size(), out_);
    }
    if (wants(Switch::Ascii)) {
        heading(out_, "ASCII display");
        textDisplay(file_, from, false, out_);
    }
    if (wants(Switch::Ascii7)) {
        heading(out_, "ASCII display (7-bit)");
        textDisplay(file_, from, true, out_);
    }
}

void Dumper::unmangleLines()
{
    heading(out_, "Demangled names");
    std::string line;
    bool overlong = false;
    const auto finish = [&] {
        std::string_view text(line);
        while (!text.empty() &&
               (text.back() == '\r' || text.back() == ' ' || text.back() == '\t')) {
            text.remove_suffix(1);
        }
        while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
            text.remove_prefix(1);
        }
        if (overlong) {
            out_ << printable(text) << '\n';
        } else {
            const auto plain = demangle(text);
            out_ << printable(options_.demangle() && plain ? std::string_view(*plain) : text)
                 << '\n';
        }
        line.clear();
        overlong = false;
    };
    std::vector<std::uint8_t> chunk(std::size_t{64} * 1024);
    for (std::uint64_t at = 0; at < file_.size();) {
        const std::size_t got = file_.reader().readSome(
            file_.base() + at,
            std::span(chunk.data(), std::min<std::uint64_t>(chunk.size(), file_.size() - at)));
        if (got == 0) {
            report(out_, "the file could not be read further", file_.base() + at);
            return;
        }
        if (out_.exhausted()) {
            return;
        }
        for (std::size_t i = 0; i < got; ++i) {
            const char c = static_cast<char>(chunk[i]);
            if (c == '\n') {
                finish();
            } else if (line.size() < maxMangledLine) {
                line += c;
            } else {
                // Too long to be a name: shown as it is, and cut.
                overlong = true;
            }
        }
        at += got;
    }
    if (!line.empty()) {
        finish();
    }
}

} // namespace

FileKind detectKind(View file)
{
    if (isArchive(file)) {
        return FileKind::Archive;
    }
    if (hasDosHeader(file)) {
        return PeImage::open(file) ? FileKind::PeImage : FileKind::DosExecutable;
    }
    if (isImportObject(file)) {
        return FileKind::ImportObject;
    }
    if (readBigObjHeader(file) || looksLikeCoffObject(file)) {
        return FileKind::CoffObject;
    }
    return FileKind::Unknown;
}

void dumpFile(const Options& options, std::string_view fileName, Reader& reader, Output& out)
{
    // Generous for any real file: a listing is a few times the size of what
    // it lists. Past this, tables must overlap or repeat.
    const std::uint64_t budget = 256 * reader.size() + (std::uint64_t{256} << 20);
    out.limitBudget(budget);
    Dumper(options, View(reader), out).run(fileName);
    if (out.exhausted()) {
        out << '\n';
        report(
            out,
            "the listing stopped early: listing this file took more than " +
                std::to_string(out.budget()) +
                " units of work, far more than its size allows; its tables must overlap or repeat");
    }
}

} // namespace tdump
