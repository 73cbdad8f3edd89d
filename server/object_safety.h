// The safety options the host may switch on: one word for the whole object.
#pragma once

#include <cstdint>

namespace trv {

class SafetyOptions {
public:
    // INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA
    static constexpr std::uint32_t kSupported = 3;

    std::uint32_t Enabled() const { return m_enabled; }

    // Bits outside the mask keep their value and enabled bits outside the
    // mask are ignored; a mask with an unsupported bit changes nothing and
    // returns false.
    bool Set(std::uint32_t mask, std::uint32_t enabled) {
        if (mask & ~kSupported) return false;
        m_enabled = (m_enabled & ~mask) | (mask & enabled);
        return true;
    }

private:
    std::uint32_t m_enabled = 0;
};

}  // namespace trv
