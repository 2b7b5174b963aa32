// The reader of a program's embedded signature over any bytes: it never
// crashes and never reads outside the file (the sanitizers watch), and it
// keeps its promise about the image digest: when a file's signature is valid,
// changing any one byte that the digest covers makes it invalid. The byte is
// chosen by a hash of the input, so each valid input found checks a position
// of its own. The seeds are programs signed by the tests' code-signing key.

#include "fuzz/FuzzInput.h"
#include "host/PEImage.h"
#include "host/ProgramSignature.h"
#include "host/Stream.h"

#include <cstdint>
#include <string>

namespace {

std::uint64_t Hash(const std::uint8_t* data, std::size_t size) {
    std::uint64_t hash = 14695981039346656037ull;
    for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 1099511628211ull;
    return hash;
}

// The offset of the n-th digested byte.
std::int64_t DigestedOffset(const TPEImageLayout& layout, std::uint64_t n) {
    std::uint64_t total = 0;
    for (const TByteRange& range : layout.Digested)
        total += static_cast<std::uint64_t>(range.End - range.Start);
    n %= total;
    for (const TByteRange& range : layout.Digested) {
        const auto size = static_cast<std::uint64_t>(range.End - range.Start);
        if (n < size) return range.Start + static_cast<std::int64_t>(n);
        n -= size;
    }
    return -1;
}

TProgramSignature Read(const std::string& bytes) {
    TStringStream file(bytes);
    return ReadProgramSignature(file);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (!Read(bytes).Valid()) return 0;
    TStringStream file(bytes);
    const std::uint64_t hash = Hash(data, size);
    const std::int64_t offset = DigestedOffset(ReadPEImageLayout(file), hash);
    bytes[static_cast<std::size_t>(offset)] ^= static_cast<char>(1 + hash % 255);
    vykfuzz::Require(!Read(bytes).Valid(), "a change of the digested byte at " +
                                               std::to_string(offset) +
                                               " left the signature valid");
    return 0;
}
