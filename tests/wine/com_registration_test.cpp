// Registration of the control: the registry content it writes and removes,
// the module path quoting, the path limit, and the module's own resources.
#include <windows.h>
#include <comcat.h>
#include <objsafe.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "com_support.h"
#include "registry_dump.h"
#include "server/categories.h"
#include "support/wine_support.h"

namespace trv {
namespace {

using namespace winetest;
using namespace comtest;

std::wstring DllPath() { return Wide(BuildDir() + "\\TRVControl.DLL"); }

// A copy of the built module at `folder`, loaded; its exports called by name.
class ModuleCopy {
public:
    explicit ModuleCopy(const std::wstring& path) : path(path) {
        module = LoadLibraryW(path.c_str());
    }
    ~ModuleCopy() {
        if (module) FreeLibrary(module);
    }
    HRESULT Call(const char* name) {
        if (!module) return E_UNEXPECTED;
        auto fn = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
            reinterpret_cast<void*>(GetProcAddress(module, name)));
        return fn ? fn() : E_UNEXPECTED;
    }
    std::wstring path;
    HMODULE module = nullptr;
};

// Creates every folder above `to` one level at a time: the shell's helper refuses
// folders longer than 248 characters even with the "\\?\" prefix, and how long
// the overlong case gets depends on where the build tree lies.
bool CopyDll(const std::wstring& to, const std::wstring& from = DllPath()) {
    const std::wstring prefix = L"\\\\?\\";
    const bool extended = to.compare(0, prefix.size(), prefix) == 0;
    const std::wstring plain = extended ? to.substr(prefix.size()) : to;
    const size_t last = plain.find_last_of(L'\\');
    for (size_t at = plain.find(L'\\', 3); at != std::wstring::npos && at <= last;
         at = plain.find(L'\\', at + 1)) {
        const std::wstring folder = (extended ? prefix : L"") + plain.substr(0, at);
        if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return CopyFileW(from.c_str(), to.c_str(), FALSE) != FALSE;
}

class Registration : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CoInitialize(nullptr); }
    static void TearDownTestSuite() {
        // Leave the prefix as the suite found it: registered from the build tree.
        ModuleCopy original(DllPath());
        EXPECT_EQ(original.Call("DllRegisterServer"), S_OK);
        CoUninitialize();
    }
};

std::wstring Arch() {
#ifdef _WIN64
    return L"win64";
#else
    return L"win32";
#endif
}

