// IDispatch for the small objects that only Invoke does work in: event sinks
// and the host objects a page's script or object reaches. No type
// information; a name only where the object has one.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace trv {

class InvokeOnlyDispatch : public IDispatch {
public:
    // `also`: the event interface a sink stands for, answered as IDispatch.
    explicit InvokeOnlyDispatch(const IID& also = IID_IDispatch) : also_(also) {}
    virtual ~InvokeOnlyDispatch() = default;

    IFACEMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == also_) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    IFACEMETHODIMP GetTypeInfoCount(UINT* n) override { return n ? (*n = 0, S_OK) : E_POINTER; }
    IFACEMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    IFACEMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }

protected:
    // For an object with one member: `name` (any case, as script spells it)
    // is DISPID 1; every other name is unknown.
    static HRESULT OneName(const wchar_t* name, LPOLESTR* names, UINT count, DISPID* ids) {
        if (!names || !ids) return E_POINTER;
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            if (i == 0 && names[i] && lstrcmpiW(names[i], name) == 0)
                ids[i] = 1;
            else
                hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }

private:
    IID also_;
};

// AddRef and Release of an object deleted at its last release, counted in
// `refs` (a LONG member starting at 1), for every interface it derives from.
#define TRV_COUNTED_REFERENCES(refs)                                              \
    IFACEMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs); } \
    IFACEMETHODIMP_(ULONG) Release() override {                                   \
        const ULONG n = InterlockedDecrement(&refs);                              \
        if (n == 0) delete this;                                                  \
        return n;                                                                 \
    }

// Deleted at its last release.
class CountedDispatch : public InvokeOnlyDispatch {
public:
    using InvokeOnlyDispatch::InvokeOnlyDispatch;
    TRV_COUNTED_REFERENCES(refs_)

private:
    LONG refs_ = 1;
};

}  // namespace trv
