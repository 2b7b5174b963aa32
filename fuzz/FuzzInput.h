#pragma once
// Reads fuzzer input as a few setting bytes followed by the bytes under test.

#include <cstddef>
#include <cstdint>
#include <string>

namespace vykfuzz {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    // The next setting byte, or 0 once the input is used up.
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    // Up to the next NUL, or all that is left.
    std::string Text() {
        std::string text;
        while (at_ < size_ && data_[at_] != 0) text += static_cast<char>(data_[at_++]);
        if (at_ < size_) ++at_;
        return text;
    }
    std::string Rest() {
        std::string rest(reinterpret_cast<const char*>(data_) + at_, size_ - at_);
        at_ = size_;
        return rest;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Stops the fuzzer with a message when a property that must hold does not.
[[noreturn]] void Broken(const std::string& what);
inline void Require(bool holds, const std::string& what) {
    if (!holds) Broken(what);
}

} // namespace vykfuzz
