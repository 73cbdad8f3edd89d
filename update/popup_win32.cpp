#include "update/popup_api.h"

#include "platform/win32/registry_win32.h"
#include "update/popup.h"

namespace trv {

bool AllowPopUpSite(const std::string& site) { return AllowPopUp(SystemRegistry(), site); }

}  // namespace trv
