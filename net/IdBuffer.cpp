#include "net/IdBuffer.h"

#include "host/Stream.h"
#include "net/IdExceptionCore.h"
#include "net/IdStack.h"

#include <algorithm>
#include <cstring>
#include <limits>

TIdBuffer::TIdBuffer() {
    AcquireStack();
}

TIdBuffer::~TIdBuffer() {
    ReleaseStack();
}

void TIdBuffer::DiscardAll() {
    // A released block of receive size is kept aside for the next receive (see
    // TakeSpareBlock); anything larger is freed, so memory stays flat.
    constexpr std::size_t kLargestSpare = 64 * 1024;
    if (storage_.capacity() <= kLargestSpare) spare_.swap(storage_);
    TIdBytes().swap(storage_);
    frontOffset_ = 0;
    pending_ = 0;
}

TIdBytes TIdBuffer::TakeSpareBlock() {
    TIdBytes block;
    block.swap(spare_);
    return block;
}

void TIdBuffer::AppendBytes(const TIdBytes& block) {
    TIdBytes copy(block);
    AppendBytes(std::move(copy));
}

void TIdBuffer::AppendBytes(TIdBytes&& block) {
    const auto size = static_cast<std::int32_t>(
        std::min<std::size_t>(block.size(), std::numeric_limits<std::int32_t>::max()));
    if (static_cast<std::size_t>(size) != block.size()) throw EIdTooMuchDataInBuffer();
    AppendBytes(std::move(block), size);
}

void TIdBuffer::AppendBytes(TIdBytes&& block, std::int32_t count) {
    if (count < 0 || static_cast<std::size_t>(count) > block.size()) throw ERangeError();
    const std::int64_t length = count;
    if (std::numeric_limits<std::int32_t>::max() - length < pending_)
        throw EIdTooMuchDataInBuffer();
    if (pending_ == 0) {
        frontOffset_ = 0;
        storage_ = std::move(block);
        pending_ = static_cast<std::int32_t>(length);
        return;
    }
    // Room is made only when the block does not fit behind the pending bytes,
    // and the storage at least doubles: many small blocks behind a large queue
    // then cost time in proportion to their bytes, not to the queue's size.
    if (Capacity() - pending_ - frontOffset_ < length) {
        Compact(false);
        if (Capacity() - pending_ < length) {
            const std::int64_t wanted = std::max<std::int64_t>(pending_ + length + growthStep_,
                                                               2 * std::int64_t{Capacity()});
            const std::int64_t largest = std::numeric_limits<std::int32_t>::max();
            storage_.resize(static_cast<std::size_t>(std::min(wanted, largest)));
        }
    }
    if (length > 0)
        std::memcpy(storage_.data() + frontOffset_ + pending_, block.data(),
                    static_cast<std::size_t>(length));
    pending_ += static_cast<std::int32_t>(length);
}

void TIdBuffer::DropFront(std::int32_t count) {
    if (count < 0) throw ERangeError(); // would move the front before the storage
    if (count >= pending_) {
        DiscardAll();
    } else {
        frontOffset_ += count;
        pending_ -= count;
        // Compacting moves the pending bytes: done only once more bytes were
        // taken than remain, every byte is moved a bounded number of times
        // however small the pieces taken (a chunked body of one-byte chunks).
        if (frontOffset_ > growthStep_ && frontOffset_ >= pending_) Compact(true);
    }
    if (OnBytesTaken) OnBytesTaken(*this, count);
}

void TIdBuffer::Compact(bool shrink) {
    if (frontOffset_ == 0) return;
    if (pending_ > 0)
        std::memmove(storage_.data(), storage_.data() + frontOffset_,
                     static_cast<std::size_t>(pending_));
    frontOffset_ = 0;
    if (shrink && Capacity() - pending_ > growthStep_) {
        storage_.resize(static_cast<std::size_t>(pending_ + growthStep_));
    }
}

void TIdBuffer::CheckEnough(std::int32_t count) const {
    if (count > pending_)
        throw EIdNotEnoughDataInBuffer(
            Format("Not enough data in buffer. (%d/%d)", count, pending_));
}

void TIdBuffer::ExtractBytes(TIdBytes& target, std::int32_t count, bool append) {
    if (count == -1) count = pending_;
    if (count < 1) return;
    CheckEnough(count);
    std::size_t at = 0;
    if (append) {
        at = target.size();
        target.resize(at + static_cast<std::size_t>(count));
    } else if (target.size() < static_cast<std::size_t>(count)) {
        target.resize(static_cast<std::size_t>(count));
    }
    std::memcpy(target.data() + at, storage_.data() + frontOffset_,
                static_cast<std::size_t>(count));
    DropFront(count);
}

std::string TIdBuffer::ExtractText(std::int32_t count) {
    if (count == -1) count = pending_;
    if (count < 1) return {};
    TIdBytes bytes;
    ExtractBytes(bytes, count, true);
    return BytesToString(bytes);
}

void TIdBuffer::MoveToStream(TStream& stream, std::int32_t count) {
    if (count < -1) throw ERangeError();
    if (count == -1) count = pending_;
    CheckEnough(count);
    if (count > 0) stream.WriteBuffer(storage_.data() + frontOffset_, count);
    DropFront(count);
}

std::int32_t TIdBuffer::FindBytes(const TIdBytes& pattern, std::int32_t start) const {
    if (pending_ == 0) return -1;
    if (pattern.empty()) throw EIdException("Buffer terminator must be specified.");
    if (start < 0 || start >= pending_) throw EIdException("Buffer start position is invalid.");
    const auto plen = static_cast<std::int32_t>(pattern.size());
    const std::uint8_t* front = storage_.data() + frontOffset_;
    for (std::int32_t p = start; p <= pending_ - plen; ++p) {
        if (std::memcmp(front + p, pattern.data(), static_cast<std::size_t>(plen)) == 0) return p;
    }
    return -1;
}

std::int32_t TIdBuffer::FindText(const std::string& pattern, std::int32_t start) const {
    return FindBytes(ToBytes(pattern), start);
}
