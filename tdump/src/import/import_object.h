#pragma once

// Import objects: the short import library members (IMPORT_OBJECT_HEADER,
// then the symbol and the DLL name) that stand for one import each, in an
// import library or as a file of their own.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "listed_file.h"

namespace tdump {

// IMPORT_OBJECT_HEADER, the header of a short import library member; the
// symbol and DLL names follow it.
namespace importHeader {
constexpr std::size_t sig1 = 0;
constexpr std::size_t sig2 = 2;
constexpr std::size_t version = 4;
constexpr std::size_t machine = 6;
constexpr std::size_t timeDateStamp = 8;
constexpr std::size_t sizeOfData = 12;
constexpr std::size_t ordinalOrHint = 16;
constexpr std::size_t typeBits = 18; // the import type and the name type
constexpr std::size_t size = 20;
} // namespace importHeader

// An import member's type, and how its name is made: the IMPORT_OBJECT_TYPE
// and IMPORT_OBJECT_NAME_TYPE values read here.
constexpr unsigned importData = 1;
constexpr unsigned importConst = 2;
constexpr unsigned importNameOrdinal = 0;

// Whether view starts with a short import header.
bool isImportObject(View view);

struct ImportFields {
    std::uint16_t machine = 0;
    std::uint32_t timeStamp = 0;
    std::uint32_t dataSize = 0;
    std::uint16_t ordinalOrHint = 0;
    unsigned type = 0;     // code, data, const
    unsigned nameType = 0; // ordinal, name, no prefix, undecorate, export-as
    std::string symbol;
    std::string dll;
    std::string exportAs;
    bool namesComplete = false; // both names there and terminated
    std::vector<std::string> problems;
};

// The fields of the import object view holds, with what is wrong with them.
ImportFields readImportObject(View view);

// The name the DLL exports for an import member, from the symbol name and
// the name type.
std::string exportedName(const ImportFields& f);

// The fields of a short import member (or of a file that is one).
void listImportObject(View view, Output& out, const Options& options);

// A file that is one short import member.
std::unique_ptr<ListedFile> recogniseImportObject(View file, const Options& options);

} // namespace tdump
