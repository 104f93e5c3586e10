#pragma once

// Work done for a listing is bounded: every byte written and every table
// entry read is charged, and walks stop once the budget is spent. A real
// file never comes near its budget; a forged one whose tables all point at
// the same bytes would otherwise run for hours.

#include <cstdint>

namespace tdump {

class WorkBudget {
public:
    static constexpr std::uint64_t unlimited = ~std::uint64_t{0};

    explicit WorkBudget(std::uint64_t limit = unlimited) : limit_(limit) {}

    void charge(std::uint64_t units) { spent_ += units; }
    bool exhausted() const { return spent_ > limit_; }
    std::uint64_t limit() const { return limit_; }

private:
    std::uint64_t limit_;
    std::uint64_t spent_ = 0;
};

// What reading one table entry costs.
constexpr std::uint64_t entryCost = 8;

} // namespace tdump
