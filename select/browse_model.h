// The data side of the upload selection dialog: the place list, one folder's
// listing, moving between folders, the walk below a chosen folder, and the
// place and folder remembered from one opening to the next.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/browse_platform.h"
#include "platform/registry.h"

namespace trv {

constexpr char kSelectRegKey[] = "Software\\TARVOSK";
constexpr char kRegWebDrive[] = "strWebDrive";
constexpr char kRegWebPath[] = "strWebPath";
// Shown for the desktop place (UTF-8; the dialog shows its wide twin).
constexpr char kDesktopText[] = "바탕 화면";
constexpr char kParentName[] = " ..";
// Longest path a record (and the ANSI enumeration) holds, without the NUL.
constexpr std::size_t kMaxPathChars = 259;

// No icon comes with a listing: the list view asks for a line's icon as it
// first shows the line.
constexpr int kIconPending = -1;

constexpr char kKindParent = '0';
constexpr char kKindFolder = '1';
constexpr char kKindFile = '2';

struct RootEntry {
    std::string text;      // the shell's display name (ANSI) or kDesktopText
    std::string rootPath;  // "C:\" or the desktop folder without a final backslash
    bool desktop = false;
};

// Fixed-width fields, as reported for an entry picked in the listing.
struct EntryRecord {
    char path[kMaxPathChars + 1];
    char size[50];
};

struct FolderEntry {
    std::string name;         // column 0
    std::string displaySize;  // column 1
    char kind = kKindFile;    // column 2: '0', '1' or '2'
    int icon = kIconPending;  // the shell's small icon, once looked up (IconOf)
    std::unique_ptr<EntryRecord> record;  // none for the parent entry
};

// Receives (full path, size text, base path) for each entry of a walk.
using TripleReceiver =
    std::function<void(const std::string& path, const std::string& size, const std::string& base)>;

// folder and name joined by a single backslash.
std::string JoinPath(const std::string& folder, const std::string& name);
// "%I64d" of a signed 64-bit size.
std::string SizeText(std::int64_t size);

class BrowseModel {
public:
    BrowseModel(IBrowsePlatform& platform, CRegistry& registry);

    // Desktop (only when a drive is accepted and the system names a desktop
    // folder) followed by the fixed and CD-ROM drives in letter order.
    std::vector<RootEntry> FillRootList();

    // Start-up, in this order: LoadRemembered, FillRootList, Settle, ListFolder.
    void LoadRemembered();
    // Returns the index of the root entry shown as current (-1: none).
    int Settle(const std::vector<RootEntry>& roots);

    void ListFolder();
    void OpenEntry(char kind, const std::string& name);
    void SelectRoot(const std::string& rootPath);
    void WalkFolder(const std::string& folder, const std::string& base,
                    const TripleReceiver& receiver);
    std::string FormatDisplaySize(std::int64_t size);
    // The small icon of a line of the listing, looked up on first use: files
    // of one type share one look-up; folders and files with icons of their
    // own (programs, shortcuts) are looked up by path.
    int IconOf(std::size_t line);

    // The listed folder is the top of the place (with or without a final
    // backslash), so there is no parent entry.
    bool AtTop() const;

    void SetParentImage(int index) { m_nParentImage = index; }
    const std::vector<FolderEntry>& Listing() const { return m_listing; }
    const std::string& WebDrive() const { return m_strWebDrive; }
    const std::string& WebPath() const { return m_strWebPath; }

private:
    void Remember(const char* name, const std::string& value);
    void AddRecordLine(const std::string& folder, const FoundEntry& found, char kind,
                       std::vector<FolderEntry>& lines);
    int LookUpIcon(const FolderEntry& line);

    IBrowsePlatform& m_platform;
    CRegistry& m_registry;
    std::string m_strWebDrive;
    std::string m_strWebPath;
    int m_nParentImage = 0;
    std::vector<FolderEntry> m_listing;
    unsigned m_listingNumber = 0;  // counts the listings made
    // Type icons by extension key; kIconPending when that type's files each
    // have their own. Kept for the dialog's life.
    std::map<std::string, int> m_typeIcons;
};

}  // namespace trv
