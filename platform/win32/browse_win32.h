// The browsing seam over kernel32 and the shell (narrow ANSI calls).
#pragma once

#include <shlobj.h>

#include <memory>
#include <string>

#include "platform/browse_platform.h"
#include "platform/win32/com_util.h"

namespace trv {

struct CoTaskFree {
    void operator()(void* memory) const { CoTaskMemFree(memory); }
};
using UniqueCoTask = std::unique_ptr<void, CoTaskFree>;

class Win32Browse : public IBrowsePlatform {
public:
    std::uint32_t LogicalDrives() override;
    unsigned DriveType(const std::string& root) override;
    bool DisplayName(const std::string& root, std::string& name) override;
    int SmallIconIndex(const std::string& path) override;
    bool TypeIconIndex(const std::string& extension, int& index) override;
    bool DesktopFolder(std::string& path) override;
    bool Enumerate(const std::string& pattern,
                   const std::function<void(const FoundEntry&)>& visit) override;
    std::string FormatByteSize(std::int64_t size) override;

private:
    // Asked by path, the shell parses the whole path each time, at a cost that
    // grows with the folder's size: the folder whose entries were last asked
    // about is parsed once, and each entry's identifier is made from it.
    void BindIconFolder(const std::string& folder);
    std::string m_iconFolderPath;
    UniqueCoTask m_iconFolderPidl;
    ComPtr<IShellFolder> m_iconFolder;
};

}  // namespace trv
