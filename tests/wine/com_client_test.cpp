// The registered control driven as a page would drive it: created by ProgID,
// called by name through IDispatch, events through the connection point.
#include <windows.h>
#include <objsafe.h>
#include <ocidl.h>
#include <olectl.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "com_support.h"
#include "support/wine_support.h"
#include "testbed/testbed_log.h"

namespace trv {
namespace {

using namespace comtest;
using namespace winetest;

const IID kIID_IObjectSafety = {0xcb5bdc81, 0x93c1, 0x11cf,
                                {0x8f, 0x20, 0x00, 0x80, 0x5f, 0x2c, 0xd0, 0x64}};

class ComEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitialize(nullptr)); }
    void TearDown() override { CoUninitialize(); }
};
const auto* g_env = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

Ptr<IConnectionPoint> EventPoint(IUnknown* object) {
    Ptr<IConnectionPointContainer> container;
    object->QueryInterface(IID_IConnectionPointContainer, container.PutVoid());
    Ptr<IConnectionPoint> point;
    if (container) container->FindConnectionPoint(DIID__IWebBBSEvents, point.Put());
    return point;
}

// ---- creation and interfaces --------------------------------------------------

TEST(ComObject, AnswersItsInterfaceTableAndNothingElse) {
    Ptr<IUnknown> unknown;
    ASSERT_HRESULT_SUCCEEDED(CreateControl(IID_IUnknown, unknown.PutVoid()));
    Ptr<IWebBBS> webbbs;
    Ptr<IDispatch> dispatch;
    ASSERT_EQ(unknown->QueryInterface(IID_IWebBBS, webbbs.PutVoid()), S_OK);
    ASSERT_EQ(unknown->QueryInterface(IID_IDispatch, dispatch.PutVoid()), S_OK);
    // Identity is the dual interface.
    EXPECT_EQ(static_cast<void*>(unknown.Get()), static_cast<void*>(webbbs.Get()));
    EXPECT_EQ(static_cast<void*>(dispatch.Get()), static_cast<void*>(webbbs.Get()));

    Ptr<IProvideClassInfo> info;
    Ptr<IProvideClassInfo2> info2;
    ASSERT_EQ(unknown->QueryInterface(IID_IProvideClassInfo, info.PutVoid()), S_OK);
    ASSERT_EQ(unknown->QueryInterface(IID_IProvideClassInfo2, info2.PutVoid()), S_OK);
    EXPECT_EQ(static_cast<void*>(info.Get()), static_cast<void*>(info2.Get()));

    Ptr<IUnknown> any;
    EXPECT_EQ(unknown->QueryInterface(IID_IConnectionPointContainer, any.PutVoid()), S_OK);
    EXPECT_EQ(unknown->QueryInterface(kIID_IObjectSafety, any.PutVoid()), S_OK);
    // Every part leads back to the same identity.
    Ptr<IUnknown> back;
    ASSERT_EQ(any->QueryInterface(IID_IUnknown, back.PutVoid()), S_OK);
    EXPECT_EQ(back.Get(), unknown.Get());

    for (const IID* iid : {&IID_IOleObject, &IID_IObjectWithSite, &IID_IPersistStreamInit,
                           &IID_IPersistPropertyBag, &IID_IPersistStorage, &IID_IPersist,
                           &IID_IConnectionPoint, &IID_IOleControl, &IID_IViewObject,
                           &IID_IClassFactory, &DIID__IWebBBSEvents}) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(unknown->QueryInterface(*iid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(unknown->QueryInterface(IID_IWebBBS, nullptr), E_POINTER);
}

// An outer object that counts the references its inner object passes on.
class Outer : public IUnknown {
public:
    IFACEMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(iid, out) : E_NOINTERFACE;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    IFACEMETHODIMP_(ULONG) Release() override { return --refs; }
    IUnknown* inner = nullptr;
    LONG refs = 1;
};

TEST(ComObject, AggregatesOnlyThroughIUnknown) {
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(L"WebControl.TARVOSK.1", &clsid), S_OK);
    Ptr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               factory.PutVoid()),
              S_OK);
    Outer outer;
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IWebBBS, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IWebBBS, nullptr), E_POINTER);
    // An interface the object lacks: refused, and nothing is left alive.
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IOleObject, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);

    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)),
              S_OK);
    ASSERT_NE(outer.inner, nullptr);
    {
        Ptr<IWebBBS> webbbs;
        ASSERT_EQ(outer.inner->QueryInterface(IID_IWebBBS, webbbs.PutVoid()), S_OK);
        EXPECT_EQ(outer.refs, 2);  // the reference went to the outer object
        Ptr<IUnknown> identity;
        ASSERT_EQ(webbbs->QueryInterface(IID_IUnknown, identity.PutVoid()), S_OK);
        EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(&outer));
        // The outer object's own interfaces are reached through the inner ones.
        EXPECT_EQ(webbbs->CheckInstall(), S_OK);
        Ptr<IConnectionPoint> point = EventPoint(webbbs.Get());
        ASSERT_TRUE(point);
        Ptr<IConnectionPointContainer> container;
        ASSERT_EQ(point->GetConnectionPointContainer(container.Put()), S_OK);
    }
    EXPECT_EQ(outer.refs, 1);
    EXPECT_EQ(CanUnloadNow(), S_FALSE);  // the inner object lives
    outer.inner->Release();
    factory.Reset();
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST(ComModule, CanUnloadFollowsObjectsLocksAndTheClassObject) {
    {
        Ptr<IDispatch> object = CreateDispatch();
        ASSERT_TRUE(object);
        EXPECT_EQ(CanUnloadNow(), S_FALSE);
        Ptr<IDispatch> second = CreateDispatch();
        object.Reset();
        EXPECT_EQ(CanUnloadNow(), S_FALSE);
    }
    EXPECT_EQ(CanUnloadNow(), S_OK);

    HMODULE module = GetModuleHandleW(L"TRVControl.DLL");
    ASSERT_NE(module, nullptr);
    auto getClassObject = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    ASSERT_NE(getClassObject, nullptr);
    // Exported by ordinal too.
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(2))),
              reinterpret_cast<void*>(getClassObject));
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(1))),
              reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));

    Ptr<IClassFactory> a, b;
    ASSERT_EQ(getClassObject(CLSID_WebBBS, IID_IClassFactory, a.PutVoid()), S_OK);
    ASSERT_EQ(getClassObject(CLSID_WebBBS, IID_IUnknown, b.PutVoid()), S_OK);
    EXPECT_EQ(static_cast<void*>(a.Get()), static_cast<void*>(b.Get()));
    EXPECT_EQ(CanUnloadNow(), S_FALSE);  // held beyond the table's own reference
    b.Reset();
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    {
        Ptr<IClassFactory> c;
        EXPECT_EQ(a->QueryInterface(IID_IClassFactory, c.PutVoid()), S_OK);
    }
    EXPECT_EQ(a->LockServer(TRUE), S_OK);
    a.Reset();
    EXPECT_EQ(CanUnloadNow(), S_FALSE);  // locked
    ASSERT_EQ(getClassObject(CLSID_WebBBS, IID_IClassFactory, a.PutVoid()), S_OK);
    EXPECT_EQ(a->LockServer(FALSE), S_OK);
    a.Reset();
    EXPECT_EQ(CanUnloadNow(), S_OK);

    // An unmatched unlock does not take a live object's count.
    ASSERT_EQ(getClassObject(CLSID_WebBBS, IID_IClassFactory, a.PutVoid()), S_OK);
    EXPECT_EQ(a->LockServer(FALSE), S_OK);
    Ptr<IUnknown> object;
    ASSERT_EQ(a->CreateInstance(nullptr, IID_IUnknown, object.PutVoid()), S_OK);
    a.Reset();
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    object.Reset();
    EXPECT_EQ(CanUnloadNow(), S_OK);

    const CLSID other = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClassObject(other, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(getClassObject(CLSID_WebBBS, IID_IClassFactory, nullptr), E_POINTER);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClassObject(CLSID_WebBBS, IID_IWebBBS, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

// ---- dispatch and type information --------------------------------------------

TEST(ComDispatch, NamesResolveToTheirDispidsWithoutRegardToCase) {
    Ptr<IDispatch> object = CreateDispatch();
    ASSERT_TRUE(object);
    for (DISPID expected = 1; expected <= 12; ++expected) {
        LPOLESTR name = const_cast<LPOLESTR>(kMethodNames[expected - 1]);
        DISPID dispid = 0;
        EXPECT_EQ(object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &dispid), S_OK);
        EXPECT_EQ(dispid, expected) << kMethodNames[expected - 1];
    }
    LPOLESTR lower = const_cast<LPOLESTR>(L"launcherweblink");
    DISPID dispid = 0;
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, &lower, 1, LOCALE_USER_DEFAULT, &dispid), S_OK);
    EXPECT_EQ(dispid, 12);
    LPOLESTR unknown = const_cast<LPOLESTR>(L"NoSuchMethod");
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, &unknown, 1, LOCALE_USER_DEFAULT, &dispid),
              DISP_E_UNKNOWNNAME);

    UINT count = 0;
    EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(object->GetTypeInfoCount(nullptr), E_POINTER);
}

