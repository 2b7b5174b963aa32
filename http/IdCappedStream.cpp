#include "http/IdCappedStream.h"

#include <algorithm>
#include <cstring>

std::int64_t TIdCappedStream::Read(void* buffer, std::int64_t count) {
    const auto stored = static_cast<std::int64_t>(data_.size());
    if (count <= 0 || position_ < 0 || position_ >= stored) return 0;
    const std::int64_t n = std::min(count, stored - position_);
    std::memcpy(buffer, data_.data() + position_, static_cast<std::size_t>(n));
    position_ += n;
    return n;
}

std::int64_t TIdCappedStream::Write(const void* buffer, std::int64_t count) {
    if (count <= 0 || position_ < 0) return 0;
    if (position_ < cap_) {
        const std::int64_t keep = std::min(count, cap_ - position_);
        const auto end = static_cast<std::size_t>(position_ + keep);
        if (data_.size() < end) data_.resize(end, '\0');
        std::memcpy(data_.data() + position_, buffer, static_cast<std::size_t>(keep));
    }
    position_ += count;
    size_ = std::max(size_, position_);
    return count;
}

std::int64_t TIdCappedStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    const std::int64_t target = SeekTarget(offset, origin, position_, size_);
    if (target >= 0) position_ = target;
    return target;
}

void TIdCappedStream::SetSize(std::int64_t size) {
    size_ = std::max<std::int64_t>(size, 0);
    if (static_cast<std::int64_t>(data_.size()) > size_)
        data_.resize(static_cast<std::size_t>(size_));
}
