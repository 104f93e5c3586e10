#include "omf/record_types.h"

#include <algorithm>
#include <iterator>

namespace tdump {
namespace {

namespace type = omf::recordType;

struct RecordType {
    std::uint8_t type;
    std::string_view name;
};

// The record types of the format, the obsolete ones included: a file that
// holds one is still an OMF file.
constexpr RecordType recordTypes[] = {
    {0x6E, "RHEADR"},
    {0x70, "REGINT"},
    {0x72, "REDATA"},
    {0x74, "RIDATA"},
    {0x76, "OVLDEF"},
    {0x78, "ENDREC"},
    {0x7A, "BLKDEF"},
    {0x7C, "BLKEND"},
    {0x7E, "DEBSYM"},
    {type::theadr, "THEADR"},
    {type::lheadr, "LHEADR"},
    {0x84, "PEDATA"},
    {0x86, "PIDATA"},
    {type::coment, "COMENT"},
    {type::modend, "MODEND"},
    {type::modend32, "MODEND32"},
    {type::extdef, "EXTDEF"},
    {0x8E, "TYPDEF"},
    {type::pubdef, "PUBDEF"},
    {type::pubdef32, "PUBDEF32"},
    {0x92, "LOCSYM"},
    {type::linnum, "LINNUM"},
    {type::linnum32, "LINNUM32"},
    {type::lnames, "LNAMES"},
    {type::segdef, "SEGDEF"},
    {type::segdef32, "SEGDEF32"},
    {type::grpdef, "GRPDEF"},
    {type::fixupp, "FIXUPP"},
    {type::fixupp32, "FIXUPP32"},
    {type::ledata, "LEDATA"},
    {type::ledata32, "LEDATA32"},
    {type::lidata, "LIDATA"},
    {type::lidata32, "LIDATA32"},
    {0xA4, "LIBHED"},
    {0xA6, "LIBNAM"},
    {0xA8, "LIBLOC"},
    {0xAA, "LIBDIC"},
    {type::comdef, "COMDEF"},
    {type::bakpat, "BAKPAT"},
    {type::bakpat32, "BAKPAT32"},
    {type::lextdef, "LEXTDEF"},
    {type::lextdef32, "LEXTDEF32"},
    {type::lpubdef, "LPUBDEF"},
    {type::lpubdef32, "LPUBDEF32"},
    {type::lcomdef, "LCOMDEF"},
    {type::cextdef, "CEXTDEF"},
    {type::comdat, "COMDAT"},
    {type::comdat32, "COMDAT32"},
    {type::linsym, "LINSYM"},
    {type::linsym32, "LINSYM32"},
    {type::alias, "ALIAS"},
    {type::nbkpat, "NBKPAT"},
    {type::nbkpat32, "NBKPAT32"},
    {type::llnames, "LLNAMES"},
    {type::vernum, "VERNUM"},
    {type::vendext, "VENDEXT"},
    {type::libraryHeader, "LIBHDR"},
    {type::libraryEnd, "LIBEND"},
};

} // namespace

std::string_view omfRecordName(std::uint8_t type)
{
    const auto* found = std::find_if(std::begin(recordTypes), std::end(recordTypes),
                                     [type](const RecordType& r) { return r.type == type; });
    return found == std::end(recordTypes) ? std::string_view() : found->name;
}

std::string_view omfRecordFamily(std::uint8_t type)
{
    std::string_view name = omfRecordName(type);
    if ((type & 1u) != 0 && name.ends_with("32")) {
        name.remove_suffix(2);
    }
    return name;
}

bool isOmfRecordName(std::string_view name)
{
    return std::any_of(std::begin(recordTypes), std::end(recordTypes), [&](const RecordType& r) {
        return r.name == name || omfRecordFamily(r.type) == name;
    });
}

std::string omfRecordNames()
{
    std::string names;
    for (const RecordType& r : recordTypes) {
        if (!names.empty()) {
            names += ' ';
        }
        names += r.name;
    }
    return names;
}

bool isOmfRecordType(std::uint8_t type)
{
    return !omfRecordName(type).empty();
}

} // namespace tdump
