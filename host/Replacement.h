#pragma once
// A file being replaced as a whole: the new content is written into Stream(),
// and Commit() puts it in place. Released without a successful Commit, the old
// file keeps every byte and nothing is left behind.

#include "host/Stream.h"

class TReplacement {
public:
    virtual ~TReplacement() = default;
    TReplacement() = default;
    TReplacement(const TReplacement&) = delete;
    TReplacement& operator=(const TReplacement&) = delete;

    virtual TStream& Stream() = 0;
    // Raises EFCreateError naming the target when the new content cannot be
    // put in place; the old file is then unchanged.
    virtual void Commit() = 0;
};
