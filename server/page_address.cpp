#include "server/page_address.h"

#include <ole2.h>
#include <mshtml.h>
#include <servprov.h>
#include <shlguid.h>

#include "platform/win32/com_util.h"
#include "platform/win32/wide_text.h"

namespace trv {

namespace {

bool BrowserAddress(IUnknown* site, std::string& out) {
    ComPtr<IServiceProvider> provider;
    if (FAILED(site->QueryInterface(IID_IServiceProvider, provider.PutVoid()))) return false;
    ComPtr<IDispatch> browser;
    if (FAILED(provider->QueryService(SID_SWebBrowserApp, IID_IDispatch, browser.PutVoid())) ||
        !browser)
        return false;
    LPOLESTR name = const_cast<LPOLESTR>(L"LocationURL");
    DISPID id = DISPID_UNKNOWN;
    if (FAILED(browser->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id))) return false;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    UniqueVariant value;
    if (FAILED(browser->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                               &value, nullptr, nullptr)) ||
        value.vt != VT_BSTR)
        return false;
    out = NarrowUtf8(value.bstrVal, SysStringLen(value.bstrVal));
    return true;
}

bool ContainerAddress(IUnknown* site, std::string& out) {
    ComPtr<IOleClientSite> client;
    if (FAILED(site->QueryInterface(IID_IOleClientSite, client.PutVoid()))) return false;
    ComPtr<IMoniker> moniker;
    if (FAILED(client->GetMoniker(OLEGETMONIKER_ONLYIFTHERE, OLEWHICHMK_CONTAINER,
                                  moniker.Put())) ||
        !moniker)
        return false;
    ComPtr<IBindCtx> context;
    if (FAILED(CreateBindCtx(0, context.Put()))) return false;
    LPOLESTR name = nullptr;
    if (FAILED(moniker->GetDisplayName(context.Get(), nullptr, &name)) || !name) return false;
    out = NarrowUtf8(name, static_cast<std::size_t>(lstrlenW(name)));
    CoTaskMemFree(name);
    return true;
}

bool DocumentDomain(IUnknown* site, std::string& out) {
    ComPtr<IOleClientSite> client;
    ComPtr<IOleContainer> container;
    ComPtr<IHTMLDocument2> document;
    if (FAILED(site->QueryInterface(IID_IOleClientSite, client.PutVoid())) ||
        FAILED(client->GetContainer(container.Put())) || !container ||
        FAILED(container->QueryInterface(IID_IHTMLDocument2, document.PutVoid())) || !document)
        return false;
    UniqueBstr domain;
    if (FAILED(document->get_domain(domain.Put()))) return false;
    out = NarrowUtf8(domain.Get(), SysStringLen(domain.Get()));
    return true;
}

}  // namespace

PageAddresses PageAddressesOf(IUnknown* site) {
    PageAddresses addresses;
    std::string address;
    if (site && BrowserAddress(site, address)) addresses.top = address;
    if (site && ContainerAddress(site, address)) addresses.document = address;
    if (site && DocumentDomain(site, address)) addresses.domain = address;
    return addresses;
}

}  // namespace trv
