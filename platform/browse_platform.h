// What the folder browsing model needs from the system: drives, shell names
// and icons, the desktop folder, folder enumeration and size text.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace trv {

constexpr std::uint32_t kAttrHidden = 0x2;
constexpr std::uint32_t kAttrSystem = 0x4;
constexpr std::uint32_t kAttrDirectory = 0x10;
constexpr std::uint32_t kAttrReparsePoint = 0x400;

constexpr unsigned kDriveFixed = 3;
constexpr unsigned kDriveCdRom = 5;

struct FoundEntry {
    const char* name;  // as the enumeration returns it (ANSI)
    std::uint32_t attributes;
    std::int64_t size;
};

class IBrowsePlatform {
public:
    virtual ~IBrowsePlatform() = default;

    // Bit 0 is A:.
    virtual std::uint32_t LogicalDrives() = 0;
    virtual unsigned DriveType(const std::string& root) = 0;
    // The shell's display name of a drive root; false when it has none.
    virtual bool DisplayName(const std::string& root, std::string& name) = 0;
    // Index of the path's small icon in the shell's small-icon set; 0 when none.
    virtual int SmallIconIndex(const std::string& path) = 0;
    // The small icon the shell gives every file whose name ends in extension
    // (".txt", "" for none), without looking at any of them. False when files
    // of that type each carry an icon of their own (programs, icons, shortcuts).
    virtual bool TypeIconIndex(const std::string& extension, int& index) = 0;
    // The user's desktop folder; false (or empty) when there is none.
    virtual bool DesktopFolder(std::string& path) = 0;
    // Calls visit for every entry matching pattern (folder\*.*), in the
    // system's order, "." and ".." included. False when nothing could be
    // enumerated at all.
    virtual bool Enumerate(const std::string& pattern,
                           const std::function<void(const FoundEntry&)>& visit) = 0;
    // The shell's short size text, for display only.
    virtual std::string FormatByteSize(std::int64_t size) = 0;
};

}  // namespace trv
