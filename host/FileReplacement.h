#pragma once
// Replaces one file as a whole, for the updater and for vykget alike.
//
// Contract:
//  - Construction finds the real target: a symbolic link is followed to the
//    file it finally points to, and that file is replaced; the link stays a
//    link. As the kernel guards shared folders, a link in a sticky folder
//    that others may write is followed only when it belongs to the user
//    running or to the folder's owner; else the target is refused. A
//    directory, a link to one, a missing folder, or an existing file that is
//    in use or cannot be written is refused with EFCreateError naming the
//    target as given (EFileInUse when another process holds it), and nothing
//    is created. An existing file is held (open for writing, exclusively,
//    nothing written through it) until Commit.
//  - Then a temporary file is created beside the real target, exclusively and
//    never through a link, readable and writable by its owner only; Stream()
//    writes into it. With a fixed name, whatever stands under that name is
//    removed first (a link is removed, not followed); otherwise the name is
//    ".NAME.<tag>-" and eight random hex digits, NAME cut short where the
//    whole would pass 255 bytes (and left out where the folder takes less),
//    and such files of the same NAME that killed runs left (regular, held by
//    no live process; on POSIX this user's) are removed first.
//  - Commit writes the file through to the disk, gives it what the old file
//    carried (permission bits, and owner and group where the process may set
//    them; on Windows attributes, security and streams), replaces the target in
//    one step and writes the folder through. Until then the target keeps every
//    old byte; afterwards it holds all of the new ones, and Commit succeeds:
//    an owner that could not be kept, or a folder flush that failed, is a
//    warning then, not a failure.
//  - Released without Commit, or when Commit fails before the replacement,
//    the temporary file is removed. It is watched for TInterruptCleanup.
//  - A device, FIFO or socket is refused with EFNotRegularFile, or, with
//    WriteSpecialInPlace, opened and written straight into: no temporary file,
//    no rename, and it stays what it was.

#include "host/Replacement.h"
#include "host/SequentialFile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TFileStream;

// The target exists but is no regular file, and may not be written in place.
VYK_DECLARE_EXCEPTION(EFNotRegularFile, EFCreateError);

struct TReplacementOptions {
    // The name failures show; the target as given when empty.
    std::string DisplayName;
    // The temporary file is named after the real target plus this suffix;
    // empty: a random hidden name.
    std::string FixedSuffix;
    // In the random name: ".NAME.<tag>-" and eight hexadecimal digits, or
    // ".<tag>-" and the digits where a folder takes no longer names.
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
    // What the replacement that happened could not do as asked, one line each:
    // the old owner not kept, the folder not flushed after the rename.
    const std::vector<std::string>& Warnings() const { return warnings_; }

    // True when a special file is written in place.
    bool InPlace() const;
    // The file written into until Commit; the target itself in place.
    const std::string& TemporaryPath() const;

private:
    // Each platform's part, in its own file. FindTarget resolves real_,
    // refuses what may not be replaced, holds an existing file and opens a
    // special one in place. Error numbers are the system's own.
    void FindTarget(bool writeSpecialInPlace);
    // Creates path exclusively, never through a link, and makes it stream_;
    // held so that a later run sees it is in use (locked on POSIX, open
    // without sharing but for deletion on Windows).
    std::uint32_t CreateTemporary(const std::string& path);
    // Removes path when it is a regular file (on POSIX, of this user) that
    // no live process holds: what a run that was killed left.
    static void RemoveIfAbandoned(const std::string& path);
    static bool NameTaken(std::uint32_t error);
    // Another process holds the file: a sharing or lock violation.
    static bool HeldByAnother(std::uint32_t error);
    // The name, or the path, is longer than the folder takes.
    static bool NameTooLong(std::uint32_t error);
    // Removes what stands at path, a link itself; a missing name is no error.
    static std::uint32_t RemoveName(const std::string& path);
    void ReleaseHold();
    // Gives the temporary file what the old one carried, flushes it and puts
    // it in the target's place.
    void PutInPlace();

    // The folder separators of a native path.
    static const char* Separators();

    void CreateBeside(const TReplacementOptions& options);
    // What killed runs left in folder under prefix and eight hex digits.
    static void RemoveAbandoned(const std::string& folder, const std::string& prefix);
    std::uint32_t CreateWatched(const std::string& path);
    void RemoveTemporary();
    std::string FolderOf(const std::string& path) const;
    [[noreturn]] void Fail(std::uint32_t error) const;

    std::string shown_;
    std::string shownTarget_; // the target as given, native
    std::string real_;        // the file replaced, links followed
    std::string temporary_;   // the file written; real_ itself in place
    std::vector<std::string> warnings_;
    bool inPlace_ = false;
    bool done_ = false;
    std::unique_ptr<TStream> stream_;
    TFileStream* file_ = nullptr; // stream_, when it is the temporary file
    struct TImpl;                 // the hold on the old file and what it carried
    struct TImplDeleter {
        void operator()(TImpl* impl) const;
    };
    std::unique_ptr<TImpl, TImplDeleter> impl_;
};

// "Cannot create file "<shown>". <reason>", as every refusal above reads.
[[noreturn]] void RaiseReplacementError(const std::string& shown, const std::string& reason);
[[noreturn]] void RaiseNotRegularFile(const std::string& shown);
