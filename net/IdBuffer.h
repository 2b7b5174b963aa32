#pragma once
// First-in, first-out byte queue. Bytes are appended at the end and taken from
// the front; taking moves only the front offset, and the storage is compacted
// and trimmed only from time to time (growth step 2048). A block appended to an
// empty queue becomes the storage itself, without a copy.

#include "net/IdGlobal.h"

#include <cstdint>
#include <functional>
#include <string>

class TStream;

class TIdBuffer {
public:
    using TBytesTakenEvent = std::function<void(TIdBuffer& sender, std::int32_t count)>;

    TIdBuffer();
    ~TIdBuffer();
    TIdBuffer(const TIdBuffer&) = delete;
    TIdBuffer& operator=(const TIdBuffer&) = delete;

    std::int32_t Size() const { return pending_; }
    std::int32_t Capacity() const { return static_cast<std::int32_t>(storage_.size()); }
    std::int32_t FrontOffset() const { return frontOffset_; }
    std::int32_t GrowthStep() const { return growthStep_; }
    const std::uint8_t* StorageData() const { return storage_.data(); }

    void DiscardAll();
    // Takes ownership of the block's bytes (moved from when the queue is empty).
    void AppendBytes(TIdBytes&& block);
    // The same for the first length bytes of block: a block moved in keeps its
    // size, so that as the next spare it needs no clearing to be filled again.
    void AppendBytes(TIdBytes&& block, std::int32_t length);
    void AppendBytes(const TIdBytes& block);
    // Raises EIdNotEnoughDataInBuffer when count exceeds the pending bytes.
    void ExtractBytes(TIdBytes& target, std::int32_t count = -1, bool append = true);
    std::string ExtractText(std::int32_t count = -1);
    // Raises EWriteError when the stream does not take every byte.
    void MoveToStream(TStream& stream, std::int32_t count = -1);
    void DropFront(std::int32_t count);
    void Compact(bool shrink);
    // Position from the front of the first match at or after start, or -1.
    std::int32_t FindBytes(const TIdBytes& pattern, std::int32_t start = 0) const;
    std::int32_t FindText(const std::string& pattern, std::int32_t start = 0) const;
    std::uint8_t PeekByte(std::int32_t index) const { return storage_[frontOffset_ + index]; }
    // The storage the last DiscardAll released, for reuse as a receive block:
    // reusing it saves allocating and clearing a block for every receive.
    TIdBytes TakeSpareBlock();

    TBytesTakenEvent OnBytesTaken;

private:
    void CheckEnough(std::int32_t count) const;

    TIdBytes storage_;
    TIdBytes spare_;
    std::int32_t frontOffset_ = 0;
    std::int32_t pending_ = 0;
    std::int32_t growthStep_ = 2048;
};
