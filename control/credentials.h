// The user ID and password shared by every WebBBS object of the module.
#pragma once

#include <mutex>
#include <string>

namespace trv {

// A string that objects on different threads may read and write.
class SharedText {
public:
    std::string Get() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_value;
    }
    void Set(const std::string& value) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_value = value;
    }

private:
    mutable std::mutex m_lock;
    std::string m_value;
};

}  // namespace trv

extern trv::SharedText g_strUserID;
extern trv::SharedText g_strUserPW;

namespace trv {

// Credentials go unquoted on a client's command line: a blank, a double quote
// or a control character would split it or add arguments.
bool IsSafeCredential(const std::string& text);

// Emptied when the module starts.
void ResetCredentials();

}  // namespace trv
