// The MSI under Wine, in a prefix of its own where nothing was registered:
// an older package, this build's over it, the object it registers, the
// registry it writes against what regsvr32 writes, the browsers' native host
// it registers, and the uninstall.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/json.h"
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

// The keys the browsers look the host up by, and whom its manifest must admit:
// the extension as built (Chrome's ID is fixed by the manifest's key).
struct HostKey {
    const char* vendor;
    const char* allowedField;
    const char* allowed;
};
const HostKey kHostKeys[] = {
    {"Google\\Chrome", "allowed_origins", "chrome-extension://pakkodcolikihilbclcijfiacddhfhim/"},
    {"Microsoft\\Edge", "allowed_origins", "chrome-extension://pakkodcolikihilbclcijfiacddhfhim/"},
    {"Mozilla", "allowed_extensions", TRV_FIREFOX_ADDON_ID},
};

std::wstring HostKeyPath(const HostKey& key) {
    return Wide(std::string("SOFTWARE\\") + key.vendor + "\\NativeMessagingHosts\\" + TRV_HOST_NAME);
}

const bridge::Value* Member(const bridge::Value& object, const std::string& name) {
    for (const auto& member : object.members)
        if (member.first == name) return &member.second;
    return nullptr;
}

// A member as text (a number as its integer), "(none)" when it is missing.
std::string Field(const bridge::Value& object, const std::string& name) {
    const bridge::Value* value = Member(object, name);
    if (!value) return "(none)";
    return value->kind == bridge::Value::Kind::Number ? std::to_string(static_cast<long>(value->number))
                                                     : value->text;
}

// The manifest a key names, or why not; `host` is its path, made absolute.
std::string CheckHostKey(HKEY root, const HostKey& key, std::wstring& host) {
    wchar_t manifest[MAX_PATH] = {};
    DWORD size = sizeof manifest;
    if (RegGetValueW(root, HostKeyPath(key).c_str(), nullptr, RRF_RT_REG_SZ, nullptr,
                     manifest, &size) != ERROR_SUCCESS)
        return "no key";
    bridge::Value value;
    std::string error;
    if (!bridge::ParseJson(ReadFileBytes(Ansi(manifest)), value, error)) return "manifest: " + error;
    const bridge::Value* name = Member(value, "name");
    const bridge::Value* path = Member(value, "path");
    const bridge::Value* allowed = Member(value, key.allowedField);
    if (!name || name->text != TRV_HOST_NAME || !path || !allowed) return "manifest fields";
    bool admits = false;
    for (const auto& item : allowed->items) admits = admits || item.text == key.allowed;
    if (!admits) return std::string(key.allowedField) + " leaves out " + key.allowed;
    // A relative path is taken from the manifest's folder, as the browsers do.
    std::wstring folder(manifest);
    folder = folder.substr(0, folder.rfind(L'\\') + 1);
    wchar_t full[MAX_PATH] = {};
    GetFullPathNameW((folder + Wide(path->text)).c_str(), MAX_PATH, full, nullptr);
    host = full;
    return "";
}

// The installed host started as a browser starts it, with one framed request
// on its input and then the end of it: the messages it wrote, parsed.
std::vector<bridge::Value> HostAnswers(const std::wstring& host, const std::string& request) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE inRead, inWrite, outRead, outWrite;
    std::vector<bridge::Value> answers;
    if (!CreatePipe(&inRead, &inWrite, &inherit, 0)) return answers;
    if (!CreatePipe(&outRead, &outWrite, &inherit, 1 << 20)) return answers;
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::wstring line = L"\"" + host + L"\" chrome-extension://pakkodcolikihilbclcijfiacddhfhim/";
    PROCESS_INFORMATION process = {};
    const BOOL started = CreateProcessW(host.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr,
                                       nullptr, &startup, &process);
    CloseHandle(inRead);
    CloseHandle(outWrite);
    if (started) {
        const UINT32 length = static_cast<UINT32>(request.size());
        DWORD wrote = 0;
        WriteFile(inWrite, &length, sizeof length, &wrote, nullptr);
        WriteFile(inWrite, request.data(), length, &wrote, nullptr);
        CloseHandle(inWrite);
        if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0)
            TerminateProcess(process.hProcess, 1);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        std::string out;
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(outRead, buffer, sizeof buffer, &got, nullptr) && got) out.append(buffer, got);
        for (std::size_t at = 0; at + 4 <= out.size();) {
            UINT32 size = 0;
            memcpy(&size, &out[at], 4);
            bridge::Value message;
            std::string error;
            if (size > out.size() - at - 4 || !bridge::ParseJson(out.substr(at + 4, size), message, error))
                break;
            answers.push_back(message);
            at += 4 + size;
        }
    } else {
        CloseHandle(inWrite);
    }
    CloseHandle(outRead);
    return answers;
}

// A browser finds the installed host by each key and talks to it: the hello
// carries the registered module's version, and a call from a page of the
// tree's list reaches the object.
void ExpectHostServes(HKEY root, const std::wstring& folder, const std::string& version) {
    const std::wstring host = folder + L"\\TRVBridge.exe";
    for (const HostKey& key : kHostKeys) {
        std::wstring named;
        EXPECT_EQ(CheckHostKey(root, key, named), "") << key.vendor;
        EXPECT_EQ(CompareStringOrdinal(named.c_str(), -1, host.c_str(), -1, TRUE), CSTR_EQUAL)
            << key.vendor << ": " << Ansi(named);
    }
    const std::vector<bridge::Value> answers = HostAnswers(
        host, std::string("{\"id\":1,\"url\":\"") + TRV_TEST_PAGE +
                  "\",\"method\":\"UpLoadInfo\",\"args\":[\"1\"]}");
    ASSERT_EQ(answers.size(), 2u) << "a hello and a reply from " << Ansi(host);
    EXPECT_EQ(Field(answers[0], "type"), "hello");
    EXPECT_EQ(Field(answers[0], "version"), version);
    EXPECT_EQ(Field(answers[1], "hr"), "0") << "the call reached the registered object";
}

void ExpectNoHostKeys(HKEY root) {
    for (const HostKey& key : kHostKeys) {
        HKEY left = nullptr;
        EXPECT_NE(RegOpenKeyExW(root, HostKeyPath(key).c_str(), 0, KEY_READ, &left), ERROR_SUCCESS)
            << key.vendor << "'s key outlives the uninstall";
        if (left) RegCloseKey(left);
    }
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

    ExpectHostServes(HKEY_LOCAL_MACHINE, module.substr(0, module.rfind(L'\\')), version);

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
    // module registered already: the same keys under HKCU, the same files in
    // the user's own program folder, nothing left after its uninstall.
    const std::string user = Packaged(PackageName().replace(0, 10, "TRVBridge") + "-user.msi");
    wchar_t local[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local);
    const std::wstring userFolder = std::wstring(local) + L"\\Programs\\TARVOSK Web Control";
    ASSERT_EQ(RunToEnd(Msiexec("/i", user)), 0u);
    ExpectHostServes(HKEY_CURRENT_USER, userFolder, version);
    ASSERT_EQ(RunToEnd(Msiexec("/x", user)), 0u);
    ExpectNoHostKeys(HKEY_CURRENT_USER);
    EXPECT_FALSE(Exists(userFolder));
    EXPECT_EQ(RunToEnd("regsvr32.exe /u /s \"" + Ansi(shipped) + "\""), 0u);
    EXPECT_EQ(Differences(installed, registered), std::vector<std::wstring>{});
}

}  // namespace
}  // namespace trv
