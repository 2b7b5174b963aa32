#include "host/FileReplacement.h"

#include "host/FileStream.h"
#include "host/InterruptCleanup.h"
#include "host/SystemError.h"
#include "host/windows/WideText.h"

#include <windows.h>

#include <algorithm>

struct TFileReplacement::TImpl {
    ~TImpl() {
        if (hold != INVALID_HANDLE_VALUE) ::CloseHandle(hold);
    }
    bool existed = false;
    DWORD attributes = INVALID_FILE_ATTRIBUTES; // the old file's
    HANDLE hold = INVALID_HANDLE_VALUE;         // the old file, open for writing with no sharing
};

void TFileReplacement::TImplDeleter::operator()(TImpl* impl) const {
    delete impl;
}

const char* TFileReplacement::Separators() {
    return "\\/:";
}

// A link on Windows is replaced as the file it is; reparse points are left to the system.
void TFileReplacement::FindTarget(bool writeSpecialInPlace) {
    impl_.reset(new TImpl);
    impl_->attributes = ::GetFileAttributesW(Utf8ToWide(real_).c_str());
    if (impl_->attributes != INVALID_FILE_ATTRIBUTES &&
        (impl_->attributes & FILE_ATTRIBUTE_DIRECTORY))
        RaiseReplacementError(shown_, "Is a directory");
    if (impl_->attributes == INVALID_FILE_ATTRIBUTES && ::GetLastError() == ERROR_PATH_NOT_FOUND)
        Fail(ERROR_PATH_NOT_FOUND);
    // A file in use, read-only or without write access fails here.
    const HANDLE hold = ::CreateFileW(Utf8ToWide(real_).c_str(), GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hold == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) return;
        Fail(error);
    }
    impl_->existed = true;
    if (::GetFileType(hold) == FILE_TYPE_DISK) {
        impl_->hold = hold;
        return;
    }
    if (!writeSpecialInPlace) {
        ::CloseHandle(hold);
        RaiseNotRegularFile(shown_);
    }
    inPlace_ = true;
    temporary_ = real_;
    stream_ = std::make_unique<TSequentialFile>(
        [hold](const void* buffer, std::int64_t count) -> std::int64_t {
            DWORD put = 0;
            const auto piece = static_cast<DWORD>(std::min<std::int64_t>(count, 1 << 30));
            if (!::WriteFile(hold, buffer, piece, &put, nullptr)) return -1;
            return put;
        },
        [hold] { ::CloseHandle(hold); });
}

std::uint32_t TFileReplacement::CreateTemporary(const std::string& path) {
    // Shared for deletion only, so that an interrupt can remove it while it is written.
    const HANDLE handle =
        ::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return ::GetLastError();
    auto file = std::make_unique<TFileStream>(reinterpret_cast<std::intptr_t>(handle), path);
    file_ = file.get();
    stream_ = std::move(file);
    return 0;
}

void TFileReplacement::RemoveIfAbandoned(const std::string& path) {
    // Without sharing, the open fails while a live run has the file open; the
    // link itself, never what it points to.
    const HANDLE handle =
        ::CreateFileW(Utf8ToWide(path).c_str(), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr,
                      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return;
    BY_HANDLE_FILE_INFORMATION info{};
    constexpr DWORD notRegular =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    if (::GetFileInformationByHandle(handle, &info) && (info.dwFileAttributes & notRegular) == 0) {
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
    }
    ::CloseHandle(handle);
}

bool TFileReplacement::NameTaken(std::uint32_t error) {
    return error == ERROR_FILE_EXISTS;
}

bool TFileReplacement::HeldByAnother(std::uint32_t error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// A path past the old limit reads as a folder not found; the folder itself
// was found before.
bool TFileReplacement::NameTooLong(std::uint32_t error) {
    return error == ERROR_FILENAME_EXCED_RANGE || error == ERROR_PATH_NOT_FOUND;
}

std::uint32_t TFileReplacement::RemoveName(const std::string& path) {
    if (::DeleteFileW(Utf8ToWide(path).c_str())) return 0;
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? 0 : error;
}

void TFileReplacement::ReleaseHold() {
    if (!impl_ || impl_->hold == INVALID_HANDLE_VALUE) return;
    ::CloseHandle(impl_->hold);
    impl_->hold = INVALID_HANDLE_VALUE;
}

void TFileReplacement::PutInPlace() {
    if (const std::uint32_t error = file_->FlushToDisk()) Fail(error);
    // Both names must be free for the swap.
    stream_.reset();
    file_ = nullptr;
    ReleaseHold();
    const std::wstring from = Utf8ToWide(temporary_);
    const std::wstring to = Utf8ToWide(real_);
    TInterruptCleanup::THold interrupts;
    // ReplaceFileW keeps the old file's attributes, security and streams; a
    // plain move is the way only where it cannot serve.
    const bool replaced =
        impl_->existed && ::ReplaceFileW(to.c_str(), from.c_str(), nullptr,
                                         REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
    if (!replaced) {
        const DWORD error = impl_->existed ? ::GetLastError() : ERROR_FILE_NOT_FOUND;
        // After these two the old file is gone from its name already and the
        // new one still waits under its own: the move must finish the swap.
        const bool halfDone = error == ERROR_UNABLE_TO_MOVE_REPLACEMENT ||
                              error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2;
        const bool moveInstead = halfDone || error == ERROR_FILE_NOT_FOUND ||
                                 error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_PARAMETER ||
                                 error == ERROR_CALL_NOT_IMPLEMENTED ||
                                 error == ERROR_INVALID_FUNCTION;
        if (!moveInstead) Fail(error);
        if (!::MoveFileExW(from.c_str(), to.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            const DWORD moveError = ::GetLastError();
            // The new content is all that is left: it stays, named in the message.
            if (halfDone) {
                done_ = true;
                RaiseReplacementError(shown_, SystemErrorText(moveError) + "; the new file is " +
                                                  temporary_);
            }
            Fail(moveError);
        }
    }
    TInterruptCleanup::Unwatch();
    done_ = true;
    // ReplaceFileW merges these itself; a move and Wine's ReplaceFileW do not.
    constexpr DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD attributes = impl_->attributes;
    // The replacement stands even where the attributes cannot follow.
    if (impl_->existed && attributes != INVALID_FILE_ATTRIBUTES && (attributes & kept))
        ::SetFileAttributesW(to.c_str(), attributes & kept);
}
