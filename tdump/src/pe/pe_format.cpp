#include "pe/pe_format.h"

#include <utility>

#include "coff/coff_format.h"
#include "pe/pe.h"

namespace tdump {
namespace {

class PeImageFile final : public ListedFile {
public:
    PeImageFile(View file, PeImage image) : file_(file), image_(std::move(image)) {}

    std::string_view kindName() const override { return "a PE image"; }
    std::string typeText() const override { return image_.description(); }
    Display defaultDisplay() const override { return Display::Executable; }
    DisplaySet displays() const override
    {
        return {Display::Executable,    Display::DosHeaderOnly,
                Display::Exports,       Display::Imports,
                Display::ImportModules, Display::Debug,
                Display::DebugTables,   Display::Relocations,
                Display::Coff,          Display::Object,
                Display::Impdef,        Display::Checksum,
                Display::Raw,           Display::LeaveOutDebug,
                Display::LeaveOutLines, Display::LeaveOutRelocations,
                Display::NameChoice,    Display::StoredNames,
                Display::Verbose};
    }

    void show(DisplaySet wanted, Output& out, const Options& options) const override
    {
        if (wanted.hasAny({Display::Executable, Display::DosHeaderOnly})) {
            showExecutable(out, options);
        }
        if (wanted.has(Display::Exports)) {
            image_.listExports(out, options, options.exportFilter);
        }
        if (wanted.has(Display::Imports)) {
            showImports(out, options, ImportDetail::Functions, options.importFilter);
        }
        if (wanted.has(Display::ImportModules)) {
            showImports(out, options, ImportDetail::ModulesOnly, options.moduleFilter);
        }
        if (wanted.hasAny({Display::Debug, Display::DebugTables})) {
            image_.listDebugDirectory(out, options);
            image_.listDwarf(out, options);
        }
        if (wanted.has(Display::Relocations)) {
            image_.listBaseRelocations(out, RelocationDetail::Entries);
        }
        if (wanted.hasAny({Display::Coff, Display::Object})) {
            listCoffDisplay(image_.coff(), out, options);
        }
        if (wanted.has(Display::Impdef)) {
            image_.listImpdef(out, options);
        }
        if (wanted.has(Display::Checksum)) {
            image_.listChecksum(out);
        }
        if (wanted.has(Display::Raw)) {
            image_.coff().listRawContents(out, options);
        }
    }

private:
    void showImports(Output& out, const Options& options, ImportDetail detail,
                     std::string_view filter) const
    {
        image_.listImports(out, options, detail, filter);
        image_.listDelayImports(out, options, detail, filter);
    }

    // -e: the tables -ei chooses, in this order; -ex: the MS-DOS header only.
    void showExecutable(Output& out, const Options& options) const
    {
        if (options.has(Switch::NoNewExe)) {
            listDosHeader(file_, out, options);
            return;
        }
        if (options.exeTable(tableHeaders)) {
            image_.listHeaders(out, options);
        }
        if (options.exeTable(tableSections)) {
            image_.listSections(out, options);
        }
        if (options.exeTable(tableExports)) {
            image_.listExports(out, options, {});
        }
        if (options.exeTable(tableImports)) {
            showImports(out, options, ImportDetail::Functions, {});
        }
        if (options.exeTable(tableHeaders) && !options.has(Switch::NoDebug)) {
            image_.listDebugDirectory(out, options);
        }
        if (options.exeTable(tableFixups) && !options.has(Switch::NoRelocs)) {
            image_.listBaseRelocations(out, RelocationDetail::Blocks);
        }
        if (options.exeTable(tableResources)) {
            image_.listResources(out, options);
        }
        if (options.exeTable(tableTls)) {
            image_.listTls(out, options);
        }
        if (options.exeTable(tableLoadConfig)) {
            image_.listLoadConfig(out, options);
        }
        if (options.exeTable(tableExceptions)) {
            image_.listExceptions(out, options);
        }
        if (options.exeTable(tableCertificates)) {
            image_.listCertificates(out);
        }
        if (options.exeTable(tableOverlay)) {
            image_.listOverlay(out);
        }
    }

    View file_;
    PeImage image_;
};

} // namespace

std::unique_ptr<ListedFile> recognisePeImage(View file, const Options&)
{
    if (!hasDosHeader(file)) {
        return nullptr;
    }
    auto image = PeImage::open(file);
    if (!image) {
        return nullptr;
    }
    return std::make_unique<PeImageFile>(file, std::move(*image));
}

} // namespace tdump
