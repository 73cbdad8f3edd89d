// The class object of WebBBS. The class table holds one reference for the
// life of the module; any reference beyond that keeps the module loaded.
#include <shlwapi.h>

#include <new>

#include "server/module.h"

namespace trv {

namespace {

class WebBBSClassFactory final : public IClassFactory {
public:
    IFACEMETHODIMP QueryInterface(REFIID iid, void** out) override {
        static const QITAB table[] = {
            QITABENT(WebBBSClassFactory, IClassFactory),
            {nullptr, 0},
        };
        return QISearch(this, table, iid, out);
    }

    IFACEMETHODIMP_(ULONG) AddRef() override {
        const LONG count = InterlockedIncrement(&m_refCount);
        if (count == 2) Module().Lock();
        return count;
    }

    IFACEMETHODIMP_(ULONG) Release() override {
        const LONG count = InterlockedDecrement(&m_refCount);
        if (count == 1) Module().Unlock();
        if (count == 0) delete this;
        return count;
    }

    IFACEMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        return CreateWebBBSInstance(outer, iid, out);
    }

    IFACEMETHODIMP LockServer(BOOL lock) override {
        if (lock) {
            InterlockedIncrement(&s_serverLocks);
            Module().Lock();
            return S_OK;
        }
        // An unmatched unlock must not take away a live object's count,
        // or the module could be unloaded under it.
        for (LONG held = s_serverLocks; held > 0; held = s_serverLocks) {
            if (InterlockedCompareExchange(&s_serverLocks, held - 1, held) == held) {
                Module().Unlock();
                break;
            }
        }
        return S_OK;
    }

private:
    static LONG s_serverLocks;
    LONG m_refCount = 0;
};

LONG WebBBSClassFactory::s_serverLocks = 0;

}  // namespace

HRESULT CreateWebBBSClassObject(REFIID iid, void** out) {
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = nullptr;
    auto* factory = new (std::nothrow) WebBBSClassFactory;
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, factory);
    const HRESULT hr = factory->QueryInterface(iid, out);
    if (FAILED(hr)) delete factory;
    return hr;
}

}  // namespace trv