TEST_F(Registration, WritesExactlyTheScriptedKeysAndValues) {
    ModuleCopy dll(DllPath());
    ASSERT_EQ(dll.Call("DllRegisterServer"), S_OK);
    const std::wstring path = DllPath();
    const std::wstring cls = ClassKey();
    const std::wstring lib = std::wstring(L"TypeLib\\") + kLibid;
    Dump expected = {
        {std::wstring(L"AppID\\") + kAppId, L""},
        {std::wstring(L"AppID\\") + kAppId + L"|@", L"WebControl"},
        {L"AppID\\TRVControl.DLL", L""},
        {L"AppID\\TRVControl.DLL|AppID", kAppId},
        {L"WebControl.TARVOSK.1", L""},
        {L"WebControl.TARVOSK.1|@", L"TARVOSK File Share Control 5"},
        {L"WebControl.TARVOSK.1\\CLSID", L""},
        {L"WebControl.TARVOSK.1\\CLSID|@", kClsid},
        {L"WebControl.TARVOSK", L""},
        {L"WebControl.TARVOSK|@", L"TARVOSK File Share Control 5"},
        {L"WebControl.TARVOSK\\CLSID", L""},
        {L"WebControl.TARVOSK\\CLSID|@", kClsid},
        {L"WebControl.TARVOSK\\CurVer", L""},
        {L"WebControl.TARVOSK\\CurVer|@", L"WebControl.TARVOSK.1"},
        {cls, L""},
        {cls + L"|@", L"TARVOSK File Share Control 5"},
        {cls + L"|AppID", kAppId},
        {cls + L"\\ProgID", L""},
        {cls + L"\\ProgID|@", L"WebControl.TARVOSK.1"},
        {cls + L"\\VersionIndependentProgID", L""},
        {cls + L"\\VersionIndependentProgID|@", L"WebControl.TARVOSK"},
        {cls + L"\\Programmable", L""},
        {cls + L"\\InprocServer32", L""},
        {cls + L"\\InprocServer32|@", path},
        {cls + L"\\InprocServer32|ThreadingModel", L"Apartment"},
        {cls + L"\\TypeLib", L""},
        {cls + L"\\TypeLib|@", kLibid},
        {cls + L"\\Implemented Categories", L""},
        {cls + L"\\Implemented Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}", L""},
        {cls + L"\\Implemented Categories\\{7DD95802-9882-11CF-9FA9-00AA006C42C4}", L""},
        {lib, L""},
        {lib + L"\\1.0", L""},
        {lib + L"\\1.0|@", L"WebControl 1.0 형식 라이브러리"},
        {lib + L"\\1.0\\0", L""},
        {lib + L"\\1.0\\0\\" + Arch(), L""},
        {lib + L"\\1.0\\0\\" + Arch() + L"|@", path},
        {lib + L"\\1.0\\FLAGS", L""},
        {lib + L"\\1.0\\FLAGS|@", L"8"},  // LIBFLAG_FHASDISKIMAGE
        {lib + L"\\1.0\\HELPDIR", L""},
        {lib + L"\\1.0\\HELPDIR|@", L""},
    };
    for (const auto& iface : {std::make_pair(kIid, L"IWebBBS"),
                              std::make_pair(kDiid, L"_IWebBBSEvents")}) {
        const std::wstring key = std::wstring(L"Interface\\") + iface.first;
        // Dual and dispatch interfaces are marshalled by the automation marshaller.
        const wchar_t* proxy = iface.first == kIid ? L"{00020424-0000-0000-C000-000000000046}"
                                                   : L"{00020420-0000-0000-C000-000000000046}";
        expected[key] = L"";
        expected[key + L"|@"] = iface.second;
        expected[key + L"\\ProxyStubClsid"] = L"";
        expected[key + L"\\ProxyStubClsid|@"] = proxy;
        expected[key + L"\\ProxyStubClsid32"] = L"";
        expected[key + L"\\ProxyStubClsid32|@"] = proxy;
        expected[key + L"\\TypeLib"] = L"";
        expected[key + L"\\TypeLib|@"] = kLibid;
        expected[key + L"\\TypeLib|Version"] = L"1.0";
    }
    const Dump actual = RegisteredContent();
    for (const auto& entry : expected) {
        auto found = actual.find(entry.first);
        if (found == actual.end())
            ADD_FAILURE() << "missing " << Ansi(entry.first);
        else
            EXPECT_EQ(found->second, entry.second) << Ansi(entry.first);
    }
    for (const auto& entry : actual) {
        if (!expected.count(entry.first)) ADD_FAILURE() << "unexpected " << Ansi(entry.first);
    }
}

TEST_F(Registration, RegisteringAgainGivesTheSameContentAndReplacesTheClassKey) {
    ModuleCopy dll(DllPath());
    ASSERT_EQ(dll.Call("DllRegisterServer"), S_OK);
    const Dump first = RegisteredContent();
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, ClassKey().c_str(), 0, KEY_SET_VALUE, &key),
              ERROR_SUCCESS);
    const wchar_t added[] = L"by hand";
    ASSERT_EQ(RegSetValueExW(key, L"HandAdded", 0, REG_SZ, reinterpret_cast<const BYTE*>(added),
                             sizeof added),
              ERROR_SUCCESS);
    RegCloseKey(key);
    HKEY sub = nullptr;
    ASSERT_EQ(RegCreateKeyW(HKEY_CLASSES_ROOT, (ClassKey() + L"\\Programmable\\Stale").c_str(), &sub),
              ERROR_SUCCESS);
    RegCloseKey(sub);
    ASSERT_NE(RegisteredContent(), first);

    ASSERT_EQ(dll.Call("DllRegisterServer"), S_OK);
    EXPECT_EQ(RegisteredContent(), first);
}

