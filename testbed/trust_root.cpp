// trust_root add|remove <cert.der>: puts the signing test rig's root into
// (or takes it out of) the local machine's "Root" store of the Wine prefix,
// so chains to it are trusted there and nowhere else.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool ReadAll(const char* path, std::string& bytes) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

int Fail(const char* what) {
    std::fprintf(stderr, "trust_root: %s failed (error 0x%08lx)\n", what, GetLastError());
    return 1;
}

bool InRootStore(PCCERT_CONTEXT cert) {
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                                     CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG, "Root");
    if (!store) return false;
    PCCERT_CONTEXT found =
        CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, cert, nullptr);
    if (found) CertFreeCertificateContext(found);
    CertCloseStore(store, 0);
    return found != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "add") != 0 && std::strcmp(argv[1], "remove") != 0)) {
        std::fprintf(stderr, "usage: trust_root add|remove <cert.der>\n");
        return 2;
    }
    const bool add = std::strcmp(argv[1], "add") == 0;
    std::string der;
    if (!ReadAll(argv[2], der) || der.empty()) {
        std::fprintf(stderr, "trust_root: cannot read %s\n", argv[2]);
        return 1;
    }
    PCCERT_CONTEXT cert = CertCreateCertificateContext(
        X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()));
    if (!cert) return Fail("decoding the certificate");

    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                                     CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
    if (!store) {
        CertFreeCertificateContext(cert);
        return Fail("opening the Root store");
    }
    int rc = 0;
    if (add) {
        if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING,
                                              reinterpret_cast<const BYTE*>(der.data()),
                                              static_cast<DWORD>(der.size()),
                                              CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
            rc = Fail("adding the certificate");
        // Wine writes a change only on commit once the store has been committed before.
        else if (!CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr))
            rc = Fail("committing the Root store");
    } else {
        // Every copy goes, so a repeated add cannot leave one behind.
        int removed = 0;
        PCCERT_CONTEXT found;
        while ((found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING,
                                                   cert, nullptr)) != nullptr) {
            if (!CertDeleteCertificateFromStore(found)) {  // frees found either way
                rc = Fail("deleting the certificate");
                break;
            }
            ++removed;
        }
        if (rc == 0 && !CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr))
            rc = Fail("committing the Root store");
        if (rc == 0) std::printf("trust_root: removed %d\n", removed);
    }
    CertCloseStore(store, 0);
    // A fresh look must agree, or later programs would not see the change.
    if (rc == 0 && InRootStore(cert) != add) {
        std::fprintf(stderr, "trust_root: the Root store does not show the change\n");
        rc = 1;
    }
    CertFreeCertificateContext(cert);
    if (rc == 0 && add) std::printf("trust_root: added\n");
    return rc;
}
