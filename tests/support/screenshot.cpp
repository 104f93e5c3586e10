#include "screenshot.h"

#include <array>
#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace quellan::test {
namespace {

std::uint32_t crc32(const unsigned char* data, std::size_t size, std::uint32_t crc = 0)
{
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) {
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}

void putBigEndian(std::vector<unsigned char>& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<unsigned char>(value >> shift));
    }
}

void writeChunk(std::ofstream& file, const char* type, const std::vector<unsigned char>& data)
{
    std::vector<unsigned char> chunk;
    putBigEndian(chunk, static_cast<std::uint32_t>(data.size()));
    chunk.insert(chunk.end(), type, type + 4);
    chunk.insert(chunk.end(), data.begin(), data.end());
    putBigEndian(chunk, crc32(chunk.data() + 4, chunk.size() - 4));
    file.write(reinterpret_cast<const char*>(chunk.data()),
               static_cast<std::streamsize>(chunk.size()));
}

} // namespace

void writePng(const std::string& path, int width, int height, const unsigned char* bgr, int stride)
{
    // Scanlines with filter byte 0, in RGB order.
    std::vector<unsigned char> raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        const unsigned char* row =
            bgr + static_cast<std::ptrdiff_t>(y) * static_cast<std::ptrdiff_t>(stride);
        for (int x = 0; x < width; ++x) {
            const std::ptrdiff_t pixel = 3 * static_cast<std::ptrdiff_t>(x);
            raw.push_back(row[pixel + 2]);
            raw.push_back(row[pixel + 1]);
            raw.push_back(row[pixel]);
        }
    }
    // A zlib stream of stored (uncompressed) blocks: no compressor needed.
    std::vector<unsigned char> zlib{0x78, 0x01};
    std::uint32_t a = 1, b = 0;
    for (std::size_t offset = 0; offset < raw.size() || offset == 0;) {
        const std::size_t length = std::min<std::size_t>(65535, raw.size() - offset);
        const bool last = offset + length == raw.size();
        zlib.push_back(last ? 1 : 0);
        zlib.push_back(static_cast<unsigned char>(length));
        zlib.push_back(static_cast<unsigned char>(length >> 8));
        zlib.push_back(static_cast<unsigned char>(~length));
        zlib.push_back(static_cast<unsigned char>(~length >> 8));
        zlib.insert(zlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(offset),
                    raw.begin() + static_cast<std::ptrdiff_t>(offset + length));
        for (std::size_t i = offset; i < offset + length; ++i) {
            a = (a + raw[i]) % 65521;
            b = (b + a) % 65521;
        }
        offset += length;
        if (last) {
            break;
        }
    }
    putBigEndian(zlib, (b << 16) | a);

    std::vector<unsigned char> header;
    putBigEndian(header, static_cast<std::uint32_t>(width));
    putBigEndian(header, static_cast<std::uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8-bit RGB

    std::ofstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
    file.write("\x89PNG\r\n\x1A\n", 8);
    writeChunk(file, "IHDR", header);
    writeChunk(file, "IDAT", zlib);
    writeChunk(file, "IEND", {});
}

WindowPixels::WindowPixels(HWND window) : window_(window)
{
    GetWindowRect(window, &bounds_);
    const int width = bounds_.right - bounds_.left;
    const int height = bounds_.bottom - bounds_.top;
    stride_ = (width * 3 + 3) & ~3;

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, bounds_.left, bounds_.top, SRCCOPY);
    GdiFlush();
    const auto* first = static_cast<const unsigned char*>(bits);
    bgr_.assign(first, first + static_cast<std::ptrdiff_t>(stride_) * height);
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

COLORREF WindowPixels::at(int x, int y) const
{
    POINT point{x, y};
    ClientToScreen(window_, &point);
    const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(point.y - bounds_.top) * stride_ +
                                  3 * static_cast<std::ptrdiff_t>(point.x - bounds_.left);
    if (point.x < bounds_.left || point.x >= bounds_.right || point.y < bounds_.top ||
        point.y >= bounds_.bottom) {
        throw std::out_of_range("a point outside the window");
    }
    return RGB(bgr_[static_cast<std::size_t>(offset + 2)],
               bgr_[static_cast<std::size_t>(offset + 1)], bgr_[static_cast<std::size_t>(offset)]);
}

bool WindowPixels::contains(const RECT& area, COLORREF colour) const
{
    RECT client;
    GetClientRect(window_, &client);
    RECT shown;
    IntersectRect(&shown, &area, &client);
    for (int y = shown.top; y < shown.bottom; ++y) {
        for (int x = shown.left; x < shown.right; ++x) {
            if (at(x, y) == colour) {
                return true;
            }
        }
    }
    return false;
}

std::string WindowPixels::save(const std::string& name) const
{
    char folder[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("QUELLAN_SCREENSHOT_DIR", folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    CreateDirectoryA(folder, nullptr);
    std::string path = std::string(folder) + "\\" + name + ".png";
    writePng(path, bounds_.right - bounds_.left, bounds_.bottom - bounds_.top, bgr_.data(),
             stride_);
    return path;
}

std::string saveScreenshot(HWND window, const std::string& name)
{
    return WindowPixels(window).save(name);
}

} // namespace quellan::test
