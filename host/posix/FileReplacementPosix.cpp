#include "host/FileReplacement.h"

#include "host/FileStream.h"
#include "host/InterruptCleanup.h"
#include "host/SystemError.h"

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// As many links as the kernel follows in one path.
constexpr int kMaxLinks = 40;

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// What FollowLinks returns for a link the kernel would not follow.
constexpr int kGuardedLink = -1;

// Whether the kernel, guarding shared folders, follows the link at path: in a
// sticky folder that others may write, only a link of the user running or of
// the folder's owner, so that no one plants a link for another user to follow.
bool FollowedInItsFolder(const std::string& path, const struct stat& link) {
    struct stat folder {};
    const std::string dir = DirectoryOf(path);
    if (::stat(dir.empty() ? "." : dir.c_str(), &folder) != 0)
        return true; // the open that follows fails
    const bool shared = (folder.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
    return !shared || link.st_uid == ::geteuid() || link.st_uid == folder.st_uid;
}

// Follows links in the last part of path to the name they finally lead to;
// folders on the way are left to the kernel. Returns errno, kGuardedLink or
// 0; found tells whether anything stands there (a dangling link leads to a
// name not yet used).
int FollowLinks(std::string& path, struct stat& status, bool& found) {
    for (int links = 0;; ++links) {
        if (::lstat(path.c_str(), &status) != 0) {
            found = false;
            return errno == ENOENT ? 0 : errno;
        }
        found = true;
        if (!S_ISLNK(status.st_mode)) return 0;
        if (!FollowedInItsFolder(path, status)) return kGuardedLink;
        if (links == kMaxLinks) return ELOOP;
        std::string target(static_cast<std::size_t>(status.st_size > 0 ? status.st_size : 255) + 1,
                           '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0) return errno;
        if (static_cast<std::size_t>(n) >= target.size()) return ENAMETOOLONG;
        target.resize(static_cast<std::size_t>(n));
        path = !target.empty() && target[0] == '/' ? target : DirectoryOf(path) + target;
    }
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the name at path is the file open as fd.
bool NamesFile(const std::string& path, int fd) {
    struct stat named {};
    struct stat held {};
    return ::lstat(path.c_str(), &named) == 0 && ::fstat(fd, &held) == 0 && SameFile(named, held);
}

// "user:group" by name, by number where the system knows no name.
std::string OwnerText(const struct stat& status) {
    std::vector<char> buffer(16384);
    struct passwd user {};
    struct passwd* userFound = nullptr;
    struct group group {};
    struct group* groupFound = nullptr;
    ::getpwuid_r(status.st_uid, &user, buffer.data(), buffer.size(), &userFound);
    std::string text = userFound ? userFound->pw_name : std::to_string(status.st_uid);
    ::getgrgid_r(status.st_gid, &group, buffer.data(), buffer.size(), &groupFound);
    return text + ":" + (groupFound ? groupFound->gr_name : std::to_string(status.st_gid));
}

// The old file's owner, group and mode on the file open as fd, as far as the
// process may give them; what it may not becomes a warning for shown. Returns
// errno or 0.
int KeepOwnerAndMode(int fd, const struct stat& old, const std::string& shown,
                     std::vector<std::string>& warnings) {
    // The owner first: changing it clears set-user and set-group bits. Only
    // root may give a file away; anyone else may still keep the group when
    // they belong to it.
    if (::fchown(fd, old.st_uid, old.st_gid) != 0)
        (void)::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    struct stat now {};
    if (::fstat(fd, &now) != 0) return errno;
    const bool ownerKept = now.st_uid == old.st_uid;
    const bool groupKept = now.st_gid == old.st_gid;
    // Set-user and set-group bits were given for the old owner and group:
    // they do not pass to others, as the kernel drops them when another
    // writes a file.
    const mode_t dropped = (ownerKept ? 0 : S_ISUID) | (groupKept ? 0 : S_ISGID);
    if (::fchmod(fd, old.st_mode & 07777 & ~dropped) != 0) return errno;
    if (!ownerKept || !groupKept)
        warnings.push_back(shown + " now belongs to " + OwnerText(now) + "; its owner " +
                           OwnerText(old) + " could not be kept");
    return 0;
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

void TFileReplacement::TImplDeleter::operator()(TImpl* impl) const {
    delete impl;
}

const char* TFileReplacement::Separators() {
    return "/";
}

void TFileReplacement::FindTarget(bool writeSpecialInPlace) {
    impl_.reset(new TImpl);
    struct stat status {};
    const int error = FollowLinks(real_, status, impl_->existed);
    if (error == kGuardedLink)
        RaiseReplacementError(
            shown_, "It is another user's symbolic link in a shared folder, which is not followed");
    if (error != 0) Fail(static_cast<std::uint32_t>(error));
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
    const int hold =
        ::open(real_.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (hold < 0) Fail(static_cast<std::uint32_t>(errno));
    impl_->hold = hold;
    if (::fstat(hold, &impl_->old) != 0) Fail(static_cast<std::uint32_t>(errno));
    if (!S_ISREG(impl_->old.st_mode)) RaiseNotRegularFile(shown_);
    if (::flock(hold, LOCK_EX | LOCK_NB) != 0) Fail(static_cast<std::uint32_t>(errno));
}

std::uint32_t TFileReplacement::CreateTemporary(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return static_cast<std::uint32_t>(errno);
    // Locked while it is written. A later run that found it in the moment
    // before the lock holds it or has removed it: another name then. A file
    // system without locks leaves the file unlocked, as it leaves every run's.
    const bool taken = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    if (taken || !NamesFile(path, fd)) {
        ::close(fd);
        return EEXIST;
    }
    auto file = std::make_unique<TFileStream>(fd, path);
    file_ = file.get();
    stream_ = std::move(file);
    return 0;
}

void TFileReplacement::RemoveIfAbandoned(const std::string& path) {
    // Looked at before it is opened: a FIFO or a device is never touched.
    struct stat named {};
    if (::lstat(path.c_str(), &named) != 0 || !S_ISREG(named.st_mode) ||
        named.st_uid != ::geteuid())
        return;
    // Open for writing, as a lock that stands for flock on NFS needs.
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && NamesFile(path, fd)) ::unlink(path.c_str());
    ::close(fd);
}

bool TFileReplacement::NameTaken(std::uint32_t error) {
    return error == EEXIST;
}

// Another holds the lock the hold takes.
bool TFileReplacement::HeldByAnother(std::uint32_t error) {
    return error == EWOULDBLOCK;
}

bool TFileReplacement::NameTooLong(std::uint32_t error) {
    return error == ENAMETOOLONG;
}

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
    if (const int error = impl_->existed ? KeepOwnerAndMode(fd, impl_->old, shown_, warnings_)
                                         : (::fchmod(fd, CreationMode()) == 0 ? 0 : errno))
        Fail(static_cast<std::uint32_t>(error));
    if (const std::uint32_t error = file_->FlushToDisk()) Fail(error);
    ReleaseHold();
    {
        TInterruptCleanup::THold interrupts;
        if (::rename(temporary_.c_str(), real_.c_str()) != 0)
            Fail(static_cast<std::uint32_t>(errno));
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
    // Some file systems cannot flush a folder; their renames are as durable as
    // they get. Any other failure comes after the replacement: it stands.
    if (synced != 0 && error != EINVAL)
        warnings_.push_back(shown_ + " was replaced, but its folder could not be flushed: " +
                            SystemErrorText(static_cast<std::uint32_t>(error)));
}
