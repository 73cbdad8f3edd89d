#include "platform/win32/page_site.h"

#include "platform/win32/com_util.h"
#include "platform/win32/dispatch_base.h"

#include <oleauto.h>
#include <servprov.h>
#include <shlguid.h>
#include <urlmon.h>

#include <new>

namespace trv {
namespace {

class PageSite;

// The browser as the site hands it out: only its LocationURL (DISPID 1).
// Lives inside the site and shares its reference count.
class PageBrowser : public InvokeOnlyDispatch {
public:
    explicit PageBrowser(PageSite* site) : site_(site) {}

    IFACEMETHODIMP_(ULONG) AddRef() override;
    IFACEMETHODIMP_(ULONG) Release() override;
    IFACEMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                 DISPID* ids) override {
        return OneName(L"LocationURL", names, count, ids);
    }
    IFACEMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result,
                          EXCEPINFO*, UINT*) override;

private:
    PageSite* site_;
};

class PageSite : public IOleClientSite, public IServiceProvider {
public:
    PageSite(const std::wstring& url, const std::optional<std::wstring>& document,
             IOleContainer* container)
        : url_(url), document_(document), container_(container), browser_(this) {}
    virtual ~PageSite() = default;

    const std::wstring& Url() const { return url_; }

    IFACEMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IOleClientSite)
            *out = static_cast<IOleClientSite*>(this);
        else if (iid == IID_IServiceProvider)
            *out = static_cast<IServiceProvider*>(this);
        else
            return (*out = nullptr), E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    TRV_COUNTED_REFERENCES(refs_)

    // IOleClientSite: only the container's moniker (the document's address)
    // and the container itself.
    IFACEMETHODIMP SaveObject() override { return E_NOTIMPL; }
    IFACEMETHODIMP GetMoniker(DWORD, DWORD which, IMoniker** moniker) override {
        if (!moniker) return E_POINTER;
        *moniker = nullptr;
        if (which != OLEWHICHMK_CONTAINER) return E_NOTIMPL;
        if (!document_) return E_FAIL;
        return CreateURLMonikerEx(nullptr, document_->c_str(), moniker, URL_MK_UNIFORM);
    }
    IFACEMETHODIMP GetContainer(IOleContainer** container) override {
        if (!container) return E_POINTER;
        *container = nullptr;
        return container_ ? container_.CopyTo(container) : E_NOINTERFACE;
    }
    IFACEMETHODIMP ShowObject() override { return S_OK; }
    IFACEMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    IFACEMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IServiceProvider: the browser, as Internet Explorer hands it out.
    IFACEMETHODIMP QueryService(REFGUID service, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (service != SID_SWebBrowserApp) return E_NOINTERFACE;
        return browser_.QueryInterface(iid, out);
    }

private:
    std::wstring url_;
    std::optional<std::wstring> document_;
    ComPtr<IOleContainer> container_;
    PageBrowser browser_;
    LONG refs_ = 1;
};

IFACEMETHODIMP_(ULONG) PageBrowser::AddRef() { return static_cast<IOleClientSite*>(site_)->AddRef(); }
IFACEMETHODIMP_(ULONG) PageBrowser::Release() {
    return static_cast<IOleClientSite*>(site_)->Release();
}

IFACEMETHODIMP PageBrowser::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*,
                                   VARIANT* result, EXCEPINFO*, UINT*) {
    if (id != 1 || !(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
    if (!result) return E_POINTER;
    const std::wstring& url = site_->Url();
    VariantInit(result);
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = SysAllocStringLen(url.data(), static_cast<UINT>(url.size()));
    return V_BSTR(result) ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

IOleClientSite* NewPageSite(const std::wstring& url) { return NewPageSite(url, url); }

IOleClientSite* NewPageSite(const std::wstring& top, const std::optional<std::wstring>& document,
                            IOleContainer* container) {
    return new (std::nothrow) PageSite(top, document, container);
}

}  // namespace trv
