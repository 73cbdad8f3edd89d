#include "tools/pagehost/page_document.h"

#include <mshtml.h>
#include <oleauto.h>

#include <new>

#include "platform/win32/dispatch_base.h"

namespace trv {
namespace {

#define NOT_IMPLEMENTED(name, ...) \
    IFACEMETHODIMP name(__VA_ARGS__) override { return E_NOTIMPL; }
#define GET(name, type) NOT_IMPLEMENTED(get_##name, type*)
#define PROPERTY(name, type) NOT_IMPLEMENTED(put_##name, type) GET(name, type)

class PageDocument : public IHTMLDocument2, public IOleContainer {
public:
    explicit PageDocument(const std::wstring& domain) : domain_(domain) {}
    virtual ~PageDocument() = default;

    IFACEMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IOleContainer || iid == IID_IParseDisplayName)
            *out = static_cast<IOleContainer*>(this);
        else if (iid == IID_IDispatch || iid == IID_IHTMLDocument || iid == IID_IHTMLDocument2)
            *out = static_cast<IHTMLDocument2*>(this);
        else
            return (*out = nullptr), E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    TRV_COUNTED_REFERENCES(refs_)

    // What document.domain answers: the page's host, or the parent domain
    // the page lowered it to.
    IFACEMETHODIMP get_domain(BSTR* p) override {
        if (!p) return E_POINTER;
        *p = SysAllocStringLen(domain_.data(), static_cast<UINT>(domain_.size()));
        return *p ? S_OK : E_OUTOFMEMORY;
    }

    // IOleContainer
    NOT_IMPLEMENTED(ParseDisplayName, IBindCtx*, LPOLESTR, ULONG*, IMoniker**)
    NOT_IMPLEMENTED(EnumObjects, DWORD, IEnumUnknown**)
    NOT_IMPLEMENTED(LockContainer, BOOL)

    // IDispatch, IHTMLDocument and the rest of IHTMLDocument2
    NOT_IMPLEMENTED(GetTypeInfoCount, UINT*)
    NOT_IMPLEMENTED(GetTypeInfo, UINT, LCID, ITypeInfo**)
    NOT_IMPLEMENTED(GetIDsOfNames, REFIID, LPOLESTR*, UINT, LCID, DISPID*)
    NOT_IMPLEMENTED(Invoke, DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)
    GET(Script, IDispatch*) GET(all, IHTMLElementCollection*) GET(body, IHTMLElement*)
    GET(activeElement, IHTMLElement*) GET(images, IHTMLElementCollection*)
    GET(applets, IHTMLElementCollection*) GET(links, IHTMLElementCollection*)
    GET(forms, IHTMLElementCollection*) GET(anchors, IHTMLElementCollection*)
    GET(scripts, IHTMLElementCollection*) GET(selection, IHTMLSelectionObject*)
    GET(frames, IHTMLFramesCollection2*) GET(embeds, IHTMLElementCollection*)
    GET(plugins, IHTMLElementCollection*) GET(location, IHTMLLocation*)
    GET(parentWindow, IHTMLWindow2*) GET(styleSheets, IHTMLStyleSheetsCollection*)
    GET(readyState, BSTR) GET(referrer, BSTR) GET(lastModified, BSTR) GET(mimeType, BSTR)
    GET(fileSize, BSTR) GET(fileCreatedDate, BSTR) GET(fileModifiedDate, BSTR)
    GET(fileUpdatedDate, BSTR) GET(security, BSTR) GET(protocol, BSTR) GET(nameProp, BSTR)
    PROPERTY(title, BSTR) PROPERTY(designMode, BSTR) PROPERTY(URL, BSTR) PROPERTY(cookie, BSTR)
    PROPERTY(charset, BSTR) PROPERTY(defaultCharset, BSTR) PROPERTY(expando, VARIANT_BOOL)
    NOT_IMPLEMENTED(put_domain, BSTR)
    PROPERTY(alinkColor, VARIANT) PROPERTY(bgColor, VARIANT) PROPERTY(fgColor, VARIANT)
    PROPERTY(linkColor, VARIANT) PROPERTY(vlinkColor, VARIANT)
    PROPERTY(onhelp, VARIANT) PROPERTY(onclick, VARIANT) PROPERTY(ondblclick, VARIANT)
    PROPERTY(onkeyup, VARIANT) PROPERTY(onkeydown, VARIANT) PROPERTY(onkeypress, VARIANT)
    PROPERTY(onmouseup, VARIANT) PROPERTY(onmousedown, VARIANT) PROPERTY(onmousemove, VARIANT)
    PROPERTY(onmouseout, VARIANT) PROPERTY(onmouseover, VARIANT)
    PROPERTY(onreadystatechange, VARIANT) PROPERTY(onafterupdate, VARIANT)
    PROPERTY(onrowexit, VARIANT) PROPERTY(onrowenter, VARIANT) PROPERTY(ondragstart, VARIANT)
    PROPERTY(onselectstart, VARIANT) PROPERTY(onbeforeupdate, VARIANT)
    PROPERTY(onerrorupdate, VARIANT)
    NOT_IMPLEMENTED(write, SAFEARRAY*)
    NOT_IMPLEMENTED(writeln, SAFEARRAY*)
    NOT_IMPLEMENTED(open, BSTR, VARIANT, VARIANT, VARIANT, IDispatch**)
    NOT_IMPLEMENTED(close)
    NOT_IMPLEMENTED(clear)
    NOT_IMPLEMENTED(queryCommandSupported, BSTR, VARIANT_BOOL*)
    NOT_IMPLEMENTED(queryCommandEnabled, BSTR, VARIANT_BOOL*)
    NOT_IMPLEMENTED(queryCommandState, BSTR, VARIANT_BOOL*)
    NOT_IMPLEMENTED(queryCommandIndeterm, BSTR, VARIANT_BOOL*)
    NOT_IMPLEMENTED(queryCommandText, BSTR, BSTR*)
    NOT_IMPLEMENTED(queryCommandValue, BSTR, VARIANT*)
    NOT_IMPLEMENTED(execCommand, BSTR, VARIANT_BOOL, VARIANT, VARIANT_BOOL*)
    NOT_IMPLEMENTED(execCommandShowHelp, BSTR, VARIANT_BOOL*)
    NOT_IMPLEMENTED(createElement, BSTR, IHTMLElement**)
    NOT_IMPLEMENTED(elementFromPoint, LONG, LONG, IHTMLElement**)
    NOT_IMPLEMENTED(toString, BSTR*)
    NOT_IMPLEMENTED(createStyleSheet, BSTR, LONG, IHTMLStyleSheet**)

private:
    std::wstring domain_;
    LONG refs_ = 1;
};

#undef PROPERTY
#undef GET
#undef NOT_IMPLEMENTED

}  // namespace

IOleContainer* NewPageDocument(const std::wstring& domain) {
    return new (std::nothrow) PageDocument(domain);
}

}  // namespace trv
