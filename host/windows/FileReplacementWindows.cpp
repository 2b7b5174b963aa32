#include "host/FileReplacement.h"

#include "host/FileStream.h"
#include "host/InterruptCleanup.h"
#include "host/SystemError.h"
#include "host/windows/WideText.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <random>

namespace {

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.find_last_of("\\/:");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
    const auto slash = path.find_last_of("\\/:");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string RandomName(const std::string& tag) {
    static std::random_device entropy;
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(entropy()));
    return "." + tag + "-" + digits;
}

// Writes a device or pipe in order: no positions, nothing to size.
class TSequentialFile : public TStream {
public:
    explicit TSequentialFile(HANDLE handle) : handle_(handle) {}
    ~TSequentialFile() override { ::CloseHandle(handle_); }

    std::int64_t Read(void*, std::int64_t) override { return 0; }
    std::int64_t Write(const void* buffer, std::int64_t count) override {
        std::int64_t done = 0;
        const auto* p = static_cast<const char*>(buffer);
        while (done < count) {
            DWORD put = 0;
            const auto piece = static_cast<DWORD>(std::min<std::int64_t>(count - done, 1 << 30));
            if (!::WriteFile(handle_, p + done, piece, &put, nullptr) || put == 0) break;
            done += put;
        }
        written_ += done;
        return done;
    }
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
        return offset == 0 && origin != TSeekOrigin::soBeginning ? written_ : -1;
    }
    void SetSize(std::int64_t) override {}
    std::int64_t Size() override { return written_; }

private:
    HANDLE handle_;
    std::int64_t written_ = 0;
};

} // namespace

struct TFileReplacement::TImpl {
    std::string shown;
    std::string real;
    std::string temporary;
    bool inPlace = false;
    bool existed = false;
    DWORD attributes = INVALID_FILE_ATTRIBUTES; // the old file's
    HANDLE hold = INVALID_HANDLE_VALUE;
    std::unique_ptr<TStream> stream;
    TFileStream* file = nullptr;
    bool done = false;

    ~TImpl() { ReleaseHold(); }

    [[noreturn]] void Fail(DWORD error) const { RaiseReplacementError(shown, SystemErrorText(error)); }

    void ReleaseHold() {
        if (hold != INVALID_HANDLE_VALUE) ::CloseHandle(hold);
        hold = INVALID_HANDLE_VALUE;
    }

    // The new file's handle, or INVALID_HANDLE_VALUE with the reason in error.
    HANDLE CreateTemporary(const std::string& path, DWORD& error) {
        TInterruptCleanup::THold interrupts;
        // Shared for deletion only, so that an interrupt can remove it while it is written.
        const HANDLE handle = ::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                                            nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        error = handle == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
        if (handle != INVALID_HANDLE_VALUE) TInterruptCleanup::Watch(path);
        return handle;
    }

    void RemoveTemporary() {
        TInterruptCleanup::THold interrupts;
        ::DeleteFileW(Utf8ToWide(temporary).c_str());
        TInterruptCleanup::Unwatch();
    }

    // A file in use, read-only or without write access fails here.
    void HoldOld(bool writeSpecialInPlace) {
        hold = ::CreateFileW(Utf8ToWide(real).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hold == INVALID_HANDLE_VALUE) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_FILE_NOT_FOUND) return;
            Fail(error);
        }
        existed = true;
        if (::GetFileType(hold) == FILE_TYPE_DISK) return;
        if (!writeSpecialInPlace) RaiseNotRegularFile(shown);
        inPlace = true;
        temporary = real;
        stream = std::make_unique<TSequentialFile>(hold);
        hold = INVALID_HANDLE_VALUE;
    }
};

