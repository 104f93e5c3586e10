#pragma once

#include <memory>

#include "listed_file.h"

namespace tdump {

// An OMF library or object module; with -o, also a file recognised as
// nothing else whose first byte is an OMF record type.
std::unique_ptr<ListedFile> recogniseOmfFile(View file, const Options& options);

} // namespace tdump
