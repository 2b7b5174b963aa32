#pragma once
// An in-memory stream for bodies nobody keeps whole (error and redirect
// replies): it accepts every byte but stores only the first Cap of them, so a
// hostile server cannot make the client hold an unbounded body.

#include "host/Stream.h"

#include <string>

class TIdCappedStream : public TStream {
public:
    static constexpr std::int64_t DefaultCap = 64 * 1024;
    explicit TIdCappedStream(std::int64_t cap = DefaultCap) : cap_(cap) {}

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    void SetSize(std::int64_t size) override;
    std::int64_t Size() override { return size_; }

    // The stored bytes: the first Cap bytes of what was written.
    const std::string& DataString() const { return data_; }

private:
    std::int64_t cap_;
    std::int64_t size_ = 0;
    std::int64_t position_ = 0;
    std::string data_;
};
