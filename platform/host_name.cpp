#include "platform/host_name.h"

namespace trv {

namespace {

bool IsLetterOrDigit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

bool IsHostName(const std::string& text) {
    if (text.empty() || text.size() > kHostNameMax) return false;
    std::size_t labelStart = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '.') {
            const std::size_t length = i - labelStart;
            if (length == 0 || length > kHostLabelMax) return false;
            if (text[labelStart] == '-' || text[i - 1] == '-') return false;
            labelStart = i + 1;
        } else if (!IsLetterOrDigit(text[i]) && text[i] != '-') {
            return false;
        }
    }
    return true;
}

}  // namespace trv
