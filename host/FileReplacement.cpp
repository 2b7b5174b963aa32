#include "host/FileReplacement.h"

#include "host/FileStream.h"
#include "host/InterruptCleanup.h"
#include "host/SystemError.h"

#include <cstdio>
#include <random>

namespace {

std::string RandomName(const std::string& tag) {
    static std::random_device entropy;
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(entropy()));
    return "." + tag + "-" + digits;
}

} // namespace

void RaiseReplacementError(const std::string& shown, const std::string& reason) {
    throw EFCreateError("Cannot create file \"" + shown + "\". " + reason);
}

void RaiseNotRegularFile(const std::string& shown) {
    throw EFNotRegularFile("Cannot create file \"" + shown + "\". Not a regular file");
}

TFileReplacement::TFileReplacement(const std::string& target, const TReplacementOptions& options) {
    // The members are set before the first refusal can name them.
    shown_ = options.DisplayName.empty() ? target : options.DisplayName;
    shownTarget_ = real_ = target;
    FindTarget(options.WriteSpecialInPlace);
    if (!inPlace_) CreateBeside(options);
}

void TFileReplacement::CreateBeside(const TReplacementOptions& options) {
    std::uint32_t error = 0;
    if (!options.FixedSuffix.empty()) {
        temporary_ = real_ + options.FixedSuffix;
        // A leftover, or a link planted under the name: removed, never followed.
        if ((error = RemoveName(temporary_)) == 0) error = CreateWatched(temporary_);
    } else {
        for (int attempt = 0; attempt < 100; ++attempt) {
            temporary_ = FolderOf(real_) + RandomName(options.RandomTag);
            if (!NameTaken(error = CreateWatched(temporary_))) break;
        }
    }
    if (error != 0) {
        ReleaseHold();
        Fail(error);
    }
}

std::uint32_t TFileReplacement::CreateWatched(const std::string& path) {
    TInterruptCleanup::THold interrupts;
    const std::uint32_t error = CreateTemporary(path);
    if (error == 0) TInterruptCleanup::Watch(path);
    return error;
}

std::string TFileReplacement::FolderOf(const std::string& path) const {
    const auto end = path.find_last_of(Separators());
    return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

TFileReplacement::~TFileReplacement() {
    stream_.reset();
    ReleaseHold();
    if (!done_ && !inPlace_) RemoveTemporary();
}

void TFileReplacement::RemoveTemporary() {
    TInterruptCleanup::THold interrupts;
    RemoveName(temporary_);
    TInterruptCleanup::Unwatch();
}

void TFileReplacement::Fail(std::uint32_t error) const { RaiseReplacementError(shown_, SystemErrorText(error)); }

TStream& TFileReplacement::Stream() { return *stream_; }

bool TFileReplacement::InPlace() const { return inPlace_; }

const std::string& TFileReplacement::TemporaryPath() const { return temporary_; }

void TFileReplacement::Commit() {
    if (done_) return;
    if (inPlace_) done_ = true;
    else PutInPlace();
    stream_.reset();
}
