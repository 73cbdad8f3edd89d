// Robustness: many random IDispatch::Invoke calls on the registered control
// (DISPIDs in and out of range, wrong counts, every common VARIANT type, odd
// strings, named arguments). Nothing may crash or hang, and once every object
// is released the module may unload.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "com_support.h"
#include "support/wine_support.h"

namespace trv {
namespace {

using namespace comtest;
using namespace winetest;

constexpr int kCalls = 100000;
constexpr int kCallsPerObject = 1000;

class RandomVariants {
public:
    explicit RandomVariants(unsigned seed) : m_rng(seed) {}

    int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_rng); }

    BSTR OddString() {
        switch (Below(8)) {
        case 0: return nullptr;
        case 1: return SysAllocString(L"");
        case 2: return SysAllocStringLen(L"a\0b\0", 4);              // embedded NULs
        case 3: return SysAllocStringLen(L"\xD800x\xDC00\xDBFF", 4);  // lone surrogates
        case 4: return SysAllocString(L"C:\\자료\\사진.jpg");
        case 5:
            if (Below(50) == 0) {  // now and then a huge one
                std::wstring huge(1 << 20, L'가');
                return SysAllocStringLen(huge.data(), static_cast<UINT>(huge.size()));
            }
            return SysAllocString(L"#>#<#>");
        case 6: {
            std::wstring text(Below(64), L' ');
            for (wchar_t& c : text) c = static_cast<wchar_t>(Below(0x10000));
            return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        }
        default: return SysAllocString(L"12");
        }
    }

    // Fills v with a random value; byref targets live in `store`.
    void Fill(VARIANT& v, IDispatch* self, std::vector<BSTR>& byrefStrings) {
        VariantInit(&v);
        switch (Below(16)) {
        case 0: v.vt = VT_EMPTY; break;
        case 1: v.vt = VT_NULL; break;
        case 2: v.vt = VT_I2; v.iVal = static_cast<SHORT>(Below(65536) - 32768); break;
        case 3: v.vt = VT_I4; v.lVal = static_cast<LONG>(m_rng()); break;
        case 4: v.vt = VT_R8; v.dblVal = (Below(2) ? 1e308 : -3.25) * Below(100); break;
        case 5: v.vt = VT_BOOL; v.boolVal = Below(2) ? VARIANT_TRUE : VARIANT_FALSE; break;
        case 6: v.vt = VT_DATE; v.date = 45000.5; break;
        case 7: v.vt = VT_CY; v.cyVal.int64 = static_cast<LONGLONG>(m_rng()) << 20; break;
        case 8: v.vt = VT_ERROR; v.scode = DISP_E_PARAMNOTFOUND; break;
        case 9: v.vt = VT_DISPATCH; v.pdispVal = nullptr; break;
        case 10:
            v.vt = VT_DISPATCH;
            v.pdispVal = self;
            self->AddRef();
            break;
        case 11: v.vt = VT_UNKNOWN; v.punkVal = nullptr; break;
        case 12: {
            byrefStrings.push_back(OddString());
            v.vt = VT_BYREF | VT_BSTR;
            v.pbstrVal = &byrefStrings.back();
            break;
        }
        case 13: v.vt = VT_ARRAY | VT_I4; v.parray = SafeArrayCreateVector(VT_I4, 0, 3); break;
        case 14: v.vt = VT_I8; v.llVal = static_cast<LONGLONG>(m_rng()); break;
        default: v.vt = VT_BSTR; v.bstrVal = OddString(); break;
        }
    }

private:
    std::mt19937 m_rng;
};

TEST(RandomInvoke, HundredThousandCallsNeitherCrashNorLeak) {
    ASSERT_HRESULT_SUCCEEDED(CoInitialize(nullptr));
    // A running client lets the install check pass without its dialog.
    ASSERT_TRUE(InstallStandInClients());
    SetEnv("TRV_TESTBED_LOG", (BuildDir() + "\\com-random.log").c_str());
    const std::string down = InstallDir() + "TARVOSKDown.exe";
    ShellExecuteA(nullptr, nullptr, down.c_str(), "", nullptr, SW_SHOWNORMAL);
    ASSERT_TRUE(WaitUntil([] { return FindWindowA("tarvosk_class_down", nullptr) != nullptr; },
                          15000));

    // Arguments each method takes; methods that start programs or run the
    // selection dialog only get wrong counts, which dispatch refuses.
    const UINT counts[13] = {0, 0, 1, 0, 3, 0, 1, 2, 0, 2, 2, 2, 3};
    const bool startsSomething[13] = {false, false, false, true, false, false, false,
                                      true,  false, false, true, true, true};
    RandomVariants random(20261208);
    std::map<HRESULT, int> outcomes;
    Ptr<IDispatch> object;
    for (int call = 0; call < kCalls; ++call) {
        if (call % kCallsPerObject == 0) {
            object.Reset();
            object = CreateDispatch();
            ASSERT_TRUE(object);
        }
        DISPID dispid = random.Below(4) == 0 ? random.Below(40) - 10 : random.Below(12) + 1;
        UINT argc = static_cast<UINT>(random.Below(5));
        if (dispid >= 1 && dispid <= 12) {
            if (random.Below(2)) argc = counts[dispid];
            if (startsSomething[dispid] && argc == counts[dispid]) argc = counts[dispid] + 1;
        }
        std::vector<VARIANT> args(argc);
        std::vector<BSTR> byrefStrings;
        byrefStrings.reserve(argc);
        for (VARIANT& v : args) random.Fill(v, object.Get(), byrefStrings);
        std::vector<DISPID> named;
        const UINT namedCount = argc && random.Below(8) == 0 ? static_cast<UINT>(random.Below(argc + 1)) : 0;
        for (UINT i = 0; i < namedCount; ++i) named.push_back(random.Below(6) - 3);
        DISPPARAMS params = {args.empty() ? nullptr : args.data(),
                             named.empty() ? nullptr : named.data(), argc, namedCount};
        const WORD flags = random.Below(10) == 0 ? DISPATCH_PROPERTYGET : DISPATCH_METHOD;
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO exception = {};
        UINT argError = 0;
        const HRESULT hr = object->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                          random.Below(2) ? &result : nullptr,
                                          random.Below(2) ? &exception : nullptr,
                                          random.Below(2) ? &argError : nullptr);
        ++outcomes[hr];
        VariantClear(&result);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        for (VARIANT& v : args) VariantClear(&v);
        for (BSTR b : byrefStrings) SysFreeString(b);
    }
    object.Reset();
    for (const auto& o : outcomes) printf("hr 0x%08lx: %d calls\n", static_cast<unsigned long>(o.first), o.second);
    EXPECT_GT(outcomes[S_OK], 1000);                // real calls went through
    EXPECT_GT(outcomes[DISP_E_BADPARAMCOUNT], 1000);
    EXPECT_GT(outcomes[DISP_E_MEMBERNOTFOUND], 100);
    EXPECT_EQ(CanUnloadNow(), S_OK);
    CloseAllClients();
    CoUninitialize();
}

}  // namespace
}  // namespace trv
