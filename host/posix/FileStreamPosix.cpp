#include "host/FileStream.h"
#include "host/SystemError.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

TFileStream::TFileStream(const std::string& fileName, std::uint16_t mode,
                         const std::string& displayName)
    : fileName_(fileName), handle_(-1) {
    const bool create = mode == fmCreate;
    int flags = O_CLOEXEC;
    if (create)
        flags |= O_RDWR | O_CREAT;
    else if ((mode & 3) == fmOpenWrite)
        flags |= O_WRONLY;
    else if ((mode & 3) == fmOpenReadWrite)
        flags |= O_RDWR;
    else
        flags |= O_RDONLY;
    const int fd = ::open(fileName.c_str(), flags, 0666);
    int error = fd < 0 ? errno : 0;
    // Nobody else may hold the file while it is written; truncate only once it is ours.
    const bool exclusive = create || (mode & 0xF0) == fmShareExclusive;
    if (fd >= 0 && exclusive && ::flock(fd, LOCK_EX | LOCK_NB) != 0) error = errno;
    // Only a file with content is cut: truncating even an empty file makes some
    // file systems write all of its data out when it is closed.
    struct stat status {};
    if (fd >= 0 && create && error == 0 && ::fstat(fd, &status) == 0 && status.st_size > 0 &&
        ::ftruncate(fd, 0) != 0)
        error = errno;
    if (error != 0) {
        if (fd >= 0) ::close(fd);
        const std::string shown = displayName.empty() ? ExpandFileName(fileName) : displayName;
        const std::string text = SystemErrorText(static_cast<std::uint32_t>(error));
        if (create) throw EFCreateError("Cannot create file \"" + shown + "\". " + text);
        throw EFOpenError("Cannot open file \"" + shown + "\". " + text);
    }
    handle_ = fd;
    const off_t end = ::lseek(fd, 0, SEEK_END);
    size_ = diskSize_ = end < 0 ? 0 : end;
}

TFileStream::TFileStream(std::intptr_t handle, const std::string& fileName)
    : fileName_(fileName), handle_(handle) {
    const off_t end = ::lseek(static_cast<int>(handle), 0, SEEK_END);
    size_ = diskSize_ = end < 0 ? 0 : end;
}

std::uint32_t TFileStream::FlushToDisk() {
    const int fd = static_cast<int>(handle_);
    if (size_ > diskSize_) {
        if (::ftruncate(fd, static_cast<off_t>(size_)) != 0)
            return static_cast<std::uint32_t>(errno);
        diskSize_ = size_;
    }
    return ::fsync(fd) == 0 ? 0 : static_cast<std::uint32_t>(errno);
}

// The position and size are kept here, so that seeking and asking for the size
// cost no system call, and growing the file is left to the writes that fill it:
// a body announced by length grows the stream to its final size at once.
TFileStream::~TFileStream() {
    if (handle_ < 0) return;
    if (size_ > diskSize_) (void)::ftruncate(static_cast<int>(handle_), static_cast<off_t>(size_));
    ::close(static_cast<int>(handle_));
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
    if (count <= 0 || position_ >= size_) return 0;
    if (size_ > diskSize_) {
        // Bytes of a grown but unwritten stretch read as zeros.
        if (::ftruncate(static_cast<int>(handle_), static_cast<off_t>(size_)) != 0) return 0;
        diskSize_ = size_;
    }
    ssize_t n;
    do {
        n = ::pread(static_cast<int>(handle_), buffer, static_cast<std::size_t>(count),
                    static_cast<off_t>(position_));
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return 0;
    position_ += n;
    return n;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
    std::int64_t done = 0;
    const auto* p = static_cast<const char*>(buffer);
    while (done < count) {
        const ssize_t n =
            ::pwrite(static_cast<int>(handle_), p + done, static_cast<std::size_t>(count - done),
                     static_cast<off_t>(position_ + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) writeError_ = static_cast<std::uint32_t>(errno);
        if (n <= 0) break;
        done += n;
    }
    position_ += done;
    if (position_ > diskSize_) diskSize_ = position_;
    if (position_ > size_) size_ = position_;
    return done;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    const std::int64_t target = SeekTarget(offset, origin, position_, size_);
    if (target >= 0) position_ = target;
    return target;
}

void TFileStream::SetSize(std::int64_t size) {
    if (size < 0) throw EOSError(EINVAL);
    if (size < diskSize_) {
        if (::ftruncate(static_cast<int>(handle_), static_cast<off_t>(size)) != 0)
            throw EOSError(static_cast<std::uint32_t>(errno));
        diskSize_ = size;
    }
    size_ = size;
    position_ = size;
}

std::string ExpandFileName(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return path;
    std::string base = cwd;
    if (base.empty() || base.back() != '/') base += '/';
    return base + path;
}
