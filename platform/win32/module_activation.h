// The module's own manifest (resource 2: common controls 6) made current on
// this thread for a scope. The controls of the windows created meanwhile are
// then the current, styled ones in any process that loads the module, whatever
// its own manifest asks for; a process that has them already (the browser)
// sees no change.
#pragma once

#include <windows.h>

namespace trv {

class ModuleActivation {
public:
    ModuleActivation();
    ~ModuleActivation();
    ModuleActivation(const ModuleActivation&) = delete;
    ModuleActivation& operator=(const ModuleActivation&) = delete;

private:
    HANDLE m_context = INVALID_HANDLE_VALUE;
    ULONG_PTR m_cookie = 0;
};

}  // namespace trv