TFileReplacement::TFileReplacement(const std::string& target, const TReplacementOptions& options)
    : impl_(std::make_unique<TImpl>()) {
    TImpl& r = *impl_;
    r.shown = options.DisplayName.empty() ? target : options.DisplayName;
    // A link on Windows is replaced as the file it is; reparse points are left to the system.
    r.real = target;
    r.attributes = ::GetFileAttributesW(Utf8ToWide(target).c_str());
    if (r.attributes != INVALID_FILE_ATTRIBUTES && (r.attributes & FILE_ATTRIBUTE_DIRECTORY))
        RaiseReplacementError(r.shown, "Is a directory");
    if (r.attributes == INVALID_FILE_ATTRIBUTES && ::GetLastError() == ERROR_PATH_NOT_FOUND)
        r.Fail(ERROR_PATH_NOT_FOUND);
    r.HoldOld(options.WriteSpecialInPlace);
    if (r.inPlace) return;

    const std::string dir = DirectoryOf(r.real);
    HANDLE handle = INVALID_HANDLE_VALUE;
    DWORD error = 0;
    if (!options.FixedSuffix.empty()) {
        r.temporary = dir + NameOf(r.real) + options.FixedSuffix;
        if (!::DeleteFileW(Utf8ToWide(r.temporary).c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND)
            r.Fail(::GetLastError());
        handle = r.CreateTemporary(r.temporary, error);
    } else {
        for (int attempt = 0; attempt < 100; ++attempt) {
            r.temporary = dir + RandomName(options.RandomTag);
            handle = r.CreateTemporary(r.temporary, error);
            if (handle != INVALID_HANDLE_VALUE || error != ERROR_FILE_EXISTS) break;
        }
    }
    if (handle == INVALID_HANDLE_VALUE) r.Fail(error);
    auto file = std::make_unique<TFileStream>(reinterpret_cast<std::intptr_t>(handle), r.temporary);
    r.file = file.get();
    r.stream = std::move(file);
}

TFileReplacement::~TFileReplacement() {
    TImpl& r = *impl_;
    r.stream.reset();
    r.ReleaseHold();
    if (!r.done && !r.inPlace) r.RemoveTemporary();
}

TStream& TFileReplacement::Stream() { return *impl_->stream; }

bool TFileReplacement::InPlace() const { return impl_->inPlace; }

const std::string& TFileReplacement::TemporaryPath() const { return impl_->temporary; }

void TFileReplacement::Commit() {
    TImpl& r = *impl_;
    if (r.done) return;
    if (r.inPlace) {
        r.stream.reset();
        r.done = true;
        return;
    }
    if (const std::uint32_t error = r.file->FlushToDisk()) r.Fail(error);
    // Both names must be free for the swap.
    r.stream.reset();
    r.ReleaseHold();
    const std::wstring from = Utf8ToWide(r.temporary);
    const std::wstring to = Utf8ToWide(r.real);
    TInterruptCleanup::THold interrupts;
    // ReplaceFileW keeps the old file's attributes, security and streams; a
    // plain move is the way only where it cannot serve.
    bool replaced = r.existed && ::ReplaceFileW(to.c_str(), from.c_str(), nullptr,
                                                REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
    if (!replaced) {
        const DWORD error = r.existed ? ::GetLastError() : ERROR_FILE_NOT_FOUND;
        const bool moveInstead = error == ERROR_FILE_NOT_FOUND || error == ERROR_NOT_SUPPORTED ||
                                 error == ERROR_INVALID_PARAMETER || error == ERROR_CALL_NOT_IMPLEMENTED ||
                                 error == ERROR_INVALID_FUNCTION;
        if (!moveInstead) r.Fail(error);
        if (!::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            r.Fail(::GetLastError());
    }
    TInterruptCleanup::Unwatch();
    r.done = true;
    // ReplaceFileW merges these itself; a move and Wine's ReplaceFileW do not.
    constexpr DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    if (r.existed && r.attributes != INVALID_FILE_ATTRIBUTES && (r.attributes & kept) &&
        !::SetFileAttributesW(to.c_str(), r.attributes & kept))
        r.Fail(::GetLastError());
}
