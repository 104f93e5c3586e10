#include "pdb/pdb_format.h"

#include "coff/coff_format.h"
#include "pdb/pdb.h"

namespace tdump {
namespace {

// A program database is all debug information: the debug switches show it.
class ProgramDatabaseFile final : public ListedFile {
public:
    ProgramDatabaseFile(View file, PdbFile database) : file_(file), database_(database) {}

    std::string_view kindName() const override { return "a program database"; }
    std::string typeText() const override { return database_.description(); }
    Display defaultDisplay() const override { return Display::Debug; }
    DisplaySet displays() const override
    {
        return {Display::Debug,  Display::DebugTables, Display::LeaveOutDebug,
                Display::Object, Display::StoredNames, Display::Verbose};
    }

    void show(DisplaySet wanted, Output& out, const Options& options) const override
    {
        if (wanted.hasAny({Display::Debug, Display::DebugTables})) {
            database_.list(out, options);
        }
        if (wanted.has(Display::Object)) {
            listForcedCoffDisplay(file_, out, options);
        }
    }

private:
    View file_;
    PdbFile database_;
};

} // namespace

std::unique_ptr<ListedFile> recogniseProgramDatabase(View file, const Options&)
{
    auto database = PdbFile::open(file);
    if (!database) {
        return nullptr;
    }
    return std::make_unique<ProgramDatabaseFile>(file, *database);
}

} // namespace tdump
