// The installer signature check under Wine, on the files of the signing test
// rig (testbed/make-test-signing): one correctly signed by the pinned
// publisher, and one for each way a signature must be refused.
#include <windows.h>
#include <objbase.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "support/wine_support.h"
#include "update/installer_trust_win32.h"

namespace trv {
namespace {

using namespace winetest;

std::string Rig() { return BuildDir() + "\\test-signing"; }
std::string RigFile(const char* name) { return Rig() + "\\files\\" + name; }

PinList PinFromFile(const char* name) {
    PinList pins;
    const std::string text = ReadFileBytes(Rig() + "\\keys\\" + name);
    EXPECT_TRUE(ParsePins(text, pins)) << name;
    EXPECT_EQ(pins.size(), 1u) << name;
    return pins;
}

::testing::AssertionResult Outcome(TrustOutcome expected, TrustOutcome actual) {
    if (expected == actual) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "expected " << TrustOutcomeName(expected) << ", got " << TrustOutcomeName(actual);
}

class InstallerTrust : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(GetACP(), 949u) << "tests run with a Korean ANSI code page";
    }
    void SetUp() override {
        const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
        work = BuildDir() + "\\trust-temp\\" + info->name() + "\\";
        ASSERT_TRUE(MakeFolder(work)) << work;
    }
    // A copy where the dialog would have downloaded the installer.
    std::string Downloaded(const char* rigName, const std::string& as = "setup.exe") {
        const std::string target = work + as;
        EXPECT_TRUE(CopyFileA(RigFile(rigName).c_str(), target.c_str(), FALSE))
            << rigName << " -> " << target << " error " << GetLastError();
        return target;
    }
    static bool Exists(const std::string& path) {
        return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    // As the download thread checks it: held open, refused files removed.
    static TrustOutcome CheckHeld(const std::string& path) {
        UniqueHandle held = OpenInstallerHeld(path);
        return VerifyHeldInstallerOrRemove(held, path);
    }

    std::string work;
};

TEST_F(InstallerTrust, TheBuildPinsTheRigPublishersKey) {
    const PinList rig = PinFromFile("publisher.key-pin");
    ASSERT_EQ(InstallerPins().size(), 1u);
    EXPECT_EQ(DigestHex(InstallerPins()[0]), DigestHex(rig.at(0)));
}

TEST_F(InstallerTrust, ThePinnedPublishersInstallerPasses) {
    EXPECT_TRUE(Outcome(TrustOutcome::Ok, VerifyInstaller(RigFile("signed-ok.exe"))));
    // A pin of the whole certificate works as well as one of the key.
    EXPECT_TRUE(Outcome(TrustOutcome::Ok, VerifyInstallerWithPins(RigFile("signed-ok.exe"),
                                                                  PinFromFile("publisher.cert-pin"))));
}

TEST_F(InstallerTrust, EveryBadSignatureIsRefusedForItsOwnFault) {
    // The untrusted-root, self-signed and no-code-signing files carry the
    // pinned key, so only the chain or the usage can refuse them.
    const struct {
        const char* file;
        TrustOutcome expected;
    } cases[] = {
        {"unsigned.exe", TrustOutcome::Unsigned},
        {"tampered.exe", TrustOutcome::Tampered},
        {"untrusted-root.exe", TrustOutcome::UntrustedChain},
        {"self-signed.exe", TrustOutcome::UntrustedChain},
        {"no-codesign-eku.exe", TrustOutcome::NotCodeSigning},
        {"other-publisher.exe", TrustOutcome::NotPinned},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(Outcome(c.expected, VerifyInstaller(RigFile(c.file)))) << c.file;
    }
    // The same variants of the stand-in installer, which the dialog's tests serve.
    const std::string installer = Rig() + "\\installer\\";
    if (GetFileAttributesA(installer.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    EXPECT_TRUE(Outcome(TrustOutcome::Ok, VerifyInstaller(installer + "signed-ok.exe")));
    for (const auto& c : cases) {
        EXPECT_TRUE(Outcome(c.expected, VerifyInstaller(installer + c.file))) << "installer " << c.file;
    }
}

TEST_F(InstallerTrust, ThePinAloneChoosesBetweenTwoValidPublishers) {
    const PinList other = PinFromFile("other.key-pin");
    EXPECT_TRUE(Outcome(TrustOutcome::Ok, VerifyInstallerWithPins(RigFile("other-publisher.exe"), other)));
    EXPECT_TRUE(Outcome(TrustOutcome::NotPinned, VerifyInstallerWithPins(RigFile("signed-ok.exe"), other)));

    // A rollover: the next key pinned next to the current one.
    PinList both = other;
    both.push_back(InstallerPins().at(0));
    EXPECT_TRUE(Outcome(TrustOutcome::Ok, VerifyInstallerWithPins(RigFile("signed-ok.exe"), both)));
    EXPECT_TRUE(Outcome(TrustOutcome::Ok, VerifyInstallerWithPins(RigFile("other-publisher.exe"), both)));
    // Still no way around the chain or the usage.
    EXPECT_TRUE(Outcome(TrustOutcome::UntrustedChain,
                        VerifyInstallerWithPins(RigFile("self-signed.exe"), both)));
    EXPECT_TRUE(Outcome(TrustOutcome::NotCodeSigning,
                        VerifyInstallerWithPins(RigFile("no-codesign-eku.exe"), both)));

    EXPECT_TRUE(Outcome(TrustOutcome::NoPinsConfigured,
                        VerifyInstallerWithPins(RigFile("signed-ok.exe"), PinList{})));
}

// Whether a fresh look at the machine's Root store finds the certificate.
bool RootTrusted(const std::string& der) {
    PCCERT_CONTEXT cert = CertCreateCertificateContext(
        X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()));
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                                     CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG, "Root");
    PCCERT_CONTEXT found = cert && store ? CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                                    CERT_FIND_EXISTING, cert, nullptr)
                                         : nullptr;
    if (found) CertFreeCertificateContext(found);
    if (store) CertCloseStore(store, 0);
    if (cert) CertFreeCertificateContext(cert);
    return found != nullptr;
}

