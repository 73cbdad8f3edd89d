#include "update/popup_api.h"

#include "platform/win32/registry_win32.h"
#include "update/popup.h"

namespace trv {

void AllowPopUpSite(const std::string& site) {
    AllowPopUp(SystemRegistry(), site);
}

}  // namespace trv
