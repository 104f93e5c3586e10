#include "dump.h"

#include <algorithm>
#include <vector>

#include "archive/archive_format.h"
#include "coff/coff_format.h"
#include "demangle/demangle.h"
#include "display/file_display.h"
#include "dos/dos_format.h"
#include "import/import_object.h"
#include "le/le_format.h"
#include "ne/ne_format.h"
#include "omf/omf_format.h"
#include "pdb/pdb_format.h"
#include "pe/pe_format.h"
#include "unknown/unknown_file.h"

namespace tdump {
namespace {

constexpr std::size_t maxMangledLine = std::size_t{64} * 1024;

// The formats, in the order they are tried: the first that takes the file
// lists it. A program database and an archive are told by their
// signatures; a PE image, then an NE image, then an LE or LX executable,
// before the MS-DOS executable they extend; the import object's signature
// before the looser test of a COFF object; OMF, told by its first record,
// last.
constexpr Recogniser recognisers[] = {
    recogniseProgramDatabase, recogniseArchive,          recognisePeImage,
    recogniseNeImage,         recogniseLinearExecutable, recogniseDosExecutable,
    recogniseImportObject,    recogniseCoffObject,       recogniseOmfFile,
};

// The listing of one file: the heading, then the displays asked for.
class Listing {
public:
    Listing(const Options& options, View file, const ListedFile& listed, Output& out)
        : options_(options), file_(file), listed_(listed), out_(out)
    {
        for (const SwitchUse& use : options_.switches) {
            const Display display = use.display();
            if (display < firstModifier && applies(display)) {
                wanted_.add(display);
            }
        }
    }

    void run(std::string_view fileName)
    {
        writeHeading(fileName);
        const DisplaySet shown = wanted_.empty() ? DisplaySet{listed_.defaultDisplay()} : wanted_;
        listed_.show(shown, out_, options_);
        fileDisplays(shown);
        if (shown.has(Display::Unmangle)) {
            unmangleLines();
        }
    }

private:
    bool applies(Display display) const
    {
        return everyFileDisplays.has(display) || listed_.displays().has(display);
    }
    void writeHeading(std::string_view fileName);
    void fileDisplays(DisplaySet shown);
    void unmangleLines();

    const Options& options_;
    View file_;
    const ListedFile& listed_;
    Output& out_;
    DisplaySet wanted_; // what the switches that apply to this file ask for
};

void Listing::writeHeading(std::string_view fileName)
{
    out_ << "tdump listing\n";
    out_ << "File:     " << fileName << '\n';
    out_ << "Size:     " << dec(file_.size()) << " bytes (0x" << hex(file_.size(), 1) << ")\n";
    out_ << "Type:     " << listed_.typeText() << '\n';
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
        if (!applies(use.display())) {
            out_ << "no effect on " << listed_.kindName() << ": " << listed_.whyNot(use.display())
                 << '\n';
            continue;
        }
        out_ << use.meaningIn(listed_.reading()) << '\n';
        if (const std::string_view remark = use.remarkIn(listed_.reading()); !remark.empty()) {
            out_ << "  " << column("", 10) << " note: " << remark << '\n';
        }
    }
    if (wanted_.empty()) {
        out_ << "Display:  the default for " << listed_.kindName() << '\n';
    }
}

void Listing::fileDisplays(DisplaySet shown)
{
    const bool text = shown.hasAny({Display::Ascii, Display::Ascii7});
    const bool hexWanted = shown.has(Display::Hex) || (shown.has(Display::Offset) && !text);
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
    if (shown.has(Display::Ascii)) {
        heading(out_, "ASCII display");
        textDisplay(file_, from, TextBits::Eight, out_);
    }
    if (shown.has(Display::Ascii7)) {
        heading(out_, "ASCII display (7-bit)");
        textDisplay(file_, from, TextBits::Seven, out_);
    }
}

void Listing::unmangleLines()
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

std::unique_ptr<ListedFile> recognise(View file, const Options& options)
{
    for (const Recogniser recogniser : recognisers) {
        if (auto listed = recogniser(file, options)) {
            return listed;
        }
    }
    return unknownFile(file);
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
    const std::unique_ptr<ListedFile> listed = recognise(file, options);
    Listing(options, file, *listed, out).run(fileName);
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
