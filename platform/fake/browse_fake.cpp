#include "platform/fake/browse_fake.h"

namespace trv {

void FakeBrowse::AddDrive(char letter, unsigned type, const std::string& displayName,
                          bool named) {
    drives[letter] = Drive{type, displayName, named};
    m_folders[std::string(1, letter) + ":"];
}

void FakeBrowse::AddNode(const std::string& path, std::uint32_t attributes, std::int64_t size) {
    const std::size_t slash = path.rfind('\\');
    if (slash == std::string::npos) return;
    const std::string parent = path.substr(0, slash);
    const std::string name = path.substr(slash + 1);
    if (!m_folders.count(parent) && parent.find('\\') != std::string::npos)
        AddFolder(parent);
    auto& entries = m_folders[parent];
    for (auto& node : entries) {
        if (node.name == name) {
            node.attributes = attributes;
            node.size = size;
            return;
        }
    }
    entries.push_back({name, attributes, size});
}

void FakeBrowse::AddFolder(const std::string& path, std::uint32_t attributes) {
    AddNode(path, attributes | kAttrDirectory, 0);
    m_folders[path];
}

void FakeBrowse::AddFile(const std::string& path, std::int64_t size, std::uint32_t attributes) {
    AddNode(path, attributes & ~kAttrDirectory, size);
}

std::uint32_t FakeBrowse::LogicalDrives() {
    std::uint32_t mask = 0;
    for (const auto& drive : drives) mask |= 1u << (drive.first - 'A');
    return mask;
}

unsigned FakeBrowse::DriveType(const std::string& root) {
    if (root.size() != 3 || root.substr(1) != ":\\") return 1;  // no root directory
    auto found = drives.find(root[0]);
    return found == drives.end() ? 1 : found->second.type;
}

bool FakeBrowse::DisplayName(const std::string& root, std::string& name) {
    if (root.size() != 3) return false;
    auto found = drives.find(root[0]);
    if (found == drives.end() || !found->second.named) return false;
    name = found->second.displayName;
    return true;
}

int FakeBrowse::SmallIconIndex(const std::string& path) {
    iconLookups.push_back(path);
    if (duringIconLookup) duringIconLookup();
    auto found = icons.find(path);
    return found == icons.end() ? 0 : found->second;
}

bool FakeBrowse::TypeIconIndex(const std::string& extension, int& index) {
    iconLookups.push_back("type:" + extension);
    auto found = typeIcons.find(extension);
    if (found == typeIcons.end()) return false;
    index = found->second;
    return true;
}

bool FakeBrowse::DesktopFolder(std::string& path) {
    if (!hasDesktop) return false;
    path = desktop;
    return true;
}

bool FakeBrowse::Enumerate(const std::string& pattern,
                           const std::function<void(const FoundEntry&)>& visit) {
    patterns.push_back(pattern);
    const std::string tail = "\\*.*";
    if (pattern.size() < tail.size() || pattern.compare(pattern.size() - tail.size(), tail.size(), tail))
        return false;
    const std::string folder = pattern.substr(0, pattern.size() - tail.size());
    if (unreadable.count(folder)) return false;
    auto found = m_folders.find(folder);
    if (found == m_folders.end()) return false;
    // Copy: a visitor may walk into sub-folders while this one is open.
    const std::vector<Node> entries = found->second;
    visit({".", kAttrDirectory, 0});
    visit({"..", kAttrDirectory, 0});
    for (const auto& node : entries) visit({node.name.c_str(), node.attributes, node.size});
    return true;
}

std::string FakeBrowse::FormatByteSize(std::int64_t size) {
    return "fmt " + std::to_string(static_cast<long long>(size));
}

}  // namespace trv
