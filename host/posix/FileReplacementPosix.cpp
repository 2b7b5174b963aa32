#include "host/FileReplacement.h"

#include "host/FileStream.h"
#include "host/InterruptCleanup.h"
#include "host/SystemError.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// As many links as the kernel follows in one path.
constexpr int kMaxLinks = 40;

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ErrorText(int error) { return SystemErrorText(static_cast<std::uint32_t>(error)); }

// The file that path finally names once links in its last part are followed.
// Folders on the way are left to the kernel. Returns errno or 0; *found tells
// whether something stands there (a dangling link leads to a name not yet used).
int FollowLinks(std::string& path, struct stat& status, bool& found) {
    for (int links = 0;; ++links) {
        if (::lstat(path.c_str(), &status) != 0) {
            found = false;
            return errno == ENOENT ? 0 : errno;
        }
        found = true;
        if (!S_ISLNK(status.st_mode)) return 0;
        if (links == kMaxLinks) return ELOOP;
        std::string target(static_cast<std::size_t>(status.st_size > 0 ? status.st_size : 255) + 1, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0) return errno;
        if (static_cast<std::size_t>(n) >= target.size()) return ENAMETOOLONG;
        target.resize(static_cast<std::size_t>(n));
        path = !target.empty() && target[0] == '/' ? target : DirectoryOf(path) + target;
    }
}

std::string RandomName(const std::string& tag) {
    static std::random_device entropy;
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(entropy()));
    return "." + tag + "-" + digits;
}

mode_t CreationMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Writes a FIFO, device or socket in order: no positions, nothing to size.
class TSequentialFile : public TStream {
public:
    explicit TSequentialFile(int fd) : fd_(fd) {}
    ~TSequentialFile() override { ::close(fd_); }

    std::int64_t Read(void*, std::int64_t) override { return 0; }
    std::int64_t Write(const void* buffer, std::int64_t count) override {
        std::int64_t done = 0;
        const auto* p = static_cast<const char*>(buffer);
        while (done < count) {
            const ssize_t n = ::write(fd_, p + done, static_cast<std::size_t>(count - done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += n;
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
    int fd_;
    std::int64_t written_ = 0;
};

} // namespace

struct TFileReplacement::TImpl {
    std::string shown;
    std::string real;      // the file replaced
    std::string temporary; // the file written; real itself in place
    bool inPlace = false;
    bool existed = false;
    struct stat old {};
    int hold = -1;
    std::unique_ptr<TStream> stream;
    TFileStream* file = nullptr;
    bool done = false;

    ~TImpl() { ReleaseHold(); }

    [[noreturn]] void Fail(int error) const { RaiseReplacementError(shown, ErrorText(error)); }

    void ReleaseHold() {
        if (hold >= 0) ::close(hold);
        hold = -1;
    }

    void OpenInPlace() {
        // As any writer of a FIFO, this waits for a reader.
        const int fd = ::open(real.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) Fail(errno);
        inPlace = true;
        temporary = real;
        stream = std::make_unique<TSequentialFile>(fd);
    }

    void HoldOld() {
        // Without blocking or following anything: the name was resolved above.
        hold = ::open(real.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
        if (hold < 0) Fail(errno);
        struct stat held {};
        if (::fstat(hold, &held) != 0) Fail(errno);
        if (!S_ISREG(held.st_mode)) RaiseNotRegularFile(shown);
        old = held;
        if (::flock(hold, LOCK_EX | LOCK_NB) != 0) Fail(errno);
    }

    // The new file's descriptor, or -1 with the reason in error.
    int CreateTemporary(const std::string& path, int& error) {
        TInterruptCleanup::THold interrupts;
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        error = fd < 0 ? errno : 0;
        if (fd >= 0) TInterruptCleanup::Watch(path);
        return fd;
    }

    void RemoveTemporary() {
        TInterruptCleanup::THold interrupts;
        ::unlink(temporary.c_str());
        TInterruptCleanup::Unwatch();
    }
};

TFileReplacement::TFileReplacement(const std::string& target, const TReplacementOptions& options)
    : impl_(std::make_unique<TImpl>()) {
    TImpl& r = *impl_;
    r.shown = options.DisplayName.empty() ? target : options.DisplayName;
    r.real = target;
    struct stat status {};
    if (const int error = FollowLinks(r.real, status, r.existed)) r.Fail(error);
    if (r.existed) {
        if (S_ISDIR(status.st_mode)) r.Fail(EISDIR);
        if (!S_ISREG(status.st_mode)) {
            if (!options.WriteSpecialInPlace) RaiseNotRegularFile(r.shown);
            r.OpenInPlace();
            return;
        }
        r.HoldOld();
    }

    const std::string dir = DirectoryOf(r.real);
    int fd = -1;
    int error = 0;
    if (!options.FixedSuffix.empty()) {
        r.temporary = dir + NameOf(r.real) + options.FixedSuffix;
        // A leftover, or a link planted under the name: removed, never followed.
        if (::unlink(r.temporary.c_str()) != 0 && errno != ENOENT) r.Fail(errno);
        fd = r.CreateTemporary(r.temporary, error);
    } else {
        for (int attempt = 0; attempt < 100; ++attempt) {
            r.temporary = dir + RandomName(options.RandomTag);
            fd = r.CreateTemporary(r.temporary, error);
            if (fd >= 0 || error != EEXIST) break;
        }
    }
    if (fd < 0) r.Fail(error);
    auto file = std::make_unique<TFileStream>(fd, r.temporary);
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
    const int fd = static_cast<int>(r.file->Handle());
    if (r.existed) {
        // The owner first: changing it clears set-user and set-group bits.
        // Only root may give a file away; anyone else keeps their own.
        (void)::fchown(fd, r.old.st_uid, r.old.st_gid);
        if (::fchmod(fd, r.old.st_mode & 07777) != 0) r.Fail(errno);
    } else if (::fchmod(fd, CreationMode()) != 0) {
        r.Fail(errno);
    }
    if (const std::uint32_t error = r.file->FlushToDisk()) r.Fail(static_cast<int>(error));
    r.ReleaseHold();
    {
        TInterruptCleanup::THold interrupts;
        if (::rename(r.temporary.c_str(), r.real.c_str()) != 0) r.Fail(errno);
        TInterruptCleanup::Unwatch();
        r.done = true;
    }
    r.stream.reset();
    // The new name must survive a crash too.
    const std::string dir = DirectoryOf(r.real);
    const int dirFd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) r.Fail(errno);
    const int synced = ::fsync(dirFd);
    const int error = errno;
    ::close(dirFd);
    // Some file systems cannot flush a folder; their renames are as durable as they get.
    if (synced != 0 && error != EINVAL) r.Fail(error);
}
