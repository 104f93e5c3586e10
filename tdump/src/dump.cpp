#include "dump.h"

#include <algorithm>
#include <optional>
#include <type_traits>
#include <vector>

#include "archive/archive.h"
#include "coff/coff.h"
#include "demangle/demangle.h"
#include "display/file_display.h"
#include "names.h"
#include "omf/omf.h"
#include "pdb/pdb.h"
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
    case FileKind::PdbFile:
        return "a program database";
    case FileKind::OmfObject:
        return "an OMF object module";
    case FileKind::OmfLibrary:
        return "an OMF library";
    case FileKind::Unknown:
        break;
    }
    return "a file of unknown type";
}

std::string typeText(const ParsedFile& file)
{
    switch (kindOf(file)) {
    case FileKind::PeImage:
        return std::get<PeImage>(file).description();
    case FileKind::DosExecutable:
        return "MS-DOS executable (no PE header)";
    case FileKind::CoffObject: {
        const CoffHeader& header = std::get<CoffFile>(file).header();
        return std::string(header.bigobj ? "COFF object file (extended format), "
                                         : "COFF object file, ") +
               std::string(machineName(header.machine));
    }
    case FileKind::ImportObject:
        return "import object (short import library member)";
    case FileKind::Archive:
        return "archive library";
    case FileKind::PdbFile:
        return std::get<PdbFile>(file).description();
    case FileKind::OmfObject:
        return std::get<OmfObject>(file).description();
    case FileKind::OmfLibrary:
        return std::get<OmfLibrary>(file).description();
    case FileKind::Unknown:
        break;
    }
    return "unknown (not a PE image, COFF or OMF object, library or program database)";
}

class Dumper {
public:
    Dumper(const Options& options, View file, const ParsedFile& parsed, Output& out)
        : options_(options), file_(file), parsed_(parsed), kind_(kindOf(parsed)), out_(out)
    {
        for (const SwitchUse& use : options_.switches) {
            if (use.displayOn(kind_) != Display::Modifier && !use.whyNoEffect(kind_)) {
                shown_.push_back(use.displayOn(kind_));
            }
        }
    }

    void run(std::string_view fileName);

private:
    bool wants(Display display) const
    {
        return std::find(shown_.begin(), shown_.end(), display) != shown_.end();
    }
    void writeHeading(std::string_view fileName);
    void defaultDisplay();
    void peDisplays(const PeImage& image);
    void peExecutableDisplay(const PeImage& image);
    void coffDisplays(const CoffFile& coff);
    void forcedCoffDisplays();
    void coffObjectDisplays(const CoffFile& coff);
    template <class OmfFile> void omfDisplays(const OmfFile& file);
    void archiveDisplays(const Archive& archive);
    void fileDisplays();
    void unmangleLines();

    const Options& options_;
    View file_;
    const ParsedFile& parsed_;
    FileKind kind_;
    Output& out_;
    std::vector<Display> shown_; // what the switches that apply to this file ask for
};

void Dumper::run(std::string_view fileName)
{
    writeHeading(fileName);
    if (shown_.empty()) {
        defaultDisplay();
        return;
    }
    switch (kind_) {
    case FileKind::PeImage:
        peDisplays(std::get<PeImage>(parsed_));
        break;
    case FileKind::DosExecutable:
        if (wants(Display::Executable)) {
            listDosHeader(file_, out_, options_);
        }
        if (wants(Display::Coff)) {
            forcedCoffDisplays();
        }
        break;
    case FileKind::CoffObject:
        coffObjectDisplays(std::get<CoffFile>(parsed_));
        break;
    case FileKind::ImportObject:
        if (wants(Display::Coff)) {
            heading(out_, "Import object");
            listImportObject(file_, out_, options_);
        }
        if (wants(Display::Impdef)) {
            heading(out_, "Module definition (IMPDEF)");
            listImportObject(file_, out_, options_);
        }
        break;
    case FileKind::Archive:
        archiveDisplays(std::get<Archive>(parsed_));
        break;
    case FileKind::PdbFile:
        if (wants(Display::Debug)) {
            std::get<PdbFile>(parsed_).list(out_, options_);
        }
        if (wants(Display::Coff)) {
            forcedCoffDisplays();
        }
        break;
    case FileKind::OmfObject:
        omfDisplays(std::get<OmfObject>(parsed_));
        break;
    case FileKind::OmfLibrary:
        omfDisplays(std::get<OmfLibrary>(parsed_));
        break;
    case FileKind::Unknown:
        if (wants(Display::Coff)) {
            forcedCoffDisplays();
        }
        break;
    }
    fileDisplays();
    if (wants(Display::Unmangle)) {
        unmangleLines();
    }
}

