#pragma once

// ARM64 function unwind data: the packed form a .pdata entry holds itself,
// and the .xdata record an entry points at. Images and objects both list
// them; an object's records name what its relocations fill in.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "bytes.h"
#include "output.h"

namespace tdump::arm64 {

// Whether the second word of a .pdata entry holds packed unwind data (its
// low two bits, the flag, are not 0) rather than the RVA of an .xdata record.
inline bool isPacked(std::uint32_t unwindWord)
{
    return (unwindWord & 3u) != 0;
}

// The packed unwind data of a .pdata entry: its fields, then the prologue
// they stand for. fileOffset locates the word for reports.
void listPacked(Output& out, std::uint32_t unwindWord, std::uint64_t fileOffset);

// The symbol a relocation puts into the 32-bit field at an offset of the
// .xdata record; empty when none does (always so in an image).
using FieldName = std::function<std::string(std::uint64_t offset)>;

// The .xdata record at the start of record (which runs to the end of its
// section): header, epilogue scopes, unwind codes and the exception
// handler. rva places the record in an image (for the handler data's
// address); an object passes nullopt and names the handler by its symbol.
void listRecord(Output& out, View record, std::optional<std::uint32_t> rva,
                const FieldName& fieldName);

} // namespace tdump::arm64
