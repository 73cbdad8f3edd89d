// The cabinet for the page's object tag under Wine, in a prefix of its own
// where nothing was registered and the signing rig's root is trusted: what
// it holds, its signature against the rig's pin, and an install the way a
// browser's code download does it (extracted, then the INF run by advpack).
#include <windows.h>
#include <advpub.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "package_support.h"
#include "support/wine_support.h"
#include "update/installer_trust_win32.h"

namespace trv {
namespace {

using namespace winetest;
using namespace packagetest;

std::string Cabinet() { return Packaged(PackageName() + ".cab"); }

UINT CALLBACK ListFile(PVOID context, UINT notification, UINT_PTR param, UINT_PTR) {
    if (notification == SPFILENOTIFY_FILEINCABINET) {
        auto* info = reinterpret_cast<FILE_IN_CABINET_INFO_A*>(param);
        static_cast<std::set<std::string>*>(context)->insert(info->NameInCabinet);
        return FILEOP_SKIP;
    }
    return NO_ERROR;
}

TEST(Cabinet, HoldsTheModuleAndItsInf) {
    std::set<std::string> names;
    ASSERT_TRUE(SetupIterateCabinetA(Cabinet().c_str(), 0, ListFile, &names)) << GetLastError();
    EXPECT_EQ(names, (std::set<std::string>{"TRVControl.DLL", PackageName() + ".inf"}));
}

// The signer, checked as the control checks the installers it runs: the
// rig's pin passes, someone else's is refused. (Wine's verifier does not hash
// a cabinet's content, so a changed byte is caught by the package inspection
// with osslsigncode instead.)
TEST(Cabinet, SignatureVerifiesAgainstTheRigsPinOnly) {
    const struct {
        const char* pinFile;
        TrustOutcome expected;
    } cases[] = {
        {"publisher.key-pin", TrustOutcome::Ok},
        {"other.key-pin", TrustOutcome::NotPinned},
    };
    for (const auto& c : cases) {
        PinList pins;
        ASSERT_TRUE(ParsePins(ReadFileBytes(BuildDir() + "\\test-signing\\keys\\" + c.pinFile), pins));
        EXPECT_EQ(TrustOutcomeName(VerifyInstallerWithPins(Cabinet(), pins)),
                  std::string(TrustOutcomeName(c.expected)))
            << c.pinFile;
    }
}

// advpack's entry points by name (MinGW has no i686 import library for it).
template <class Function>
Function Advpack(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("advpack.dll"), name)));
}

TEST(Cabinet, InstallsThroughAdvpackAsACodeDownloadDoes) {
    const auto extractFiles = Advpack<decltype(&ExtractFiles)>("ExtractFiles");
    const auto runSetupCommand = Advpack<decltype(&RunSetupCommand)>("RunSetupCommand");
    ASSERT_TRUE(extractFiles && runSetupCommand);
    const std::string extracted = BuildDir() + "\\package-cab-prefix\\extracted";
    ASSERT_TRUE(MakeFolder(extracted));
    ASSERT_EQ(extractFiles(Cabinet().c_str(), extracted.c_str(), 0, nullptr, nullptr, 0), S_OK);
    const std::string inf = extracted + "\\" + PackageName() + ".inf";
    ASSERT_EQ(runSetupCommand(nullptr, inf.c_str(), nullptr, extracted.c_str(), nullptr, nullptr,
                              RSC_FLAG_INF | RSC_FLAG_QUIET, nullptr),
              S_OK);

    const std::wstring module = InstalledModule();
    EXPECT_EQ(ReadFileBytes(Ansi(module)), ReadFileBytes(Packaged("TRVControl.DLL")));
    const std::wstring served = ModuleServingTheControl();
    EXPECT_EQ(CompareStringOrdinal(served.c_str(), -1, module.c_str(), -1, TRUE), CSTR_EQUAL)
        << Ansi(served);
}

}  // namespace
}  // namespace trv
