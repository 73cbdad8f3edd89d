// The class's component categories, through the platform's category manager.
#include "server/categories.h"

#include <comcat.h>

#include <string>

#include "platform/win32/com_util.h"

namespace trv {

namespace {

// The category manager needs COM on this thread; regsvr32 does not always
// start it, so start it for the step when nobody has.
class CategoryManager {
public:
    CategoryManager() {
        HRESULT hr = Create();
        if (hr == CO_E_NOTINITIALIZED &&
            SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
            m_uninitialize = true;
            Create();
        }
    }
    ~CategoryManager() {
        m_manager.Reset();
        if (m_uninitialize) CoUninitialize();
    }
    ICatRegister* Get() const { return m_manager.Get(); }

private:
    HRESULT Create() {
        return CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICatRegister, m_manager.PutVoid());
    }
    ComPtr<ICatRegister> m_manager;
    bool m_uninitialize = false;
};

}  // namespace

HRESULT RegisterCategories(REFCLSID clsid, const std::vector<Category>& categories) {
    CategoryManager manager;
    if (!manager.Get()) return S_OK;  // no manager: nothing to register with
    for (const Category& entry : categories) {
        CATID id = *entry.id;
        RETURN_IF_FAILED(entry.implemented
                             ? manager.Get()->RegisterClassImplCategories(clsid, 1, &id)
                             : manager.Get()->RegisterClassReqCategories(clsid, 1, &id));
    }
    return S_OK;
}

HRESULT UnregisterCategories(REFCLSID clsid, const std::vector<Category>& categories) {
    {
        CategoryManager manager;
        if (!manager.Get()) return S_OK;
        for (const Category& entry : categories) {
            CATID id = *entry.id;
            if (entry.implemented)
                manager.Get()->UnRegisterClassImplCategories(clsid, 1, &id);
            else
                manager.Get()->UnRegisterClassReqCategories(clsid, 1, &id);
        }
    }
    wchar_t guid[40] = {};
    StringFromGUID2(clsid, guid, 40);
    for (const wchar_t* name : {L"Required Categories", L"Implemented Categories"}) {
        // Joined by hand: the wide printf family would link the C runtime's
        // whole formatter into the module.
        const std::wstring keyPath = std::wstring(L"CLSID\\") + guid + L"\\" + name;
        UniqueHkey key;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, KEY_READ, key.Put()) !=
            ERROR_SUCCESS)
            continue;
        DWORD subkeys = 1;
        RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr);
        key.Reset();
        if (subkeys == 0) RegDeleteKeyW(HKEY_CLASSES_ROOT, keyPath.c_str());
    }
    return S_OK;
}

}  // namespace trv
