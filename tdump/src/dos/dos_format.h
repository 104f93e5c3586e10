#pragma once

#include <memory>

#include "listed_file.h"

namespace tdump {

// An MS-DOS executable: an MZ header that leads to no newer header tdump reads.
std::unique_ptr<ListedFile> recogniseDosExecutable(View file, const Options& options);

} // namespace tdump
