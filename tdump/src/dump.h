#pragma once

// One listing: recognises the file, decides what each switch does for it,
// writes the heading and then the displays the switches ask for.

#include <cstdint>
#include <memory>
#include <string_view>

#include "bytes.h"
#include "listed_file.h"
#include "options.h"
#include "output.h"

namespace tdump {

// The file as the first format of the recogniser list that takes it lists
// it; a file no format takes is listed as of unknown type.
std::unique_ptr<ListedFile> recognise(View file, const Options& options);

// The work a listing of a file of this size may do.
std::uint64_t listingWorkLimit(std::uint64_t fileSize);

// The listing of the file reader reads; it stops early, saying so, when the
// budget of out runs out.
void dumpFile(const Options& options, std::string_view fileName, Reader& reader, Output& out);

} // namespace tdump
