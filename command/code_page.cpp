#include "code_page.h"

namespace quellan {

const CodePage& CodePage::cp932()
{
    static const CodePage codePage = [] {
        LeadBytes lead;
        for (unsigned byte = 0x81; byte <= 0xFC; ++byte) {
            lead[byte] = byte <= 0x9F || byte >= 0xE0;
        }
        return CodePage(lead);
    }();
    return codePage;
}

std::size_t CodePage::characterLength(std::string_view text, std::size_t index) const
{
    const bool pair = index + 1 < text.size() &&
                      isLeadByte(static_cast<unsigned char>(text[index])) &&
                      isTrailByte(static_cast<unsigned char>(text[index + 1]));
    return pair ? 2 : 1;
}

std::size_t CodePage::characterCount(std::string_view text) const
{
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); i += characterLength(text, i)) {
        ++count;
    }
    return count;
}

std::string_view CodePage::lastCharacter(std::string_view text) const
{
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); i += characterLength(text, i)) {
        start = i;
    }
    return text.substr(start);
}

std::string CodePage::upperCaseSingleByte(std::string_view text) const
{
    std::string result(text);
    for (std::size_t i = 0; i < result.size(); i += characterLength(result, i)) {
        if (result[i] >= 'a' && result[i] <= 'z') {
            result[i] = static_cast<char>(result[i] - 'a' + 'A');
        }
    }
    return result;
}

bool CodePage::containsSingleByteOf(std::string_view text, std::string_view chars) const
{
    for (std::size_t i = 0; i < text.size(); i += characterLength(text, i)) {
        if (characterLength(text, i) == 1 && chars.find(text[i]) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> CodePage::split(std::string_view text, char separator) const
{
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); i += characterLength(text, i)) {
        if (text[i] == separator) {
            pieces.emplace_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    pieces.emplace_back(text.substr(start));
    return pieces;
}

} // namespace quellan