TEST_F(Registration, UnregisteringRemovesItsKeysAndKeepsTheShared) {
    ModuleCopy dll(DllPath());
    ASSERT_EQ(dll.Call("DllRegisterServer"), S_OK);
    // Another category of the class, registered by someone else.
    const CATID foreign = {0x40fc6ed5, 0x2438, 0x11cf, {0xa3, 0xdb, 0x08, 0x00, 0x36, 0xf1, 0x25, 0x02}};
    {
        comtest::Ptr<ICatRegister> manager;
        ASSERT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ICatRegister, manager.PutVoid()),
                  S_OK);
        CATID id = foreign;
        ASSERT_EQ(manager->RegisterClassImplCategories(CLSID_WebBBS, 1, &id), S_OK);
    }
    // A neighbour under AppID that must survive.
    HKEY neighbour = nullptr;
    ASSERT_EQ(RegCreateKeyW(HKEY_CLASSES_ROOT, L"AppID\\Neighbour.DLL", &neighbour), ERROR_SUCCESS);
    RegCloseKey(neighbour);

    ASSERT_EQ(dll.Call("DllUnregisterServer"), S_OK);
    EXPECT_TRUE(KeyExists(L"AppID"));
    EXPECT_TRUE(KeyExists(L"CLSID"));
    EXPECT_TRUE(KeyExists(L"AppID\\Neighbour.DLL"));
    // The class key is replaced whole: the foreign category goes with it.
    EXPECT_FALSE(KeyExists(ClassKey()));
    EXPECT_FALSE(KeyExists(L"WebControl.TARVOSK.1"));
    EXPECT_FALSE(KeyExists(L"WebControl.TARVOSK"));
    EXPECT_FALSE(KeyExists(std::wstring(L"AppID\\") + kAppId));
    EXPECT_FALSE(KeyExists(L"AppID\\TRVControl.DLL"));
    EXPECT_FALSE(KeyExists(std::wstring(L"TypeLib\\") + kLibid));
    EXPECT_TRUE(RegisteredContent().empty());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, L"AppID\\Neighbour.DLL");

    // Unregistering what is not there is no failure.
    EXPECT_EQ(dll.Call("DllUnregisterServer"), S_OK);
}

TEST_F(Registration, PathsWithQuotesBlanksAndKoreanAreStoredAsTheyAre) {
    const std::wstring base = Wide(BuildDir()) + L"\\registration paths";
    for (const std::wstring& folder : {base + L"\\it's", base + L"\\with blanks in it",
                                       base + L"\\한글 폴더", base + L"\\''a' b '한'"}) {
        const std::wstring path = folder + L"\\TRVControl.DLL";
        ASSERT_TRUE(CopyDll(path)) << Ansi(path);
        {
            ModuleCopy copy(path);
            ASSERT_NE(copy.module, nullptr) << Ansi(path);
            ASSERT_EQ(copy.Call("DllRegisterServer"), S_OK) << Ansi(path);
            const Dump dump = RegisteredContent();
            auto server = dump.find(ClassKey() + L"\\InprocServer32|@");
            ASSERT_NE(server, dump.end());
            EXPECT_EQ(server->second, path);
            auto library = dump.find(std::wstring(L"TypeLib\\") + kLibid + L"\\1.0\\0\\" + Arch() + L"|@");
            ASSERT_NE(library, dump.end());
            EXPECT_EQ(library->second, path);
            // The class is created from there.
            comtest::Ptr<IUnknown> object;
            EXPECT_EQ(CoCreateInstance(CLSID_WebBBS, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                       object.PutVoid()),
                      S_OK)
                << Ansi(path);
        }
        CoFreeUnusedLibraries();
    }
}

TEST_F(Registration, OverlongModulePathFailsBeforeWritingAnything) {
    ModuleCopy original(DllPath());
    ASSERT_EQ(original.Call("DllUnregisterServer"), S_OK);
    ASSERT_TRUE(RegisteredContent().empty());

    std::wstring folder = Wide(BuildDir()) + L"\\long";
    while (folder.size() < 250) folder += L"\\abcdefghijklmnopqrstuvwxyz0123456789";
    const std::wstring path = folder + L"\\TRVControl.DLL";
    ASSERT_GE(path.size(), 260u);
    ASSERT_TRUE(CopyDll(L"\\\\?\\" + path));
    ModuleCopy copy(L"\\\\?\\" + path);
    ASSERT_NE(copy.module, nullptr) << GetLastError();
    // The caller's thread locale comes back after a failure too.
    const LCID english = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);
    const LCID saved = GetThreadLocale();
    ASSERT_TRUE(SetThreadLocale(english));
    EXPECT_EQ(copy.Call("DllRegisterServer"), static_cast<HRESULT>(0x8007007A));
    EXPECT_EQ(GetThreadLocale(), english);
    SetThreadLocale(saved);
    EXPECT_TRUE(RegisteredContent().empty());
    EXPECT_FALSE(KeyExists(L"AppID\\TRVControl.DLL"));
}

