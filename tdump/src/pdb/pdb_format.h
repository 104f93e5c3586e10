#pragma once

#include <memory>

#include "listed_file.h"

namespace tdump {

// A program database (PDB) in the MSF 7.00 container.
std::unique_ptr<ListedFile> recogniseProgramDatabase(View file, const Options& options);

} // namespace tdump
