// Entry point of the upload selection dialog for the COM object.
#pragma once

#include <windows.h>

struct IWebBBS;

namespace trv {

// Runs the selection dialog modally over the active window with owner as the
// object that reports each chosen entry through IWebBBS::SelectComplete.
// Returns the dialog's end code.
INT_PTR ShowUploadSelectDialog(IWebBBS* owner);

}  // namespace trv
