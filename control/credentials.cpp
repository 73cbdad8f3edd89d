#include "control/credentials.h"

trv::SharedText g_strUserID;
trv::SharedText g_strUserPW;

namespace trv {

bool IsSafeCredential(const std::string& text) {
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        // Lead and trail bytes of code page 949 are all above 0x40, so a
        // byte test is safe for multibyte text.
        if (c <= 0x20 || c == 0x7F || c == '"') return false;
    }
    return true;
}

void ResetCredentials() {
    g_strUserID.Set(std::string());
    g_strUserPW.Set(std::string());
}

}  // namespace trv
