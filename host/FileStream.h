#pragma once
// A stream over one operating-system file. Each platform supplies the file calls.

#include "host/Stream.h"

#include <cstdint>
#include <string>

constexpr std::uint16_t fmCreate = 0xFFFF;
constexpr std::uint16_t fmOpenRead = 0x0000;
constexpr std::uint16_t fmOpenWrite = 0x0001;
constexpr std::uint16_t fmOpenReadWrite = 0x0002;
// Combined with an open mode: nobody else may hold the file while the stream does.
constexpr std::uint16_t fmShareExclusive = 0x0010;
// Others may read and write the file while the stream holds it.
constexpr std::uint16_t fmShareDenyNone = 0x0040;

class TFileStream : public TStream {
public:
    // fmCreate makes a new file or truncates an existing one, opened for reading
    // and writing with no sharing. Failure raises EFCreateError (create) or
    // EFOpenError (open) naming displayName, or the full file name when empty.
    TFileStream(const std::string& fileName, std::uint16_t mode,
                const std::string& displayName = {});
    // Takes over a file opened for reading and writing; the stream closes it.
    TFileStream(std::intptr_t handle, const std::string& fileName);
    ~TFileStream() override;

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    // Raises EOSError when the file cannot take the new size.
    void SetSize(std::int64_t size) override;

    const std::string& FileName() const { return fileName_; }
    std::intptr_t Handle() const { return handle_; }
    // Gives the file its final size and waits until its bytes are on the disk.
    // Returns the system's error number, 0 on success.
    std::uint32_t FlushToDisk();
    std::uint32_t WriteError() const override { return writeError_; }

private:
    std::string fileName_;
    std::intptr_t handle_;
    // Kept by platforms that track the position and size themselves.
    std::int64_t position_ = 0;
    std::int64_t size_ = 0;
    std::int64_t diskSize_ = 0;
    std::uint32_t writeError_ = 0;
};

// The path as expanded against the current directory.
std::string ExpandFileName(const std::string& path);
