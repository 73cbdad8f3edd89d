// The MSI under Wine, in a prefix of its own where nothing was registered:
// an older package, this build's over it, the object it registers, the
// registry it writes against what regsvr32 writes, the browsers' native host
// it registers, and the uninstall; then the host's per-user MSI.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <shlobj.h>

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

// Each browser's key, and the kind of manifest it names.
const std::pair<std::string, std::string> kHostKeys[] = {
    {"SOFTWARE\\Google\\Chrome\\NativeMessagingHosts\\" TRV_HOST_NAME, "chrome"},
    {"SOFTWARE\\Microsoft\\Edge\\NativeMessagingHosts\\" TRV_HOST_NAME, "chrome"},
    {"SOFTWARE\\Mozilla\\NativeMessagingHosts\\" TRV_HOST_NAME, "firefox"}};

// Each key names a manifest beside the host, as this tree built it (its
// "path" the host beside it, its allowed origins the built extension).
void ExpectHostRegistered(HKEY root, const std::wstring& folder) {
    for (const auto& [key, kind] : kHostKeys) {
        wchar_t manifest[MAX_PATH] = {};
        DWORD size = sizeof manifest;
        EXPECT_EQ(RegGetValueW(root, Wide(key).c_str(), nullptr, RRF_RT_REG_SZ, nullptr, manifest, &size),
                  ERROR_SUCCESS) << key;
        EXPECT_EQ(std::wstring(manifest), folder + Wide("\\" TRV_HOST_NAME "-" + kind + ".json"));
        const std::string text = ReadFileBytes(Ansi(manifest));
        EXPECT_EQ(text, ReadFileBytes(BuildDir() + "\\browser\\hosts\\" + kind + "\\" TRV_HOST_NAME ".json"));
        EXPECT_NE(text.find("\"path\": \"TRVBridge.exe\""), std::string::npos) << key;
    }
}

void ExpectNoHostKeys(HKEY root) {
    for (const auto& host : kHostKeys)
        EXPECT_EQ(RegGetValueA(root, host.first.c_str(), nullptr, RRF_RT_ANY, nullptr, nullptr, nullptr),
                  ERROR_FILE_NOT_FOUND) << host.first << " outlives the uninstall";
}

// The host started as a browser starts it, with a framed call from a page of
// the tree's list on its input: its hello names the registered module's
// version, and the call reaches the object.
void ExpectHostAnswers(const std::wstring& folder, const std::string& version) {
    const std::string call = "{\"id\":1,\"url\":\"" TRV_TEST_PAGE "\",\"method\":\"UpLoadInfo\",\"args\":[\"1\"]}";
    const auto frame = [](const std::string& body) {
        const UINT32 size = static_cast<UINT32>(body.size());
        return std::string(reinterpret_cast<const char*>(&size), 4) + body;
    };
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string in = std::string(temp) + "host-in", out = std::string(temp) + "host-out";
    ASSERT_TRUE(WriteFileBytes(in, frame(call)));
    const std::string line = "cmd.exe /c \"\"" + Ansi(folder) + "\\TRVBridge.exe\" <\"" + in + "\" >\"" + out + "\"\"";
    EXPECT_EQ(RunToEnd(line, 60000), 0u);
    EXPECT_EQ(ReadFileBytes(out), frame("{\"type\":\"hello\",\"protocol\":1,\"version\":\"" + version + "\"}") +
                                      frame("{\"id\":1,\"hr\":0,\"result\":null}"));
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
    const std::wstring folder = module.substr(0, module.rfind(L'\\'));
    ExpectHostRegistered(HKEY_LOCAL_MACHINE, folder);
    ExpectHostAnswers(folder, version);

    // Uninstalled: none of our keys, no module, no folder, no product.
    ASSERT_EQ(RunToEnd(Msiexec("/x", package)), 0u);
    EXPECT_TRUE(comtest::RegisteredContent().empty());
    EXPECT_FALSE(Exists(module.substr(0, module.rfind(L'\\'))));
    EXPECT_TRUE(Products(upgradeCode).empty());
    ExpectNoHostKeys(HKEY_LOCAL_MACHINE);
    EXPECT_TRUE(comtest::KeyExists(L"CLSID"));
    EXPECT_TRUE(comtest::KeyExists(L"AppID"));

    // What the module writes itself, module path aside, is what the MSI wrote.
    ASSERT_EQ(RunToEnd("regsvr32.exe /s \"" + Ansi(shipped) + "\""), 0u);
    const comtest::Dump registered = WithModuleShown(comtest::RegisteredContent(), shipped);

    // A user without administrator rights installs the host alone, for the
    // module registered already: the same, in the user's own folders.
    const std::string user = Packaged(PackageName().replace(0, 10, "TRVBridge") + "-user.msi");
    wchar_t local[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local);
    const std::wstring userFolder = std::wstring(local) + L"\\Programs\\TARVOSK Web Control";
    ASSERT_EQ(RunToEnd(Msiexec("/i", user)), 0u);
    ExpectHostRegistered(HKEY_CURRENT_USER, userFolder);
    ExpectHostAnswers(userFolder, version);
    ASSERT_EQ(RunToEnd(Msiexec("/x", user)), 0u);
    ExpectNoHostKeys(HKEY_CURRENT_USER);
    EXPECT_FALSE(Exists(userFolder));
    EXPECT_EQ(RunToEnd("regsvr32.exe /u /s \"" + Ansi(shipped) + "\""), 0u);
    EXPECT_EQ(Differences(installed, registered), std::vector<std::wstring>{});
}

}  // namespace
}  // namespace trv
