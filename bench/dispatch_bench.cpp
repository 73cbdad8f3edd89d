// IDispatch::Invoke cost of the registered control, as ratios measured in one
// run: UpLoadInfo against CheckInstall (no sink), and 200,000 UpLoadInfo
// calls against 100,000 (list building must stay linear).
#include <windows.h>

#include <cstdio>

#include "com_support.h"

namespace {

using trv::comtest::CreateDispatch;
using trv::comtest::Ptr;

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / frequency.QuadPart;
}

// Calls dispid `count` times on a fresh object; the argument, if any, is one string.
double Time(DISPID dispid, int count, bool withArgument) {
    Ptr<IDispatch> object = CreateDispatch();
    if (!object) return -1;
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_BSTR;
    arg.bstrVal = SysAllocString(L"12345");
    DISPPARAMS params = {withArgument ? &arg : nullptr, nullptr, withArgument ? 1u : 0u, 0};
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < count; ++i) {
        if (FAILED(object->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                  nullptr, nullptr, nullptr)))
            return -1;
    }
    QueryPerformanceCounter(&end);
    VariantClear(&arg);
    return Seconds(start, end);
}

}  // namespace

int main() {
    if (FAILED(CoInitialize(nullptr))) return 1;
    Time(6, 1000, true);  // warm up: type description loaded and cached
    const double checkInstall = Time(1, 100000, false);
    const double upLoadInfo = Time(6, 100000, true);
    const double upLoadInfo2x = Time(6, 200000, true);
    CoUninitialize();
    if (checkInstall <= 0 || upLoadInfo <= 0 || upLoadInfo2x <= 0) {
        std::printf("benchmark failed: a call did not succeed\n");
        return 1;
    }
    std::printf("UpLoadInfo x100000 / CheckInstall x100000 (no sink): %.2f\n",
                upLoadInfo / checkInstall);
    std::printf("UpLoadInfo x200000 / UpLoadInfo x100000: %.2f\n", upLoadInfo2x / upLoadInfo);
    return 0;
}
