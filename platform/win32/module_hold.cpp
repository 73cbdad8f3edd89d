#include "platform/win32/module_hold.h"

#include <atomic>
#include <new>

namespace trv {
namespace {

std::atomic<LONG> g_holds{0};

struct ThreadStart {
    void (*body)(void*);
    void* param;
    HMODULE self;
};

DWORD WINAPI ModuleThreadProc(void* raw) {
    ThreadStart* start = static_cast<ThreadStart*>(raw);
    start->body(start->param);
    const HMODULE self = start->self;
    delete start;
    --g_holds;
    // The loader reference taken for this thread goes only now, and this
    // call never returns into the module's code.
    FreeLibraryAndExitThread(self, 0);
}

}  // namespace

LONG ModuleHoldCount() { return g_holds.load(); }

bool StartModuleThread(void (*body)(void* param), void* param) {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&ModuleThreadProc), &self)) {
        return false;
    }
    auto* start = new (std::nothrow) ThreadStart{body, param, self};
    if (!start) {
        FreeLibrary(self);
        return false;
    }
    ++g_holds;
    HANDLE thread = CreateThread(nullptr, 0, ModuleThreadProc, start, 0, nullptr);
    if (!thread) {
        --g_holds;
        delete start;
        FreeLibrary(self);
        return false;
    }
    CloseHandle(thread);  // nobody joins it
    return true;
}

}  // namespace trv
