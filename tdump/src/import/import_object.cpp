#include "import/import_object.h"

#include <array>

#include "coff/coff.h"
#include "demangle/demangle.h"
#include "names.h"

namespace tdump {
namespace {

constexpr std::size_t maxNameLength = 4096;
constexpr std::uint16_t importHeaderVersion = 0;

// The IMPORT_OBJECT_TYPE in the low two bits of the type field, the
// IMPORT_OBJECT_NAME_TYPE in the three above them.
constexpr unsigned importTypeMask = 3;
constexpr unsigned importNameTypeShift = 2;
constexpr unsigned importNameTypeMask = 7;
constexpr unsigned importNameNoPrefix = 2;
constexpr unsigned importNameUndecorate = 3;
constexpr unsigned importNameExportAs = 4;

class ImportObjectFile final : public ListedFile {
public:
    explicit ImportObjectFile(View file) : file_(file) {}

    std::string_view kindName() const override { return "an import object"; }
    std::string typeText() const override { return "import object (short import library member)"; }
    Display defaultDisplay() const override { return Display::Coff; }
    DisplaySet displays() const override
    {
        return {Display::Coff, Display::Object, Display::Impdef, Display::StoredNames,
                Display::Verbose};
    }

    void show(DisplaySet wanted, Output& out, const Options& options) const override
    {
        if (wanted.hasAny({Display::Coff, Display::Object})) {
            heading(out, "Import object");
            listImportObject(file_, out, options);
        }
        if (wanted.has(Display::Impdef)) {
            heading(out, "Module definition (IMPDEF)");
            listImportObject(file_, out, options);
        }
    }

private:
    View file_;
};

} // namespace

bool isImportObject(View view)
{
    const auto sig1 = view.u16(importHeader::sig1);
    const auto sig2 = view.u16(importHeader::sig2);
    const auto version = view.u16(importHeader::version);
    return sig1 == headerSig1 && sig2 == headerSig2 && version == importHeaderVersion &&
           view.size() >= importHeader::size;
}

ImportFields readImportObject(View view)
{
    ImportFields f;
    std::array<std::uint8_t, importHeader::size> raw{};
    if (!view.read(0, raw)) {
        f.problems.emplace_back("the import header is truncated");
        return f;
    }
    f.machine = le16(&raw[importHeader::machine]);
    f.timeStamp = le32(&raw[importHeader::timeDateStamp]);
    f.dataSize = le32(&raw[importHeader::sizeOfData]);
    f.ordinalOrHint = le16(&raw[importHeader::ordinalOrHint]);
    const std::uint16_t bits = le16(&raw[importHeader::typeBits]);
    f.type = bits & importTypeMask;
    f.nameType = (bits >> importNameTypeShift) & importNameTypeMask;
    const View data = view.sub(importHeader::size, f.dataSize);
    if (f.dataSize > view.size() - importHeader::size) {
        f.problems.push_back("the import data size " + std::to_string(f.dataSize) +
                             " runs past the end of the member");
    }
    const auto symbol = data.string(0, maxNameLength);
    const auto dll = symbol ? data.string(symbol->text.size() + 1, maxNameLength) : std::nullopt;
    f.namesComplete = symbol && symbol->terminated && dll && dll->terminated;
    if (!f.namesComplete) {
        f.problems.emplace_back("the import names are missing or not terminated");
    }
    f.symbol = symbol ? printable(symbol->text) : "";
    f.dll = dll ? printable(dll->text) : "";
    if (f.nameType == importNameExportAs && dll) {
        const auto exportAs =
            data.string(symbol->text.size() + dll->text.size() + 2, maxNameLength);
        f.exportAs = exportAs ? printable(exportAs->text) : "";
    }
    return f;
}

std::string exportedName(const ImportFields& f)
{
    std::string name = f.symbol;
    switch (f.nameType) {
    case importNameNoPrefix: // drop one leading ?, @ or _
        if (!name.empty() && (name[0] == '?' || name[0] == '@' || name[0] == '_')) {
            name.erase(0, 1);
        }
        break;
    case importNameUndecorate: { // also cut at the first @
        if (!name.empty() && (name[0] == '?' || name[0] == '@' || name[0] == '_')) {
            name.erase(0, 1);
        }
        const auto at = name.find('@');
        if (at != std::string::npos) {
            name.erase(at);
        }
        break;
    }
    case importNameExportAs:
        return f.exportAs;
    default:
        break;
    }
    return name;
}

void listImportObject(View view, Output& out, const Options& options)
{
    const ImportFields f = readImportObject(view);
    static constexpr std::array<std::string_view, 4> types = {"code", "data", "const",
                                                              "unrecognised type"};
    static constexpr std::array<std::string_view, 8> nameTypes = {
        "ordinal",        "name",         "name without prefix", "undecorated name",
        "export-as name", "unrecognised", "unrecognised",        "unrecognised"};
    out << "  Import object: " << machineName(f.machine) << ", " << types[f.type] << ", by "
        << nameTypes[f.nameType] << '\n';
    out << "    symbol   " << displayName(f.symbol, options.demangle()) << '\n';
    out << "    DLL      " << f.dll << '\n';
    out << "    " << (f.nameType == importNameOrdinal ? "ordinal  " : "hint     ")
        << dec(f.ordinalOrHint) << '\n';
    if (f.nameType != importNameOrdinal) {
        out << "    exported as " << exportedName(f) << '\n';
    }
    if (options.verbose()) {
        out << "    time stamp " << hex(f.timeStamp) << ", data size " << dec(f.dataSize) << '\n';
    }
    for (const std::string& problem : f.problems) {
        report(out, problem, view.base());
    }
}

std::unique_ptr<ListedFile> recogniseImportObject(View file, const Options&)
{
    if (!isImportObject(file)) {
        return nullptr;
    }
    return std::make_unique<ImportObjectFile>(file);
}

} // namespace tdump
