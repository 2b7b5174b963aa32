#include "host/FileReplacement.h"

#include "host/FileStream.h"
#include "host/InterruptCleanup.h"

#include <cerrno>
#include <fcntl.h>
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

// Follows links in the last part of path to the name they finally lead to;
// folders on the way are left to the kernel. Returns errno or 0; found tells
// whether anything stands there (a dangling link leads to a name not yet used).
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

mode_t CreationMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

struct TFileReplacement::TImpl {
    ~TImpl() {
        if (hold >= 0) ::close(hold);
    }
    bool existed = false;
    struct stat old {};
    int hold = -1; // the old file, open for writing and locked; nothing is written through it
};

void TFileReplacement::TImplDeleter::operator()(TImpl* impl) const { delete impl; }

const char* TFileReplacement::Separators() { return "/"; }

void TFileReplacement::FindTarget(bool writeSpecialInPlace) {
    impl_.reset(new TImpl);
    struct stat status {};
    if (const int error = FollowLinks(real_, status, impl_->existed)) Fail(static_cast<std::uint32_t>(error));
    // A link that leads to no name the file system shows, such as
    // /dev/stdout on a pipe, still reaches what the kernel opens through it.
    if (!impl_->existed && real_ != shownTarget_ && ::stat(shownTarget_.c_str(), &status) == 0 &&
        !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode)) {
        real_ = shownTarget_;
        impl_->existed = true;
    }
    if (!impl_->existed) return;
    if (S_ISDIR(status.st_mode)) Fail(EISDIR);
    if (!S_ISREG(status.st_mode)) {
        if (!writeSpecialInPlace) RaiseNotRegularFile(shown_);
        // As any writer of a FIFO, this waits for a reader.
        const int fd = ::open(real_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) Fail(static_cast<std::uint32_t>(errno));
        inPlace_ = true;
        temporary_ = real_;
        stream_ = std::make_unique<TSequentialFile>(
            [fd](const void* buffer, std::int64_t count) -> std::int64_t {
                ssize_t n;
                do n = ::write(fd, buffer, static_cast<std::size_t>(count));
                while (n < 0 && errno == EINTR);
                return n;
            },
            [fd] { ::close(fd); });
        return;
    }
    // Without blocking or following anything: the name was resolved above.
    const int hold = ::open(real_.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (hold < 0) Fail(static_cast<std::uint32_t>(errno));
    impl_->hold = hold;
    if (::fstat(hold, &impl_->old) != 0) Fail(static_cast<std::uint32_t>(errno));
    if (!S_ISREG(impl_->old.st_mode)) RaiseNotRegularFile(shown_);
    if (::flock(hold, LOCK_EX | LOCK_NB) != 0) Fail(static_cast<std::uint32_t>(errno));
}

std::uint32_t TFileReplacement::CreateTemporary(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return static_cast<std::uint32_t>(errno);
    auto file = std::make_unique<TFileStream>(fd, path);
    file_ = file.get();
    stream_ = std::move(file);
    return 0;
}

bool TFileReplacement::NameTaken(std::uint32_t error) { return error == EEXIST; }

std::uint32_t TFileReplacement::RemoveName(const std::string& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : static_cast<std::uint32_t>(errno);
}

void TFileReplacement::ReleaseHold() {
    if (!impl_ || impl_->hold < 0) return;
    ::close(impl_->hold);
    impl_->hold = -1;
}

void TFileReplacement::PutInPlace() {
    const int fd = static_cast<int>(file_->Handle());
    if (impl_->existed) {
        // The owner first: changing it clears set-user and set-group bits.
        // Only root may give a file away; anyone else keeps their own.
        (void)::fchown(fd, impl_->old.st_uid, impl_->old.st_gid);
        if (::fchmod(fd, impl_->old.st_mode & 07777) != 0) Fail(static_cast<std::uint32_t>(errno));
    } else if (::fchmod(fd, CreationMode()) != 0) {
        Fail(static_cast<std::uint32_t>(errno));
    }
    if (const std::uint32_t error = file_->FlushToDisk()) Fail(error);
    ReleaseHold();
    {
        TInterruptCleanup::THold interrupts;
        if (::rename(temporary_.c_str(), real_.c_str()) != 0) Fail(static_cast<std::uint32_t>(errno));
        TInterruptCleanup::Unwatch();
        done_ = true;
    }
    // The new name must survive a crash too. A folder that may be written but
    // not read cannot be opened to flush; the replacement stands all the same.
    const std::string dir = DirectoryOf(real_);
    const int dirFd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return;
    const int synced = ::fsync(dirFd);
    const int error = errno;
    ::close(dirFd);
    // Some file systems cannot flush a folder; their renames are as durable as they get.
    if (synced != 0 && error != EINVAL) Fail(static_cast<std::uint32_t>(error));
}
