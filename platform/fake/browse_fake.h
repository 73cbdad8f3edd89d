// An in-memory set of drives and folders for the browsing model's tests.
// Folders are keyed by path without a final backslash ("C:" is the root of
// C:), so a pattern with a doubled backslash finds nothing, as on Windows.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/browse_platform.h"

namespace trv {

class FakeBrowse : public IBrowsePlatform {
public:
    struct Drive {
        unsigned type = kDriveFixed;
        std::string displayName;
        bool named = true;  // false: the shell gives no display name
    };

    std::map<char, Drive> drives;  // by upper-case letter
    std::string desktop = "C:\\Users\\me\\Desktop";
    bool hasDesktop = true;
    std::set<std::string> unreadable;  // folders whose enumeration fails
    std::map<std::string, int> icons;  // path -> small icon index
    // Shared icons by extension (".txt", "" for none); files of types not
    // named here each have their own icon (icons).
    std::map<std::string, int> typeIcons;
    std::vector<std::string> iconLookups;  // each look-up: a path, or "type:" and the type
    std::function<void()> duringIconLookup;  // runs inside every look-up (a pumping handler)

    std::vector<std::string> patterns;  // every enumeration, in order

    void AddDrive(char letter, unsigned type, const std::string& displayName, bool named = true);
    // Both create missing parent folders; entries keep the order of creation.
    void AddFolder(const std::string& path, std::uint32_t attributes = kAttrDirectory);
    void AddFile(const std::string& path, std::int64_t size, std::uint32_t attributes = 0);

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
    struct Node {
        std::string name;
        std::uint32_t attributes;
        std::int64_t size;
    };
    void AddNode(const std::string& path, std::uint32_t attributes, std::int64_t size);
    std::map<std::string, std::vector<Node>> m_folders;
};

}  // namespace trv
