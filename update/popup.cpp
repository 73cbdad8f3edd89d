#include "update/popup.h"

#include "platform/registry.h"

namespace trv {

bool AllowPopUp(IRegistryApi& api, const std::string& site) {
    CRegistry registry(api, kHKeyCurrentUser);
    const std::uint32_t allowed = 0;
    return registry.WriteDword(kPopUpAllowKey, site.empty() ? nullptr : site.c_str(), &allowed);
}

}  // namespace trv
