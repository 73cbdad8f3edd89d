// The installer arrives over plain HTTP, so it runs only when its Authenticode
// signature is intact, chains to a trusted root, is for code signing and comes
// from a pinned publisher key or certificate. This file holds the pin list and
// the decisions; update/installer_trust_win32.cpp gathers the facts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace trv {

// Shown (titled "알림") when the downloaded installer is refused.
constexpr wchar_t kInstallerUntrustedMessage[] = L"설치 파일의 서명을 확인할 수 없습니다!   ";

using Sha256Digest = std::array<std::uint8_t, 32>;
using PinList = std::vector<Sha256Digest>;

// Pins are SHA-256 hashes as 64 hex digits (either case), of the signer's
// SubjectPublicKeyInfo or of its whole certificate (both DER). Entries are
// separated by ';', ',' or blanks; empty entries between separators are skipped.
constexpr bool IsPinSeparator(char c) {
    return c == ';' || c == ',' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
constexpr int HexValue(char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}
// constexpr so that the build rejects a malformed pin setting.
constexpr bool PinTextWellFormed(const char* text) {
    std::size_t run = 0;
    for (const char* p = text;; ++p) {
        if (*p == '\0' || IsPinSeparator(*p)) {
            if (run != 0 && run != 64) return false;
            if (*p == '\0') return true;
            run = 0;
        } else if (HexValue(*p) < 0) {
            return false;
        } else {
            ++run;
        }
    }
}

// false, with the offending entry in error, when any entry is not 64 hex
// digits; pins is then left empty. An empty or blank text is no pins.
bool ParsePins(const std::string& text, PinList& pins, std::string* error = nullptr);

// A signer is pinned when its key hash or its certificate hash is in the list.
bool SignerPinned(const PinList& pins, const Sha256Digest& keyHash, const Sha256Digest& certHash);

std::string DigestHex(const Sha256Digest& digest);  // lower case

enum class TrustOutcome {
    Ok,
    Unsigned,          // no signature, or not a signable file
    Tampered,          // the signed content or the signature does not verify
    UntrustedChain,    // no trusted root, broken or expired chain, distrusted
    PolicyFailure,     // the Authenticode chain policy or the verifier refused it otherwise
    NotCodeSigning,    // the signer's certificate is not for code signing
    NotPinned,         // a valid signature by someone else's key
    NoPinsConfigured,  // a build without pins trusts no installer
    CannotReadFile,
};
const char* TrustOutcomeName(TrustOutcome outcome);

// What the dialog does after the check: either the installer runs, or the
// user sees kInstallerUntrustedMessage, the dialog ends with 2 and the
// unverified file is deleted so nothing can start it later.
struct TrustDecision {
    bool runInstaller;
    bool showMessage;
    bool removeFile;
    int endCode;  // 0 while the update goes on
};
TrustDecision DecisionFor(TrustOutcome outcome);

// Chain error bits that only say revocation could not be checked; the
// check runs offline, so they do not count.
constexpr std::uint32_t kChainRevocationUnknown = 0x00000040u;   // CERT_TRUST_REVOCATION_STATUS_UNKNOWN
constexpr std::uint32_t kChainOfflineRevocation = 0x01000000u;   // CERT_TRUST_IS_OFFLINE_REVOCATION
constexpr std::uint32_t kChainNotValidForUsage = 0x00000010u;    // CERT_TRUST_IS_NOT_VALID_FOR_USAGE

// A verifier or chain-policy error code (HRESULT bits) as an outcome.
// 0 is Ok; codes not known here are PolicyFailure.
TrustOutcome OutcomeForTrustError(std::uint32_t code);

// Everything the Win32 side found out about one file, in the order it looks.
struct SignatureFacts {
    bool fileReadable = false;
    std::uint32_t verifyResult = 0;      // WinVerifyTrust's result
    bool haveSigner = false;             // signer certificate and chain were available
    std::uint32_t chainErrorStatus = 0;  // the signer chain's TrustStatus.dwErrorStatus
    std::uint32_t policyError = 0;       // CERT_CHAIN_POLICY_AUTHENTICODE's dwError
    bool policyRan = false;              // CertVerifyCertificateChainPolicy itself succeeded
    bool codeSigningUsage = false;       // the leaf names the code-signing usage
    bool hashesKnown = false;            // keyHash and certHash were computed
    Sha256Digest keyHash{};
    Sha256Digest certHash{};
};

// Each requirement must hold on its own: the verifier's result is not
// enough (Wine accepts untrusted roots and wrong usages there), so the
// chain, the policy, the usage and the pin are all checked again.
TrustOutcome DecideTrust(const PinList& pins, const SignatureFacts& facts);

}  // namespace trv
