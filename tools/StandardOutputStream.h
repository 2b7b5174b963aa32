#pragma once
// Standard output as the sink of a download ("vykget URL -"): written in
// order, never sought. The position is the count written; a seek or a size
// change that would move it back cannot be done and is refused.

#include "host/Stream.h"

class TStandardOutputStream : public TStream {
public:
    std::int64_t Read(void*, std::int64_t) override { return 0; }
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    void SetSize(std::int64_t size) override;
    std::int64_t Size() override { return written_; }

private:
    std::int64_t written_ = 0;
};
