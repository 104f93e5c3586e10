#pragma once

// One listing: detects the file's type, decides what each switch does for
// it, writes the heading and then the displays the switches ask for.

#include <string_view>

#include "bytes.h"
#include "options.h"
#include "output.h"

namespace tdump {

enum class FileKind { PeImage, DosExecutable, CoffObject, ImportObject, Archive, Unknown };

FileKind detectKind(View file);

void dumpFile(const Options& options, std::string_view fileName, Reader& reader, Output& out);

} // namespace tdump
