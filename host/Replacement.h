#pragma once
// A file being replaced as a whole: the new content is written into Stream(),
// and Commit() puts it in place. Released without a successful Commit, the old
// file keeps every byte and nothing is left behind.

#include "host/FileStream.h"
#include "host/Stream.h"

// The file cannot be replaced because another process holds it open (a
// program that is running, say); its text is the system's, as for any refusal.
VYK_DECLARE_EXCEPTION(EFileInUse, EFCreateError);

class TReplacement {
public:
    virtual ~TReplacement() = default;
    TReplacement() = default;
    TReplacement(const TReplacement&) = delete;
    TReplacement& operator=(const TReplacement&) = delete;

    virtual TStream& Stream() = 0;
    // Raises EFCreateError naming the target when the new content cannot be
    // put in place (EFileInUse when another process holds it); the old file
    // is then unchanged.
    virtual void Commit() = 0;
};
