#include "host/linux/WineHostServices.h"

#include "host/FileStream.h"
#include "host/SysUtils.h"
#include "host/SystemError.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TWineHostServices::TWineHostServices(std::string prefixRoot, std::string moduleFileName)
    : prefix_(prefixRoot), hive_(prefixRoot), moduleFileName_(std::move(moduleFileName)) {}

bool TWineHostServices::FileExists(const std::string& path) {
    const std::string host = prefix_.ToHostPath(path);
    struct stat st {};
    return !host.empty() && ::stat(host.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

void TWineHostServices::RaiseCreateError(const std::string& path, int error) const {
    throw EFCreateError("Cannot create file \"" + prefix_.WindowsFullName(path) + "\". " +
                        SystemErrorText(static_cast<std::uint32_t>(error)));
}

std::unique_ptr<TStream> TWineHostServices::CreateFileStream(const std::string& path) {
    const std::string host = prefix_.ToHostPath(path);
    if (host.empty()) RaiseCreateError(path, ENOENT);
    return std::make_unique<TFileStream>(host, fmCreate, prefix_.WindowsFullName(path));
}

std::unique_ptr<TStream> TWineHostServices::LockForReplace(const std::string& path) {
    const std::string host = prefix_.ToHostPath(path);
    if (host.empty()) RaiseCreateError(path, ENOENT);
    try {
        return std::make_unique<TFileStream>(host, fmOpenWrite | fmShareExclusive,
                                             prefix_.WindowsFullName(path));
    } catch (const EFOpenError& e) {
        // Reported as the create that the replacement amounts to.
        const std::string open = "Cannot open file ";
        const std::string& message = e.Message();
        if (message.compare(0, open.size(), open) != 0) throw;
        throw EFCreateError("Cannot create file " + message.substr(open.size()));
    }
}

void TWineHostServices::CommitReplacement(const std::string& from, const std::string& to) {
    const std::string hostFrom = prefix_.ToHostPath(from);
    const std::string hostTo = prefix_.ToHostPath(to);
    if (hostFrom.empty() || hostTo.empty()) RaiseCreateError(to, ENOENT);
    // The new bytes reach the disk before the name points at them.
    const int fd = ::open(hostFrom.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) RaiseCreateError(to, errno);
    const int synced = ::fsync(fd);
    const int syncError = errno;
    ::close(fd);
    if (synced != 0) RaiseCreateError(to, syncError);
    if (::rename(hostFrom.c_str(), hostTo.c_str()) != 0) RaiseCreateError(to, errno);
    const std::string dir = hostTo.substr(0, hostTo.find_last_of('/') + 1);
    const int dirFd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

void TWineHostServices::RemoveFile(const std::string& path) {
    const std::string host = prefix_.ToHostPath(path);
    if (!host.empty()) ::unlink(host.c_str());
}

std::string TWineHostServices::ApplicationTitle() {
    return ApplicationTitleFromFileName(moduleFileName_);
}
