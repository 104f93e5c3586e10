#include "file_identity.h"

#include <array>
#include <cstdlib>

#ifdef _WIN32
#include "text.h"
#else
#include <sys/stat.h>
#endif

namespace tdump {

#ifdef _WIN32

namespace {

// The full path with '/' as '\' and single-byte letters upper-cased; the
// trail byte of a double-byte character is kept as it is, since it may look
// like a letter or a backslash. A lead byte without a trail byte after it
// is a character of its own.
std::string canonical(const std::string& name)
{
    std::array<char, 4096> buffer{};
    const char* full = _fullpath(buffer.data(), name.c_str(), buffer.size());
    std::string path = full != nullptr ? std::string(full) : name;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto byte = static_cast<unsigned char>(path[i]);
        if (cp932::startsDoubleByte(path, i)) {
            ++i;
        } else if (byte >= 'a' && byte <= 'z') {
            path[i] = static_cast<char>(byte - 'a' + 'A');
        } else if (byte == '/') {
            path[i] = '\\';
        }
    }
    return path;
}

} // namespace

bool sameFile(const std::string& first, const std::string& second)
{
    return canonical(first) == canonical(second);
}

#else

bool sameFile(const std::string& first, const std::string& second)
{
    struct stat a {};
    struct stat b {};
    if (stat(first.c_str(), &a) != 0 || stat(second.c_str(), &b) != 0) {
        return false;
    }
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

#endif

} // namespace tdump
