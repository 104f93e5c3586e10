#include "dos/dos_format.h"

#include "coff/coff_format.h"
#include "mz/mz.h"

namespace tdump {
namespace {

class DosExecutableFile final : public ListedFile {
public:
    explicit DosExecutableFile(View file) : file_(file) {}

    std::string_view kindName() const override { return "an MS-DOS executable"; }
    std::string typeText() const override { return "MS-DOS executable (no PE header)"; }
    Display defaultDisplay() const override { return Display::Executable; }
    DisplaySet displays() const override
    {
        return {Display::Executable,          Display::DosHeaderOnly, Display::Object,
                Display::LeaveOutRelocations, Display::StoredNames,   Display::Verbose};
    }

    void show(DisplaySet wanted, Output& out, const Options& options) const override
    {
        // The whole file is the MS-DOS part: -ex lists what -e does.
        if (wanted.hasAny({Display::Executable, Display::DosHeaderOnly})) {
            listDosHeader(file_, out, options);
            listDosLoadImage(file_, out, options);
        }
        if (wanted.has(Display::Object)) {
            listForcedCoffDisplay(file_, out, options);
        }
    }

private:
    View file_;
};

} // namespace

std::unique_ptr<ListedFile> recogniseDosExecutable(View file, const Options&)
{
    if (!hasDosHeader(file)) {
        return nullptr;
    }
    return std::make_unique<DosExecutableFile>(file);
}

} // namespace tdump
