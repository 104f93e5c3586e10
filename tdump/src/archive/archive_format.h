#pragma once

#include <memory>

#include "listed_file.h"

namespace tdump {

// An archive library ("!<arch>"): a static or an import library.
std::unique_ptr<ListedFile> recogniseArchive(View file, const Options& options);

} // namespace tdump
