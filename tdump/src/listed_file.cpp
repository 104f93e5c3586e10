#include "listed_file.h"

namespace tdump {

std::string_view ListedFile::whyNot(Display display) const
{
    switch (display) {
    case Display::Executable:
        return "it is not an executable";
    case Display::DosHeaderOnly:
        return "it has no PE part to leave out";
    case Display::Exports:
    case Display::Imports:
    case Display::ImportModules:
        return "exports and imports belong to PE images";
    case Display::Debug:
        return "it carries no debug information this tool knows";
    case Display::DebugTables:
        return "debug table letters choose the debug information of images, objects, libraries "
               "and PDB files";
    case Display::Coff:
        return "it has no COFF headers (-o forces the attempt)";
    case Display::Library:
        return "it is not an archive library";
    case Display::Impdef:
        return "IMPDEF lines come from DLL exports or import libraries";
    case Display::Checksum:
        return "it carries no checksum";
    case Display::StoredNames:
    case Display::Verbose:
        return "nothing in its display is affected";
    case Display::Relocations:
    case Display::Raw:
    case Display::LeaveOutDebug:
    case Display::LeaveOutLines:
    case Display::LeaveOutRelocations:
    case Display::NameChoice:
        return "it has no sections";
    case Display::Hex:
    case Display::Offset:
    case Display::Ascii:
    case Display::Ascii7:
    case Display::Unmangle:
    case Display::Object:
        break;
    }
    return "it does not apply";
}

} // namespace tdump