// Run in a child process by the test below: a process's chain engine keeps
// the Root store it first saw, so a removed root only shows in a new one.
TEST(InstallerTrustChild, ChecksTheSignedInstaller) {
    const char* resultFile = std::getenv("TRV_TRUST_CHILD_RESULT");
    if (!resultFile) GTEST_SKIP() << "only as the child of TheChainNeedsTheRootInTheMachinesRootStore";
    ASSERT_TRUE(WriteFileBytes(resultFile, TrustOutcomeName(VerifyInstaller(RigFile("signed-ok.exe")))));
}

TEST_F(InstallerTrust, TheChainNeedsTheRootInTheMachinesRootStore) {
    const std::string der = ReadFileBytes(Rig() + "\\keys\\root.der");
    ASSERT_FALSE(der.empty());
    PCCERT_CONTEXT root = CertCreateCertificateContext(
        X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()));
    ASSERT_NE(root, nullptr);
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                                     CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
    ASSERT_NE(store, nullptr);
    PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                      CERT_FIND_EXISTING, root, nullptr);
    ASSERT_NE(found, nullptr) << "the rig's root is trusted while the tests run";
    ASSERT_TRUE(CertDeleteCertificateFromStore(found));
    ASSERT_TRUE(CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr));

    const std::string resultFile = work + "child-outcome.txt";
    DeleteFileA(resultFile.c_str());
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = std::string("\"") + self + "\" --gtest_filter=InstallerTrustChild.*";
    SetEnv("TRV_TRUST_CHILD_RESULT", resultFile.c_str());
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    const BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                        nullptr, &si, &pi);
    SetEnv("TRV_TRUST_CHILD_RESULT", nullptr);
    DWORD waited = WAIT_FAILED;
    if (started) {
        waited = WaitForSingleObject(pi.hProcess, 60000);
        if (waited != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }

    // Trusted again whatever happened, for the tests that follow.
    EXPECT_TRUE(CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING,
                                                 reinterpret_cast<const BYTE*>(der.data()),
                                                 static_cast<DWORD>(der.size()),
                                                 CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    EXPECT_TRUE(CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr));
    CertCloseStore(store, 0);
    CertFreeCertificateContext(root);
    EXPECT_TRUE(RootTrusted(der)) << "the rig's root is back in the Root store";

    ASSERT_TRUE(started) << "error " << GetLastError();
    ASSERT_EQ(waited, static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(ReadFileBytes(resultFile), TrustOutcomeName(TrustOutcome::UntrustedChain));
    EXPECT_TRUE(Outcome(TrustOutcome::Ok, VerifyInstaller(RigFile("signed-ok.exe"))));
}

TEST_F(InstallerTrust, ARefusedDownloadIsDeletedAndAnAcceptedOneKept) {
    for (const char* bad : {"unsigned.exe", "tampered.exe", "untrusted-root.exe", "self-signed.exe",
                            "no-codesign-eku.exe", "other-publisher.exe"}) {
        const std::string setup = Downloaded(bad);
        ASSERT_TRUE(Exists(setup));
        const TrustOutcome outcome = CheckHeld(setup);
        EXPECT_NE(outcome, TrustOutcome::Ok) << bad;
        EXPECT_FALSE(Exists(setup)) << bad << " was refused (" << TrustOutcomeName(outcome)
                                    << ") but not deleted";
    }
    const std::string good = Downloaded("signed-ok.exe");
    EXPECT_TRUE(Outcome(TrustOutcome::Ok, CheckHeld(good)));
    EXPECT_EQ(ReadFileBytes(good), ReadFileBytes(RigFile("signed-ok.exe")));
}

// Between its check and its start the installer is held: another program
// can neither change, replace, rename nor delete it. Once let go, it can.
TEST_F(InstallerTrust, AHeldInstallerCannotBeSwappedUntilItIsLetGo) {
    const std::string path = Downloaded("signed-ok.exe");
    const std::string evil = Downloaded("unsigned.exe", "evil.exe");
    const std::string aside = work + "aside.exe";
    const std::pair<const char*, std::function<bool()>> attacks[] = {
        {"overwrite", [&] { return CopyFileA(evil.c_str(), path.c_str(), FALSE) != FALSE; }},
        {"open for writing",
         [&] {
             UniqueHandle h(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                                                     FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
             return h.Valid();
         }},
        {"replace by rename",
         [&] { return MoveFileExA(evil.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE; }},
        {"rename away", [&] { return MoveFileExA(path.c_str(), aside.c_str(), 0) != FALSE; }},
        {"delete", [&] { return DeleteFileA(path.c_str()) != FALSE; }},
    };
    UniqueHandle held = OpenInstallerHeld(path);
    ASSERT_TRUE(held.Valid());
    EXPECT_TRUE(Outcome(TrustOutcome::Ok, VerifyHeldInstallerOrRemove(held, path)));
    ASSERT_TRUE(held.Valid()) << "an accepted installer stays held";
    for (const auto& [name, attack] : attacks) EXPECT_FALSE(attack()) << name;
    EXPECT_EQ(ReadFileBytes(path), ReadFileBytes(RigFile("signed-ok.exe")));
    held.Reset();
    EXPECT_TRUE(attacks[0].second()) << "let go, the file is an ordinary file again";
}

TEST_F(InstallerTrust, AKoreanPathInTheAnsiCodePage) {
    // "설치" in code page 949, as the temporary folder may well be named.
    const std::string folder = work + "\xBC\xB3\xC4\xA1\\";
    ASSERT_TRUE(MakeFolder(folder));
    const std::string path = folder + "setup.exe";
    ASSERT_TRUE(CopyFileA(RigFile("signed-ok.exe").c_str(), path.c_str(), FALSE));
    EXPECT_TRUE(Outcome(TrustOutcome::Ok, VerifyInstaller(path)));
    ASSERT_TRUE(CopyFileA(RigFile("tampered.exe").c_str(), path.c_str(), FALSE));
    EXPECT_TRUE(Outcome(TrustOutcome::Tampered, CheckHeld(path)));
    EXPECT_FALSE(Exists(path));
}

TEST_F(InstallerTrust, RunsOnTheDownloadWorkerThread) {
    // As the dialog's worker does it: its own thread, in a COM apartment,
    // while this thread goes on.
    TrustOutcome good = TrustOutcome::CannotReadFile, bad = TrustOutcome::Ok;
    std::thread worker([&] {
        const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        good = VerifyInstaller(RigFile("signed-ok.exe"));
        bad = VerifyInstaller(RigFile("untrusted-root.exe"));
        if (SUCCEEDED(init)) CoUninitialize();
    });
    worker.join();
    EXPECT_TRUE(Outcome(TrustOutcome::Ok, good));
    EXPECT_TRUE(Outcome(TrustOutcome::UntrustedChain, bad));
}

TEST_F(InstallerTrust, OddFilesAreRefusedCleanly) {
    EXPECT_TRUE(Outcome(TrustOutcome::CannotReadFile, VerifyInstaller(work + "missing.exe")));
    EXPECT_TRUE(Outcome(TrustOutcome::CannotReadFile, VerifyInstaller("")));
    EXPECT_TRUE(Outcome(TrustOutcome::CannotReadFile, VerifyInstaller(work)));  // a folder
    EXPECT_TRUE(Outcome(TrustOutcome::CannotReadFile, VerifyInstaller(std::string("a\0b", 3))));
    EXPECT_TRUE(Outcome(TrustOutcome::CannotReadFile,
                        VerifyInstaller(work + std::string(5000, 'x') + ".exe")));

    // An HTTP error page saved under the installer's name.
    const std::string page = work + "setup.exe";
    ASSERT_TRUE(WriteFileBytes(page, "<html><body>404 Not Found</body></html>"));
    EXPECT_TRUE(Outcome(TrustOutcome::Unsigned, VerifyInstaller(page)));
    ASSERT_TRUE(WriteFileBytes(page, ""));
    EXPECT_NE(VerifyInstaller(page), TrustOutcome::Ok);

    // A download cut short inside the signature block.
    std::string signedBytes = ReadFileBytes(RigFile("signed-ok.exe"));
    ASSERT_GT(signedBytes.size(), 1000u);
    ASSERT_TRUE(WriteFileBytes(page, signedBytes.substr(0, signedBytes.size() - 700)));
    EXPECT_NE(VerifyInstaller(page), TrustOutcome::Ok);
    // Cut inside the program itself.
    ASSERT_TRUE(WriteFileBytes(page, signedBytes.substr(0, signedBytes.size() / 2)));
    EXPECT_NE(VerifyInstaller(page), TrustOutcome::Ok);

    // Held open by another writer: the check cannot share it.
    ASSERT_TRUE(CopyFileA(RigFile("signed-ok.exe").c_str(), page.c_str(), FALSE));
    HANDLE held = CreateFileA(page.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Outcome(TrustOutcome::CannotReadFile, VerifyInstaller(page)));
    CloseHandle(held);
    EXPECT_TRUE(Outcome(TrustOutcome::Ok, VerifyInstaller(page)));
}

}  // namespace
}  // namespace trv
