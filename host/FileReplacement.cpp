#include "host/FileReplacement.h"

#include "host/FileStream.h"
#include "host/InterruptCleanup.h"
#include "host/SystemError.h"

#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

namespace {

// The longest name a folder takes, in bytes on POSIX and in UTF-16 units on
// Windows: bytes never fewer than units.
constexpr std::size_t kNameLimit = 255;
constexpr std::size_t kRandomDigits = 8;

// ".NAME.<tag>-", NAME cut at a character's start where the whole name,
// random digits included, would not fit.
std::string RandomNamePrefix(const std::string& name, const std::string& tag) {
    const std::size_t fixed = 1 + 1 + tag.size() + 1 + kRandomDigits;
    std::size_t keep = std::min(name.size(), kNameLimit > fixed ? kNameLimit - fixed : 0);
    while (keep > 0 && keep < name.size() &&
           (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
        --keep;
    return "." + name.substr(0, keep) + "." + tag + "-";
}

std::string RandomDigits() {
    static std::random_device entropy;
    char digits[kRandomDigits + 1];
    std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(entropy()));
    return digits;
}

// Exactly prefix and the digits RandomDigits writes.
bool IsRandomName(const std::string& name, const std::string& prefix) {
    if (name.size() != prefix.size() + kRandomDigits || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    return name.find_first_not_of("0123456789abcdef", prefix.size()) == std::string::npos;
}

std::string Utf8Of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// What every refusal of a replacement reads.
std::string CannotCreate(const std::string& shown, const std::string& reason) {
    return "Cannot create file \"" + shown + "\". " + reason;
}

} // namespace

void RaiseReplacementError(const std::string& shown, const std::string& reason) {
    throw EFCreateError(CannotCreate(shown, reason));
}

void RaiseNotRegularFile(const std::string& shown) {
    throw EFNotRegularFile(CannotCreate(shown, "Not a regular file"));
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
        const std::string folder = FolderOf(real_);
        std::string prefix = RandomNamePrefix(real_.substr(folder.size()), options.RandomTag);
        RemoveAbandoned(folder, prefix);
        for (int attempt = 0; attempt < 100; ++attempt) {
            temporary_ = folder + prefix + RandomDigits();
            error = CreateWatched(temporary_);
            // Where names or paths are shorter than the usual limit, the
            // name without NAME still fits.
            if (NameTooLong(error) && prefix.size() > options.RandomTag.size() + 2) {
                prefix = "." + options.RandomTag + "-";
                continue;
            }
            if (!NameTaken(error)) break;
        }
    }
    if (error != 0) {
        ReleaseHold();
        Fail(error);
    }
}

void TFileReplacement::RemoveAbandoned(const std::string& folder, const std::string& prefix) {
    std::error_code error;
    const std::string shown = folder.empty() ? "." : folder;
    std::filesystem::directory_iterator names(std::u8string(shown.begin(), shown.end()), error);
    for (; !error && names != std::filesystem::directory_iterator(); names.increment(error)) {
        std::string name;
        try {
            name = Utf8Of(names->path().filename());
        } catch (const std::exception&) {
            continue; // a name no UTF-8 can spell is none of ours
        }
        if (IsRandomName(name, prefix)) RemoveIfAbandoned(folder + name);
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

void TFileReplacement::Fail(std::uint32_t error) const {
    if (HeldByAnother(error)) throw EFileInUse(CannotCreate(shown_, SystemErrorText(error)));
    RaiseReplacementError(shown_, SystemErrorText(error));
}

TStream& TFileReplacement::Stream() {
    return *stream_;
}

bool TFileReplacement::InPlace() const {
    return inPlace_;
}

const std::string& TFileReplacement::TemporaryPath() const {
    return temporary_;
}

void TFileReplacement::Commit() {
    if (done_) return;
    if (inPlace_)
        done_ = true;
    else
        PutInPlace();
    stream_.reset();
}
