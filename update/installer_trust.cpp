#include "update/installer_trust.h"

#include <algorithm>

namespace trv {

bool ParsePins(const std::string& text, PinList& pins, std::string* error) {
    pins.clear();
    std::size_t i = 0;
    while (i < text.size()) {
        if (IsPinSeparator(text[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && !IsPinSeparator(text[end])) ++end;
        const std::string entry = text.substr(i, end - i);
        Sha256Digest digest{};
        bool good = entry.size() == 2 * digest.size();
        for (std::size_t k = 0; good && k < digest.size(); ++k) {
            const int hi = HexValue(entry[2 * k]);
            const int lo = HexValue(entry[2 * k + 1]);
            good = hi >= 0 && lo >= 0;
            if (good) digest[k] = static_cast<std::uint8_t>(hi << 4 | lo);
        }
        if (!good) {
            pins.clear();
            if (error) *error = "not a SHA-256 hex hash: \"" + entry + "\"";
            return false;
        }
        pins.push_back(digest);
        i = end;
    }
    return true;
}

bool SignerPinned(const PinList& pins, const Sha256Digest& keyHash, const Sha256Digest& certHash) {
    return std::any_of(pins.begin(), pins.end(), [&](const Sha256Digest& pin) {
        return pin == keyHash || pin == certHash;
    });
}

std::string DigestHex(const Sha256Digest& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * digest.size());
    for (std::uint8_t b : digest) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 0x0f];
    }
    return hex;
}

const char* TrustOutcomeName(TrustOutcome outcome) {
    switch (outcome) {
    case TrustOutcome::Ok: return "ok";
    case TrustOutcome::Unsigned: return "unsigned";
    case TrustOutcome::Tampered: return "tampered";
    case TrustOutcome::UntrustedChain: return "untrusted chain";
    case TrustOutcome::PolicyFailure: return "policy failure";
    case TrustOutcome::NotCodeSigning: return "not code signing";
    case TrustOutcome::NotPinned: return "not pinned";
    case TrustOutcome::NoPinsConfigured: return "no pins configured";
    case TrustOutcome::CannotReadFile: return "cannot read file";
    }
    return "unknown";
}

TrustDecision DecisionFor(TrustOutcome outcome) {
    if (outcome == TrustOutcome::Ok) return {true, false, false, 0};
    return {false, true, true, 2};
}

TrustOutcome OutcomeForTrustError(std::uint32_t code) {
    switch (code) {
    case 0:
        return TrustOutcome::Ok;
    case 0x800B0100u:  // TRUST_E_NOSIGNATURE
    case 0x800B0003u:  // TRUST_E_SUBJECT_FORM_UNKNOWN: not a file that carries signatures
        return TrustOutcome::Unsigned;
    case 0x80096010u:  // TRUST_E_BAD_DIGEST
    case 0x80096004u:  // TRUST_E_CERT_SIGNATURE
    case 0x80096002u:  // TRUST_E_NO_SIGNER_CERT
    case 0x80091007u:  // CRYPT_E_HASH_VALUE
    case 0x8009200Du:  // CRYPT_E_BAD_MSG
    case 0x8009200Eu:  // CRYPT_E_NO_SIGNER
        return TrustOutcome::Tampered;
    case 0x800B0109u:  // CERT_E_UNTRUSTEDROOT
    case 0x800B010Au:  // CERT_E_CHAINING
    case 0x800B010Du:  // CERT_E_UNTRUSTEDTESTROOT
    case 0x800B0112u:  // CERT_E_UNTRUSTEDCA
    case 0x800B0111u:  // TRUST_E_EXPLICIT_DISTRUST
    case 0x800B0101u:  // CERT_E_EXPIRED
    case 0x800B0102u:  // CERT_E_VALIDITYPERIODNESTING
    case 0x800B010Cu:  // CERT_E_REVOKED
    case 0x80096019u:  // TRUST_E_BASIC_CONSTRAINTS
        return TrustOutcome::UntrustedChain;
    case 0x800B0110u:  // CERT_E_WRONG_USAGE
    case 0x800B0106u:  // CERT_E_PURPOSE
        return TrustOutcome::NotCodeSigning;
    case 0x80092003u:  // CRYPT_E_FILE_ERROR
    case 0x80070002u:  // file not found
    case 0x80070003u:  // path not found
    case 0x80070005u:  // access denied
    case 0x80070020u:  // sharing violation
        return TrustOutcome::CannotReadFile;
    }
    // A damaged signature block fails to decode.
    if (code >= 0x80093000u && code <= 0x800931FFu) return TrustOutcome::Tampered;
    return TrustOutcome::PolicyFailure;
}

TrustOutcome DecideTrust(const PinList& pins, const SignatureFacts& facts) {
    if (pins.empty()) return TrustOutcome::NoPinsConfigured;
    if (!facts.fileReadable) return TrustOutcome::CannotReadFile;
    if (facts.verifyResult != 0) return OutcomeForTrustError(facts.verifyResult);
    if (!facts.haveSigner) return TrustOutcome::Unsigned;

    const std::uint32_t chainErrors =
        facts.chainErrorStatus & ~(kChainRevocationUnknown | kChainOfflineRevocation);
    if (chainErrors == kChainNotValidForUsage) return TrustOutcome::NotCodeSigning;
    if (chainErrors != 0) return TrustOutcome::UntrustedChain;

    if (!facts.policyRan) return TrustOutcome::PolicyFailure;
    if (facts.policyError != 0) return OutcomeForTrustError(facts.policyError);
    if (!facts.codeSigningUsage) return TrustOutcome::NotCodeSigning;

    if (!facts.hashesKnown) return TrustOutcome::PolicyFailure;
    if (!SignerPinned(pins, facts.keyHash, facts.certHash)) return TrustOutcome::NotPinned;
    return TrustOutcome::Ok;
}

}  // namespace trv
