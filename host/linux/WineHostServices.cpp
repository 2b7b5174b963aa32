#include "host/linux/WineHostServices.h"

#include "host/FileReplacement.h"
#include "host/FileStream.h"
#include "host/SysUtils.h"
#include "host/SystemError.h"

#include <cerrno>
#include <sys/stat.h>

TWineHostServices::TWineHostServices(std::string prefixRoot, std::string moduleFileName)
    : prefix_(prefixRoot), hive_(prefixRoot), moduleFileName_(std::move(moduleFileName)) {}

bool TWineHostServices::FileExists(const std::string& path) {
    const std::string host = prefix_.ToHostPath(path);
    struct stat st {};
    return !host.empty() && ::stat(host.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::unique_ptr<TReplacement> TWineHostServices::BeginReplacement(const std::string& path) {
    TReplacementOptions options;
    options.DisplayName = prefix_.WindowsFullName(path);
    options.FixedSuffix = ".part";
    const std::string host = prefix_.ToHostPath(path);
    if (host.empty()) RaiseReplacementError(options.DisplayName, SystemErrorText(ENOENT));
    return std::make_unique<TFileReplacement>(host, options);
}

std::unique_ptr<TStream> TWineHostServices::OpenToRead(const std::string& path) {
    const std::string shown = prefix_.WindowsFullName(path);
    const std::string host = prefix_.ToHostPath(path);
    if (host.empty())
        throw EFOpenError("Cannot open file \"" + shown + "\". " + SystemErrorText(ENOENT));
    // Only a regular file is opened: the open of a FIFO would wait for a writer.
    struct stat st {};
    if (::stat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        throw EFOpenError("Cannot open file \"" + shown + "\". Not a regular file");
    return std::make_unique<TFileStream>(host, fmOpenRead | fmShareDenyNone, shown);
}

std::string TWineHostServices::ApplicationTitle() {
    return ApplicationTitleFromFileName(moduleFileName_);
}
