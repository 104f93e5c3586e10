#include "omf/omf_format.h"

#include <type_traits>
#include <utility>

#include "omf/omf.h"

namespace tdump {
namespace {

// An OMF object module or library: records instead of headers and
// sections, so the switches take their reading on record files.
template <class Omf> class OmfFile final : public ListedFile {
public:
    static constexpr bool library = std::is_same_v<Omf, OmfLibrary>;

    OmfFile(View file, Omf omf) : file_(file), omf_(std::move(omf)) {}

    std::string_view kindName() const override
    {
        return library ? "an OMF library" : "an OMF object module";
    }
    std::string typeText() const override { return omf_.description(); }
    Display defaultDisplay() const override { return library ? Display::Library : Display::Object; }
    DisplaySet displays() const override
    {
        DisplaySet displays{Display::Object,     Display::Impdef, Display::Checksum,
                            Display::NameChoice, Display::Raw,    Display::StoredNames,
                            Display::Verbose};
        if (library) {
            displays.add(Display::Library);
        }
        return displays;
    }
    Reading reading() const override { return Reading::Records; }

    void show(DisplaySet wanted, Output& out, const Options& options) const override
    {
        if constexpr (library) {
            if (wanted.has(Display::Library)) {
                omf_.listLibrary(out, options);
            }
        } else if (omf_.origin() == OmfObject::Origin::Forced) {
            report(out,
                   "not recognised as an OMF object; read as one because -o asks for it and its "
                   "first byte " +
                       toHex(file_.u8(0).value_or(0), 2) + " is an OMF record type",
                   file_.base());
        }
        if (wanted.has(Display::Object)) {
            omf_.listRecords(out, options);
        }
        if (wanted.has(Display::Impdef)) {
            omf_.listImpdef(out, options);
        }
        if (wanted.has(Display::Checksum)) {
            omf_.listChecksums(out, options);
        }
        if (wanted.has(Display::Raw)) {
            omf_.listRawRecords(out, options);
        }
    }

private:
    View file_;
    Omf omf_;
};

template <class Omf> std::unique_ptr<ListedFile> listed(View file, Omf omf)
{
    return std::make_unique<OmfFile<Omf>>(file, std::move(omf));
}

} // namespace

std::unique_ptr<ListedFile> recogniseOmfFile(View file, const Options& options)
{
    if (const auto header = readOmfLibraryHeader(file)) {
        return listed(file, OmfLibrary(file, *header));
    }
    if (isOmfObject(file)) {
        return listed(file, OmfObject(file));
    }
    if (const auto first = file.u8(0);
        options.has(Switch::Obj) && first && isOmfRecordType(*first)) {
        return listed(file, OmfObject(file, OmfObject::Origin::Forced));
    }
    return nullptr;
}

} // namespace tdump