TEST(ComDispatch, TypeInfoIsCachedAndAnyIndexGivesIt) {
    Ptr<IDispatch> object = CreateDispatch();
    Ptr<ITypeInfo> first, fifth;
    ASSERT_EQ(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, first.Put()), S_OK);
    ASSERT_EQ(object->GetTypeInfo(5, LOCALE_USER_DEFAULT, fifth.Put()), S_OK);
    EXPECT_EQ(first.Get(), fifth.Get());
    EXPECT_EQ(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, nullptr), E_POINTER);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(first->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, IID_IWebBBS));
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);  // the dispatch side of the dual interface
    first->ReleaseTypeAttr(attr);
}

TEST(ComDispatch, HelpStringsReadBackInKorean) {
    ASSERT_EQ(GetACP(), 949u);
    Ptr<ITypeLib> library;
    ASSERT_EQ(LoadRegTypeLib(LIBID_WebControlLib, 1, 0, 0, library.Put()), S_OK);
    BSTR doc = nullptr;
    ASSERT_EQ(library->GetDocumentation(-1, nullptr, &doc, nullptr, nullptr), S_OK);
    EXPECT_STREQ(doc, L"WebControl 1.0 형식 라이브러리");
    SysFreeString(doc);
    EXPECT_EQ(library->GetTypeInfoCount(), 3u);

    struct Expected {
        const GUID* guid;
        const wchar_t* name;
        const wchar_t* help;
        TYPEKIND kind;
    } expected[] = {
        {&IID_IWebBBS, L"IWebBBS", L"IWebBBS 인터페이스", TKIND_DISPATCH},
        {&DIID__IWebBBSEvents, L"_IWebBBSEvents", L"_IWebBBSEvents 인터페이스", TKIND_DISPATCH},
        {&CLSID_WebBBS, L"WebBBS", L"Tarvosk File Share Control 5", TKIND_COCLASS},
    };
    for (const Expected& e : expected) {
        Ptr<ITypeInfo> info;
        ASSERT_EQ(library->GetTypeInfoOfGuid(*e.guid, info.Put()), S_OK) << e.name;
        BSTR name = nullptr, help = nullptr;
        ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, &help, nullptr, nullptr), S_OK);
        EXPECT_STREQ(name, e.name);
        EXPECT_STREQ(help, e.help);
        SysFreeString(name);
        SysFreeString(help);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
        EXPECT_EQ(attr->typekind, e.kind) << e.name;
        info->ReleaseTypeAttr(attr);
    }

    Ptr<ITypeInfo> webbbs;
    ASSERT_EQ(library->GetTypeInfoOfGuid(IID_IWebBBS, webbbs.Put()), S_OK);
    for (DISPID id = 1; id <= 12; ++id) {
        BSTR name = nullptr, help = nullptr;
        ASSERT_EQ(webbbs->GetDocumentation(id, &name, &help, nullptr, nullptr), S_OK) << id;
        EXPECT_EQ(std::wstring(help), std::wstring(L"메서드 ") + name);
        SysFreeString(name);
        SysFreeString(help);
    }
}

