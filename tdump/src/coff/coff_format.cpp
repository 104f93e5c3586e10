#include "coff/coff_format.h"

#include <string>
#include <utility>

#include "names.h"

namespace tdump {
namespace {

class CoffObjectFile final : public ListedFile {
public:
    explicit CoffObjectFile(CoffFile coff) : coff_(std::move(coff)) {}

    std::string_view kindName() const override { return "a COFF object file"; }
    std::string typeText() const override
    {
        const CoffHeader& header = coff_.header();
        return std::string(header.bigobj ? "COFF object file (extended format), "
                                         : "COFF object file, ") +
               std::string(machineName(header.machine));
    }
    Display defaultDisplay() const override { return Display::Coff; }
    DisplaySet displays() const override
    {
        return {Display::Coff,          Display::Object,
                Display::Relocations,   Display::Debug,
                Display::DebugTables,   Display::Checksum,
                Display::Raw,           Display::LeaveOutDebug,
                Display::LeaveOutLines, Display::LeaveOutRelocations,
                Display::NameChoice,    Display::StoredNames,
                Display::Verbose};
    }

    // Also the displays of each object member of an archive.
    void show(DisplaySet wanted, Output& out, const Options& options) const override
    {
        if (wanted.hasAny({Display::Coff, Display::Object})) {
            listCoffDisplay(coff_, out, options);
        }
        if (wanted.has(Display::Relocations)) {
            coff_.listRelocations(out, options);
        }
        if (wanted.hasAny({Display::Debug, Display::DebugTables})) {
            coff_.listDebugSections(out, options);
        }
        if (wanted.has(Display::Checksum)) {
            coff_.listChecksums(out, options);
        }
        if (wanted.has(Display::Raw)) {
            coff_.listRawContents(out, options);
        }
    }

private:
    CoffFile coff_;
};

} // namespace

std::unique_ptr<ListedFile> recogniseCoffObject(View file, const Options&)
{
    auto coff = openCoffObject(file);
    if (!coff) {
        return nullptr;
    }
    return std::make_unique<CoffObjectFile>(std::move(*coff));
}

void listCoffDisplay(const CoffFile& coff, Output& out, const Options& options)
{
    coff.listFileHeader(out, options);
    coff.listSections(out, options, SectionDetail::WithRelocationsAndLines);
    coff.listUnwindData(out, options);
    coff.listSymbols(out, options);
}

void listForcedCoffDisplay(View file, Output& out, const Options& options)
{
    const auto header = readCoffHeader(file, 0);
    if (!header) {
        report(out, "too short for a COFF file header", file.base());
        return;
    }
    report(out, "not recognised as a COFF object; read as one because -o asks for it", file.base());
    listCoffDisplay(CoffFile(file, *header), out, options);
}

} // namespace tdump