// What an installer runs: regsvr32, silent, both ways.
TEST_F(Registration, Regsvr32WritesTheSameContentAndRemovesIt) {
    ModuleCopy dll(DllPath());
    ASSERT_EQ(dll.Call("DllRegisterServer"), S_OK);
    const Dump direct = RegisteredContent();
    ASSERT_EQ(dll.Call("DllUnregisterServer"), S_OK);
    ASSERT_TRUE(RegisteredContent().empty());

    auto regsvr32 = [](const std::wstring& switches) -> DWORD {
        std::wstring command = L"regsvr32.exe " + switches + L" \"" + DllPath() + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process))
            return 0xFFFFFFFF;
        DWORD code = 0xFFFFFFFE;
        if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
            GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return code;
    };
    const LCID english = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);
    const LCID saved = GetThreadLocale();
    ASSERT_TRUE(SetThreadLocale(english));
    ASSERT_EQ(regsvr32(L"/s"), 0u);
    EXPECT_EQ(RegisteredContent(), direct);
    // In process, the locale switched for registration is given back.
    ASSERT_EQ(dll.Call("DllRegisterServer"), S_OK);
    EXPECT_EQ(GetThreadLocale(), english);
    SetThreadLocale(saved);

    ASSERT_EQ(regsvr32(L"/u /s"), 0u);
    EXPECT_TRUE(RegisteredContent().empty());
    EXPECT_TRUE(KeyExists(L"AppID"));
    EXPECT_TRUE(KeyExists(L"CLSID"));
}

TEST_F(Registration, WithoutItsTypeLibraryResourceTheTlbBesideTheModuleServes) {
    ModuleCopy original(DllPath());
    ASSERT_EQ(original.Call("DllUnregisterServer"), S_OK);
    ASSERT_TRUE(RegisteredContent().empty());

    const std::wstring folder = Wide(BuildDir()) + L"\\registration paths\\형식 없음";
    const std::wstring path = folder + L"\\TRVControl.DLL";
    const std::wstring tlb = folder + L"\\TRVControl.tlb";
    DeleteFileW(tlb.c_str());
    ASSERT_TRUE(CopyDll(path, Wide(BuildDir()) + L"\\test-modules\\no-typelib\\TRVControl.DLL"));
    const std::wstring libraryKey =
        std::wstring(L"TypeLib\\") + kLibid + L"\\1.0\\0\\" + Arch() + L"|@";
    {
        ModuleCopy copy(path);
        ASSERT_NE(copy.module, nullptr);
        // Neither the resource nor a .tlb: the failure comes after the scripts
        // and the categories, which stay written.
        EXPECT_TRUE(FAILED(copy.Call("DllRegisterServer")));
        const Dump partial = RegisteredContent();
        auto server = partial.find(ClassKey() + L"\\InprocServer32|@");
        ASSERT_NE(server, partial.end());
        EXPECT_EQ(server->second, path);
        EXPECT_TRUE(KeyExists(L"AppID\\TRVControl.DLL"));
        EXPECT_TRUE(KeyExists(L"WebControl.TARVOSK.1\\CLSID"));
        EXPECT_TRUE(KeyExists(ClassKey() +
                              L"\\Implemented Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}"));
        EXPECT_FALSE(KeyExists(std::wstring(L"TypeLib\\") + kLibid));

        // With the library file beside it, registration completes and names that file.
        ASSERT_TRUE(CopyFileW((Wide(BuildDir()) + L"\\idl\\WebControl.tlb").c_str(), tlb.c_str(),
                              FALSE));
        ASSERT_EQ(copy.Call("DllRegisterServer"), S_OK);
        const Dump full = RegisteredContent();
        auto library = full.find(libraryKey);
        ASSERT_NE(library, full.end());
        EXPECT_EQ(library->second, tlb);

        // The object dispatches by name through the library it found there.
        comtest::Ptr<IDispatch> object;
        CLSID clsid = {};
        ASSERT_EQ(CLSIDFromProgID(L"WebControl.TARVOSK.1", &clsid), S_OK);
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                   object.PutVoid()),
                  S_OK);
        LPOLESTR name = const_cast<LPOLESTR>(L"UpLoadInfo");
        DISPID id = 0;
        ASSERT_EQ(object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
        EXPECT_EQ(id, 6);
        VARIANT argument;
        argument.vt = VT_BSTR;
        argument.bstrVal = SysAllocString(L"3");
        DISPPARAMS params = {&argument, nullptr, 1, 0};
        EXPECT_EQ(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                 nullptr, nullptr, nullptr),
                  S_OK);
        VariantClear(&argument);
        object.Reset();

        EXPECT_EQ(copy.Call("DllUnregisterServer"), S_OK);
        EXPECT_TRUE(RegisteredContent().empty());
    }
    CoFreeUnusedLibraries();
}