void Dumper::writeHeading(std::string_view fileName)
{
    out_ << "tdump listing\n";
    out_ << "File:     " << fileName << '\n';
    out_ << "Size:     " << dec(file_.size()) << " bytes (0x" << hex(file_.size(), 1) << ")\n";
    out_ << "Type:     " << typeText(parsed_) << '\n';
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
        if (const auto why = use.whyNoEffect(kind_)) {
            out_ << "no effect on " << kindName(kind_) << ": " << *why << '\n';
            continue;
        }
        out_ << use.meaningOn(kind_) << '\n';
        if (const std::string_view remark = use.remarkOn(kind_); !remark.empty()) {
            out_ << "  " << column("", 10) << " note: " << remark << '\n';
        }
    }
    if (shown_.empty()) {
        out_ << "Display:  the default for " << kindName(kind_) << '\n';
    }
}

void Dumper::defaultDisplay()
{
    switch (kind_) {
    case FileKind::PeImage:
        peExecutableDisplay(std::get<PeImage>(parsed_));
        break;
    case FileKind::DosExecutable:
        listDosHeader(file_, out_, options_);
        break;
    case FileKind::CoffObject:
        coffDisplays(std::get<CoffFile>(parsed_));
        break;
    case FileKind::ImportObject:
        heading(out_, "Import object");
        listImportObject(file_, out_, options_);
        break;
    case FileKind::Archive:
        std::get<Archive>(parsed_).listLibrary(out_, options_);
        break;
    case FileKind::PdbFile:
        std::get<PdbFile>(parsed_).list(out_, options_);
        break;
    case FileKind::OmfObject:
        std::get<OmfObject>(parsed_).listRecords(out_, options_);
        break;
    case FileKind::OmfLibrary:
        std::get<OmfLibrary>(parsed_).listLibrary(out_, options_);
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
        image.listImports(out_, options_, ImportDetail::Functions, {});
        image.listDelayImports(out_, options_, ImportDetail::Functions, {});
    }
    if (options_.exeTable(tableHeaders) && !options_.has(Switch::NoDebug)) {
        image.listDebugDirectory(out_, options_);
    }
    if (options_.exeTable(tableFixups) && !options_.has(Switch::NoRelocs)) {
        image.listBaseRelocations(out_, RelocationDetail::Blocks);
    }
    if (options_.exeTable(tableResources)) {
        image.listResources(out_, options_);
    }
    if (options_.exeTable(tableTls)) {
        image.listTls(out_, options_);
    }
    if (options_.exeTable(tableLoadConfig)) {
        image.listLoadConfig(out_, options_);
    }
    if (options_.exeTable(tableExceptions)) {
        image.listExceptions(out_, options_);
    }
    if (options_.exeTable(tableCertificates)) {
        image.listCertificates(out_);
    }
    if (options_.exeTable(tableOverlay)) {
        image.listOverlay(out_);
    }
}

void Dumper::peDisplays(const PeImage& image)
{
    if (wants(Display::Executable)) {
        peExecutableDisplay(image);
    }
    if (wants(Display::Exports)) {
        image.listExports(out_, options_, options_.exportFilter);
    }
    if (wants(Display::Imports)) {
        image.listImports(out_, options_, ImportDetail::Functions, options_.importFilter);
        image.listDelayImports(out_, options_, ImportDetail::Functions, options_.importFilter);
    }
    if (wants(Display::ImportModules)) {
        image.listImports(out_, options_, ImportDetail::ModulesOnly, options_.moduleFilter);
        image.listDelayImports(out_, options_, ImportDetail::ModulesOnly, options_.moduleFilter);
    }
    if (wants(Display::Debug)) {
        image.listDebugDirectory(out_, options_);
    }
    if (wants(Display::Relocations)) {
        image.listBaseRelocations(out_, RelocationDetail::Entries);
    }
    if (wants(Display::Coff)) {
        image.coff().listFileHeader(out_, options_);
        image.coff().listSections(out_, options_, SectionDetail::WithRelocationsAndLines);
        image.coff().listSymbols(out_, options_);
    }
    if (wants(Display::Impdef)) {
        image.listImpdef(out_, options_);
    }
    if (wants(Display::Checksum)) {
        image.listChecksum(out_);
    }
    if (wants(Display::Raw)) {
        image.coff().listRawContents(out_, options_);
    }
}

void Dumper::coffDisplays(const CoffFile& coff)
{
    coff.listFileHeader(out_, options_);
    coff.listSections(out_, options_, SectionDetail::WithRelocationsAndLines);
    coff.listSymbols(out_, options_);
}

// -o on a file not recognised as an object: read as one all the same.
void Dumper::forcedCoffDisplays()
{
    const auto header = readCoffHeader(file_, 0);
    if (!header) {
        report(out_, "too short for a COFF file header", file_.base());
        return;
    }
    report(out_, "not recognised as a COFF object; read as one because -o asks for it",
           file_.base());
    coffDisplays(CoffFile(file_, *header));
}

