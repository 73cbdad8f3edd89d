// The support log over the real system: the switch in the current user's
// registry, the file in the temporary folder.
#pragma once

#include "platform/support_log.h"

namespace trv {

class Win32SupportLogSystem : public ISupportLogSystem {
public:
    IRegistryApi& Registry() override;
    std::string Stamp() override;
    std::unique_ptr<File> Open() override;
};

// One log for the whole module.
SupportLog& SystemSupportLog();

}  // namespace trv
