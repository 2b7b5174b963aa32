#include "host/FileStream.h"
#include "host/SystemError.h"
#include "host/windows/WideText.h"

#include <windows.h>

#include <algorithm>

namespace {

HANDLE Native(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// Share modes by the mode's sharing bits (0x00 to 0x40); the default shares nothing.
DWORD ShareMode(std::uint16_t mode) {
    switch (mode & 0xF0) {
    case 0x20:
        return FILE_SHARE_READ;
    case 0x30:
        return FILE_SHARE_WRITE;
    case 0x40:
        return FILE_SHARE_READ | FILE_SHARE_WRITE;
    default:
        return 0;
    }
}

// The largest piece one ReadFile or WriteFile call moves.
constexpr std::int64_t kMaxPiece = 1 << 30;

} // namespace

TFileStream::TFileStream(const std::string& fileName, std::uint16_t mode,
                         const std::string& displayName)
    : fileName_(fileName), handle_(reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE)) {
    const bool create = mode == fmCreate;
    DWORD access = GENERIC_READ;
    if (create || (mode & 3) == fmOpenReadWrite)
        access = GENERIC_READ | GENERIC_WRITE;
    else if ((mode & 3) == fmOpenWrite)
        access = GENERIC_WRITE;
    const HANDLE file =
        ::CreateFileW(Utf8ToWide(fileName).c_str(), access, create ? 0 : ShareMode(mode), nullptr,
                      create ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const std::uint32_t error = ::GetLastError();
        const std::string shown = displayName.empty() ? ExpandFileName(fileName) : displayName;
        const std::string text = SystemErrorText(error);
        if (create) throw EFCreateError("Cannot create file \"" + shown + "\". " + text);
        throw EFOpenError("Cannot open file \"" + shown + "\". " + text);
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
}

TFileStream::TFileStream(std::intptr_t handle, const std::string& fileName)
    : fileName_(fileName), handle_(handle) {}

std::uint32_t TFileStream::FlushToDisk() {
    return ::FlushFileBuffers(Native(handle_)) ? 0 : ::GetLastError();
}

TFileStream::~TFileStream() {
    if (Native(handle_) != INVALID_HANDLE_VALUE) ::CloseHandle(Native(handle_));
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
    std::int64_t done = 0;
    auto* p = static_cast<char*>(buffer);
    while (done < count) {
        DWORD got = 0;
        const auto piece = static_cast<DWORD>(std::min(count - done, kMaxPiece));
        if (!::ReadFile(Native(handle_), p + done, piece, &got, nullptr) || got == 0) break;
        done += got;
    }
    return done;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
    std::int64_t done = 0;
    const auto* p = static_cast<const char*>(buffer);
    while (done < count) {
        DWORD put = 0;
        const auto piece = static_cast<DWORD>(std::min(count - done, kMaxPiece));
        if (!::WriteFile(Native(handle_), p + done, piece, &put, nullptr)) {
            writeError_ = ::GetLastError();
            break;
        }
        if (put == 0) break;
        done += put;
    }
    return done;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    const DWORD method = origin == TSeekOrigin::soBeginning ? FILE_BEGIN
                         : origin == TSeekOrigin::soCurrent ? FILE_CURRENT
                                                            : FILE_END;
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER position;
    if (!::SetFilePointerEx(Native(handle_), distance, &position, method)) return -1;
    return position.QuadPart;
}

void TFileStream::SetSize(std::int64_t size) {
    Seek(size, TSeekOrigin::soBeginning);
    if (!::SetEndOfFile(Native(handle_))) throw EOSError(::GetLastError());
}

std::string ExpandFileName(const std::string& path) {
    const std::wstring wide = Utf8ToWide(path);
    const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return path;
    full.resize(length);
    return WideToUtf8(full);
}
