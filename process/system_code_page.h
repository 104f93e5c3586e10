#pragma once

#include "code_page.h"

namespace quellan {

// The system's ANSI code page, in which file names, paths and environment
// values reach this program: its lead bytes as the system itself reports them.
CodePage systemCodePage();

} // namespace quellan
