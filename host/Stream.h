#pragma once
// Byte streams: the download target (a file), and the in-memory streams that
// hold error and redirect bodies.

#include "host/Exception.h"

#include <cstdint>
#include <string>
#include <vector>

VYK_DECLARE_EXCEPTION(EStreamError, Exception);
VYK_DECLARE_EXCEPTION(EFCreateError, EStreamError);
VYK_DECLARE_EXCEPTION(EFOpenError, EStreamError);

VYK_DECLARE_EXCEPTION_TEXT(EReadError, EStreamError, "Stream read error");
VYK_DECLARE_EXCEPTION_TEXT(EWriteError, EStreamError, "Stream write error");

enum class TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
public:
    virtual ~TStream() = default;
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    // Plain transfer: returns how many bytes moved, never raises for a short count.
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
    // New position, or -1 when the seek failed.
    virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
    virtual void SetSize(std::int64_t size) = 0;
    virtual std::int64_t Size();
    // The system's error number of the last write that fell short; 0 when none
    // did, or when the stream is not the system's.
    virtual std::uint32_t WriteError() const { return 0; }

    // Whole-buffer transfer: a short count raises EReadError / EWriteError.
    void ReadBuffer(void* buffer, std::int64_t count);
    void WriteBuffer(const void* buffer, std::int64_t count);

    std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(std::int64_t position) { Seek(position, TSeekOrigin::soBeginning); }

protected:
    // The position a seek leads to, or -1 for one before the start.
    static std::int64_t SeekTarget(std::int64_t offset, TSeekOrigin origin, std::int64_t position,
                                   std::int64_t size);
};

class TMemoryStream : public TStream {
public:
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    void SetSize(std::int64_t size) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }

    const std::vector<std::uint8_t>& Bytes() const { return data_; }
    std::string DataString() const { return std::string(data_.begin(), data_.end()); }
    void Clear();

private:
    std::vector<std::uint8_t> data_;
    std::int64_t position_ = 0;
};

// An in-memory stream whose content is read as an 8-bit text.
class TStringStream : public TMemoryStream {
public:
    explicit TStringStream(const std::string& text = {});
};
