// Registering and unregistering a class's component categories. The
// category keys under the class key that are left empty go afterwards;
// a key still holding someone else's category stays.
#pragma once

#include <windows.h>
#include <comcat.h>

#include <vector>

namespace trv {

struct Category {
    const CATID* id;
    bool implemented;  // false: required
};

// No category manager on the system: nothing to do, S_OK. Otherwise the
// first failure ends the step with its code.
HRESULT RegisterCategories(REFCLSID clsid, const std::vector<Category>& categories);

// Failures are ignored; always S_OK.
HRESULT UnregisterCategories(REFCLSID clsid, const std::vector<Category>& categories);

}  // namespace trv
