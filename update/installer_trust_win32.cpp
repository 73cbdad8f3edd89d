#include "update/installer_trust_win32.h"

#include <windows.h>
#include <wincrypt.h>
#include <softpub.h>
#include <wintrust.h>

#include <cstring>
#include <vector>

#include "platform/win32/wide_text.h"
#include "platform/win32/com_util.h"

#ifndef TRV_INSTALLER_PINS
#define TRV_INSTALLER_PINS ""
#endif
static_assert(trv::PinTextWellFormed(TRV_INSTALLER_PINS),
              "TRV_INSTALLER_PINS: every entry must be 64 hex digits (a SHA-256 hash)");

namespace trv {
namespace {

bool Sha256(const BYTE* data, DWORD size, Sha256Digest& out) {
    HCRYPTPROV prov = 0;
    if (!CryptAcquireContextW(&prov, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
        return false;
    bool ok = false;
    HCRYPTHASH hash = 0;
    if (CryptCreateHash(prov, CALG_SHA_256, 0, 0, &hash)) {
        DWORD length = static_cast<DWORD>(out.size());
        ok = CryptHashData(hash, data, size, 0) &&
             CryptGetHashParam(hash, HP_HASHVAL, out.data(), &length, 0) && length == out.size();
        CryptDestroyHash(hash);
    }
    CryptReleaseContext(prov, 0);
    return ok;
}

// Hashes of the certificate and of its SubjectPublicKeyInfo, both DER.
// CERT_SHA256_HASH_PROP_ID is not there under Wine, so hash by hand.
bool SignerHashes(PCCERT_CONTEXT cert, Sha256Digest& keyHash, Sha256Digest& certHash) {
    if (!Sha256(cert->pbCertEncoded, cert->cbCertEncoded, certHash)) return false;
    BYTE* spki = nullptr;
    DWORD spkiSize = 0;
    if (!CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO,
                             &cert->pCertInfo->SubjectPublicKeyInfo, CRYPT_ENCODE_ALLOC_FLAG,
                             nullptr, &spki, &spkiSize))
        return false;
    const bool ok = Sha256(spki, spkiSize, keyHash);
    LocalFree(spki);
    return ok;
}

// Only an explicit code-signing usage counts; a certificate without any
// usage list is valid for everything and is not what a publisher signs with.
bool HasCodeSigningUsage(PCCERT_CONTEXT cert) {
    DWORD size = 0;
    if (!CertGetEnhancedKeyUsage(cert, 0, nullptr, &size) || size < sizeof(CERT_ENHKEY_USAGE))
        return false;
    std::vector<BYTE> buffer(size);
    auto* usage = reinterpret_cast<PCERT_ENHKEY_USAGE>(buffer.data());
    if (!CertGetEnhancedKeyUsage(cert, 0, usage, &size)) return false;
    for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
        if (usage->rgpszUsageIdentifier[i] &&
            std::strcmp(usage->rgpszUsageIdentifier[i], szOID_PKIX_KP_CODE_SIGNING) == 0)
            return true;
    }
    return false;
}

void ReadSigner(HANDLE stateData, SignatureFacts& facts) {
    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(stateData);
    CRYPT_PROVIDER_SGNR* signer =
        provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    PCCERT_CHAIN_CONTEXT chain = signer ? signer->pChainContext : nullptr;
    if (!chain || chain->cChain == 0 || !chain->rgpChain[0] ||
        chain->rgpChain[0]->cElement == 0 || !chain->rgpChain[0]->rgpElement[0] ||
        !chain->rgpChain[0]->rgpElement[0]->pCertContext)
        return;
    facts.haveSigner = true;
    facts.chainErrorStatus = chain->TrustStatus.dwErrorStatus;

    AUTHENTICODE_EXTRA_CERT_CHAIN_POLICY_PARA extraPara = {};
    extraPara.cbSize = sizeof extraPara;
    extraPara.pSignerInfo = signer->psSigner;
    CERT_CHAIN_POLICY_PARA para = {};
    para.cbSize = sizeof para;
    para.pvExtraPolicyPara = &extraPara;
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof status;
    facts.policyRan =
        CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, chain, &para, &status) != FALSE;
    facts.policyError = status.dwError;

    PCCERT_CONTEXT leaf = chain->rgpChain[0]->rgpElement[0]->pCertContext;
    facts.codeSigningUsage = HasCodeSigningUsage(leaf);
    facts.hashesKnown = SignerHashes(leaf, facts.keyHash, facts.certHash);
}

}  // namespace

const PinList& InstallerPins() {
    static const PinList pins = [] {
        PinList parsed;
        ParsePins(TRV_INSTALLER_PINS, parsed);
        return parsed;
    }();
    return pins;
}

UniqueHandle OpenInstallerHeld(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) return UniqueHandle();
    // Sharing read only: the verifier and the loader may read it, nobody
    // may change, rename or delete it while this handle is open.
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Valid() && GetFileType(file.Get()) != FILE_TYPE_DISK) file.Reset();
    return file;
}

TrustOutcome VerifyOpenInstaller(HANDLE file, const std::string& path, const PinList& pins) {
    SignatureFacts facts;
    if (pins.empty()) return DecideTrust(pins, facts);

    // The verifier reads the very handle given; its name is only a label.
    const std::wstring widePath = WidenAnsi(path);
    facts.fileReadable = file && file != INVALID_HANDLE_VALUE && !widePath.empty();
    if (!facts.fileReadable) return DecideTrust(pins, facts);

    WINTRUST_FILE_INFO fileInfo = {};
    fileInfo.cbStruct = sizeof fileInfo;
    fileInfo.pcwszFilePath = widePath.c_str();
    fileInfo.hFile = file;

    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    // Offline: no revocation lookups and no fetching of missing issuers.
    data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;

    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    facts.verifyResult = static_cast<std::uint32_t>(WinVerifyTrust(nullptr, &action, &data));
    // The verifier's answer alone is not trusted (Wine passes untrusted
    // roots and wrong usages), so the signer is examined whatever it said.
    if (data.hWVTStateData) ReadSigner(data.hWVTStateData, facts);

    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(nullptr, &action, &data);
    return DecideTrust(pins, facts);
}

TrustOutcome VerifyInstallerWithPins(const std::string& path, const PinList& pins) {
    if (pins.empty()) return DecideTrust(pins, SignatureFacts{});
    UniqueHandle file = OpenInstallerHeld(path);
    return VerifyOpenInstaller(file.Get(), path, pins);
}

TrustOutcome VerifyInstaller(const std::string& path) {
    return VerifyInstallerWithPins(path, InstallerPins());
}

TrustOutcome VerifyHeldInstallerOrRemove(UniqueHandle& file, const std::string& path) {
    const TrustOutcome outcome = VerifyOpenInstaller(file.Get(), path, InstallerPins());
    if (DecisionFor(outcome).removeFile) {
        file.Reset();
        if (!path.empty()) DeleteFileA(path.c_str());
    }
    return outcome;
}

}  // namespace trv
