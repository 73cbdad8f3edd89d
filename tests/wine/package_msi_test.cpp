// The MSI under Wine, in a prefix of its own where nothing was registered:
// an older package, this build's over it, the object it registers, the
// registry it writes against what regsvr32 writes, and the uninstall.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package_support.h"
#include "registry_dump.h"
#include "support/wine_support.h"

namespace trv {
namespace {

using namespace winetest;
using namespace packagetest;

std::wstring UpgradeCodeOf(const std::string& package) {
    std::wstring code;
    MSIHANDLE database = 0, view = 0, record = 0;
    if (MsiOpenDatabaseW(Wide(package).c_str(), nullptr /* read only */, &database) == ERROR_SUCCESS &&
        MsiDatabaseOpenViewW(database,
                             L"SELECT `Value` FROM `Property` WHERE `Property` = 'UpgradeCode'",
                             &view) == ERROR_SUCCESS &&
        MsiViewExecute(view, 0) == ERROR_SUCCESS && MsiViewFetch(view, &record) == ERROR_SUCCESS) {
        wchar_t text[64] = {};
        DWORD length = 64;
        if (MsiRecordGetStringW(record, 1, text, &length) == ERROR_SUCCESS) code = text;
    }
    for (MSIHANDLE handle : {record, view, database})
        if (handle) MsiCloseHandle(handle);
    return code;
}

// The installed products of one upgrade code.
std::vector<std::wstring> Products(const std::wstring& upgradeCode) {
    std::vector<std::wstring> products;
    wchar_t product[39];
    for (DWORD i = 0; MsiEnumRelatedProductsW(upgradeCode.c_str(), 0, i, product) == ERROR_SUCCESS;
         ++i)
        products.push_back(product);
    return products;
}

std::string Msiexec(const char* action, const std::string& package) {
    return std::string("msiexec.exe ") + action + " \"" + package + "\" /qn";
}

// "entry: first | second" for every entry the two dumps do not share.
std::vector<std::wstring> Differences(const comtest::Dump& first, const comtest::Dump& second) {
    std::vector<std::wstring> differences;
    comtest::Dump all = first;
    all.insert(second.begin(), second.end());
    for (const auto& entry : all) {
        const auto a = first.find(entry.first), b = second.find(entry.first);
        const std::wstring left = a == first.end() ? L"(none)" : a->second;
        const std::wstring right = b == second.end() ? L"(none)" : b->second;
        if (a == first.end() || b == second.end() || left != right)
            differences.push_back(entry.first + L": " + left + L" | " + right);
    }
    return differences;
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(MsiPackage, UpgradesRegistersAsRegsvr32DoesAndUninstallsClean) {
    const std::string package = Packaged(PackageName() + ".msi");
    const std::string older = OlderPackaged(PackageName() + ".msi");
    const std::wstring upgradeCode = UpgradeCodeOf(package);
    ASSERT_FALSE(upgradeCode.empty());
    ASSERT_EQ(UpgradeCodeOf(older), upgradeCode) << "the upgrade code is stable";
    const std::wstring module = InstalledModule();
    const std::wstring shipped = Wide(Packaged("TRVControl.DLL"));
    const std::string version = FileVersion(shipped);
    ASSERT_TRUE(comtest::RegisteredContent().empty()) << "the prefix starts with nothing registered";

    // The older version, then this one over it: one product, the new module.
    ASSERT_EQ(RunToEnd(Msiexec("/i", older)), 0u);
    const std::vector<std::wstring> before = Products(upgradeCode);
    ASSERT_EQ(before.size(), 1u);
    EXPECT_NE(FileVersion(module), version);
    ASSERT_EQ(RunToEnd(Msiexec("/i", package)), 0u);
    const std::vector<std::wstring> after = Products(upgradeCode);
    ASSERT_EQ(after.size(), 1u);
    EXPECT_NE(after, before);
    EXPECT_EQ(ReadFileBytes(Ansi(module)), ReadFileBytes(Ansi(shipped)));

    const std::wstring served = ModuleServingTheControl();
    EXPECT_EQ(CompareStringOrdinal(served.c_str(), -1, module.c_str(), -1, TRUE), CSTR_EQUAL)
        << Ansi(served);
    comtest::Dump installed = WithModuleShown(comtest::RegisteredContent(), module);
    // The one difference an installer cannot avoid: it registers the library
    // with no help folder, and the system takes the module's folder for it;
    // the module gives an empty one.
    const std::wstring helpDir =
        std::wstring(L"TypeLib\\") + comtest::kLibid + L"\\1.0\\HELPDIR|@";
    EXPECT_EQ(installed[helpDir], module.substr(0, module.rfind(L'\\')));
    installed[helpDir] = L"";

    // Uninstalled: none of our keys, no module, no folder, no product.
    ASSERT_EQ(RunToEnd(Msiexec("/x", package)), 0u);
    EXPECT_TRUE(comtest::RegisteredContent().empty());
    EXPECT_FALSE(Exists(module.substr(0, module.rfind(L'\\'))));
    EXPECT_TRUE(Products(upgradeCode).empty());
    EXPECT_TRUE(comtest::KeyExists(L"CLSID"));
    EXPECT_TRUE(comtest::KeyExists(L"AppID"));

    // What the module writes itself, module path aside, is what the MSI wrote.
    ASSERT_EQ(RunToEnd("regsvr32.exe /s \"" + Ansi(shipped) + "\""), 0u);
    const comtest::Dump registered = WithModuleShown(comtest::RegisteredContent(), shipped);
    EXPECT_EQ(RunToEnd("regsvr32.exe /u /s \"" + Ansi(shipped) + "\""), 0u);
    EXPECT_EQ(Differences(installed, registered), std::vector<std::wstring>{});
}

}  // namespace
}  // namespace trv
