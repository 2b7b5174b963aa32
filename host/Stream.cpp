#include "host/Stream.h"

#include <algorithm>
#include <cstring>

std::int64_t TStream::Size() {
    const std::int64_t position = Seek(0, TSeekOrigin::soCurrent);
    const std::int64_t size = Seek(0, TSeekOrigin::soEnd);
    Seek(position, TSeekOrigin::soBeginning);
    return size;
}

std::int64_t TStream::SeekTarget(std::int64_t offset, TSeekOrigin origin, std::int64_t position,
                                 std::int64_t size) {
    const std::int64_t base = origin == TSeekOrigin::soBeginning ? 0
                              : origin == TSeekOrigin::soCurrent ? position
                                                                 : size;
    return base + offset < 0 ? -1 : base + offset;
}

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
    if (count != 0 && Read(buffer, count) != count) throw EReadError();
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
    if (count != 0 && Write(buffer, count) != count) throw EWriteError();
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
    const std::int64_t size = Size();
    if (count <= 0 || position_ >= size) return 0;
    const std::int64_t n = std::min(count, size - position_);
    std::memcpy(buffer, data_.data() + position_, static_cast<std::size_t>(n));
    position_ += n;
    return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
    if (count <= 0 || position_ < 0) return 0;
    const auto end = static_cast<std::size_t>(position_ + count);
    if (end > data_.size()) data_.resize(end);
    std::memcpy(data_.data() + position_, buffer, static_cast<std::size_t>(count));
    position_ += count;
    return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    const std::int64_t target = SeekTarget(offset, origin, position_, Size());
    if (target >= 0) position_ = target;
    return target;
}

void TMemoryStream::SetSize(std::int64_t size) {
    data_.resize(static_cast<std::size_t>(std::max<std::int64_t>(size, 0)));
    if (position_ > size) position_ = size;
}

void TMemoryStream::Clear() {
    data_.clear();
    position_ = 0;
}

TStringStream::TStringStream(const std::string& text) {
    if (!text.empty()) {
        Write(text.data(), static_cast<std::int64_t>(text.size()));
        SetPosition(0);
    }
}