// The category step on its own: what it registered goes, a category key left
// empty goes, and a key that still holds someone else's category stays.
TEST_F(Registration, UnregisteringCategoriesKeepsAKeyHoldingAnotherCategory) {
    const CLSID shared = {0x43cc81ca, 0x894f, 0x4039, {0xac, 0xf8, 0x80, 0x9b, 0x9e, 0xd4, 0x62, 0x97}};
    const CLSID alone = {0x12649543, 0xb847, 0x4348, {0x8d, 0xa4, 0x15, 0x59, 0x35, 0xa8, 0x59, 0xee}};
    const std::wstring sharedKey = L"CLSID\\{43CC81CA-894F-4039-ACF8-809B9ED46297}";
    const std::wstring aloneKey = L"CLSID\\{12649543-B847-4348-8DA4-155935A859EE}";
    const std::vector<Category> ours = {{&CATID_SafeForScripting, true},
                                        {&CATID_SafeForInitializing, true}};
    const wchar_t scripting[] = L"\\Implemented Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}";
    const wchar_t initializing[] =
        L"\\Implemented Categories\\{7DD95802-9882-11CF-9FA9-00AA006C42C4}";
    const wchar_t foreignKey[] = L"\\Implemented Categories\\{40FC6ED5-2438-11CF-A3DB-080036F12502}";

    ASSERT_EQ(RegisterCategories(shared, ours), S_OK);
    ASSERT_EQ(RegisterCategories(alone, ours), S_OK);
    ASSERT_TRUE(KeyExists(sharedKey + scripting));
    ASSERT_TRUE(KeyExists(aloneKey + initializing));
    {
        comtest::Ptr<ICatRegister> manager;
        ASSERT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ICatRegister, manager.PutVoid()),
                  S_OK);
        CATID foreign = {0x40fc6ed5, 0x2438, 0x11cf, {0xa3, 0xdb, 0x08, 0x00, 0x36, 0xf1, 0x25, 0x02}};
        ASSERT_EQ(manager->RegisterClassImplCategories(shared, 1, &foreign), S_OK);
    }
    HKEY required = nullptr;
    ASSERT_EQ(RegCreateKeyW(HKEY_CLASSES_ROOT, (aloneKey + L"\\Required Categories").c_str(),
                            &required),
              ERROR_SUCCESS);
    RegCloseKey(required);

    EXPECT_EQ(UnregisterCategories(shared, ours), S_OK);
    EXPECT_EQ(UnregisterCategories(alone, ours), S_OK);
    EXPECT_FALSE(KeyExists(sharedKey + scripting));
    EXPECT_FALSE(KeyExists(sharedKey + initializing));
    EXPECT_TRUE(KeyExists(sharedKey + foreignKey));
    EXPECT_FALSE(KeyExists(aloneKey + L"\\Implemented Categories"));
    EXPECT_FALSE(KeyExists(aloneKey + L"\\Required Categories"));
    EXPECT_TRUE(KeyExists(aloneKey));
    // Unregistering again finds nothing to remove and still succeeds.
    EXPECT_EQ(UnregisterCategories(alone, ours), S_OK);

    SHDeleteKeyW(HKEY_CLASSES_ROOT, sharedKey.c_str());
    SHDeleteKeyW(HKEY_CLASSES_ROOT, aloneKey.c_str());
}

