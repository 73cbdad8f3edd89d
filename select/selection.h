// What one press of the add button reports: each selected line's record and,
// below a selected folder, its whole walk.
#pragma once

#include <vector>

#include "select/browse_model.h"

namespace trv {

constexpr char kSelectedMode[] = "-1";

// selected: listing indices in ascending order. The parent entry and indices
// outside the listing are skipped. Each triple goes to report as
// (strPath, strSize, strMode).
void ReportSelected(BrowseModel& model, const std::vector<int>& selected,
                    const TripleReceiver& report);

}  // namespace trv
