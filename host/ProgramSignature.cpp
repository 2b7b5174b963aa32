#include "host/ProgramSignature.h"

#include "host/Certificate.h"
#include "host/DerReader.h"
#include "host/PEImage.h"

#include <algorithm>

namespace {

const char* const kSignedData = "1.2.840.113549.1.7.2";
const char* const kIndirectData = "1.3.6.1.4.1.311.2.1.4";
const char* const kPEImageData = "1.3.6.1.4.1.311.2.1.15";
const char* const kTimeStampInfo = "1.2.840.113549.1.9.16.1.4";

TProgramSignature Refused(TSignatureState state, std::string why) {
    TProgramSignature result;
    result.State = state;
    result.Why = std::move(why);
    return result;
}

// The encapsulated content of a SignedData ContentInfo, which must be of type.
TDerElement ContentOf(const TSignatureBytes& message, const char* type) {
    TDerReader outer(message.data(), message.size());
    TDerReader info(outer.Expect(kDerSequence));
    if (OidText(info.Expect(kDerOid)) != kSignedData) throw EDerError(kSignatureNoSignedData);
    TDerReader signedData(TDerReader(info.Expect(DerContext(0))).Expect(kDerSequence));
    signedData.Expect(kDerInteger);
    signedData.Expect(kDerSet);
    TDerReader encapsulated(signedData.Expect(kDerSequence));
    if (OidText(encapsulated.Expect(kDerOid)) != type)
        throw EDerError("signed content of another type");
    return TDerReader(encapsulated.Expect(DerContext(0))).Next();
}

struct TDigestInfo {
    std::string Algorithm;
    TSignatureBytes Digest;
};

// SpcIndirectDataContent: what the signature says of the image.
TDigestInfo ImageDigestOf(const TDerElement& content) {
    TDerReader indirect(content);
    TDerReader data(indirect.Expect(kDerSequence));
    if (OidText(data.Expect(kDerOid)) != kPEImageData)
        throw EDerError("signed data of another kind than a PE image");
    TDerReader digestInfo(indirect.Expect(kDerSequence));
    TDigestInfo info;
    info.Algorithm = OidText(TDerReader(digestInfo.Expect(kDerSequence)).Expect(kDerOid));
    info.Digest = digestInfo.Expect(kDerOctetString).Bytes();
    return info;
}

std::string AlgorithmName(const std::string& oid) {
    if (oid == "1.3.14.3.2.26") return "SHA-1";
    if (oid == "1.2.840.113549.2.5") return "MD5";
    return oid;
}

TSignatureBytes DigestOfRanges(TStream& file, const std::vector<TByteRange>& ranges,
                               TImageDigest& digest) {
    std::vector<std::uint8_t> piece(64 * 1024);
    for (const TByteRange& range : ranges) {
        if (file.Seek(range.Start, TSeekOrigin::soBeginning) != range.Start) throw EReadError();
        for (std::int64_t left = range.End - range.Start; left > 0;) {
            const auto count =
                std::min<std::int64_t>(left, static_cast<std::int64_t>(piece.size()));
            file.ReadBuffer(piece.data(), count);
            digest.Update(piece.data(), static_cast<std::size_t>(count));
            left -= count;
        }
    }
    return digest.Final();
}

// The time of the signer's RFC 3161 timestamp when the token's signature
// verifies, it covers this signature, and its signer is a time-stamping
// authority that chains to a trusted root at that time.
std::optional<std::int64_t> TimestampOf(const TSignerCheck& signer) {
    if (signer.TimestampToken.empty()) return std::nullopt;
    try {
        const TDerElement content = ContentOf(signer.TimestampToken, kTimeStampInfo);
        if (content.Tag != kDerOctetString) return std::nullopt;
        const TSignerCheck token =
            CheckSignedData(signer.TimestampToken, content.Value, content.ValueSize);
        // A time-stamping authority's certificate must name that usage.
        const TCertificateFacts authority = ReadCertificate(token.Signer);
        if (!token.SignatureValid || !authority.HasExtendedKeyUsage ||
            !authority.Allows(kTimeStampingUsage))
            return std::nullopt;
        TDerReader info(TDerReader(content.Value, content.ValueSize).Expect(kDerSequence));
        info.Expect(kDerInteger);
        info.Expect(kDerOid);
        TDerReader imprint(info.Expect(kDerSequence));
        const std::string algorithm =
            OidText(TDerReader(imprint.Expect(kDerSequence)).Expect(kDerOid));
        const TSignatureBytes hashed = imprint.Expect(kDerOctetString).Bytes();
        info.Expect(kDerInteger);
        const std::int64_t time = DerTimeSeconds(info.Expect(kDerGeneralizedTime));
        auto digest = CreateImageDigest(algorithm);
        if (!digest) return std::nullopt;
        digest->Update(signer.SignatureValue.data(), signer.SignatureValue.size());
        if (digest->Final() != hashed) return std::nullopt;
        if (!ChainsToTrustedRoot(token.Signer, token.Certificates, time,
                                 TChainPurpose::cpTimeStamping))
            return std::nullopt;
        return time;
    } catch (const EDerError&) {
        return std::nullopt;
    } catch (const ESignatureFormatError&) {
        return std::nullopt;
    }
}

// The verdict, raising for what cannot be read.
TProgramSignature Verdict(TStream& program) {
    const TPEImageLayout layout = ReadPEImageLayout(program);
    if (!layout.HasCertificateTable())
        return Refused(TSignatureState::ssNone, "the program carries no signature");
    if (layout.BytesAfterTable() != 0)
        return Refused(TSignatureState::ssDigestMismatch,
                       std::to_string(layout.BytesAfterTable()) +
                           " bytes after the certificate table are not signed");
    const TSignatureBytes message = ReadSignedDataEntry(program, layout);
    if (message.empty())
        return Refused(TSignatureState::ssNone, "the program carries no signature");

    const TDerElement content = ContentOf(message, kIndirectData);
    const TDigestInfo signedDigest = ImageDigestOf(content);
    auto digest = CreateImageDigest(signedDigest.Algorithm);
    if (!digest)
        return Refused(TSignatureState::ssNone, "the image digest is " +
                                                    AlgorithmName(signedDigest.Algorithm) +
                                                    ", which is not accepted");
    if (DigestOfRanges(program, layout.Digested, *digest) != signedDigest.Digest)
        return Refused(TSignatureState::ssDigestMismatch,
                       "the program's bytes are not the ones signed");
    const TSignerCheck signer = CheckSignedData(message, content.Value, content.ValueSize);
    if (!signer.SignatureValid)
        return Refused(TSignatureState::ssSignatureInvalid,
                       "the signer's signature does not verify");
    if (!ReadCertificate(signer.Signer).Allows(kCodeSigningUsage))
        return Refused(TSignatureState::ssSignatureInvalid,
                       "the signer's certificate is not for code signing");
    TProgramSignature result;
    result.State = TSignatureState::ssValid;
    result.Signer = signer.Signer;
    result.Certificates = signer.Certificates;
    result.Timestamp = TimestampOf(signer);
    return result;
}

} // namespace

TProgramSignature ReadProgramSignature(TStream& program) {
    try {
        return Verdict(program);
    } catch (const EPEImageError& error) {
        return Refused(TSignatureState::ssNone, error.Message());
    } catch (const EDerError& error) {
        return Refused(TSignatureState::ssNone, "the signature cannot be read: " + error.Message());
    } catch (const ESignatureFormatError& error) {
        return Refused(TSignatureState::ssNone, "the signature cannot be read: " + error.Message());
    }
}
