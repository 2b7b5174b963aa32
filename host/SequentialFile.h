#pragma once
// A stream over a FIFO, device or socket: it takes bytes in order only, so it
// has no positions and nothing to size. write moves some bytes and returns how
// many, 0 or less when it cannot (less than 0 with the system's error set).

#include "host/Stream.h"

#include <functional>

class TSequentialFile : public TStream {
public:
    using TWrite = std::function<std::int64_t(const void* buffer, std::int64_t count)>;
    TSequentialFile(TWrite write, std::function<void()> close)
        : write_(std::move(write)), close_(std::move(close)) {}
    ~TSequentialFile() override { close_(); }

    std::int64_t Read(void*, std::int64_t) override { return 0; }
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    void SetSize(std::int64_t) override {}
    std::int64_t Size() override { return written_; }
    std::uint32_t WriteError() const override { return writeError_; }

private:
    TWrite write_;
    std::function<void()> close_;
    std::int64_t written_ = 0;
    std::uint32_t writeError_ = 0;
};