TEST(ComDispatch, ClassInfoAndDefaultSourceGuid) {
    Ptr<IProvideClassInfo2> provider;
    ASSERT_HRESULT_SUCCEEDED(CreateControl(IID_IProvideClassInfo2, provider.PutVoid()));
    Ptr<ITypeInfo> info;
    ASSERT_EQ(provider->GetClassInfo(info.Put()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, CLSID_WebBBS));
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    info->ReleaseTypeAttr(attr);
    EXPECT_EQ(provider->GetClassInfo(nullptr), E_POINTER);

    GUID guid;
    memset(&guid, 0xAB, sizeof guid);
    EXPECT_EQ(provider->GetGUID(0, &guid), E_INVALIDARG);
    EXPECT_TRUE(IsEqualGUID(guid, GUID_NULL));
    memset(&guid, 0xAB, sizeof guid);
    EXPECT_EQ(provider->GetGUID(2, &guid), E_INVALIDARG);
    EXPECT_TRUE(IsEqualGUID(guid, GUID_NULL));
    EXPECT_EQ(provider->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &guid), S_OK);
    EXPECT_TRUE(IsEqualGUID(guid, DIID__IWebBBSEvents));
    EXPECT_EQ(provider->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, nullptr), E_POINTER);
}

TEST(ComDispatch, BadCallsGetTheStandardAutomationErrors) {
    Ptr<IDispatch> object = CreateDispatch();
    VARIANT arg;
    VariantInit(&arg);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(object->Invoke(99, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(object->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    // Release, inherited from IUnknown, called by number with no argument block at all.
    EXPECT_EQ(object->Invoke(0x60000002, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr,
                             nullptr),
              DISP_E_MEMBERNOTFOUND);
    // UpLoadInfo without its argument, and with one too many.
    EXPECT_EQ(object->Invoke(6, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_BADPARAMCOUNT);
    VARIANT two[2];
    for (VARIANT& v : two) {
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = 1;
    }
    DISPPARAMS extra = {two, nullptr, 2, 0};
    EXPECT_EQ(object->Invoke(6, IID_NULL, 0, DISPATCH_METHOD, &extra, nullptr, nullptr, nullptr),
              DISP_E_BADPARAMCOUNT);
    // A number is converted to text; a value that cannot be is a type mismatch.
    DISPPARAMS one = {two, nullptr, 1, 0};
    EXPECT_EQ(object->Invoke(6, IID_NULL, 0, DISPATCH_METHOD, &one, nullptr, nullptr, nullptr),
              S_OK);
    SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 0, 2);
    VARIANT bad;
    VariantInit(&bad);
    bad.vt = VT_ARRAY | VT_I4;
    bad.parray = array;
    DISPPARAMS mismatch = {&bad, nullptr, 1, 0};
    UINT argError = 99;
    EXPECT_EQ(object->Invoke(6, IID_NULL, 0, DISPATCH_METHOD, &mismatch, nullptr, nullptr,
                             &argError),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argError, 0u);
    VariantClear(&bad);
    // An argument block that contradicts itself is refused, not read.
    DISPPARAMS broken = {nullptr, nullptr, 3, 0};
    EXPECT_EQ(object->Invoke(6, IID_NULL, 0, DISPATCH_METHOD, &broken, nullptr, nullptr, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(object->Invoke(6, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr),
              E_INVALIDARG);
}

// ---- object safety ----------------------------------------------------------------

TEST(ComSafety, OptionsFollowTheMaskSequence) {
    Ptr<IObjectSafety> safety;
    ASSERT_HRESULT_SUCCEEDED(CreateControl(kIID_IObjectSafety, safety.PutVoid()));
    DWORD supported = 77, enabled = 77;
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IPersistStreamInit, &supported, &enabled),
              E_NOINTERFACE);
    EXPECT_EQ(supported, 0u);
    EXPECT_EQ(enabled, 0u);
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
    EXPECT_EQ(supported, 3u);
    EXPECT_EQ(enabled, 0u);
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled), E_POINTER);
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, nullptr), E_POINTER);

    auto enabledNow = [&] {
        DWORD s = 0, e = 99;
        safety->GetInterfaceSafetyOptions(IID_IDispatch, &s, &e);
        return e;
    };
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 1, 1), S_OK);
    EXPECT_EQ(enabledNow(), 1u);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 4, 4), E_FAIL);
    EXPECT_EQ(enabledNow(), 1u);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 3, 0), S_OK);
    EXPECT_EQ(enabledNow(), 0u);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 1, 3), S_OK);
    EXPECT_EQ(enabledNow(), 1u);
    // One word for the whole object, whatever interface is named.
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IWebBBS, 2, 2), S_OK);
    EXPECT_EQ(enabledNow(), 3u);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IPersistPropertyBag, 3, 0), E_NOINTERFACE);
    EXPECT_EQ(enabledNow(), 3u);
}

// ---- connection point -------------------------------------------------------------

