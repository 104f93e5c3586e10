#pragma once

#include <memory>

#include "coff/coff.h"
#include "listed_file.h"

namespace tdump {

// A COFF object file, in the plain or the extended ("bigobj") format.
std::unique_ptr<ListedFile> recogniseCoffObject(View file, const Options& options);

// The COFF display of an object or of an image's COFF part: file header,
// sections with their relocations and line numbers, symbols.
void listCoffDisplay(const CoffFile& coff, Output& out, const Options& options);

// -o on a file recognised as no object: read as one all the same.
void listForcedCoffDisplay(View file, Output& out, const Options& options);

} // namespace tdump