// The displays of an OMF object or library: a library's own display, and
// the records of either.
template <class OmfFile> void Dumper::omfDisplays(const OmfFile& file)
{
    if constexpr (std::is_same_v<OmfFile, OmfLibrary>) {
        if (wants(Display::Library)) {
            file.listLibrary(out_, options_);
        }
    } else if (file.origin() == OmfObject::Origin::Forced) {
        report(out_,
               "not recognised as an OMF object; read as one because -o asks for it and its "
               "first byte " +
                   toHex(file_.u8(0).value_or(0), 2) + " is an OMF record type",
               file_.base());
    }
    if (wants(Display::Records)) {
        file.listRecords(out_, options_);
    }
    if (wants(Display::Impdef)) {
        file.listImpdef(out_, options_);
    }
    if (wants(Display::Checksum)) {
        file.listChecksums(out_, options_);
    }
    if (wants(Display::Raw)) {
        file.listRawRecords(out_, options_);
    }
}

// The displays of an object file, alone or as an archive member.
void Dumper::coffObjectDisplays(const CoffFile& coff)
{
    if (wants(Display::Coff)) {
        coffDisplays(coff);
    }
    if (wants(Display::Relocations)) {
        coff.listRelocations(out_, options_);
    }
    if (wants(Display::Debug)) {
        coff.listDebugSections(out_, options_);
    }
    if (wants(Display::Checksum)) {
        coff.listChecksums(out_, options_);
    }
    if (wants(Display::Raw)) {
        coff.listRawContents(out_, options_);
    }
}

void Dumper::archiveDisplays(const Archive& archive)
{
    if (wants(Display::Library)) {
        archive.listLibrary(out_, options_);
    }
    const bool perMember = wants(Display::Coff) || wants(Display::Relocations) ||
                           wants(Display::Raw) || wants(Display::Checksum) || wants(Display::Debug);
    if (perMember) {
        archive.listMembers(out_, [&](const Member&, View data) {
            if (isImportObject(data)) {
                listImportObject(data, out_, options_);
            } else if (const auto object = openCoffObject(data)) {
                coffObjectDisplays(*object);
            } else {
                out_ << "  (not a COFF object)\n";
            }
        });
    }
    if (wants(Display::Impdef)) {
        archive.listImpdef(out_, options_);
    }
}

void Dumper::fileDisplays()
{
    const bool text = wants(Display::Ascii) || wants(Display::Ascii7);
    const bool hexWanted = wants(Display::Hex) || (wants(Display::Offset) && !text);
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
    if (wants(Display::Ascii)) {
        heading(out_, "ASCII display");
        textDisplay(file_, from, TextBits::Eight, out_);
    }
    if (wants(Display::Ascii7)) {
        heading(out_, "ASCII display (7-bit)");
        textDisplay(file_, from, TextBits::Seven, out_);
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
        if (out_.budget().exhausted()) {
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

ParsedFile parseFile(View file, bool forceObject)
{
    if (auto database = PdbFile::open(file)) {
        return *database;
    }
    if (isArchive(file)) {
        return Archive(file);
    }
    if (hasDosHeader(file)) {
        if (auto image = PeImage::open(file)) {
            return std::move(*image);
        }
        return DosExecutable{};
    }
    if (isImportObject(file)) {
        return ImportObject{};
    }
    if (auto object = openCoffObject(file)) {
        return std::move(*object);
    }
    if (const auto header = readOmfLibraryHeader(file)) {
        return OmfLibrary(file, *header);
    }
    if (isOmfObject(file)) {
        return OmfObject(file);
    }
    if (const auto first = file.u8(0); forceObject && first && isOmfRecordType(*first)) {
        return OmfObject(file, OmfObject::Origin::Forced);
    }
    return UnknownFile{};
}

std::uint64_t listingWorkLimit(std::uint64_t fileSize)
{
    // A byte written is a unit of work, a table entry read eight (budget.h).
    // The largest real listings, measured with every switch alone and with
    // -v on 21 of Wine's DLLs and EXEs (up to 26.7 MB) and on the test
    // fixtures with their program databases: the hex display, 5.0 times the
    // file; all switches at once, 15.5 times (codeview32.obj). 32 units a
    // byte leave twice that, and 16 MiB more let a small file list in full.
    // A file read as what it is not (-o on a program database: 131 times)
    // may be cut. So no file under 10 MB lists more than 340 MB, and a forged
    // one of 9.4 MB whose import tables all overlap stops after 2 s of work.
    return 32 * fileSize + (std::uint64_t{16} << 20);
}

void dumpFile(const Options& options, std::string_view fileName, Reader& reader, Output& out)
{
    const View file(reader);
    const ParsedFile parsed = parseFile(file, options.has(Switch::Obj));
    Dumper(options, file, parsed, out).run(fileName);
    if (out.budget().exhausted()) {
        out << '\n';
        report(
            out,
            "the listing stopped early: listing this file took more than " +
                std::to_string(out.budget().limit()) +
                " units of work, far more than its size allows; its tables must overlap or repeat");
    }
}

} // namespace tdump
