#pragma once

#include <windows.h>

#include <string>

namespace quellan::test {

// Copies what the screen shows of a window (frame included) into a PNG file
// in the folder named by QUELLAN_SCREENSHOT_DIR; returns the file's path, or
// an empty string when no folder is set.
std::string saveScreenshot(HWND window, const std::string& name);

// Writes 24-bit pixels (rows top-down, each pixel blue, green, red) as PNG.
void writePng(const std::string& path, int width, int height, const unsigned char* bgr, int stride);

} // namespace quellan::test
