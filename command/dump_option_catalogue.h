#pragma once

#include <array>
#include <string>
#include <string_view>

namespace quellan {

// One row of the catalogue: what its option button shows and what it passes.
struct DumpOption {
    int row;                     // 1..28, the N-th option button
    std::string_view switchForm; // the switch as shown, placeholders included
    std::string_view description;
    std::string_view passedSwitch; // the text written into the dump command
};

// The fixed list of the 28 dump switches, in the order of the option buttons.
class DumpOptionCatalogue {
public:
    static constexpr int rowCount = 28;
    static constexpr int defaultRow = 15;

    // Iteration in row order 1..28.
    static const DumpOption* begin();
    static const DumpOption* end();

    // The row's button caption: the switch form in a field of 8, then the description.
    static std::string caption(int row);
    static std::string_view passedSwitch(int row);
    static std::string_view defaultSwitch();

private:
    static const DumpOption& at(int row);
};

} // namespace quellan
