#pragma once
// The Windows file system of a Wine prefix as seen from the host: drives are the
// links dosdevices/c:, dosdevices/z: ... (z: is "/" when it has no link), and
// names are matched without case when no entry has the exact name.

#include <string>

class TWinePrefix {
public:
    // root is the prefix's host directory.
    explicit TWinePrefix(std::string root);
    // $WINEPREFIX, else ~/.wine.
    static std::string DefaultRoot();
    const std::string& Root() const { return root_; }

    // "X:\a\b" with "." and ".." resolved and separators single; a path without
    // a drive is taken on the current directory's drive, a relative one against
    // the current directory. A trailing separator is kept.
    std::string WindowsFullName(const std::string& windowsPath) const;
    // The host path of a Windows path; empty when its drive does not exist.
    std::string ToHostPath(const std::string& windowsPath) const;
    // The Windows path of a host path: the drive whose link target is the longest
    // prefix of it, else Z:.
    std::string ToWindowsPath(const std::string& hostPath) const;

private:
    // Host directory of drive letter (lower case), empty when the drive is missing.
    std::string DriveDirectory(char letter) const;
    std::string CurrentWindowsDirectory() const;

    std::string root_;
};
