#include "select/browse_model.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace trv {

namespace {

bool EndsWithBackslash(const std::string& text) { return !text.empty() && text.back() == '\\'; }

std::string WithoutFinalBackslash(const std::string& text) {
    return EndsWithBackslash(text) ? text.substr(0, text.size() - 1) : text;
}

bool IsDots(const char* name) { return !std::strcmp(name, ".") || !std::strcmp(name, ".."); }

// First pass of a listing or walk: visible folders, system ones included.
bool IsListedFolder(const FoundEntry& e) {
    return !IsDots(e.name) && !(e.attributes & kAttrHidden) && (e.attributes & kAttrDirectory);
}

bool IsListedFile(const FoundEntry& e) {
    return !IsDots(e.name) && !(e.attributes & (kAttrHidden | kAttrSystem | kAttrDirectory));
}

std::string Pattern(const std::string& folder) { return JoinPath(folder, "*.*"); }

// What the shell derives an entry's type from: the name from its last dot,
// ASCII letters in lower case so that "a.JPG" and "b.jpg" share a look-up.
// A name with other bytes keeps them as they are: in a double-byte code page a
// trail byte can look like an upper-case letter.
std::string TypeKey(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    std::string key = dot == std::string::npos ? std::string() : name.substr(dot);
    for (char c : key)
        if (static_cast<unsigned char>(c) >= 0x80) return key;
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return key;
}

void CopyField(char* field, std::size_t capacity, const std::string& text) {
    const std::size_t n = text.size() < capacity ? text.size() : capacity - 1;
    std::memcpy(field, text.data(), n);
    field[n] = 0;
}

}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
    return EndsWithBackslash(folder) ? folder + name : folder + "\\" + name;
}

std::string SizeText(std::int64_t size) {
    return std::to_string(static_cast<long long>(size));
}

BrowseModel::BrowseModel(IBrowsePlatform& platform, CRegistry& registry)
    : m_platform(platform), m_registry(registry) {}

std::vector<RootEntry> BrowseModel::FillRootList() {
    std::vector<RootEntry> roots;
    const std::uint32_t drives = m_platform.LogicalDrives();
    for (int letter = 0; letter < 26; ++letter) {
        if (!(drives & (1u << letter))) continue;
        const std::string root = std::string(1, static_cast<char>('A' + letter)) + ":\\";
        const unsigned type = m_platform.DriveType(root);
        if (type != kDriveFixed && type != kDriveCdRom) continue;
        std::string name;
        if (!m_platform.DisplayName(root, name)) continue;
        if (roots.empty()) {
            std::string desktop;
            if (m_platform.DesktopFolder(desktop) && !desktop.empty() &&
                desktop.size() <= kMaxPathChars)
                roots.push_back({kDesktopText, desktop, true});
        }
        roots.push_back({name, root, false});
    }
    return roots;
}

void BrowseModel::LoadRemembered() {
    m_registry.ReadString(kSelectRegKey, kRegWebDrive, m_strWebDrive);
    m_registry.ReadString(kSelectRegKey, kRegWebPath, m_strWebPath);
}

int BrowseModel::Settle(const std::vector<RootEntry>& roots) {
    int current = roots.empty() ? -1 : 0;
    if (m_strWebDrive.empty()) {
        if (!roots.empty()) {
            m_strWebDrive = roots.front().rootPath;
            Remember(kRegWebDrive, m_strWebDrive);
        }
    } else {
        // A remembered place that is gone keeps its value: the first line is
        // shown while the remembered folder is listed.
        for (std::size_t i = 0; i < roots.size(); ++i) {
            if (roots[i].rootPath == m_strWebDrive) {
                current = static_cast<int>(i);
                break;
            }
        }
    }
    if (m_strWebPath.empty()) m_strWebPath = m_strWebDrive;
    return current;
}

bool BrowseModel::AtTop() const {
    return m_strWebPath == m_strWebDrive ||
           WithoutFinalBackslash(m_strWebPath) == WithoutFinalBackslash(m_strWebDrive);
}

void BrowseModel::Remember(const char* name, const std::string& value) {
    m_registry.WriteString(kSelectRegKey, name, value.c_str());
}

void BrowseModel::AddRecordLine(const std::string& folder, const FoundEntry& found, char kind,
                                std::vector<FolderEntry>& lines) {
    const std::string path = JoinPath(folder, found.name);
    // Longer paths cannot be held by a record nor reached by the enumeration.
    if (path.size() > kMaxPathChars) return;
    FolderEntry line;
    line.name = found.name;
    line.kind = kind;
    line.record.reset(new EntryRecord());
    CopyField(line.record->path, sizeof line.record->path, path);
    if (kind == kKindFolder) {
        CopyField(line.record->size, sizeof line.record->size, "-1");
    } else {
        line.displaySize = FormatDisplaySize(found.size);
        CopyField(line.record->size, sizeof line.record->size, SizeText(found.size));
    }
    lines.push_back(std::move(line));
}

