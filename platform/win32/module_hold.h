// Threads of the module's own that outlive the call that started them. Each
// keeps the module loaded while it runs: it counts as a hold, which
// DllCanUnloadNow consults, and it owns a loader reference it gives back only
// as it exits, so the code it runs cannot be unmapped under it.
#pragma once

#include <windows.h>

namespace trv {

// Threads started by StartModuleThread that have not yet ended.
LONG ModuleHoldCount();

// Runs body(param) on a new thread. false (and body never runs) when the
// thread could not be started; the caller still owns param then.
bool StartModuleThread(void (*body)(void* param), void* param);

}  // namespace trv
