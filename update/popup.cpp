#include "update/popup.h"

#include "platform/host_name.h"
#include "platform/registry.h"
#include "platform/support_log.h"

namespace trv {

bool AllowPopUp(IRegistryApi& api, const std::string& site) {
    // Any page may call this: a wildcard, a separator or a huge string would
    // otherwise land in the browser's list as it is.
    if (!site.empty() && !IsHostName(site)) {
        NoteReason("pop-up allow list: not a host name");
        return false;
    }
    CRegistry registry(api, kHKeyCurrentUser);
    const std::uint32_t allowed = 0;
    if (registry.WriteDword(kPopUpAllowKey, site.empty() ? nullptr : site.c_str(), &allowed))
        return true;
    NoteReason("pop-up allow list: the registry write failed");
    return false;
}

}  // namespace trv
