// DllRegisterServer / DllUnregisterServer: the two registrar scripts, the
// class's component categories and the type library, in a fixed order.
#include <windows.h>
#include <comcat.h>
#include <objsafe.h>

#include <cwchar>
#include <string>

#include "platform/win32/wide_text.h"
#include "resources/resource.h"
#include "server/WebControl.h"
#include "server/categories.h"
#include "server/module.h"

namespace trv {

namespace {

constexpr HRESULT kPathTooLong = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);  // 0x8007007A

const std::vector<Category> kWebBBSCategories = {
    {&CATID_SafeForScripting, true},
    {&CATID_SafeForInitializing, true},
};

// The registry below HKEY_CLASSES_ROOT, as the registrar walk sees it.
class ClassesRootEditor : public RegistryEditor {
public:
    long CreateKey(const std::string& path) override {
        UniqueHkey key;
        RETURN_IF_WIN32_ERROR(RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0,
                                              KEY_WRITE, nullptr, key.Put(), nullptr));
        return S_OK;
    }
    long SetString(const std::string& path, const std::string& name,
                   const std::string& text) override {
        UniqueHkey key;
        RETURN_IF_WIN32_ERROR(
            RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_SET_VALUE, key.Put()));
        RETURN_IF_WIN32_ERROR(RegSetValueExA(key.Get(), name.empty() ? nullptr : name.c_str(), 0,
                                             REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                             static_cast<DWORD>(text.size() + 1)));
        return S_OK;
    }
    long SetNumber(const std::string& path, const std::string& name,
                   std::uint32_t number) override {
        UniqueHkey key;
        RETURN_IF_WIN32_ERROR(
            RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_SET_VALUE, key.Put()));
        const DWORD value = number;
        RETURN_IF_WIN32_ERROR(RegSetValueExA(key.Get(), name.empty() ? nullptr : name.c_str(), 0,
                                             REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                             sizeof value));
        return S_OK;
    }
    long DeleteValue(const std::string& path, const std::string& name) override {
        UniqueHkey key;
        RETURN_IF_WIN32_ERROR(
            RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_SET_VALUE, key.Put()));
        RETURN_IF_WIN32_ERROR(RegDeleteValueA(key.Get(), name.c_str()));
        return S_OK;
    }
    long DeleteTree(const std::string& path) override {
        RETURN_IF_WIN32_ERROR(RegDeleteTreeA(HKEY_CLASSES_ROOT, path.c_str()));
        return S_OK;
    }
    long DeleteKey(const std::string& path) override {
        RETURN_IF_WIN32_ERROR(RegDeleteKeyA(HKEY_CLASSES_ROOT, path.c_str()));
        return S_OK;
    }
    bool KeyExists(const std::string& path) override {
        UniqueHkey key;
        return RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.Put()) ==
               ERROR_SUCCESS;
    }
    bool HasSubkeys(const std::string& path) override {
        UniqueHkey key;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.Put()) !=
            ERROR_SUCCESS)
            return false;
        DWORD subkeys = 0;
        if (RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return true;  // unknown: keep the key
        return subkeys > 0;
    }
};

// The module's full path; a path that fills the buffer is refused rather
// than registered cut short.
HRESULT ModulePath(std::string& path) {
    char buffer[MAX_PATH];
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetModuleFileNameA(Module().Instance(), buffer, MAX_PATH);
    if (length == 0) return LastErrorAsHresult();
    if (length >= MAX_PATH) return kPathTooLong;
    path.assign(buffer, length);
    return S_OK;
}

HRESULT LoadScript(UINT id, std::string& script) {
    HMODULE module = Module().Instance();
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), "REGISTRY");
    RETURN_HR_IF_NULL(LastErrorAsHresult(), found);
    HGLOBAL loaded = LoadResource(module, found);
    RETURN_HR_IF_NULL(LastErrorAsHresult(), loaded);
    const void* data = LockResource(loaded);
    const DWORD size = SizeofResource(module, found);
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND), !data || size == 0);
    script.assign(static_cast<const char*>(data), size);
    return S_OK;
}

