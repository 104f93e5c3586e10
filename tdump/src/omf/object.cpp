#include <array>

#include "omf/omf.h"
#include "omf/records.h"

namespace tdump {
namespace {

// The translator header's contents: the module name, then the checksum.
constexpr std::uint64_t moduleNameOffset = omf::recordHeaderSize;

// Whether the bytes from offset to the end are all zero: the padding some
// tools leave after the last module.
bool zerosFrom(View view, std::uint64_t offset, Output& out)
{
    std::array<std::uint8_t, 4096> chunk{};
    while (offset < view.size()) {
        const auto n =
            static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), view.size() - offset));
        out.budget().charge(n);
        if (!view.read(offset, std::span(chunk.data(), n))) {
            return false;
        }
        for (std::size_t i = 0; i < n; ++i) {
            if (chunk[i] != 0) {
                return false;
            }
        }
        offset += n;
    }
    return true;
}

// Every record of the file, in order, to visit; zeros after a module's
// end record are padding, not records, and said so when listing.
void walkObject(View view, Output& out, bool sayPadding,
                const std::function<void(const omf::Record&)>& visit)
{
    omf::walkRecords(view, 0, view.size(), out, [&](const omf::Record& r) {
        visit(r);
        if ((r.type == omf::recordModend || r.type == omf::recordModend32) && !r.truncated &&
            r.end() < view.size() && zerosFrom(view, r.end(), out)) {
            if (sayPadding) {
                out << "  (" << dec(view.size() - r.end()) << " bytes of zeros after MODEND)\n";
            }
            return false;
        }
        return true;
    });
}

} // namespace

bool isOmfObject(View view)
{
    const auto type = view.u8(0);
    const auto length = view.u16(1);
    const auto nameLength = view.u8(moduleNameOffset);
    if (!type || !length || !nameLength ||
        (*type != omf::recordTheadr && *type != omf::recordLheadr)) {
        return false;
    }
    // The record lies inside the file, the name and the checksum byte inside the record.
    return view.has(0, omf::recordHeaderSize + *length) &&
           std::uint32_t{*nameLength} + 2 <= *length;
}

OmfObject::OmfObject(View view, Origin origin) : view_(view), origin_(origin)
{
    const std::uint8_t length = view.u8(moduleNameOffset).value_or(0);
    std::string name(length, '\0');
    if (view.read(moduleNameOffset + 1,
                  std::span(reinterpret_cast<std::uint8_t*>(name.data()), name.size()))) {
        name_ = std::move(name);
    }
}

std::string OmfObject::description() const
{
    std::string text = "OMF object module";
    if (origin_ == Origin::Forced) {
        return text + " (not recognised as one; read as one because -o asks for it)";
    }
    if (!name_.empty()) {
        text += ", ";
        text += printable(name_);
    }
    return text;
}

void OmfObject::listRecords(Output& out, const Options& options) const
{
    heading(out, "OMF records");
    omf::ModuleReader reader(view_, out, options);
    walkObject(view_, out, true, [&](const omf::Record& r) {
        const bool list = omf::recordSelected(options, r.type);
        if (list) {
            omf::listRecordLine(out, view_, r, options);
        }
        reader.take(r, list);
    });
}

void OmfObject::listChecksums(Output& out, const Options& options) const
{
    heading(out, "Record checksums");
    omf::ChecksumTally tally;
    walkObject(view_, out, false, [&](const omf::Record& r) {
        if (omf::recordSelected(options, r.type)) {
            tally.take(out, view_, r);
        }
    });
    tally.total(out);
}

void OmfObject::listRawRecords(Output& out, const Options& options) const
{
    heading(out, "Record bytes");
    walkObject(view_, out, false, [&](const omf::Record& r) {
        if (omf::recordSelected(options, r.type)) {
            omf::listRawRecord(out, view_, r, options);
        }
    });
}

void OmfObject::listImpdef(Output& out, const Options& options) const
{
    heading(out, "Import definitions (IMPDEF)");
    omf::ModuleReader reader(view_, out, options);
    walkObject(view_, out, false, [&](const omf::Record& r) { reader.take(r, false); });
    omf::listImports(out, reader.summary().imports, options);
}

} // namespace tdump
