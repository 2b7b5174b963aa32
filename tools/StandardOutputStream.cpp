#include "tools/StandardOutputStream.h"

#include "host/Console.h"

std::int64_t TStandardOutputStream::Write(const void* buffer, std::int64_t count) {
    if (count <= 0) return 0;
    if (!WriteToStandardOutput(buffer, static_cast<std::size_t>(count))) return 0;
    written_ += count;
    return count;
}

std::int64_t TStandardOutputStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    const std::int64_t target = SeekTarget(offset, origin, written_, written_);
    return target == written_ ? written_ : -1;
}

// Room made ahead of a body is nothing to do; bytes already out cannot be taken back.
void TStandardOutputStream::SetSize(std::int64_t size) {
    if (size < written_) throw EWriteError();
}
