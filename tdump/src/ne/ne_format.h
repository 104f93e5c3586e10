#pragma once

#include <memory>

#include "listed_file.h"

namespace tdump {

// An NE image (16-bit Windows or OS/2 1.x): an MS-DOS stub whose e_lfanew
// leads to "NE".
std::unique_ptr<ListedFile> recogniseNeImage(View file, const Options& options);

} // namespace tdump
