#pragma once

#include <memory>

#include "listed_file.h"

namespace tdump {

// An LE or LX executable: an MS-DOS stub whose e_lfanew leads to "LE" or "LX".
std::unique_ptr<ListedFile> recogniseLinearExecutable(View file, const Options& options);

} // namespace tdump
