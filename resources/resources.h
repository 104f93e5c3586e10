#pragma once

// The resource identifiers and the version, in one place: read by the .rc
// files, by the code and by the build (the project's and the archive's
// version). Plain macros, for the resource compiler.

// The main icon has the lowest identifier, so Explorer shows it for the file.
#define QUELLAN_MAIN_ICON 1

#define QUELLAN_FILE_VERSION 1, 1, 1, 0
#define QUELLAN_FILE_VERSION_TEXT "1.1.1.0"
#define QUELLAN_PRODUCT_VERSION 1, 1, 0, 0
#define QUELLAN_PRODUCT_VERSION_TEXT "1.1 1999.12"
