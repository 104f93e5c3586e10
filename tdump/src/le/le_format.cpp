#include "le/le_format.h"

#include "le/le.h"
#include "mz/mz.h"

namespace tdump {
namespace {

class LinearExecutableFile final : public ListedFile {
public:
    LinearExecutableFile(View file, std::uint64_t headerOffset)
        : file_(file), image_(file, headerOffset)
    {
    }

    std::string_view kindName() const override
    {
        return image_.isLx() ? "an LX executable" : "an LE executable";
    }
    std::string typeText() const override { return image_.description(); }
    Display defaultDisplay() const override { return Display::Executable; }
    DisplaySet displays() const override
    {
        return {Display::Executable, Display::DosHeaderOnly, Display::Exports,
                Display::Imports,    Display::ImportModules, Display::LeaveOutRelocations,
                Display::Verbose};
    }

    std::string_view whyNot(Display display) const override
    {
        switch (display) {
        case Display::Relocations:
            return "its fixups are listed by the executable display (-eiFIX)";
        case Display::Raw:
        case Display::NameChoice:
        case Display::LeaveOutLines:
            return "it has objects, not sections; -eiOBJ lists them";
        case Display::Coff:
        case Display::Object:
            return "it has no COFF headers";
        case Display::Impdef:
            return "IMPDEF lines come from PE DLL exports or import libraries";
        case Display::StoredNames:
            return "its names are not decorated";
        case Display::LeaveOutDebug:
            return ListedFile::whyNot(Display::Debug);
        default:
            return ListedFile::whyNot(display);
        }
    }

    void show(DisplaySet wanted, Output& out, const Options& options) const override
    {
        if (wanted.hasAny({Display::Executable, Display::DosHeaderOnly})) {
            showExecutable(out, options);
        }
        if (wanted.has(Display::Exports)) {
            image_.listExports(out, options.exportFilter);
        }
        if (wanted.has(Display::Imports)) {
            image_.listImports(out, options.importFilter);
        }
        if (wanted.has(Display::ImportModules)) {
            image_.listImportModules(out, options.moduleFilter);
        }
    }

private:
    // -e: the tables -ei chooses, in this order; -ex: the MS-DOS part only.
    void showExecutable(Output& out, const Options& options) const
    {
        if (options.has(Switch::NoNewExe)) {
            listDosHeader(file_, out, options);
            listDosLoadImage(file_, out, options);
            return;
        }
        if (options.exeTable(tableHeaders)) {
            listDosHeader(file_, out, options);
            image_.listHeader(out);
        }
        if (options.exeTable(tableSections)) {
            image_.listObjects(out);
        }
        if (options.exeTable(tableImports)) {
            image_.listNames(out);
        }
        if (options.exeTable(tableExports)) {
            image_.listEntries(out);
            if (image_.isVxd()) {
                image_.listDeviceDescriptor(out);
            }
        }
        if (options.exeTable(tableFixups)) {
            image_.listFixups(out, !options.has(Switch::NoRelocs));
        }
        if (options.exeTable(tableResources)) {
            image_.listResources(out);
        }
    }

    View file_;
    LinearExecutable image_;
};

} // namespace

std::unique_ptr<ListedFile> recogniseLinearExecutable(View file, const Options&)
{
    const auto headerOffset = linearHeaderOffset(file);
    if (!headerOffset) {
        return nullptr;
    }
    return std::make_unique<LinearExecutableFile>(file, *headerOffset);
}

} // namespace tdump
