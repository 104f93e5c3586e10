#include <array>

#include "omf/module_reader.h"
#include "omf/omf.h"
#include "omf/records.h"

namespace tdump {
namespace {

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

// Every record of the file, in order, read by one module reader (which
// starts afresh at each translator header); zeros after a module's end
// record are padding, not records.
omf::RecordWalk objectWalk(View view, Output& out, const Options& options)
{
    return [view, &out, &options](const omf::RecordVisitor& visitor) {
        omf::ModuleReader reader(view, out, options);
        omf::walkRecords(view, 0, view.size(), out, [&](const omf::Record& r) {
            reader.take(r, visitor.record(r));
            if (omf::isModuleEnd(r) && !r.truncated && r.end() < view.size() &&
                zerosFrom(view, r.end(), out)) {
                if (visitor.notePadding) {
                    out << "  (" << dec(view.size() - r.end()) << " bytes of zeros after MODEND)\n";
                }
                return false;
            }
            return true;
        });
        if (visitor.moduleRead) {
            visitor.moduleRead(reader.summary());
        }
    };
}

} // namespace

bool isOmfObject(View view)
{
    const auto type = view.u8(0);
    const auto length = view.u16(1);
    const auto nameLength = view.u8(omf::recordHeaderSize);
    if (!type || !length || !nameLength ||
        (*type != omf::recordType::theadr && *type != omf::recordType::lheadr)) {
        return false;
    }
    // The record lies inside the file, the name and the checksum byte inside the record.
    return view.has(0, omf::recordHeaderSize + *length) &&
           std::uint32_t{*nameLength} + 2 <= *length;
}

OmfObject::OmfObject(View view, Origin origin)
    : view_(view), origin_(origin), name_(omf::translatorName(view, 0))
{
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
    omf::listRecords(out, view_, options, objectWalk(view_, out, options));
}

void OmfObject::listChecksums(Output& out, const Options& options) const
{
    omf::listChecksums(out, view_, options, objectWalk(view_, out, options));
}

void OmfObject::listRawRecords(Output& out, const Options& options) const
{
    omf::listRawRecords(out, view_, options, objectWalk(view_, out, options));
}

void OmfObject::listImpdef(Output& out, const Options& options) const
{
    omf::listImpdef(out, options, objectWalk(view_, out, options));
}

} // namespace tdump
