#pragma once

#include <memory>

#include "listed_file.h"

namespace tdump {

// A file no format takes: shown in hex, and as a COFF object when -o asks.
std::unique_ptr<ListedFile> unknownFile(View file);

} // namespace tdump
