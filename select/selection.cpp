#include "select/selection.h"

namespace trv {

void ReportSelected(BrowseModel& model, const std::vector<int>& selected,
                    const TripleReceiver& report) {
    // Copies of the picked lines, taken before the first report: the page's
    // handler may pump messages (an alert), and a double-click or another
    // place meanwhile replaces the listing.
    struct Picked {
        std::string path;
        std::string size;
        bool folder;
    };
    std::vector<Picked> picked;
    const auto& listing = model.Listing();
    for (int index : selected) {
        if (index < 0 || static_cast<std::size_t>(index) >= listing.size()) continue;
        const FolderEntry& line = listing[static_cast<std::size_t>(index)];
        if (line.kind == kKindParent || !line.record) continue;
        picked.push_back({line.record->path, line.record->size, line.kind == kKindFolder});
    }
    for (const Picked& entry : picked) {
        report(entry.path, entry.size, kSelectedMode);
        if (entry.folder) model.WalkFolder(entry.path, entry.path, report);
    }
}

}  // namespace trv
