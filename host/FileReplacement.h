#pragma once
// Replaces one file as a whole, for the updater and for vykget alike.
//
// Contract:
//  - Construction finds the real target: a symbolic link is followed to the
//    file it finally points to, and that file is replaced; the link stays a
//    link. A directory, a link to one, a missing folder, or an existing file
//    that is in use or cannot be written is refused with EFCreateError naming
//    the target as given, and nothing is created. An existing file is held
//    (open for writing, exclusively, nothing written through it) until Commit.
//  - Then a temporary file is created beside the real target, exclusively and
//    never through a link, readable and writable by its owner only; Stream()
//    writes into it. With a fixed name, whatever stands under that name is
//    removed first (a link is removed, not followed); otherwise the name is a
//    short random hidden one, so a target named near the length limit works.
//  - Commit writes the file through to the disk, gives it what the old file
//    carried (permission bits, and owner and group where the process may set
//    them; on Windows attributes, security and streams), replaces the target in
//    one step and writes the folder through. Until then the target keeps every
//    old byte; afterwards it holds all of the new ones.
//  - Released without Commit, or when Commit fails before the replacement,
//    the temporary file is removed. It is watched for TInterruptCleanup.
//  - A device, FIFO or socket is refused with EFNotRegularFile, or, with
//    WriteSpecialInPlace, opened and written straight into: no temporary file,
//    no rename, and it stays what it was.

#include "host/Replacement.h"

#include <memory>
#include <string>

// The target exists but is no regular file, and may not be written in place.
VYK_DECLARE_EXCEPTION(EFNotRegularFile, EFCreateError);

struct TReplacementOptions {
    // The name failures show; the target as given when empty.
    std::string DisplayName;
    // The temporary file is named after the real target plus this suffix;
    // empty: a random hidden name.
    std::string FixedSuffix;
    // Starts the random name: ".<tag>-" and eight hexadecimal digits.
    std::string RandomTag = "part";
    bool WriteSpecialInPlace = false;
};

class TFileReplacement : public TReplacement {
public:
    // target is a native path.
    TFileReplacement(const std::string& target, const TReplacementOptions& options);
    ~TFileReplacement() override;

    TStream& Stream() override;
    void Commit() override;

    // True when a special file is written in place.
    bool InPlace() const;
    // The file written into until Commit; the target itself in place.
    const std::string& TemporaryPath() const;

    struct TImpl;

private:
    std::unique_ptr<TImpl> impl_;
};

// "Cannot create file "<shown>". <reason>", as every refusal above reads.
[[noreturn]] void RaiseReplacementError(const std::string& shown, const std::string& reason);
[[noreturn]] void RaiseNotRegularFile(const std::string& shown);
