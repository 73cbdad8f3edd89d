// The install/update check that gates every hand-off when no client runs.
#pragma once

namespace trv {

// Runs the modal install/update dialog over the active window and returns its
// end code: 1 ready, 2 failed, -1 the dialog could not be created.
int RunFileUpdateCheck();

}  // namespace trv
