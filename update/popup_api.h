// Entry point for the COM object's AllowPopUp method.
#pragma once

#include <string>

namespace trv {

// Adds site (narrow ANSI text, converted from the script's string) to the
// current user's pop-up allow list; false when nothing was written.
bool AllowPopUpSite(const std::string& site);

}  // namespace trv
