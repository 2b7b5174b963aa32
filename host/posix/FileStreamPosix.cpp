#include "host/FileStream.h"
#include "host/SystemError.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

TFileStream::TFileStream(const std::string& fileName, std::uint16_t mode,
                         const std::string& displayName)
    : fileName_(fileName), handle_(-1) {
    const bool create = mode == fmCreate;
    int flags = O_CLOEXEC;
    if (create) flags |= O_RDWR | O_CREAT;
    else if ((mode & 3) == fmOpenWrite) flags |= O_WRONLY;
    else if ((mode & 3) == fmOpenReadWrite) flags |= O_RDWR;
    else flags |= O_RDONLY;
    const int fd = ::open(fileName.c_str(), flags, 0666);
    int error = fd < 0 ? errno : 0;
    // Nobody else may hold the file while it is written; truncate only once it is ours.
    const bool exclusive = create || (mode & 0xF0) == fmShareExclusive;
    if (fd >= 0 && exclusive && ::flock(fd, LOCK_EX | LOCK_NB) != 0) error = errno;
    if (fd >= 0 && create && error == 0 && ::ftruncate(fd, 0) != 0) error = errno;
    if (error != 0) {
        if (fd >= 0) ::close(fd);
        const std::string shown = displayName.empty() ? ExpandFileName(fileName) : displayName;
        const std::string text = SystemErrorText(static_cast<std::uint32_t>(error));
        if (create) throw EFCreateError("Cannot create file \"" + shown + "\". " + text);
        throw EFOpenError("Cannot open file \"" + shown + "\". " + text);
    }
    handle_ = fd;
}

TFileStream::~TFileStream() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
    if (count <= 0) return 0;
    const ssize_t n = ::read(static_cast<int>(handle_), buffer, static_cast<std::size_t>(count));
    return n < 0 ? 0 : n;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
    std::int64_t done = 0;
    const auto* p = static_cast<const char*>(buffer);
    while (done < count) {
        const ssize_t n = ::write(static_cast<int>(handle_), p + done,
                                  static_cast<std::size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                       : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                          : SEEK_END;
    const off_t r = ::lseek(static_cast<int>(handle_), static_cast<off_t>(offset), whence);
    return r < 0 ? -1 : static_cast<std::int64_t>(r);
}

void TFileStream::SetSize(std::int64_t size) {
    Seek(size, TSeekOrigin::soBeginning);
    if (::ftruncate(static_cast<int>(handle_), static_cast<off_t>(size)) != 0)
        throw EOSError(static_cast<std::uint32_t>(errno));
}

std::string ExpandFileName(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return path;
    std::string base = cwd;
    if (base.empty() || base.back() != '/') base += '/';
    return base + path;
}
