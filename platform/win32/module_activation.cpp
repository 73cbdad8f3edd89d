#include "platform/win32/module_activation.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace trv {

ModuleActivation::ModuleActivation() {
    const HMODULE module = reinterpret_cast<HMODULE>(&__ImageBase);
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    ACTCTXW request = {};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.hModule = module;
    request.lpSource = length > 0 && length < MAX_PATH ? path : nullptr;
    request.lpResourceName = MAKEINTRESOURCEW(2);  // ISOLATIONAWARE_MANIFEST_RESOURCE_ID
    m_context = CreateActCtxW(&request);
    // Without it the dialogs still work, with the process's own controls.
    if (m_context != INVALID_HANDLE_VALUE && !ActivateActCtx(m_context, &m_cookie)) {
        ReleaseActCtx(m_context);
        m_context = INVALID_HANDLE_VALUE;
    }
}

ModuleActivation::~ModuleActivation() {
    if (m_context == INVALID_HANDLE_VALUE) return;
    DeactivateActCtx(0, m_cookie);
    ReleaseActCtx(m_context);
}

}  // namespace trv