TEST(ModuleResources, VersionRecordStringTableAndManifest) {
    const std::wstring path = DllPath();
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, &block[0]));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(&block[0], L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000005u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000005u);
    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(&block[0], L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(translation[0], 0x0412);
    EXPECT_EQ(translation[1], 949);
    for (const auto& field : {std::make_pair(L"FileVersion", L"1.0.0.5"),
                              std::make_pair(L"ProductVersion", L"1.0.0.5"),
                              std::make_pair(L"InternalName", L"TRVControl.dll"),
                              std::make_pair(L"OriginalFilename", L"TRVControl.dll")}) {
        wchar_t* text = nullptr;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\041203b5\\") + field.first;
        ASSERT_TRUE(VerQueryValueW(&block[0], query.c_str(), reinterpret_cast<void**>(&text),
                                   &length))
            << Ansi(field.first);
        EXPECT_STREQ(text, field.second);
    }

    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    wchar_t text[64] = {};
    EXPECT_GT(LoadStringW(module, 100, text, 64), 0);
    EXPECT_STREQ(text, L"WebControl");
    FreeLibrary(module);
}

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) {
    reinterpret_cast<std::vector<WORD>*>(found)->push_back(language);
    return TRUE;
}

// Every language a resource is present in.
std::vector<WORD> LanguagesOf(HMODULE module, const wchar_t* type, WORD id) {
    std::vector<WORD> languages;
    EnumResourceLanguagesW(module, type, MAKEINTRESOURCEW(id), AddLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    return languages;
}

TEST(ModuleResources, EachIsInItsLanguageOnly) {
    HMODULE module = LoadLibraryExW(DllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    const WORD korean = MAKELANGID(LANG_KOREAN, SUBLANG_DEFAULT);
    const WORD english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    const struct {
        const wchar_t* type;
        WORD id;
        WORD language;
    } resources[] = {
        {L"REGISTRY", 101, korean},
        {L"REGISTRY", 103, korean},
        {L"TYPELIB", 1, korean},
        {MAKEINTRESOURCEW(2), 202, korean},  // bitmap
        {MAKEINTRESOURCEW(5), 105, korean},  // dialog
        {MAKEINTRESOURCEW(5), 203, korean},
        {MAKEINTRESOURCEW(6), 100 / 16 + 1, korean},  // string 100 sits in block 7
        {MAKEINTRESOURCEW(16), 1, korean},  // version record
        {MAKEINTRESOURCEW(24), 2, english},  // manifest
    };
    for (const auto& resource : resources) {
        EXPECT_EQ(LanguagesOf(module, resource.type, resource.id),
                  std::vector<WORD>{resource.language})
            << "resource " << resource.id;
    }
    FreeLibrary(module);
}

INT_PTR CALLBACK IgnoreMessages(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// The install/update dialog's progress bar is drawn without a border of its own.
TEST(ModuleResources, ProgressBarHasNoBorder) {
    HMODULE module = LoadLibraryW(DllPath().c_str());
    ASSERT_NE(module, nullptr);
    HWND dialog = CreateDialogParamW(module, MAKEINTRESOURCEW(203), nullptr, IgnoreMessages, 0);
    ASSERT_NE(dialog, nullptr) << GetLastError();
    HWND progress = GetDlgItem(dialog, 205);
    ASSERT_NE(progress, nullptr);
    wchar_t className[64] = {};
    GetClassNameW(progress, className, 64);
    EXPECT_STREQ(className, L"msctls_progress32");
    const LONG style = GetWindowLongW(progress, GWL_STYLE);
    EXPECT_EQ(style & WS_BORDER, 0);
    EXPECT_NE(style & PBS_SMOOTH, 0);
    DestroyWindow(dialog);
    FreeLibrary(module);
}

}  // namespace
}  // namespace trv
