#include "archive/archive_format.h"

#include "archive/archive.h"
#include "coff/coff_format.h"
#include "import/import_object.h"

namespace tdump {
namespace {

// The displays an archive shows member by member, as each member's format
// shows them.
constexpr DisplaySet memberDisplays{Display::Coff,       Display::Object,   Display::Relocations,
                                    Display::Raw,        Display::Checksum, Display::Debug,
                                    Display::DebugTables};

class ArchiveFile final : public ListedFile {
public:
    explicit ArchiveFile(View file) : archive_(file) {}

    std::string_view kindName() const override { return "an archive library"; }
    std::string typeText() const override { return "archive library"; }
    Display defaultDisplay() const override { return Display::Library; }
    DisplaySet displays() const override
    {
        return {Display::Library,       Display::Impdef,        Display::Coff,
                Display::Object,        Display::Relocations,   Display::Raw,
                Display::Checksum,      Display::Debug,         Display::DebugTables,
                Display::LeaveOutDebug, Display::LeaveOutLines, Display::LeaveOutRelocations,
                Display::NameChoice,    Display::StoredNames,   Display::Verbose};
    }

    void show(DisplaySet wanted, Output& out, const Options& options) const override
    {
        if (wanted.has(Display::Library)) {
            archive_.listLibrary(out, options);
        }
        if (wanted.hasAny(memberDisplays)) {
            archive_.listMembers(out, [&](const Member&, View data) {
                if (isImportObject(data)) {
                    listImportObject(data, out, options);
                } else if (const auto object = recogniseCoffObject(data, options)) {
                    object->show(wanted, out, options);
                } else {
                    out << "  (not a COFF object)\n";
                }
            });
        }
        if (wanted.has(Display::Impdef)) {
            archive_.listImpdef(out, options);
        }
    }

private:
    Archive archive_;
};

} // namespace

std::unique_ptr<ListedFile> recogniseArchive(View file, const Options&)
{
    if (!isArchive(file)) {
        return nullptr;
    }
    return std::make_unique<ArchiveFile>(file);
}

} // namespace tdump
