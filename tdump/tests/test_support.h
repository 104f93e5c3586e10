#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tdump::test {

// The listing of bytes (named "image.bin") with these switches.
std::string listing(const std::vector<std::uint8_t>& bytes,
                    const std::vector<std::string>& switches);

// The heading's line for a switch as given: what it does for the file, or
// "no effect on ...: why"; empty when the heading does not mention it.
std::string switchLine(const std::string& listing, const std::string& text);

// The inline reports ("  ** ...") of a listing.
std::vector<std::string> reports(const std::string& listing);

// How a report ends that points at this file offset: "(at file offset 0x1A0)".
std::string hexOffset(std::size_t offset);

// Whether text contains (or lacks) part; on failure the text is shown.
::testing::AssertionResult Contains(const std::string& text, std::string_view part);
::testing::AssertionResult Lacks(const std::string& text, std::string_view part);

// A folder of its own for a test's files, removed afterwards.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    void write(const std::string& name, const std::vector<std::uint8_t>& bytes) const;
    void write(const std::string& name, const std::string& text) const;
    std::string read(const std::string& name) const;

private:
    std::filesystem::path path_;
};

} // namespace tdump::test
