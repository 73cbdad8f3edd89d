// The real system behind the core's seam.
#pragma once

#include "platform/platform.h"

namespace trv {

class Win32Platform : public IPlatform {
public:
    // Runs the install/update check and returns its end code. The module
    // passes its dialog; this layer knows nothing of it.
    using InstallCheck = int (*)();

    explicit Win32Platform(InstallCheck installCheck) : m_installCheck(installCheck) {}

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

private:
    InstallCheck m_installCheck;
};

// The system's folders, for code that needs them without a platform object.
// Empty when the shell gives no Program Files folder.
std::string SystemProgramFilesFolder();
// false when there is no temporary folder (or it does not fit MAX_PATH).
bool SystemTempFolder(std::string& folder);

}  // namespace trv
