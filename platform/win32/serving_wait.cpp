#include "platform/win32/serving_wait.h"

namespace trv {

bool WaitsServeQueue() {
    const auto* flag = reinterpret_cast<const DWORD*>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), kWaitsServeQueue)));
    return flag && *flag != 0;
}

DWORD ServingWait(DWORD count, const HANDLE* handles, DWORD ms, bool answerSent) {
    if (!answerSent) {
        if (count) return WaitForMultipleObjects(count, handles, FALSE, ms);
        Sleep(ms);
        return WAIT_TIMEOUT;
    }
    bool pumpAll = WaitsServeQueue();
    bool quit = false;
    WPARAM quitCode = 0;
    const DWORD start = GetTickCount();
    DWORD woke;
    for (;;) {
        const DWORD spent = GetTickCount() - start;
        const DWORD left = spent >= ms ? 0 : ms - spent;
        woke = MsgWaitForMultipleObjects(count, handles, FALSE, left,
                                         pumpAll ? QS_ALLINPUT : QS_SENDMESSAGE);
        if (woke != WAIT_OBJECT_0 + count) break;
        MSG msg;
        if (!pumpAll) {
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            continue;
        }
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                // Left for the loop that owns the thread, after this wait.
                quit = true;
                quitCode = msg.wParam;
                pumpAll = false;
                break;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    if (quit) PostQuitMessage(static_cast<int>(quitCode));
    return woke;
}

}  // namespace trv
