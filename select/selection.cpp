#include "select/selection.h"

namespace trv {

void ReportSelected(BrowseModel& model, const std::vector<int>& selected,
                    const TripleReceiver& report) {
    for (int index : selected) {
        const auto& listing = model.Listing();
        if (index < 0 || static_cast<std::size_t>(index) >= listing.size()) continue;
        const FolderEntry& line = listing[static_cast<std::size_t>(index)];
        if (line.kind == kKindParent || !line.record) continue;
        // Copies: the receiver may run page script, which must not see a
        // record change under it.
        const std::string path = line.record->path;
        const std::string size = line.record->size;
        const bool folder = line.kind == kKindFolder;
        report(path, size, kSelectedMode);
        if (folder) model.WalkFolder(path, path, report);
    }
}

}  // namespace trv
