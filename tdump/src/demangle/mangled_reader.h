#pragma once

// The cursor both demanglers read a mangled name with: look-ahead, the
// consumption of expected text, a failure flag, and a bound on recursion,
// so that a hostile name fails cleanly instead of exhausting the stack.

#include <cstddef>
#include <string_view>

namespace tdump {

class MangledReader {
protected:
    MangledReader(std::string_view text, int maxDepth) : s_(text), maxDepth_(maxDepth) {}

    // One level of recursion for its lifetime; one too many fails the parse.
    class Depth {
    public:
        explicit Depth(MangledReader& reader) : reader_(reader)
        {
            if (++reader_.depth_ > reader_.maxDepth_) {
                reader_.failed_ = true;
            }
        }
        ~Depth() { --reader_.depth_; }
        Depth(const Depth&) = delete;
        Depth& operator=(const Depth&) = delete;

    private:
        MangledReader& reader_;
    };

    char peek(std::size_t ahead = 0) const
    {
        return pos_ + ahead < s_.size() ? s_[pos_ + ahead] : '\0';
    }
    bool consume(char c)
    {
        if (peek() == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool consume(std::string_view text)
    {
        if (s_.substr(pos_, text.size()) == text) {
            pos_ += text.size();
            return true;
        }
        return false;
    }
    bool atEnd() const { return pos_ >= s_.size(); }
    void fail() { failed_ = true; }

    std::string_view s_;
    std::size_t pos_ = 0;
    bool failed_ = false;

private:
    int depth_ = 0;
    int maxDepth_;
};

} // namespace tdump
