#include "host/PEImage.h"

#include "host/DerReader.h"

namespace {

constexpr std::uint16_t kPE32 = 0x10B;
constexpr std::uint16_t kPE32Plus = 0x20B;
constexpr std::uint16_t kCertificateTypePKCS7 = 0x0002;
constexpr int kSecurityDirectory = 4;

class THeaderReader {
public:
    explicit THeaderReader(TStream& file) : file_(file), size_(file.Size()) {}

    std::int64_t Size() const { return size_; }
    std::uint32_t Bytes(std::int64_t offset, int count) {
        if (offset < 0 || offset > size_ - count)
            throw EPEImageError("the PE headers point past the end of the file");
        std::uint8_t raw[4] = {};
        if (file_.Seek(offset, TSeekOrigin::soBeginning) != offset) throw EReadError();
        file_.ReadBuffer(raw, count);
        std::uint32_t value = 0;
        for (int i = count - 1; i >= 0; --i) value = (value << 8) | raw[i];
        return value;
    }
    std::uint16_t U16(std::int64_t offset) { return static_cast<std::uint16_t>(Bytes(offset, 2)); }
    std::uint32_t U32(std::int64_t offset) { return Bytes(offset, 4); }

private:
    TStream& file_;
    std::int64_t size_;
};

} // namespace

bool StartsAsWindowsProgram(TStream& file) {
    char head[2] = {};
    return file.Seek(0, TSeekOrigin::soBeginning) == 0 && file.Read(head, 2) == 2 &&
           head[0] == 'M' && head[1] == 'Z';
}

TPEImageLayout ReadPEImageLayout(TStream& file) {
    THeaderReader headers(file);
    if (headers.Size() < 64 || headers.U16(0) != 0x5A4D) throw EPEImageError("no MZ header");
    const std::int64_t pe = headers.U32(0x3C);
    if (headers.U32(pe) != 0x00004550) throw EPEImageError("no PE header");
    const std::int64_t optionalSize = headers.U16(pe + 20);
    const std::int64_t optional = pe + 24;
    const std::uint16_t magic = headers.U16(optional);
    if (magic != kPE32 && magic != kPE32Plus)
        throw EPEImageError("an optional header of unknown kind");
    const std::int64_t directories = optional + (magic == kPE32 ? 96 : 112);
    const std::uint32_t directoryCount = headers.U32(directories - 4);
    const std::int64_t entry = directories + 8 * kSecurityDirectory;
    if (directoryCount <= kSecurityDirectory || entry + 8 > optional + optionalSize)
        throw EPEImageError("no directory entry for the certificate table");

    TPEImageLayout layout;
    layout.FileSize = headers.Size();
    layout.TableOffset = headers.U32(entry);
    layout.TableSize = headers.U32(entry + 4);
    const std::int64_t checksum = optional + 64;
    if (layout.TableSize == 0) {
        layout.TableOffset = 0;
        layout.Digested = {{0, checksum}, {checksum + 4, entry}, {entry + 8, layout.FileSize}};
        return layout;
    }
    if (layout.TableOffset < entry + 8 || layout.TableOffset > layout.FileSize - layout.TableSize)
        throw EPEImageError("the certificate table lies outside the file");
    layout.Digested = {{0, checksum}, {checksum + 4, entry}, {entry + 8, layout.TableOffset}};
    return layout;
}

TSignatureBytes ReadSignedDataEntry(TStream& file, const TPEImageLayout& layout) {
    // Each entry: dwLength (header included), wRevision, wCertificateType,
    // then the certificate; entries start on 8-byte boundaries.
    std::int64_t at = layout.TableOffset;
    const std::int64_t end = layout.TableOffset + layout.TableSize;
    THeaderReader headers(file);
    while (end - at >= 8) {
        const std::int64_t length = headers.U32(at);
        const std::uint16_t type = headers.U16(at + 6);
        if (length < 8 || length > end - at)
            throw EPEImageError("a certificate entry runs past its table");
        if (type == kCertificateTypePKCS7) {
            TSignatureBytes message(static_cast<std::size_t>(length - 8));
            file.Seek(at + 8, TSeekOrigin::soBeginning);
            file.ReadBuffer(message.data(), static_cast<std::int64_t>(message.size()));
            // The entry is padded to eight bytes; the message ends where its DER says.
            TDerReader reader(message.data(), message.size());
            message.resize(reader.Expect(kDerSequence).Size);
            return message;
        }
        at += (length + 7) / 8 * 8;
    }
    return {};
}
