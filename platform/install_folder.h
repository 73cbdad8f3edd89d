// Where the client suite lives. The control object and the install/update
// dialog both derive it, so the rule is kept once, below both.
#pragma once

#include <string>

namespace trv {

// Program Files (or "C:\Program Files" when the system gives none), "/"
// made "\", then "\TARVOSK\".
std::string InstallFolderFrom(const std::string& programFiles);

}  // namespace trv