void BrowseModel::ListFolder() {
    Remember(kRegWebDrive, m_strWebDrive);
    Remember(kRegWebPath, m_strWebPath);
    m_listing.clear();
    ++m_listingNumber;
    // With no place at all there is nothing to list (an empty path would
    // make the pattern name the current drive's root).
    if (m_strWebPath.empty()) return;
    if (!AtTop()) {
        FolderEntry parent;
        parent.name = kParentName;
        parent.kind = kKindParent;
        parent.icon = m_nParentImage;
        m_listing.push_back(std::move(parent));
    }
    const std::string folder = m_strWebPath;
    const std::string pattern = Pattern(folder);
    if (pattern.size() > kMaxPathChars) return;
    // One read gives both groups in the enumeration's order: reading a large
    // folder costs far more than anything else in a listing.
    std::vector<FolderEntry> files;
    m_platform.Enumerate(pattern, [&](const FoundEntry& e) {
        if (IsListedFolder(e))
            AddRecordLine(folder, e, kKindFolder, m_listing);
        else if (IsListedFile(e))
            AddRecordLine(folder, e, kKindFile, files);
    });
    m_listing.reserve(m_listing.size() + files.size());
    std::move(files.begin(), files.end(), std::back_inserter(m_listing));
}

int BrowseModel::IconOf(std::size_t line) {
    if (line >= m_listing.size()) return 0;
    if (m_listing[line].icon != kIconPending) return m_listing[line].icon;
    // The shell may run handlers that pump messages, and a double-click
    // handled meanwhile replaces the listing: the icon is kept only if the
    // line is still there.
    const unsigned listing = m_listingNumber;
    const int icon = LookUpIcon(m_listing[line]);
    if (listing == m_listingNumber) m_listing[line].icon = icon;
    return icon;
}

int BrowseModel::LookUpIcon(const FolderEntry& line) {
    if (line.kind == kKindParent || !line.record) return m_nParentImage;
    const std::string path = line.record->path;
    // A folder's icon is its own (desktop.ini, special folders).
    if (line.kind == kKindFile) {
        const std::string key = TypeKey(line.name);
        auto known = m_typeIcons.find(key);
        if (known == m_typeIcons.end()) {
            int index = 0;
            if (!m_platform.TypeIconIndex(key, index)) index = kIconPending;
            known = m_typeIcons.emplace(key, index).first;
        }
        if (known->second != kIconPending) return known->second;
    }
    return m_platform.SmallIconIndex(path);
}

void BrowseModel::OpenEntry(char kind, const std::string& name) {
    if (kind == kKindParent) {
        // The parent entry never leads above the top of the place.
        if (AtTop()) return;
        if (EndsWithBackslash(m_strWebPath)) m_strWebPath.pop_back();
        const std::size_t slash = m_strWebPath.rfind('\\');
        m_strWebPath = slash == std::string::npos ? std::string() : m_strWebPath.substr(0, slash + 1);
        ListFolder();
    } else if (kind == kKindFolder) {
        m_strWebPath = JoinPath(m_strWebPath, name);
        ListFolder();
    }
}

void BrowseModel::SelectRoot(const std::string& rootPath) {
    m_strWebDrive = rootPath;
    m_strWebPath = rootPath;
    Remember(kRegWebDrive, m_strWebDrive);
    ListFolder();
}

void BrowseModel::WalkFolder(const std::string& folder, const std::string& base,
                             const TripleReceiver& receiver) {
    const std::string pattern = Pattern(folder);
    if (pattern.size() > kMaxPathChars) return;
    m_platform.Enumerate(pattern, [&](const FoundEntry& e) {
        if (!IsListedFolder(e)) return;
        const std::string path = JoinPath(folder, e.name);
        if (path.size() > kMaxPathChars) return;
        receiver(path, "-1", base);
        // A junction or link may lead back to an ancestor: report it, never enter it.
        if (!(e.attributes & kAttrReparsePoint)) WalkFolder(path, base, receiver);
    });
    m_platform.Enumerate(pattern, [&](const FoundEntry& e) {
        if (!IsListedFile(e)) return;
        const std::string path = JoinPath(folder, e.name);
        if (path.size() > kMaxPathChars) return;
        receiver(path, SizeText(e.size), base);
    });
}

std::string BrowseModel::FormatDisplaySize(std::int64_t size) {
    return m_platform.FormatByteSize(size);
}

}  // namespace trv
