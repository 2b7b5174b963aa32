#include "host/SequentialFile.h"

#include "host/SystemError.h"

std::int64_t TSequentialFile::Write(const void* buffer, std::int64_t count) {
    std::int64_t done = 0;
    const auto* p = static_cast<const char*>(buffer);
    while (done < count) {
        const std::int64_t n = write_(p + done, count - done);
        if (n < 0) writeError_ = LastSystemError();
        if (n <= 0) break;
        done += n;
    }
    written_ += done;
    return done;
}

std::int64_t TSequentialFile::Seek(std::int64_t offset, TSeekOrigin origin) {
    return offset == 0 && origin != TSeekOrigin::soBeginning ? written_ : -1;
}
