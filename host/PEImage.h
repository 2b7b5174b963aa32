#pragma once
// Where a Windows program keeps its embedded signature (the certificate table
// of the PE headers), and which of its bytes the signature's image digest
// covers. Every offset and size taken from the headers is checked against the
// file's size before it is used: a hostile file can make the reading fail, but
// never read outside the file or allocate more than the file's size.

#include "host/SignatureEngine.h"
#include "host/Stream.h"

#include <cstdint>
#include <vector>

// A file that is no PE image, or whose headers point outside it.
VYK_DECLARE_EXCEPTION(EPEImageError, Exception);

struct TByteRange {
    std::int64_t Start = 0;
    std::int64_t End = 0; // one past the last byte
};

struct TPEImageLayout {
    std::int64_t FileSize = 0;
    // The certificate table; both zero when the program carries none.
    std::int64_t TableOffset = 0;
    std::int64_t TableSize = 0;
    // What the image digest covers, in file order: everything before the
    // table but the header's checksum and the table's directory entry.
    std::vector<TByteRange> Digested;

    bool HasCertificateTable() const { return TableSize != 0; }
    // Bytes after the table, which no digest covers.
    std::int64_t BytesAfterTable() const { return FileSize - TableOffset - TableSize; }
};

// The file starts with "MZ", as every Windows program does.
bool StartsAsWindowsProgram(TStream& file);

TPEImageLayout ReadPEImageLayout(TStream& file);

// The first WIN_CERTIFICATE of type PKCS#7 SignedData in the table: its
// message, trimmed to the DER's own length. Empty when there is none.
TSignatureBytes ReadSignedDataEntry(TStream& file, const TPEImageLayout& layout);
