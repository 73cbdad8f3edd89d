// The browsing seam over kernel32 and the shell (narrow ANSI calls).
#pragma once

#include "platform/browse_platform.h"

namespace trv {

class Win32Browse : public IBrowsePlatform {
public:
    std::uint32_t LogicalDrives() override;
    unsigned DriveType(const std::string& root) override;
    bool DisplayName(const std::string& root, std::string& name) override;
    int SmallIconIndex(const std::string& path) override;
    bool DesktopFolder(std::string& path) override;
    bool Enumerate(const std::string& pattern,
                   const std::function<void(const FoundEntry&)>& visit) override;
    std::string FormatByteSize(std::int64_t size) override;
};

}  // namespace trv
