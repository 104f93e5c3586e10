#pragma once

// One place for the program's version, used by the version resource.
#define QUELLAN_FILE_VERSION 1, 1, 1, 0
#define QUELLAN_FILE_VERSION_TEXT "1.1.1.0"
#define QUELLAN_PRODUCT_VERSION 1, 1, 0, 0
#define QUELLAN_PRODUCT_VERSION_TEXT "1.1 1999.12"