TEST(ComEvents, ContainerOffersOnePointForTheEvents) {
    Ptr<IDispatch> object = CreateDispatch();
    Ptr<IConnectionPointContainer> container;
    ASSERT_EQ(object->QueryInterface(IID_IConnectionPointContainer, container.PutVoid()), S_OK);
    Ptr<IConnectionPoint> point;
    EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, point.Put()), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point.Get(), nullptr);
    EXPECT_EQ(container->FindConnectionPoint(DIID__IWebBBSEvents, nullptr), E_POINTER);
    ASSERT_EQ(container->FindConnectionPoint(DIID__IWebBBSEvents, point.Put()), S_OK);

    IID iid = {};
    EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
    EXPECT_TRUE(IsEqualIID(iid, DIID__IWebBBSEvents));
    EXPECT_EQ(point->GetConnectionInterface(nullptr), E_POINTER);
    Ptr<IConnectionPointContainer> back;
    ASSERT_EQ(point->GetConnectionPointContainer(back.Put()), S_OK);
    EXPECT_EQ(back.Get(), container.Get());
    // The point answers only for itself.
    Ptr<IUnknown> any;
    EXPECT_EQ(point->QueryInterface(IID_IConnectionPoint, any.PutVoid()), S_OK);
    EXPECT_EQ(point->QueryInterface(IID_IWebBBS, any.PutVoid()), E_NOINTERFACE);

    Ptr<IEnumConnectionPoints> points;
    EXPECT_EQ(container->EnumConnectionPoints(nullptr), E_POINTER);
    ASSERT_EQ(container->EnumConnectionPoints(points.Put()), S_OK);
    IConnectionPoint* got[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(points->Next(2, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    EXPECT_EQ(got[0], point.Get());
    got[0]->Release();
    EXPECT_EQ(points->Next(1, got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(points->Reset(), S_OK);
    EXPECT_EQ(points->Skip(1), S_OK);
    EXPECT_EQ(points->Next(1, got, nullptr), S_FALSE);
}

TEST(ComEvents, CookiesCountFromOneAndAFreedSlotIsReused) {
    Ptr<IDispatch> object = CreateDispatch();
    Ptr<IConnectionPoint> point = EventPoint(object.Get());
    ASSERT_TRUE(point);
    std::vector<int> calls;
    Sink sinks[6] = {Sink(1), Sink(2), Sink(3), Sink(4), Sink(5), Sink(6)};
    for (Sink& s : sinks) s.calls = &calls;
    for (int i = 0; i < 5; ++i) {
        DWORD cookie = 0;
        ASSERT_EQ(point->Advise(&sinks[i], &cookie), S_OK);
        EXPECT_EQ(cookie, static_cast<DWORD>(i + 1));
        EXPECT_EQ(sinks[i].refs, 1);
    }
    EXPECT_EQ(point->Unadvise(2), S_OK);
    EXPECT_EQ(sinks[1].refs, 0);
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(&sinks[5], &cookie), S_OK);
    EXPECT_EQ(cookie, 2u);
    ASSERT_EQ(CallByName(object.Get(), L"CheckInstall", {}), S_OK);
    EXPECT_EQ(calls, (std::vector<int>{1, 6, 3, 4, 5}));

    Ptr<IEnumConnections> connections;
    ASSERT_EQ(point->EnumConnections(connections.Put()), S_OK);
    CONNECTDATA data[8] = {};
    ULONG fetched = 0;
    EXPECT_EQ(connections->Next(8, data, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 5u);
    const DWORD cookies[] = {1, 2, 3, 4, 5};
    const int owners[] = {1, 6, 3, 4, 5};
    for (ULONG i = 0; i < fetched; ++i) {
        EXPECT_EQ(data[i].dwCookie, cookies[i]);
        EXPECT_EQ(static_cast<Sink*>(static_cast<IDispatch*>(data[i].pUnk))->id, owners[i]);
        data[i].pUnk->Release();
    }
    EXPECT_EQ(point->EnumConnections(nullptr), E_POINTER);
    connections.Reset();

    // Each sink's reference goes with the object.
    point.Reset();
    object.Reset();
    for (Sink& s : sinks) EXPECT_EQ(s.refs, 0) << s.id;
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST(ComEvents, UnadviseAndAdviseRefuseWhatTheyCannotDo) {
    Ptr<IDispatch> object = CreateDispatch();
    Ptr<IConnectionPoint> point = EventPoint(object.Get());
    EXPECT_EQ(point->Unadvise(1), CONNECT_E_NOCONNECTION);  // no array yet
    Sink sink(1);
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
    EXPECT_EQ(point->Unadvise(0), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point->Unadvise(5), CONNECT_E_NOCONNECTION);  // beyond the 4 slots
    EXPECT_EQ(point->Unadvise(3), CONNECT_E_NOCONNECTION);  // an empty slot
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
    EXPECT_EQ(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);

    Sink plain(2, false);
    cookie = 77;
    EXPECT_EQ(point->Advise(&plain, &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(plain.refs, 0);
    cookie = 77;
    EXPECT_EQ(point->Advise(nullptr, &cookie), E_POINTER);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(point->Advise(&sink, nullptr), E_POINTER);
    EXPECT_EQ(sink.refs, 0);
}

TEST(ComEvents, FiringSurvivesFailingLeavingAndJoiningSinks) {
    Ptr<IDispatch> object = CreateDispatch();
    Ptr<IConnectionPoint> point = EventPoint(object.Get());
    std::vector<int> calls;
    Sink failing(1), leaving(2), joining(3), last(4), late(5), inside(6);
    DWORD cookies[4] = {};
    Sink* four[] = {&failing, &leaving, &joining, &last};
    for (int i = 0; i < 4; ++i) {
        four[i]->calls = &calls;
        ASSERT_EQ(point->Advise(four[i], &cookies[i]), S_OK);
    }
    late.calls = &calls;
    failing.answer = E_FAIL;
    leaving.onEvent = [&](Sink&) { EXPECT_EQ(point->Unadvise(cookies[1]), S_OK); };
    DWORD lateCookie = 0;
    joining.onEvent = [&](Sink& self) {
        if (self.events.size() == 1) {
            EXPECT_EQ(point->Advise(&late, &lateCookie), S_OK);
        }
    };
    ASSERT_EQ(CallByName(object.Get(), L"CheckInstall", {}), S_OK);
    // The new sink took slot 2 (freed inside the firing, below the count read
    // at the start) only if it came after the leaving sink: it did, so it is
    // reached in this same firing.
    EXPECT_EQ(lateCookie, 2u);
    EXPECT_EQ(calls, (std::vector<int>{1, 2, 3, 4}));
    calls.clear();

    // With every slot taken, a sink joining from inside a handler lands beyond
    // the count and waits for the next event.
    inside.calls = &calls;
    DWORD insideCookie = 0;
    joining.onEvent = [&](Sink& self) {
        if (self.events.size() == 2) {
            EXPECT_EQ(point->Advise(&inside, &insideCookie), S_OK);
        }
    };
    leaving.onEvent = nullptr;
    ASSERT_EQ(CallByName(object.Get(), L"CheckInstall", {}), S_OK);
    EXPECT_EQ(insideCookie, 5u);
    EXPECT_EQ(calls, (std::vector<int>{1, 5, 3, 4}));
    calls.clear();
    ASSERT_EQ(CallByName(object.Get(), L"CheckInstall", {}), S_OK);
    EXPECT_EQ(calls, (std::vector<int>{1, 5, 3, 4, 6}));

    for (Sink* s : {&failing, &joining, &last, &late, &inside}) {
        EXPECT_EQ(s->lastFlags, DISPATCH_METHOD);
        EXPECT_EQ(s->lastLcid, static_cast<LCID>(LOCALE_USER_DEFAULT));
        EXPECT_TRUE(IsEqualIID(s->lastIid, IID_NULL));
        EXPECT_FALSE(s->lastHadOutputs);
        EXPECT_EQ(s->lastNamedArgs, 0u);
        EXPECT_EQ(s->events.back().dispid, 1);
        EXPECT_TRUE(s->events.back().args.empty());
    }
    point.Reset();
    object.Reset();
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST(ComEvents, NoSinkMeansNothingHappens) {
    Ptr<IDispatch> object = CreateDispatch();
    EXPECT_EQ(CallByName(object.Get(), L"CheckInstall", {}), S_OK);
    EXPECT_EQ(CallByName(object.Get(), L"SelectComplete", {L"a", L"b", L"c"}), S_OK);
}

TEST(ComEvents, SinkReleasingTheObjectInsideItsHandlerIsSafe) {
    IDispatch* object = CreateDispatch().Detach();
    ASSERT_NE(object, nullptr);
    Sink sink(1), after(2);
    {
        Ptr<IConnectionPoint> point = EventPoint(object);
        DWORD cookie = 0;
        ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
        ASSERT_EQ(point->Advise(&after, &cookie), S_OK);
    }
    sink.onEvent = [&](Sink&) {
        object->Release();  // the page's last reference
        object = nullptr;
    };
    Ptr<IWebBBS> webbbs;
    // Call through the vtable on a pointer the handler does not touch.
    IWebBBS* raw = nullptr;
    ASSERT_EQ(object->QueryInterface(IID_IWebBBS, reinterpret_cast<void**>(&raw)), S_OK);
    raw->Release();  // back to one reference, held in `object`
    EXPECT_EQ(raw->CheckInstall(), S_OK);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(after.events.size(), 1u);  // the sink after it still heard the event
    EXPECT_EQ(sink.refs, 0);             // and the object is gone with its sinks
    EXPECT_EQ(after.refs, 0);
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

// A control with two sinks connected, for the UpSelectComplete cases. The
// sinks are declared first so they outlive the object that holds them.
class SelectEvents : public ::testing::Test {
protected:
    void SetUp() override {
        object = CreateDispatch();
        point = EventPoint(object.Get());
        DWORD cookie = 0;
        ASSERT_EQ(point->Advise(&first, &cookie), S_OK);
        ASSERT_EQ(point->Advise(&second, &cookie), S_OK);
        ASSERT_EQ(object->QueryInterface(IID_IWebBBS, webbbs.PutVoid()), S_OK);
    }
    Sink first{1}, second{2};
    Ptr<IDispatch> object;
    Ptr<IConnectionPoint> point;
    Ptr<IWebBBS> webbbs;
};

TEST_F(SelectEvents, UpSelectCompleteCarriesKoreanStringsLastFirst) {
    const std::wstring path = L"C:\\자료\\여름 사진\\바다.jpg";
    ASSERT_EQ(CallByName(object.Get(), L"SelectComplete", {path, L"1048576", L"1"}), S_OK);
    for (Sink* s : {&first, &second}) {
        ASSERT_EQ(s->events.size(), 1u);
        const Event& e = s->events[0];
        EXPECT_EQ(e.dispid, 2);
        ASSERT_EQ(e.args.size(), 3u);
        // Declared order (path, size, mode): element 0 of the array is the mode.
        EXPECT_EQ(e.args[0], path);
        EXPECT_EQ(e.args[1], L"1048576");
        EXPECT_EQ(e.args[2], L"1");
        EXPECT_EQ(e.types, (std::vector<VARTYPE>{VT_BSTR, VT_BSTR, VT_BSTR}));
    }

    // Through the vtable: empty and null strings pass as they are, and a copy
    // ends at the first NUL.
    BSTR empty = SysAllocString(L"");
    BSTR withNul = SysAllocStringLen(L"ab\0cd", 5);
    EXPECT_EQ(webbbs->SelectComplete(empty, nullptr, withNul), S_OK);
    ASSERT_EQ(first.events.size(), 2u);
    EXPECT_EQ(first.events[1].args, (std::vector<std::wstring>{L"", L"<null>", L"ab"}));
    SysFreeString(empty);
    SysFreeString(withNul);
}

// Fails every task-allocator request above `limit` bytes while armed; the
// automation strings come from that allocator.
class FailingMallocSpy : public IMallocSpy {
public:
    IFACEMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IMallocSpy) {
            *out = static_cast<IMallocSpy*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return 2; }
    IFACEMETHODIMP_(ULONG) Release() override { return 1; }  // static
    IFACEMETHODIMP_(SIZE_T) PreAlloc(SIZE_T request) override {
        if (armed && request > limit) {
            ++refused;
            return 0;
        }
        return request;
    }
    IFACEMETHODIMP_(void*) PostAlloc(void* actual) override { return actual; }
    IFACEMETHODIMP_(void*) PreFree(void* request, BOOL) override { return request; }
    IFACEMETHODIMP_(void) PostFree(BOOL) override {}
    IFACEMETHODIMP_(SIZE_T) PreRealloc(void* request, SIZE_T size, void** actual, BOOL) override {
        *actual = request;
        return size;
    }
    IFACEMETHODIMP_(void*) PostRealloc(void* actual, BOOL) override { return actual; }
    IFACEMETHODIMP_(void*) PreGetSize(void* request, BOOL) override { return request; }
    IFACEMETHODIMP_(SIZE_T) PostGetSize(SIZE_T actual, BOOL) override { return actual; }
    IFACEMETHODIMP_(void*) PreDidAlloc(void* request, BOOL) override { return request; }
    IFACEMETHODIMP_(int) PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    IFACEMETHODIMP_(void) PreHeapMinimize() override {}
    IFACEMETHODIMP_(void) PostHeapMinimize() override {}

    bool armed = false;
    SIZE_T limit = 0;
    int refused = 0;
};

TEST_F(SelectEvents, AStringThatCannotBeCopiedStopsTheFiringWithOutOfMemory) {
    // Too long for the string cache, so its copy must come from the allocator.
    const std::wstring longPath = L"C:\\" + std::wstring(20000, L'\uC790');
    BSTR path = SysAllocStringLen(longPath.data(), static_cast<UINT>(longPath.size()));
    BSTR size = SysAllocString(L"1");
    BSTR mode = SysAllocString(L"0");
    // Revoking waits until every block allocated under the spy is freed, so
    // the spy outlives the test.
    static FailingMallocSpy spy;
    spy.limit = 30000;
    ASSERT_EQ(CoRegisterMallocSpy(&spy), S_OK);
    // Wine's spy bookkeeping crashes when a block from before the spy is freed
    // while the spy has tracked nothing yet; one tracked block avoids that.
    void* tracked = CoTaskMemAlloc(16);
    spy.armed = true;
    const HRESULT failed = webbbs->SelectComplete(path, size, mode);
    spy.armed = false;
    EXPECT_EQ(failed, E_OUTOFMEMORY);
    EXPECT_GE(spy.refused, 1);
    // The firing stopped at the first sink, before its call.
    EXPECT_TRUE(first.events.empty());
    EXPECT_TRUE(second.events.empty());

    // With memory back, both sinks get the event.
    EXPECT_EQ(webbbs->SelectComplete(path, size, mode), S_OK);
    ASSERT_EQ(first.events.size(), 1u);
    ASSERT_EQ(second.events.size(), 1u);
    EXPECT_EQ(first.events[0].args[0], longPath);
    SysFreeString(path);
    SysFreeString(size);
    SysFreeString(mode);
    CoTaskMemFree(tracked);
    CoRevokeMallocSpy();
}

// ---- the twelve methods by name, with the stand-in clients --------------------------

class ComMethods : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(InstallStandInClients()); }
    static void TearDownTestSuite() { CloseAllClients(); }

    void SetUp() override {
        ASSERT_TRUE(CloseAllClients());
        log = BuildDir() + "\\com-" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
        DeleteFileA(log.c_str());
        SetEnv("TRV_TESTBED_LOG", log.c_str());
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        DeleteFileA((std::string(temp) + "TARVOSK_Upload_List").c_str());
        DeleteFileA((std::string(temp) + "TARVOSK_Download_List").c_str());
    }
    void TearDown() override { CloseAllClients(); }

    // A running client lets the install check pass without its dialog.
    void StartClient(const char* program, const char* windowClass) {
        const std::string path = InstallDir() + program;
        ShellExecuteA(nullptr, nullptr, path.c_str(), "", nullptr, SW_SHOWNORMAL);
        ASSERT_TRUE(WaitUntil([&] { return FindWindowA(windowClass, nullptr) != nullptr; }, 15000))
            << program;
    }
    std::vector<TestbedEvent> Records(const std::string& program, std::size_t count) {
        std::vector<TestbedEvent> out;
        WaitUntil(
            [&] {
                out.clear();
                for (const auto& e : ReadTestbedLog(log))
                    if (e.program == program && e.event == "record") out.push_back(e);
                return out.size() >= count;
            },
            10000);
        return out;
    }
    std::vector<TestbedEvent> Starts(const std::string& program) {
        std::vector<TestbedEvent> out;
        for (const auto& e : ReadTestbedLog(log))
            if (e.program == program && e.event == "start") out.push_back(e);
        return out;
    }

    std::string log;
};

TEST_F(ComMethods, WebLinkWithoutCredentialsOrClientAnswersZero) {
    Ptr<IDispatch> object = CreateDispatch();
    // Empties the module's credentials, and refuses.
    EXPECT_EQ(CallByName(object.Get(), L"LauncherExplorer", {L"", L""}), S_OK);
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(CallByName(object.Get(), L"LauncherWebLink", {L"", L"", L"http://a/b"}, &result),
              S_OK);
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_STREQ(result.bstrVal, L"0");
    VariantClear(&result);
    EXPECT_TRUE(Starts("TARVOSKDown.exe").empty());

    Ptr<IWebBBS> webbbs;
    ASSERT_EQ(object->QueryInterface(IID_IWebBBS, webbbs.PutVoid()), S_OK);
    EXPECT_EQ(webbbs->LauncherWebLink(nullptr, nullptr, nullptr, nullptr), E_POINTER);
    BSTR answer = nullptr;
    EXPECT_EQ(webbbs->LauncherWebLink(nullptr, nullptr, nullptr, &answer), S_FALSE);
    EXPECT_STREQ(answer, L"0");
    SysFreeString(answer);
}

TEST_F(ComMethods, DownloadJobReachesTheDownloadClient) {
    StartClient("TARVOSKDown.exe", "tarvosk_class_down");
    Ptr<IDispatch> object = CreateDispatch();
    EXPECT_EQ(CallByName(object.Get(), L"DownLoadInit", {}), S_OK);
    EXPECT_EQ(CallByName(object.Get(), L"DownLoadInfo", {L"11", L"C:\\받은 파일\\문서.txt"}), S_OK);
    EXPECT_EQ(CallByName(object.Get(), L"DownLoadInfo", {L"12", L"C:\\b.bin"}), S_OK);
    EXPECT_EQ(CallByName(object.Get(), L"DownLoadEnd", {L"user1", L"pw1"}), S_OK);
    const auto records = Records("TARVOSKDown.exe", 1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].kind, 7u);
    EXPECT_EQ(records[0].text, Ansi(L"11#<C:\\받은 파일\\문서.txt#>12#<C:\\b.bin"));
}

TEST_F(ComMethods, UploadJobStartsTheUploadClientWithTheCredentials) {
    StartClient("TARVOSKDown.exe", "tarvosk_class_down");
    Ptr<IDispatch> object = CreateDispatch();
    EXPECT_EQ(CallByName(object.Get(), L"UpLoadInit", {}), S_OK);
    EXPECT_EQ(CallByName(object.Get(), L"UpLoadInfo", {L"C:\\올릴 파일.txt"}), S_OK);
    EXPECT_EQ(CallByName(object.Get(), L"UpLoadEnd", {L"user2", L"pw2"}), S_OK);
    const auto records = Records("TARVOSKUp.exe", 1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, Ansi(L"C:\\올릴 파일.txt"));
    const auto starts = Starts("TARVOSKUp.exe");
    ASSERT_EQ(starts.size(), 1u);
    ASSERT_GE(starts[0].args.size(), 3u);
    EXPECT_EQ(starts[0].args[0], "bbs");
    EXPECT_EQ(starts[0].args[1], "user2");
    EXPECT_EQ(starts[0].args[2], "pw2");
}

TEST_F(ComMethods, LaunchersReachExplorerAndTheDownloadClient) {
    StartClient("TARVOSKDown.exe", "tarvosk_class_down");
    Ptr<IDispatch> object = CreateDispatch();
    EXPECT_EQ(CallByName(object.Get(), L"LauncherExplorer", {L"user3", L"pw3"}), S_OK);
    ASSERT_TRUE(WaitUntil([&] { return !Starts("Explorer.exe").empty(); }, 10000));
    const auto explorer = Starts("Explorer.exe");
    ASSERT_GE(explorer[0].args.size(), 2u);
    EXPECT_EQ(explorer[0].args[0], "user3");
    EXPECT_EQ(explorer[0].args[1], "pw3");

    // Empty credentials here use those the module keeps.
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(CallByName(object.Get(), L"LauncherWebLink", {L"", L"", L"http://h/f?id=7"}, &result),
              S_OK);
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_STREQ(result.bstrVal, L"1");
    VariantClear(&result);
    const auto records = Records("TARVOSKDown.exe", 1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, "http://h/f?id=7");
}

// Any page may call AllowPopUp: only a host name reaches the browser's pop-up
// allow list, never a wildcard, a separator or a huge string (registry
// injection).
TEST_F(ComMethods, AllowPopUpWritesOnlyHostNames) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER,
                              "Software\\Microsoft\\Internet Explorer\\New Windows\\Allow", 0,
                              nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    auto values = [&] {
        DWORD count = 0;
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                         nullptr, nullptr, nullptr, nullptr);
        return count;
    };
    const struct {
        std::wstring name;
        HRESULT hr;
    } cases[] = {
        {L"popup.example.test", S_OK},
        {L"xn--3e0b707e.kr", S_OK},
        {L"*.example.test", S_FALSE},
        {L"a.example.test;b.example.test", S_FALSE},
        {L"한국.kr", S_FALSE},
        {std::wstring(L"ok.example.test\0x", 17), S_FALSE},
        {std::wstring(16000, L'a'), S_FALSE},
    };
    Ptr<IWebBBS> object;
    ASSERT_EQ(CreateControl(IID_IWebBBS, object.PutVoid()), S_OK);
    for (const auto& c : cases) {
        const std::string name = Ansi(c.name);
        RegDeleteValueA(key, name.c_str());
        const DWORD before = values();
        EXPECT_EQ(object->AllowPopUp(Bstr(c.name)), c.hr) << name.substr(0, 40);
        const bool written = RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr,
                                              nullptr) == ERROR_SUCCESS;
        EXPECT_EQ(written, c.hr == S_OK) << name.substr(0, 40);
        EXPECT_EQ(values(), before + (c.hr == S_OK ? 1 : 0)) << name.substr(0, 40);
    }
    RegCloseKey(key);
}

// A window of the upload client's class that never answers, as a hung or
// hostile program may own (denial of service): the record cannot go by file
// here, and the message gives up instead of holding the page's thread.
TEST_F(ComMethods, HungWindowOfAClientClassDoesNotHoldTheCall) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string list = std::string(temp) + "TARVOSK_Upload_List";
    ASSERT_TRUE(CreateDirectoryA(list.c_str(), nullptr));  // no file can be written there
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<HWND> hung{nullptr};
    std::atomic<bool> releasedByTest{false};
    std::thread owner([&] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "tarvosk_class_upload";
        RegisterClassA(&wc);
        HWND window = CreateWindowA(wc.lpszClassName, "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                    nullptr, wc.hInstance, nullptr);
        hung = window;
        // Never pumps: every message sent to the window waits.
        releasedByTest = WaitForSingleObject(release, 60000) == WAIT_OBJECT_0;
        DestroyWindow(window);
        UnregisterClassA(wc.lpszClassName, wc.hInstance);
    });
    ASSERT_TRUE(WaitUntil([&] { return hung.load() != nullptr; }, 10000));
    Ptr<IWebBBS> object;
    ASSERT_EQ(CreateControl(IID_IWebBBS, object.PutVoid()), S_OK);
    EXPECT_EQ(object->UpLoadInfo(Bstr(L"a")), S_OK);
    EXPECT_EQ(object->UpLoadEnd(Bstr(L"user"), Bstr(L"pw")), S_FALSE);  // not delivered
    SetEvent(release);
    owner.join();
    EXPECT_TRUE(releasedByTest);  // the call came back while the window still hung
    CloseHandle(release);
    RemoveDirectoryA(list.c_str());
}

void SetSupportLogSwitch(bool on) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\TARVOSK", 0, nullptr, 0, KEY_WRITE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD one = 1;
    if (on)
        RegSetValueExA(key, "SupportLog", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
    else
        RegDeleteValueA(key, "SupportLog");
    RegCloseKey(key);
}

// A support engineer turns the log on: a refused hand-off leaves its reason,
// and no password reaches the file (credential disclosure).
TEST_F(ComMethods, SupportLogSaysWhyAndNeverHoldsThePassword) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string path = std::string(temp) + "TRVControl.log";
    DeleteFileA(path.c_str());
    StartClient("TARVOSKDown.exe", "tarvosk_class_down");  // the install check passes at once
    SetSupportLogSwitch(true);
    {
        Ptr<IWebBBS> object;  // reads the switch
        ASSERT_EQ(CreateControl(IID_IWebBBS, object.PutVoid()), S_OK);
        EXPECT_EQ(object->UpLoadInfo(Bstr(L"a")), S_OK);
        // The upload client would get this password on its command line.
        EXPECT_EQ(object->UpLoadEnd(Bstr(L"user"), Bstr(L"secret pw")), S_FALSE);
        EXPECT_EQ(object->DownLoadInfo(Bstr(L"1"), Bstr(L"C:\\a")), S_OK);
        EXPECT_EQ(object->DownLoadEnd(Bstr(L"user"), Bstr(L"secretpw")), S_OK);
    }
    SetSupportLogSwitch(false);
    const std::string text = ReadFileBytes(path);
    EXPECT_NE(text.find(" UpLoadEnd S_FALSE: credentials refused"), std::string::npos) << text;
    EXPECT_NE(text.find(" DownLoadEnd S_OK\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("secret"), std::string::npos) << text;
    EXPECT_TRUE(Starts("TARVOSKUp.exe").empty());
}

// A visible dialog of this process, for closing it as a user would.
BOOL CALLBACK FindOwnDialog(HWND window, LPARAM found) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char cls[64] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (pid == GetCurrentProcessId() && strcmp(cls, "#32770") == 0 && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

// ---- a page that drops the object inside a modal loop ---------------------------

// The install check fails with its messages: the update server is down and
// no earlier copy of its version file can decide.
class ComModal : public ComMethods {
protected:
    void SetUp() override {
        ComMethods::SetUp();
        ASSERT_TRUE(SwitchUpdateServer("down=1\n")) << "needs the CTest fixture update_server";
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        DeleteFileA((std::string(temp) + "_ver.ini").c_str());
    }
    void TearDown() override {
        SwitchUpdateServer("");
        ComMethods::TearDown();
    }
};

// What the page's timer does inside the dialog's message loop: drop the only
// reference, then answer whatever message box is up.
struct Dropper {
    IUnknown* object = nullptr;
    bool dropped = false;
    HRESULT canUnloadInside = E_FAIL;
} g_dropper;

void CALLBACK DropInsideTheLoop(HWND, UINT, UINT_PTR, DWORD) {
    if (g_dropper.object) {
        g_dropper.object->Release();
        g_dropper.object = nullptr;
        g_dropper.dropped = true;
        g_dropper.canUnloadInside = CanUnloadNow();
    }
    HWND box = nullptr;
    EnumWindows(FindOwnDialog, reinterpret_cast<LPARAM>(&box));
    if (box) PostMessageA(box, WM_COMMAND, IDOK, 0);
}

// A page drops its last reference while the call sits in the install/update
// dialog (a closed tab, a timer): no use after free, the call returns as
// designed and the module can go afterwards.
TEST_F(ComModal, DroppingTheObjectInsideTheInstallDialogIsNoUseAfterFree) {
    const Bstr user(L"user"), pw(L"pw"), link(L"http://l/");
    const struct {
        const char* method;
        std::function<HRESULT(IWebBBS*)> call;
        HRESULT expected;
    } cases[] = {
        {"UpLoadInit", [](IWebBBS* o) { return o->UpLoadInit(); }, S_OK},
        {"DownLoadInit", [](IWebBBS* o) { return o->DownLoadInit(); }, S_OK},
        {"UpLoadEnd", [&](IWebBBS* o) { return o->UpLoadEnd(user, pw); }, S_FALSE},
        {"DownLoadEnd", [&](IWebBBS* o) { return o->DownLoadEnd(user, pw); }, S_FALSE},
        {"LauncherExplorer", [&](IWebBBS* o) { return o->LauncherExplorer(user, pw); }, S_FALSE},
        {"LauncherWebLink",
         [&](IWebBBS* o) {
             BSTR answer = nullptr;
             const HRESULT hr = o->LauncherWebLink(user, pw, link, &answer);
             SysFreeString(answer);
             return hr;
         },
         S_FALSE},
    };
    for (const auto& c : cases) {
        IWebBBS* object = nullptr;
        ASSERT_EQ(CreateControl(IID_IWebBBS, reinterpret_cast<void**>(&object)), S_OK);
        g_dropper = Dropper{object};  // the timer holds the page's only reference
        const UINT_PTR timer = SetTimer(nullptr, 0, 100, DropInsideTheLoop);
        EXPECT_EQ(c.call(object), c.expected) << c.method;
        KillTimer(nullptr, timer);
        EXPECT_TRUE(g_dropper.dropped) << c.method;
        EXPECT_EQ(g_dropper.canUnloadInside, S_FALSE) << c.method;  // the call kept it alive
        EXPECT_EQ(CanUnloadNow(), S_OK) << c.method;               // and let it go on return
    }
    CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_EQ(GetModuleHandleW(L"TRVControl.DLL"), nullptr);
}

// With the log on, a gate that fails says why: here the update server is
// down, which a support engineer must tell from a refused installer.
TEST_F(ComModal, SupportLogNamesTheFailedUpdateDownload) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string path = std::string(temp) + "TRVControl.log";
    DeleteFileA(path.c_str());
    SetSupportLogSwitch(true);
    {
        Ptr<IWebBBS> object;
        ASSERT_EQ(CreateControl(IID_IWebBBS, object.PutVoid()), S_OK);
        g_dropper = Dropper{};  // only answers the message boxes
        const UINT_PTR timer = SetTimer(nullptr, 0, 100, DropInsideTheLoop);
        EXPECT_EQ(object->DownLoadEnd(Bstr(L"user"), Bstr(L"pw")), S_FALSE);
        KillTimer(nullptr, timer);
    }
    SetSupportLogSwitch(false);
    const std::string text = ReadFileBytes(path);
    EXPECT_NE(text.find(" DownLoadEnd S_FALSE: version file download failed (transport-failed), "
                        "HTTP status 0; client gate: the install/update check ended with code 2"),
              std::string::npos)
        << text;
}

// This program has no manifest: unless the module makes its own current, its
// dialogs and message boxes get user32's unstyled controls of Windows 2000.
TEST_F(ComModal, DialogsGetStyledControlsInAProgramWithoutAManifest) {
    // The selection dialog; the install/update dialog, then its message box.
    const std::pair<const wchar_t*, const char*> cases[] = {
        {L"ShowUpFileDlg", ""}, {L"DownLoadInit", "trickle=setup.exe\n"}};
    const auto user32 = reinterpret_cast<ULONG_PTR>(GetModuleHandleW(L"user32.dll"));
    for (const auto& c : cases) {
        ASSERT_TRUE(SwitchUpdateServer(c.second));
        Ptr<IDispatch> object = CreateDispatch();
        std::atomic<bool> returned{false};
        int styled = 0, unstyled = 0;
        std::thread closer([&] {  // looks at each dialog, then closes it as a user would
            for (HWND seen = nullptr; !returned; Sleep(100)) {
                HWND found = nullptr;
                EnumWindows(FindOwnDialog, reinterpret_cast<LPARAM>(&found));
                if (!found || found == seen) continue;
                for (HWND child = GetWindow(found, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
                    ++(GetClassLongPtrW(child, GCLP_HMODULE) == user32 ? unstyled : styled);
                PostMessageA(seen = found, WM_COMMAND, IDCANCEL, 0);
            }
        });
        EXPECT_HRESULT_SUCCEEDED(CallByName(object.Get(), c.first, {})) << c.second;
        returned = true;
        closer.join();
        EXPECT_GT(styled, 0) << c.second;
        EXPECT_EQ(unstyled, 0) << c.second;
    }
}

TEST_F(ComMethods, ShowUpFileDlgRunsTheSelectionDialogModally) {
    Ptr<IDispatch> object = CreateDispatch();
    // Closes the dialog once it shows, as a user pressing Cancel would.
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        WaitUntil(
            [&] {
                HWND found = nullptr;
                EnumWindows(FindOwnDialog, reinterpret_cast<LPARAM>(&found));
                if (found) {
                    PostMessageA(found, WM_COMMAND, IDCANCEL, 0);
                    closed = true;
                }
                return closed.load();
            },
            20000, 100);
    });
    EXPECT_EQ(CallByName(object.Get(), L"ShowUpFileDlg", {}), S_OK);
    closer.join();
    EXPECT_TRUE(closed);
}

}  // namespace
}  // namespace trv