HRESULT ApplyRegistrarScript(UINT id, bool registering) {
    try {
        std::string path;
        RETURN_IF_FAILED(ModulePath(path));
        std::string script;
        RETURN_IF_FAILED(LoadScript(id, script));
        Replacements replacements;
        Module().AddCommonReplacements(replacements);
        // Quotes doubled, so the stored value is the path itself.
        replacements.emplace_back("Module", QuoteForScript(path));
        replacements.emplace_back("Module_Raw", QuoteForScript(path));
        ClassesRootEditor registry;
        return static_cast<HRESULT>(RunScript(script, replacements, registry, registering));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

// The module's own TYPELIB resource, or failing that the .tlb beside it.
HRESULT LoadModuleTypeLib(ITypeLib** library, std::wstring& loadedFrom) {
    std::string path;
    RETURN_IF_FAILED(ModulePath(path));
    loadedFrom = WidenAnsi(path);
    if (SUCCEEDED(LoadTypeLib(loadedFrom.c_str(), library))) return S_OK;
    const std::size_t slash = loadedFrom.find_last_of(L'\\');
    const std::size_t dot = loadedFrom.find_last_of(L'.');
    if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash))
        loadedFrom.erase(dot);
    loadedFrom += L".tlb";
    return LoadTypeLib(loadedFrom.c_str(), library);
}

HRESULT RegisterTypeLibrary() {
    ComPtr<ITypeLib> library;
    std::wstring path;
    RETURN_IF_FAILED(LoadModuleTypeLib(library.Put(), path));
    UniqueBstr helpFile;
    std::wstring helpDir;
    const HRESULT docs = library->GetDocumentation(-1, nullptr, nullptr, nullptr, helpFile.Put());
    if (SUCCEEDED(docs) && helpFile.Get()) {
        helpDir.assign(helpFile.Get(), SysStringLen(helpFile.Get()));
        const std::size_t end = helpDir.find_last_of(L"\\/:");
        helpDir.erase(end == std::wstring::npos ? 0 : end + 1);
        if (helpDir.size() > MAX_PATH - 1) helpDir.erase(MAX_PATH - 1);
    }
    return RegisterTypeLib(library.Get(), const_cast<LPOLESTR>(path.c_str()),
                           SUCCEEDED(docs) ? const_cast<LPOLESTR>(helpDir.c_str()) : nullptr);
}

HRESULT UnregisterTypeLibrary() {
    ComPtr<ITypeLib> library;
    std::wstring path;
    RETURN_IF_FAILED(LoadModuleTypeLib(library.Put(), path));
    TLIBATTR* attr = nullptr;
    RETURN_IF_FAILED(library->GetLibAttr(&attr));
    const TLIBATTR copy = *attr;
    library->ReleaseTLibAttr(attr);
    const HRESULT hr = UnRegisterTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum,
                                         copy.lcid, copy.syskind);
    if (SUCCEEDED(hr)) return hr;
    // A library that is not registered leaves nothing to remove: unregistering
    // twice is no failure.
    wchar_t guid[40] = {};
    StringFromGUID2(copy.guid, guid, 40);
    UniqueHkey key;
    const std::wstring keyPath = std::wstring(L"TypeLib\\") + guid;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, KEY_READ, key.Put()) ==
        ERROR_FILE_NOT_FOUND)
        return S_OK;
    return hr;
}

// Registration runs in the system's locale, whatever the caller's thread has.
class SystemThreadLocale {
public:
    SystemThreadLocale() : m_saved(GetThreadLocale()) { SetThreadLocale(LOCALE_SYSTEM_DEFAULT); }
    ~SystemThreadLocale() { SetThreadLocale(m_saved); }
    SystemThreadLocale(const SystemThreadLocale&) = delete;
    SystemThreadLocale& operator=(const SystemThreadLocale&) = delete;

private:
    LCID m_saved;
};

}  // namespace

HRESULT RegisterServer() {
    SystemThreadLocale locale;
    RETURN_IF_FAILED(ApplyRegistrarScript(IDR_WEBCONTROL_APP, true));
    RETURN_IF_FAILED(ApplyRegistrarScript(IDR_WEBBBS, true));
    RETURN_IF_FAILED(RegisterCategories(CLSID_WebBBS, kWebBBSCategories));
    return RegisterTypeLibrary();
}

HRESULT UnregisterServer() {
    SystemThreadLocale locale;
    RETURN_IF_FAILED(UnregisterCategories(CLSID_WebBBS, kWebBBSCategories));
    RETURN_IF_FAILED(ApplyRegistrarScript(IDR_WEBBBS, false));
    RETURN_IF_FAILED(UnregisterTypeLibrary());
    return ApplyRegistrarScript(IDR_WEBCONTROL_APP, false);
}

}  // namespace trv
