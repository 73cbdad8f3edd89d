// The real system behind the core's seam.
#pragma once

#include <functional>

#include "platform/platform.h"

namespace trv {

class Win32Platform : public IPlatform {
public:
    // The install/update check runs through this hook so the module can put
    // its dialog behind it and tests can drive it.
    using InstallCheck = std::function<int()>;

    static void SetInstallCheck(InstallCheck check);

    std::string ProgramFilesFolder() override;
    bool TempFolder(std::string& folder) override;
    WindowRef FindWindowByClass(const std::string& className) override;
    bool StartProgram(const std::string& program, const std::string& parameters) override;
    void Sleep(unsigned milliseconds) override;
    bool FileExists(const std::string& path) override;
    bool RemoveFile(const std::string& path) override;
    AppendResult AppendExclusive(const std::string& path, const void* data,
                                 std::size_t size) override;
    bool SendCopyData(WindowRef window, std::uintptr_t sender, std::uint32_t kind,
                      const void* data, std::uint32_t size) override;
    void SetKoreanLocale() override;
    int RunInstallCheck() override;
};

// One instance serves every object of the module; it holds no state.
Win32Platform& SystemPlatform();

}  // namespace trv
