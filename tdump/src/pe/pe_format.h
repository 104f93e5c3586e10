#pragma once

#include <memory>

#include "listed_file.h"

namespace tdump {

// A PE image (EXE, DLL): an MS-DOS header whose e_lfanew leads to "PE\0\0".
std::unique_ptr<ListedFile> recognisePeImage(View file, const Options& options);

} // namespace tdump
