#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace quellan::test {

// What the screen shows of a window (frame included), taken once.
class WindowPixels {
public:
    explicit WindowPixels(HWND window);
    // The colour at a point of the window's client area.
    COLORREF at(int x, int y) const;
    // Whether any point of a client-area rectangle (as far as the client
    // area shows it) has colour.
    bool contains(const RECT& area, COLORREF colour) const;
    // Writes the pixels as a PNG file in the folder named by
    // QUELLAN_SCREENSHOT_DIR; its path, or empty when no folder is set.
    std::string save(const std::string& name) const;

private:
    HWND window_;
    RECT bounds_{};
    int stride_ = 0;
    std::vector<unsigned char> bgr_; // rows top-down, blue, green, red
};

// Copies what the screen shows of a window (frame included) into a PNG file
// in the folder named by QUELLAN_SCREENSHOT_DIR; returns the file's path, or
// an empty string when no folder is set.
std::string saveScreenshot(HWND window, const std::string& name);

// Writes 24-bit pixels (rows top-down, each pixel blue, green, red) as PNG.
void writePng(const std::string& path, int width, int height, const unsigned char* bgr, int stride);

} // namespace quellan::test
